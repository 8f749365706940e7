#pragma once
// Signals and sound records for the sound tests: tones, their measurement,
// an ADPCM encoder matching the SWF decoder, MP3 frame splitting, and
// in-memory movies holding DefineSound and stream tags.
#include "engine/sound/sound_format.h"
#include "engine/swf/movie.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace soundtest {

// A sine tone, interleaved when channels == 2 (the right channel at `rightFreq`
// when given, else the same tone).
std::vector<int16_t> tone(double freq, int rate, size_t frames, int channels, double amplitude,
                          double rightFreq = 0);

// Goertzel power of `freq` in one channel of interleaved samples, normalised
// so a full-length sine of amplitude A gives A.
double goertzelAmplitude(std::span<const int16_t> samples, int channels, int channel, double freq,
                         int rate);
// Frequency by counting upward zero crossings of one channel.
double zeroCrossingFrequency(std::span<const int16_t> samples, int channels, int channel, int rate);
double rms(std::span<const int16_t> samples, int channels, int channel);
// Largest step between neighbouring samples of one channel (clicks show up here).
int maxStep(std::span<const int16_t> samples, int channels, int channel);

// Raw sound data for the codecs.
std::vector<uint8_t> pcm16(std::span<const int16_t> samples);
std::vector<uint8_t> pcm8(std::span<const int16_t> samples);
// `startIndex` is the step index the encoder starts from, as an encoder
// carrying its state from the previous block would.
std::vector<uint8_t> adpcm(std::span<const int16_t> samples, int channels, int bits, int startIndex = 0);

// MP3 frames of a file made by lame (no tag frames), split by their headers.
std::vector<std::vector<uint8_t>> mp3Frames(std::span<const uint8_t> file);
std::vector<uint8_t> readFile(const std::string& path);

uint8_t formatByte(int codec, int rateCode, bool is16, bool stereo);
std::vector<uint8_t> defineSoundBody(uint16_t id, uint8_t format, uint32_t sampleCount,
                                     std::span<const uint8_t> data);
// SOUNDINFO bytes.
struct Info {
    bool stop = false, noMultiple = false;
    int64_t in = -1, out = -1;
    int loops = -1;
    std::vector<swf::EnvelopePoint> envelope;
    Info& withStop() { stop = true; return *this; }
    Info& withNoMultiple(bool on = true) { noMultiple = on; return *this; }
    Info& withIn(int64_t v) { in = v; return *this; }
    Info& withOut(int64_t v) { out = v; return *this; }
    Info& withLoops(int v) { loops = v; return *this; }
};
std::vector<uint8_t> soundInfo(const Info& info);

// Builds a Movie in memory: tags are appended and their spans fixed up at the end.
class MovieBuilder {
public:
    explicit MovieBuilder(double frameRate = 12);
    void defineSound(uint16_t id, std::vector<uint8_t> body);
    void exportName(const std::string& name, uint16_t id);
    void frameTag(uint32_t frame, uint16_t code, std::vector<uint8_t> body);
    void ensureFrames(uint32_t count);
    std::shared_ptr<const swf::Movie> finish();

private:
    std::shared_ptr<swf::Movie> m_movie;
    struct Pending {
        bool isSound;
        uint16_t id;
        uint32_t frame;
        uint16_t code;
        std::vector<uint8_t> body;
    };
    std::vector<Pending> m_pending;
    uint32_t m_frames = 0;
};

} // namespace soundtest
