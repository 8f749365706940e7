// Sound through the Player, from a movie file written in code: the stream is
// the timeline's clock, Stop/Play/Back/Forward/new movie/loop behave as in
// Flash, and the offline mix lines every frame up with its own block.
#include "audio_qt/qt_audio_output.h"
#include "engine/display/player.h"
#include "engine/sound/offline_mix.h"
#include "tests/sound/sound_rig.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

using namespace soundtest;
using swf::test::SwfWriter;

namespace {

constexpr double kFps = 10;
constexpr int kPerFrame = 4410;
constexpr int16_t kEventRight = 7000;

int16_t levelOf(uint32_t frame0) { return int16_t((frame0 + 1) * 500); }

// 20 frames of stream (mono, block f at level (f + 1) * 500, heard on both
// sides) and, on frame 3, a 3-second event sound heard on the right only.
std::vector<uint8_t> streamMovie(uint32_t frames = 20) {
    SwfWriter w(8, {0, 2000, 0, 2000}, kFps);
    std::vector<int16_t> event;
    for (int i = 0; i < 3 * 44100; ++i) {
        event.push_back(0);
        event.push_back(kEventRight);
    }
    w.defineSound(1, 3, 3, true, true, uint32_t(event.size() / 2), pcm16(event));
    w.soundStreamHead({formatByte(3, 3, true, false), formatByte(3, 3, true, false), uint8_t(kPerFrame & 0xff),
                       uint8_t(kPerFrame >> 8)}, 2);
    for (uint32_t f = 0; f < frames; ++f) {
        w.soundStreamBlock(pcm16(std::vector<int16_t>(kPerFrame, levelOf(f))));
        if (f == 2) w.startSound(1);
        w.showFrame();
    }
    return w.bytes();
}

struct PlayerRig {
    swf::Player player;
    swf::SoundPlayer* sound = nullptr;
    swf::NullAudioOutput* output = nullptr;

    explicit PlayerRig(bool withOutput = true) {
        auto sp = std::make_unique<swf::SoundPlayer>();
        sound = sp.get();
        if (withOutput) {
            auto out = std::make_unique<swf::NullAudioOutput>(swf::NullAudioOutput::Mode::Manual);
            output = out.get();
            sound->setOutput(std::move(out));
        }
        player.setSoundPlayer(std::move(sp));
    }
    void load(const std::vector<uint8_t>& bytes) { ASSERT_TRUE(player.load(bytes, "sound.swf").ok()); }
    std::vector<int16_t> pull(double seconds) { return output->pull(size_t(seconds * 44100)); }
};

TEST(PlayerSound, TimelineFollowsTheStreamWhenItFallsBehind) {
    PlayerRig rig;
    rig.load(streamMovie());
    rig.player.advance(100); // frame 1 runs and starts the stream
    ASSERT_EQ(rig.player.currentFrame(), 1u);
    rig.pull(0.95);          // a machine too slow to draw: the sound went on alone
    rig.player.advance(1);   // one late tick catches the picture up with the sound
    EXPECT_EQ(rig.player.currentFrame(), 10u);
    auto out = rig.pull(0.02);
    EXPECT_EQ(out[0], levelOf(9)); // frame 10 is heard with its own block
    rig.pull(0.1);
    rig.player.advance(1);
    EXPECT_EQ(rig.player.currentFrame(), 11u);
}

TEST(PlayerSound, StopHaltsTheStreamButEventSoundsPlayOutThenPlayResumesHere) {
    PlayerRig rig;
    rig.load(streamMovie());
    for (int i = 0; i < 5; ++i) {
        rig.player.advance(100);
        rig.pull(0.1);
    }
    ASSERT_GE(rig.player.currentFrame(), 4u);
    rig.player.stop();
    rig.pull(0.05);
    auto out = rig.pull(0.05);
    EXPECT_EQ(out[0], 0);             // no stream on the left
    EXPECT_EQ(out[1], kEventRight);   // the event sound goes on
    EXPECT_FALSE(rig.sound->streamPositionFrames(rig.player.root()));
    const uint32_t here = rig.player.currentFrame();
    rig.player.play();
    rig.player.advance(100);
    out = rig.pull(0.02);
    EXPECT_EQ(rig.player.currentFrame(), here + 1);
    EXPECT_EQ(out[0], levelOf(here)); // the block of the frame now shown (0-based `here`)
}

TEST(PlayerSound, BackAndForwardStepSilently) {
    PlayerRig rig;
    rig.load(streamMovie());
    rig.player.advance(100);
    rig.player.stop();
    rig.pull(0.1);
    for (int i = 0; i < 4; ++i) rig.player.forward(); // passes the StartSound on frame 3
    EXPECT_EQ(rig.player.currentFrame(), 5u);
    rig.player.back();
    EXPECT_EQ(rig.player.currentFrame(), 4u);
    auto out = rig.pull(0.1);
    EXPECT_EQ(rig.sound->activeSoundCount(), 0u);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0);
}

