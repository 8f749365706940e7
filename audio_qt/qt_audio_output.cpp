#include "audio_qt/qt_audio_output.h"

#include "engine/sound/null_audio_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <span>

namespace swf {

QtAudioOutput::QtAudioOutput(LogFn log) : m_log(std::move(log)) {}

QtAudioOutput::~QtAudioOutput() { stop(); }

void QtAudioOutput::start(PullFn pull) {
    stop();
    m_pull = std::move(pull);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        fallBack("no sound device");
        return;
    }
    QAudioFormat format;
    format.setSampleRate(kRate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        fallBack("the sound device refuses 44.1 kHz stereo 16-bit");
        return;
    }
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->setBufferSize(kBufferBytes);
    m_device = m_sink->start();
    if (!m_device || m_sink->error() != QAudio::NoError) {
        fallBack("the sound device does not open");
        return;
    }
    m_idleFeeds = 0;
    m_timer = std::make_unique<QTimer>();
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { feed(); });
    m_timer->start(kFeedMs);
    feed();
}

// Tops the device buffer up with freshly mixed sound. Filling only what is
// free keeps the mix at most one buffer ahead of what is heard.
void QtAudioOutput::feed() {
    if (!m_sink || !m_device) return;
    if (m_sink->error() != QAudio::NoError && m_sink->error() != QAudio::UnderrunError) {
        fallBack("the sound device failed");
        return;
    }
    const qsizetype frames = m_sink->bytesFree() / 4;
    if (frames <= 0) {
        // A buffer that never drains means the device has stopped taking sound.
        if (++m_idleFeeds >= kDeadFeeds) fallBack("the sound device takes no sound");
        return;
    }
    m_idleFeeds = 0;
    m_chunk.resize(size_t(frames) * 2);
    m_pull(m_chunk);
    m_device->write(reinterpret_cast<const char*>(m_chunk.data()), frames * 4);
}

void QtAudioOutput::fallBack(const char* why) {
    // May run inside the timer's own timeout: delete it later.
    if (m_timer) {
        m_timer->stop();
        m_timer.release()->deleteLater();
    }
    if (m_sink) {
        m_sink->stop();
        m_sink.reset();
    }
    m_device = nullptr;
    if (!m_warned && m_log) m_log(LogLevel::Warning, std::string(why) + "; sound plays silently");
    m_warned = true;
    m_fallback = std::make_unique<NullAudioOutput>();
    m_fallback->start(m_pull);
}

void QtAudioOutput::stop() {
    m_timer.reset();
    if (m_sink) {
        m_sink->stop();
        m_sink.reset();
    }
    m_device = nullptr;
    if (m_fallback) {
        m_fallback->stop();
        m_fallback.reset();
    }
}

double QtAudioOutput::latencySeconds() const {
    if (!m_sink) return 0;
    const qsizetype queued = std::max<qsizetype>(0, m_sink->bufferSize() - m_sink->bytesFree());
    return double(queued) / (kRate * 4);
}

} // namespace swf
