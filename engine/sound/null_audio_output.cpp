#include "engine/sound/null_audio_output.h"

#include <chrono>

namespace swf {

namespace {
// How often the real-time mode wakes to consume what time has passed.
constexpr auto kTick = std::chrono::milliseconds(10);
} // namespace

NullAudioOutput::NullAudioOutput(Mode mode, int sampleRate)
    : m_mode(mode), m_rate(sampleRate > 0 ? sampleRate : 44100) {}

NullAudioOutput::~NullAudioOutput() { stop(); }

void NullAudioOutput::start(PullFn pull) {
    stop();
    m_pull = std::move(pull);
    m_running = true;
    if (m_mode == Mode::RealTime) m_thread = std::thread([this] { run(); });
}

void NullAudioOutput::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    m_pull = nullptr;
}

std::vector<int16_t> NullAudioOutput::pull(size_t frames) {
    std::vector<int16_t> out;
    if (!m_running || !m_pull) return out;
    out.resize(frames * 2);
    m_pull(out);
    return out;
}

void NullAudioOutput::run() {
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    uint64_t consumed = 0; // frames since start; counted from the clock, so no drift
    std::vector<int16_t> scratch;
    std::unique_lock lock(m_mutex);
    while (m_running) {
        m_wake.wait_for(lock, kTick, [this] { return !m_running; });
        if (!m_running) break;
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        const uint64_t due = uint64_t(elapsed * m_rate);
        if (due <= consumed) continue;
        // After a long stall (a suspended machine) skip ahead instead of
        // mixing minutes of sound at once.
        const uint64_t frames = std::min<uint64_t>(due - consumed, uint64_t(m_rate) / 4);
        consumed = due;
        scratch.assign(frames * 2, 0);
        lock.unlock();
        m_pull(scratch);
        lock.lock();
    }
}

} // namespace swf
