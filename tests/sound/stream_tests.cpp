// Stream sound: it feeds itself from the timeline's blocks, is the clock the
// timeline follows, and starts, stops, resumes and loops as the player asks.
#include "tests/sound/sound_rig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace soundtest;

namespace {

constexpr double kFps = 10;
constexpr size_t kPerFrame = 4410; // 44.1 kHz at 10 fps

std::vector<uint8_t> streamHead(uint8_t format, uint16_t perFrame, int16_t latency = 0) {
    std::vector<uint8_t> b = {format, format, uint8_t(perFrame), uint8_t(perFrame >> 8)};
    if ((format >> 4) == 2) {
        b.push_back(uint8_t(latency));
        b.push_back(uint8_t(uint16_t(latency) >> 8));
    }
    return b;
}

// Block f holds a constant level of (f + 1) * 500: what is heard names its frame.
std::shared_ptr<const swf::Movie> levelStream(uint32_t frames) {
    MovieBuilder b(kFps);
    b.frameTag(0, swf::tag::SoundStreamHead2, streamHead(formatByte(3, 3, true, false), kPerFrame));
    for (uint32_t f = 0; f < frames; ++f)
        b.frameTag(f, swf::tag::SoundStreamBlock, pcm16(std::vector<int16_t>(kPerFrame, int16_t((f + 1) * 500))));
    return b.finish();
}

// Plays frame `f`: hands its sound tags to the player, as the Player façade does.
void playFrame(Rig& rig, const std::shared_ptr<const swf::Movie>& movie, uint32_t f,
               const void* key = nullptr, const swf::Timeline* timeline = nullptr) {
    const swf::Timeline& tl = timeline ? *timeline : movie->timeline;
    for (const auto& t : tl.frames[f].tags)
        rig.sound.controlTag(movie, key ? key : movie.get(), tl, f, t);
}

int16_t levelOf(uint32_t frame) { return int16_t((frame + 1) * 500); }

TEST(StreamSync, SoundRunsAheadOfAStalledTimelineAndNamesTheFrameHeard) {
    Rig rig;
    auto movie = levelStream(30);
    playFrame(rig, movie, 0); // the timeline then falls behind: no more frames played
    EXPECT_DOUBLE_EQ(*rig.sound.streamPositionFrames(movie.get()), 0.0);
    auto out = rig.pull(1.0);
    for (uint32_t f = 0; f < 10; ++f)
        EXPECT_EQ(out[2 * (f * kPerFrame + kPerFrame / 2)], levelOf(f)) << "frame " << f;
    EXPECT_NEAR(*rig.sound.streamPositionFrames(movie.get()), 10.0, 0.01);
    rig.pull(0.25);
    EXPECT_NEAR(*rig.sound.streamPositionFrames(movie.get()), 12.5, 0.01);
    // The timeline catching up (dropping frames) hands in blocks it has passed:
    // the sound goes on undisturbed.
    for (uint32_t f = 1; f <= 12; ++f) playFrame(rig, movie, f);
    out = rig.pull(0.1);
    EXPECT_EQ(out[2 * 1000], levelOf(12));
    EXPECT_EQ(out[2 * 3000], levelOf(13));
}

TEST(StreamSync, StopSilencesAndPlayResumesAtTheCurrentFrame) {
    Rig rig;
    auto movie = levelStream(30);
    playFrame(rig, movie, 0);
    rig.pull(0.5);
    rig.sound.stopStream(movie.get());
    EXPECT_FALSE(rig.sound.streamPositionFrames(movie.get()));
    auto out = rig.pull(0.1);
    EXPECT_EQ(out.back(), 0);
    EXPECT_EQ(rig.sound.activeSoundCount(), 0u);
    playFrame(rig, movie, 15); // Playing again, the timeline standing at frame 15
    EXPECT_DOUBLE_EQ(*rig.sound.streamPositionFrames(movie.get()), 15.0);
    out = rig.pull(0.05);
    EXPECT_EQ(out[200], levelOf(15));
}

TEST(StreamSync, LoopBackToTheFirstFrameRestartsTheStream) {
    Rig rig;
    auto movie = levelStream(5);
    for (uint32_t f = 0; f < 5; ++f) {
        playFrame(rig, movie, f);
        rig.pull(0.1);
    }
    playFrame(rig, movie, 0); // the loop, without a stopStream first
    auto out = rig.pull(0.05);
    EXPECT_EQ(out[2 * 1000], levelOf(0));
    EXPECT_NEAR(*rig.sound.streamPositionFrames(movie.get()), 0.5, 0.01);
}

TEST(StreamSync, StreamEndsAfterItsLastBlockAndReleasesTheTimeline) {
    Rig rig;
    auto movie = levelStream(3);
    playFrame(rig, movie, 0);
    rig.pull(0.2);
    EXPECT_TRUE(rig.sound.isStreamPlaying(movie.get()));
    rig.pull(0.2);
    EXPECT_FALSE(rig.sound.isStreamPlaying(movie.get()));
    EXPECT_FALSE(rig.sound.streamPositionFrames(movie.get()));
    playFrame(rig, movie, 2); // the lagging timeline reaching the last block: no restart
    EXPECT_FALSE(rig.sound.isStreamPlaying(movie.get()));
}

TEST(StreamSync, JumpFarAheadRestartsThere) {
    Rig rig;
    auto movie = levelStream(40);
    playFrame(rig, movie, 0);
    rig.pull(0.1);
    playFrame(rig, movie, 30);
    auto out = rig.pull(0.05);
    EXPECT_EQ(out[2 * 1000], levelOf(30));
}

TEST(StreamSync, EachTimelineHasItsOwnStream) {
    Rig rig;
    auto movie = levelStream(20);
    int clipA = 0, clipB = 0;
    playFrame(rig, movie, 0, &clipA);
    playFrame(rig, movie, 10, &clipB);
    auto out = rig.pull(0.05);
    EXPECT_EQ(out[2 * 1000], levelOf(0) + levelOf(10));
    rig.sound.stopStream(&clipA);
    out = rig.pull(0.05);
    EXPECT_EQ(out.back(), levelOf(10));
    EXPECT_NEAR(*rig.sound.streamPositionFrames(&clipB), 11.0, 0.01);
}

TEST(StreamSync, FramesWithoutABlockInsideTheStreamAreSilentFrames) {
    MovieBuilder b(kFps);
    b.frameTag(0, swf::tag::SoundStreamHead, streamHead(formatByte(3, 3, true, false), kPerFrame));
    for (uint32_t f : {0u, 2u})
        b.frameTag(f, swf::tag::SoundStreamBlock, pcm16(std::vector<int16_t>(kPerFrame, 700)));
    auto movie = b.finish();
    Rig rig;
    playFrame(rig, movie, 0);
    auto out = rig.pull(0.3);
    EXPECT_EQ(out[2 * 2000], 700);
    EXPECT_EQ(out[2 * 6000], 0);
    EXPECT_EQ(out[2 * 11000], 700);
}

TEST(StreamSync, SoundTagsWithoutAnOutputDoNotPaceTheTimeline) {
    swf::SoundPlayer sound;
    auto movie = levelStream(5);
    sound.controlTag(movie, movie.get(), movie->timeline, 0, movie->timeline.frames[0].tags[1]);
    EXPECT_TRUE(sound.isStreamPlaying(movie.get()));
    EXPECT_FALSE(sound.streamPositionFrames(movie.get()));
}

TEST(StreamSync, AStalledOutputStopsPacingTheTimeline) {
    Rig rig;
    auto movie = levelStream(50);
    playFrame(rig, movie, 0);
    rig.pull(0.1);
    EXPECT_TRUE(rig.sound.streamPositionFrames(movie.get()));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_FALSE(rig.sound.streamPositionFrames(movie.get()));
    rig.pull(0.01);
    EXPECT_TRUE(rig.sound.streamPositionFrames(movie.get()));
}

TEST(NullOutput, RealTimeModeConsumesOnItsOwn) {
    swf::SoundPlayer sound;
    sound.setOutput(std::make_unique<swf::NullAudioOutput>());
    auto movie = levelStream(50);
    sound.controlTag(movie, movie.get(), movie->timeline, 0, movie->timeline.frames[0].tags[1]);
    double pos = 0;
    for (int i = 0; i < 200 && pos < 1.0; ++i) { // up to 2 s
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pos = sound.streamPositionFrames(movie.get()).value_or(0);
    }
    EXPECT_GE(pos, 1.0);
    sound.setOutput(nullptr); // stops the output's thread
}

// ---- Compressed streams: continuity across blocks ------------------------------

TEST(CompressedStream, AdpcmBlocksJoinWithoutClicksAndResampleCleanly) {
    // 11 kHz stereo at 12 fps: 918.75 samples a frame, so blocks alternate sizes.
    const int rate = 11025;
    auto samples = tone(300, rate, size_t(rate) * 2, 2, 10000, 450);
    MovieBuilder b(12);
    b.frameTag(0, swf::tag::SoundStreamHead2, streamHead(formatByte(1, 1, true, true), 919));
    size_t pos = 0;
    for (uint32_t f = 0; pos < samples.size() / 2; ++f) {
        const size_t end = std::min(samples.size() / 2, size_t(std::llround((f + 1) * rate / 12.0)));
        b.frameTag(f, swf::tag::SoundStreamBlock,
                   adpcm(std::span<const int16_t>(samples).subspan(2 * pos, 2 * (end - pos)), 2, 4, 60));
        pos = end;
    }
    auto movie = b.finish();
    Rig rig;
    playFrame(rig, movie, 0);
    auto out = rig.pull(1.5);
    std::span<const int16_t> body(out.data() + 2000, out.size() - 2000);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 0, 44100), 300, 3);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 1, 44100), 450, 4.5);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 0, 300, 44100), 10000, 800);
    // A sine of amplitude A at f moves at most 2*pi*f*A/44100 per sample.
    EXPECT_LT(maxStep(body, 2, 0), 2 * 3.1416 * 300 * 10000 / 44100 * 1.5);
    EXPECT_LT(maxStep(body, 2, 1), 2 * 3.1416 * 450 * 10000 / 44100 * 1.5);
}