TEST(PlayerSound, LoadingAnotherMovieStopsEverySound) {
    PlayerRig rig;
    rig.load(streamMovie());
    for (int i = 0; i < 4; ++i) {
        rig.player.advance(100);
        rig.pull(0.1);
    }
    ASSERT_EQ(rig.sound->activeSoundCount(), 2u);
    rig.load(SwfWriter(8, {0, 2000, 0, 2000}, kFps).showFrame().bytes());
    rig.pull(0.01);
    EXPECT_EQ(rig.sound->activeSoundCount(), 0u);
    auto out = rig.pull(0.05);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0);
}

// The loop back to frame 1 hands frame 1's block to the sound, so the stream
// starts again from its first block, not one frame late from the second.
TEST(PlayerSound, LoopRestartsTheStreamFromTheFirstBlock) {
    PlayerRig rig;
    rig.load(streamMovie(4));
    for (int i = 0; i < 4; ++i) {
        rig.player.advance(100);
        rig.pull(0.1);
    }
    ASSERT_EQ(rig.player.currentFrame(), 4u);
    rig.player.advance(100); // back to frame 1
    EXPECT_EQ(rig.player.currentFrame(), 1u);
    auto out = rig.pull(0.02);
    EXPECT_EQ(out[0], levelOf(0));
}

// What swfrender --audio does: no device, one frame of mix per frame run.
TEST(PlayerSound, OfflineMixLinesEachFrameUpWithItsBlock) {
    PlayerRig rig(false);
    rig.load(streamMovie());
    swf::OfflineMix mix(*rig.sound, rig.player.frameRate());
    for (int f = 0; f < 20; ++f) {
        rig.player.runFrame();
        mix.captureFrame();
    }
    const auto& s = mix.samples();
    ASSERT_EQ(s.size(), 2u * 20 * kPerFrame);
    for (uint32_t f = 0; f < 20; ++f) {
        EXPECT_EQ(s[2 * (f * kPerFrame + 100)], levelOf(f)) << f;
        EXPECT_EQ(s[2 * (f * kPerFrame + 100) + 1], levelOf(f) + (f >= 2 ? kEventRight : 0)) << f;
    }
    ASSERT_TRUE(mix.writeWav(QDir::temp().filePath("swiftreel_sound_offline.wav").toStdString()).ok());
}

