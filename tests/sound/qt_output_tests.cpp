// The Qt Multimedia output: with a sound server it plays, without one it
// falls back to silence after exactly one warning; either way it consumes
// sound at the real rate and never blocks.
#include "audio_qt/qt_audio_output.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(QtAudioOutput, PlaysOrFallsBackToSilenceWithOneWarning) {
    int argc = 0;
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, nullptr);

    std::vector<std::string> warnings;
    swf::QtAudioOutput output([&](swf::LogLevel, const std::string& m) { warnings.push_back(m); });
    std::atomic<size_t> pulled = 0;
    bool silent = false;
    for (int round = 0; round < 2; ++round) { // a restart must not warn again
        pulled = 0;
        QElapsedTimer clock;
        clock.start();
        output.start([&](std::span<int16_t> out) {
            std::fill(out.begin(), out.end(), int16_t(0));
            pulled += out.size() / 2;
        });
        while (pulled < 4410 && clock.elapsed() < 8000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_GE(pulled.load(), 4410u) << "nothing consumed the sound in 8 s";
        EXPECT_LT(clock.elapsed(), 8000);
        EXPECT_LE(output.latencySeconds(), 0.1);
        silent = output.isSilent();
        output.stop();
    }
    EXPECT_EQ(warnings.size(), silent ? 1u : 0u);
}

} // namespace