std::shared_ptr<const swf::Movie> mp3Stream(double fps, std::vector<std::vector<uint8_t>>* blocksOut = nullptr) {
    auto frames = mp3Frames(readFile(fixture("stream_s44.mp3")));
    MovieBuilder b(fps);
    const double perFrame = 44100 / fps;
    b.frameTag(0, swf::tag::SoundStreamHead2, streamHead(formatByte(2, 3, true, true), uint16_t(perFrame)));
    size_t next = 0, decoded = 0;
    for (uint32_t f = 0; next < frames.size(); ++f) {
        // Each block takes the MP3 frames that bring the total up to its frame's end.
        std::vector<uint8_t> block = {0, 0, 0, 0};
        size_t count = 0;
        while (next < frames.size() && double(decoded) < (f + 1) * perFrame) {
            block.insert(block.end(), frames[next].begin(), frames[next].end());
            decoded += 1152;
            ++count;
            ++next;
        }
        block[0] = uint8_t(count * 1152), block[1] = uint8_t((count * 1152) >> 8);
        if (blocksOut) blocksOut->push_back(block);
        b.frameTag(f, swf::tag::SoundStreamBlock, block);
    }
    return b.finish();
}

TEST(CompressedStream, Mp3StreamKeepsToneAndClock) {
    auto movie = mp3Stream(12);
    ASSERT_GT(movie->timeline.frames.size(), 30u) << "fixture missing";
    Rig rig;
    playFrame(rig, movie, 0);
    auto out = rig.pull(2.0);
    std::span<const int16_t> body(out.data() + 2 * 4410, out.size() - 2 * 4410);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 0, 44100), 440, 4.4);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 1, 44100), 880, 8.8);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 1, 880, 44100), 12000, 1000);
    EXPECT_LT(maxStep(body, 2, 1), 2 * 3.1416 * 880 * 12000 / 44100 * 1.3);
    // Blocks carry whole MP3 frames, so the clock may lead its frame by one MP3 frame.
    EXPECT_NEAR(*rig.sound.streamPositionFrames(movie.get()), 24.0, 0.5);
    EXPECT_TRUE(rig.logs.empty());
}

