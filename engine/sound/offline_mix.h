#pragma once
// Offline sound: the mix of a run of frames, captured frame by frame with no
// device and no clock, so the result is the same on every run
// (swfrender --audio).
#include "engine/core/result.h"
#include "engine/sound/sound_player.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace swf {

// Writes interleaved 16-bit samples as a PCM WAV file.
Result<bool> writeWav(const std::string& path, std::span<const int16_t> samples, int sampleRate,
                      int channels = 2);

// Collects exactly one frame's worth of mix per captureFrame(): frame n ends
// at sample round(n * rate / frameRate), so no rounding drift builds up.
// The SoundPlayer must have no output, or one that does not pull by itself.
class OfflineMix {
public:
    OfflineMix(SoundPlayer& sound, double frameRate);

    // Call once after each frame the player has run.
    void captureFrame();
    const std::vector<int16_t>& samples() const { return m_samples; }
    int sampleRate() const { return m_rate; }
    Result<bool> writeWav(const std::string& path) const;

private:
    SoundPlayer& m_sound;
    double m_frameRate;
    int m_rate;
    uint64_t m_frames = 0;
    std::vector<int16_t> m_samples;
};

} // namespace swf