// A movie with an MP3 stream (440 Hz left, 880 Hz right) and a 1 kHz event
// sound from frame 6, mixed offline for 36 frames at 12 fps: the figures of
// the resulting waveform.
TEST(PlayerSound, OfflineMixOfMp3StreamAndEventSound) {
    auto frames = mp3Frames(readFile(fixture("stream_s44.mp3")));
    ASSERT_GT(frames.size(), 100u);
    SwfWriter w(8, {0, 2000, 0, 2000}, 12);
    auto beep = tone(1000, 22050, 22050, 1, 8000);
    w.defineSound(1, 3, 2, true, false, uint32_t(beep.size()), pcm16(beep));
    w.soundStreamHead({formatByte(2, 3, true, true), formatByte(2, 3, true, true), 0x5b, 0x0e, 0, 0}, 2);
    size_t next = 0, decoded = 0;
    for (uint32_t f = 0; f < 36; ++f) {
        std::vector<uint8_t> block = {0, 0, 0, 0};
        while (next < frames.size() && double(decoded) < (f + 1) * 3675.0) {
            block.insert(block.end(), frames[next].begin(), frames[next].end());
            decoded += 1152;
            ++next;
        }
        w.soundStreamBlock(block);
        if (f == 5) w.startSound(1);
        w.showFrame();
    }
    PlayerRig rig(false);
    rig.load(w.bytes());
    swf::OfflineMix mix(*rig.sound, rig.player.frameRate());
    for (int f = 0; f < 36; ++f) {
        rig.player.runFrame();
        mix.captureFrame();
    }
    const auto& s = mix.samples();
    ASSERT_EQ(s.size(), 2u * 3u * 44100u); // 36 frames at 12 fps: 3 s exactly
    std::span<const int16_t> before(s.data() + 2 * 4410, 2 * 13000); // 0.1 s .. 0.39 s
    std::span<const int16_t> with(s.data() + 2 * 22050, 2 * 22050);   // 0.5 s .. 1.0 s
    const int peak = std::max(std::abs(*std::max_element(s.begin(), s.end())),
                              std::abs(*std::min_element(s.begin(), s.end())));
    const double l440 = goertzelAmplitude(before, 2, 0, 440, 44100);
    const double r880 = goertzelAmplitude(before, 2, 1, 880, 44100);
    const double beepL = goertzelAmplitude(with, 2, 0, 1000, 44100);
    const double beepR = goertzelAmplitude(with, 2, 1, 1000, 44100);
    std::printf("[ figures  ] %.3f s, peak %d, 440 Hz left %.0f, 880 Hz right %.0f, 1 kHz event L/R %.0f/%.0f\n",
                double(s.size() / 2) / 44100, peak, l440, r880, beepL, beepR);
    EXPECT_NEAR(l440, 12000, 900);
    EXPECT_NEAR(r880, 12000, 900);
    EXPECT_LT(goertzelAmplitude(before, 2, 0, 1000, 44100), 200); // no beep before frame 6
    EXPECT_NEAR(beepL, 8000, 400);
    EXPECT_NEAR(beepR, 8000, 400);
    EXPECT_LE(peak, 20500);
    EXPECT_GE(peak, 18000);
}

} // namespace

namespace {

// The program's set-up: the Qt output (silent where no sound server runs)
// under a frame timer. The stream paces the timeline in real time and a
// missing device costs one warning, not one per frame.
TEST(PlayerSound, QtOutputPacesARealTimeRunWithAtMostOneWarning) {
    int argc = 0;
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, nullptr);
    std::vector<std::string> logs;
    auto log = [&](swf::LogLevel, const std::string& m) { logs.push_back(m); };
    swf::Player player(swf::HostCallbacks{{}, {}, {}, log});
    auto sound = std::make_unique<swf::SoundPlayer>(log);
    swf::SoundPlayer* sp = sound.get();
    sound->setOutput(std::make_unique<swf::QtAudioOutput>(log));
    player.setSoundPlayer(std::move(sound));
    ASSERT_TRUE(player.load(streamMovie(40), "stream.swf").ok());

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    bool sawStreamClock = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        player.advance(double(now - last));
        last = now;
        sawStreamClock = sawStreamClock || sp->streamPositionFrames(player.root()).has_value();
    });
    tick.start(20);
    // Up to 8 s for a sound server to start the stream, then one more second.
    qint64 flowing = -1;
    while (clock.elapsed() < 9000 && (flowing < 0 || clock.elapsed() - flowing < 1000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (flowing < 0 && sawStreamClock && player.currentFrame() > 1) flowing = clock.elapsed();
    }
    tick.stop();
    EXPECT_TRUE(sawStreamClock);
    EXPECT_GT(player.currentFrame(), 3u);
    EXPECT_LE(logs.size(), 1u) << logs.front();
    player.unload();
}

} // namespace
