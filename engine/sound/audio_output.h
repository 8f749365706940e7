#pragma once
// Where mixed sound goes. The engine's mixer renders interleaved stereo
// 16-bit frames at the output's rate when the output pulls them. The engine
// ships a silent output; the Qt Multimedia sink lives in its own target.
#include <cstdint>
#include <functional>
#include <span>

namespace swf {

class AudioOutput {
public:
    // Fills `frames` stereo frames (2 samples each) into `out`.
    using PullFn = std::function<void(std::span<int16_t> out)>;

    virtual ~AudioOutput() = default;
    virtual int sampleRate() const = 0;
    // Starts pulling from `pull` until stop(); replaces an earlier source.
    virtual void start(PullFn pull) = 0;
    virtual void stop() = 0;
    // Seconds of sound handed to the device but not yet heard.
    virtual double latencySeconds() const = 0;
};

} // namespace swf
