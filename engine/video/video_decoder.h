#pragma once
// The video codecs of the format and a decoder for one stream of them. The
// decoder takes packets as a VideoFrame tag carries them (FLV packets are
// brought to that form by the FLV reader) and gives premultiplied pictures.
#include "engine/core/log.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace swf::video {

class AvDecoder;

enum class VideoCodec : uint8_t {
    SorensonH263 = 2,
    ScreenVideo = 3,
    Vp6 = 4,
    Vp6Alpha = 5,
    ScreenVideo2 = 6,
    Avc = 7,
};

// The codec a codec id names; nullopt for ids we do not know (1 = JPEG
// is declared by the format but never used).
bool knownVideoCodec(uint8_t id);

// Whether a packet starts a picture on its own (a key frame), read from the
// codec's own picture header. Unreadable packets are not key frames.
bool isKeyFrame(VideoCodec codec, std::span<const uint8_t> packet);

class VideoDecoder {
public:
    // `log` hears of broken packets, once per decoder.
    VideoDecoder(VideoCodec codec, LogFn log);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    VideoCodec codec() const { return m_codec; }
    // H.264: the decoder configuration record (FLV's AVC sequence header);
    // the decoder restarts with it.
    void configure(std::span<const uint8_t> avcConfig);
    // Decodes one packet; the new picture, or null when the packet gave none
    // (broken packets are skipped with one warning).
    QImage decode(std::span<const uint8_t> packet);
    // Forgets the reference pictures (before decoding from a key frame).
    void reset();
    // The deblocking setting of DefineVideoStream and Video.deblocking:
    // 0 as the stream says, 1 off, 2 and up on (the levels above 2 name
    // VP6 post-filters; they all mean the codec's own filter here).
    void setDeblocking(int level);

private:
    bool open();
    void warnOnce(const std::string& what);

    VideoCodec m_codec;
    LogFn m_log;
    std::vector<uint8_t> m_config;
    std::unique_ptr<AvDecoder> m_av;
    bool m_openFailed = false, m_warned = false;
    bool m_loopFilter = true;
};

} // namespace swf::video
