#pragma once
// Sound through Qt Multimedia: a QAudioSink taking stereo 16-bit at 44.1 kHz
// from the engine's mixer, with a short buffer so that a frame and its sound
// stay within 100 ms. Without a working device (no sound server is a normal
// case) it plays silently through the engine's NullAudioOutput after one
// warning, so stream sound still paces the timeline.
// Create, start and stop it on a thread with an event loop (the GUI thread);
// the mixer is then called on that thread.
#include "engine/core/log.h"
#include "engine/sound/audio_output.h"

#include <cstdint>
#include <memory>
#include <vector>

class QAudioSink;
class QIODevice;
class QTimer;

namespace swf {

class NullAudioOutput;

class QtAudioOutput : public AudioOutput {
public:
    explicit QtAudioOutput(LogFn log = {});
    ~QtAudioOutput() override;

    int sampleRate() const override { return kRate; }
    void start(PullFn pull) override;
    void stop() override;
    double latencySeconds() const override;

    // True once the device failed and the silent output took over.
    bool isSilent() const { return m_fallback != nullptr; }

    static constexpr int kRate = 44100;
    // The device buffer: 80 ms of sound, under 100 ms from mix to ear.
    static constexpr int kBufferBytes = kRate * 4 * 80 / 1000;

private:
    // We push into the sink from our own timer: Qt 6.4's PulseAudio sink in
    // pull mode stops after its first periods when the buffer is this short.
    static constexpr int kFeedMs = 10;
    // A sink that takes nothing for this many feeds in a row (5 s) is dead; a
    // sound server may take a second or two to start a new stream.
    static constexpr int kDeadFeeds = 500;

    void feed();
    void fallBack(const char* why);

    LogFn m_log;
    PullFn m_pull;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice* m_device = nullptr; // owned by m_sink
    std::unique_ptr<QTimer> m_timer;
    std::unique_ptr<NullAudioOutput> m_fallback;
    std::vector<int16_t> m_chunk;
    int m_idleFeeds = 0;
    bool m_warned = false;
};

} // namespace swf