TEST(CompressedStream, Mp3StreamStartedMidwayPicksUpTheTone) {
    auto movie = mp3Stream(12);
    ASSERT_GT(movie->timeline.frames.size(), 30u);
    Rig rig;
    playFrame(rig, movie, 20); // Playing resumed at frame 21
    EXPECT_DOUBLE_EQ(*rig.sound.streamPositionFrames(movie.get()), 20.0);
    auto out = rig.pull(0.5);
    // The decoder needs a frame or two to find its footing; then the tone.
    std::span<const int16_t> body(out.data() + 2 * 4410, out.size() - 2 * 4410);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 0, 44100), 440, 4.4);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 0, 440, 44100), 12000, 1200);
    EXPECT_NEAR(*rig.sound.streamPositionFrames(movie.get()), 26.0, 0.5);
}

TEST(CompressedStream, BrokenBlocksNeverCrashAndStayBounded) {
    std::vector<std::vector<uint8_t>> blocks;
    mp3Stream(12, &blocks);
    ASSERT_GT(blocks.size(), 10u);
    MovieBuilder b(12);
    b.frameTag(0, swf::tag::SoundStreamHead2, streamHead(formatByte(2, 3, true, true), 3675));
    std::vector<std::vector<uint8_t>> broken = {
        std::vector<uint8_t>(blocks[0].begin(), blocks[0].begin() + 300), // cut mid-frame
        {0xff, 0xff, 0x00, 0x80},                                          // lying count, no data
        {0x01},                                                            // shorter than its header
        blocks[3],
        std::vector<uint8_t>(5000, 0xff),                                  // sync bytes only
        blocks[5]};
    for (uint32_t f = 0; f < broken.size(); ++f) b.frameTag(f, swf::tag::SoundStreamBlock, broken[f]);
    auto movie = b.finish();
    Rig rig;
    playFrame(rig, movie, 0);
    auto out = rig.pull(3.0);
    EXPECT_FALSE(rig.sound.isStreamPlaying(movie.get()));
    // A stream without a head is refused with one warning.
    MovieBuilder headless(12);
    headless.frameTag(0, swf::tag::SoundStreamBlock, blocks[0]);
    headless.frameTag(1, swf::tag::SoundStreamBlock, blocks[1]);
    auto movie2 = headless.finish();
    Rig rig2;
    playFrame(rig2, movie2, 0);
    playFrame(rig2, movie2, 1);
    EXPECT_FALSE(rig2.sound.isStreamPlaying(movie2.get()));
    EXPECT_EQ(rig2.logs.size(), 1u);
}

} // namespace
