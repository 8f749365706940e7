#pragma once
// The one place that talks to libavcodec: a decoder opened by codec name,
// fed packets, giving premultiplied pictures or 16-bit samples. Video and
// sound decoders of the engine are built on it; no FFmpeg type leaves it.
#include <QImage>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace swf::video {

class AvDecoder {
public:
    // Opens libavcodec's decoder `name` ("flv", "vp6f", "nellymoser", ...).
    // `rate` and `channels` matter to audio codecs without headers;
    // `extradata` is the codec's configuration record, if it has one. Null
    // when this libavcodec lacks the decoder or refuses the setup.
    static std::unique_ptr<AvDecoder> open(const std::string& name, int rate = 0, int channels = 0,
                                           std::span<const uint8_t> extradata = {});
    ~AvDecoder();
    AvDecoder(const AvDecoder&) = delete;
    AvDecoder& operator=(const AvDecoder&) = delete;

    // Hands one packet to the decoder; false when it refuses the packet
    // (broken data: the caller skips it). Some decoders (Screen Video 2)
    // keep key frames aside and need them marked.
    bool send(std::span<const uint8_t> packet, bool keyFrame = false);
    // The next decoded picture as premultiplied ARGB32; null when none is
    // ready or its size is over limits::kMaxVideoPixels.
    QImage receivePicture();
    // Appends every decoded sample frame ready, interleaved with `channels`
    // channels (mono is duplicated, extra channels dropped), at most
    // `maxFrames`; returns the frames appended.
    size_t receiveAudio(std::vector<int16_t>& out, int channels, size_t maxFrames);
    // The decoded audio's rate and channels (0 before the first frame).
    int rate() const;
    int channels() const;
    // Forgets reference frames and queued output (before a seek).
    void flush();
    // Whether the codec's own deblocking (loop) filter runs, where the
    // decoder lets it be turned off (H.264, VP6); on by default.
    void setLoopFilter(bool on);

private:
    struct State;
    explicit AvDecoder(std::unique_ptr<State> s);
    std::unique_ptr<State> m;
};

} // namespace swf::video
