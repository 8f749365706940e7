#pragma once
// The silent output: where no sound device exists (tests, CI, headless
// runs, a failed device). In real-time mode a thread of its own consumes the
// mix at the output rate, so stream sound still paces the timeline; in
// manual mode nothing happens until pull() is called, for tests that step
// time themselves.
#include "engine/sound/audio_output.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace swf {

class NullAudioOutput : public AudioOutput {
public:
    enum class Mode { RealTime, Manual };
    explicit NullAudioOutput(Mode mode = Mode::RealTime, int sampleRate = 44100);
    ~NullAudioOutput() override;

    int sampleRate() const override { return m_rate; }
    void start(PullFn pull) override;
    void stop() override;
    double latencySeconds() const override { return 0; }

    // Manual mode: pulls `frames` stereo frames from the source now and
    // returns them (empty when not started).
    std::vector<int16_t> pull(size_t frames);

private:
    void run();

    const Mode m_mode;
    const int m_rate;
    PullFn m_pull;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_running = false;
};

} // namespace swf
