#pragma once
// Sound decoders: uncompressed PCM, the SWF flavour of ADPCM, and MP3
// through libmpg123's feed interface. Each appends interleaved signed 16-bit
// samples at the source rate to a buffer, never more than a caller's cap.
#include "engine/core/log.h"
#include "engine/sound/sound_format.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct mpg123_handle_struct; // libmpg123's handle, kept out of this header

namespace swf {

namespace video { class AvDecoder; }

// A decoded sound at its own rate, interleaved when stereo.
struct DecodedSound {
    int rate = 44100;
    int channels = 1;
    std::vector<int16_t> samples;
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
};

// Uncompressed data (codecs 0 and 3): 8-bit unsigned or 16-bit signed
// little-endian. Appends at most `maxFrames` frames; a trailing partial frame
// is dropped.
void decodePcm(std::span<const uint8_t> data, const SoundFormat& format, size_t maxFrames,
               std::vector<int16_t>& out);

// SWF ADPCM: a 2-bit code size, then packets of 4096 frames, each starting
// with a 16-bit sample and a 6-bit step index per channel. Stops cleanly at
// the end of the data or after `maxFrames` frames.
void decodeAdpcm(std::span<const uint8_t> data, bool stereo, size_t maxFrames,
                 std::vector<int16_t>& out);

// An MP3 decoder fed piece by piece (stream blocks) or all at once (event
// sounds). Output has the channel count asked for at construction; the rate
// is the MP3's own, known after the first frame decodes.
class Mp3Decoder {
public:
    explicit Mp3Decoder(int channels);
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    bool ok() const { return m_handle != nullptr && !m_failed; }
    int rate() const { return m_rate; }
    int channels() const { return m_channels; }
    // Feeds `data` and appends every frame it completes, up to `maxFrames`
    // appended frames in total over this call.
    void decode(std::span<const uint8_t> data, size_t maxFrames, std::vector<int16_t>& out);

private:
    ::mpg123_handle_struct* m_handle = nullptr;
    int m_channels = 1;
    int m_rate = 0;
    bool m_failed = false;
};

// Nellymoser (any rate) and AAC through libavcodec, Speex through libspeex. Output has the
// channel count asked for at construction, at the codec's own rate.
class CodecSoundDecoder {
public:
    // `config` is AAC's AudioSpecificConfig (FLV's AAC sequence header).
    CodecSoundDecoder(SoundCodec codec, int rate, int channels, std::span<const uint8_t> config = {});
    ~CodecSoundDecoder();
    CodecSoundDecoder(const CodecSoundDecoder&) = delete;
    CodecSoundDecoder& operator=(const CodecSoundDecoder&) = delete;

    bool ok() const { return m_av != nullptr || m_speex != nullptr; }
    int rate() const;
    int channels() const { return m_channels; }
    // Decodes the packets in `data` (Nellymoser data is cut into its 64-byte
    // blocks; a Speex or AAC packet is one piece) and appends at most
    // `maxFrames` frames. Broken packets are skipped; returns how many.
    size_t decode(std::span<const uint8_t> data, size_t maxFrames, std::vector<int16_t>& out);

private:
    size_t decodeSpeex(std::span<const uint8_t> data, size_t maxFrames, std::vector<int16_t>& out);

    SoundCodec m_codec;
    int m_channels = 1;
    std::unique_ptr<video::AvDecoder> m_av;
    // Speex goes to libspeex itself: a movie's data runs many frames
    // together with no packet boundaries, which libavcodec cannot split.
    void* m_speex = nullptr;
};

// Decodes a whole DefineSound. Codecs we cannot decode give an empty sound
// and one Unimplemented message through `log`; broken data gives what could
// be decoded. The result never exceeds limits::kMaxSoundSamples frames.
std::shared_ptr<const DecodedSound> decodeEventSound(const DefineSoundRecord& record,
                                                     const LogFn& log);

} // namespace swf
