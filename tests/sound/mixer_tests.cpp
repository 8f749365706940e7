// Event sounds through the mixer: the sound-info record (in and out points,
// loops, envelope, no-multiple, stop), mixing, offline capture and
// malformed data.
#include "engine/sound/decoders.h"
#include "engine/sound/offline_mix.h"
#include "tests/sound/sound_rig.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace soundtest;

namespace {

// A constant level, so lengths and gains can be read straight off the output.
std::shared_ptr<const swf::Movie> levelMovie(int16_t level, size_t frames, int rateCode = 3) {
    std::vector<int16_t> samples(frames, level);
    MovieBuilder b;
    b.defineSound(1, defineSoundBody(1, formatByte(3, rateCode, true, false), uint32_t(frames), pcm16(samples)));
    return b.finish();
}

// Output frames (left channel) until the sound falls silent.
size_t soundingFrames(const std::vector<int16_t>& out) {
    size_t last = 0;
    for (size_t i = 0; i < out.size() / 2; ++i)
        if (out[2 * i] != 0) last = i + 1;
    return last;
}

struct LengthCase {
    const char* name;
    int rateCode;
    Info info;
    size_t expected; // output frames at 44.1 kHz, give or take the fade and rounding
};

class EventLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(EventLength, PlaysTheRegionTheRecordAsksFor) {
    const LengthCase& c = GetParam();
    const size_t sourceFrames = c.rateCode == 3 ? 44100 : 11025; // one second
    Rig rig;
    auto movie = levelMovie(10000, sourceFrames, c.rateCode);
    rig.start(movie, 1, c.info);
    auto out = rig.pull(4.0);
    EXPECT_NEAR(double(soundingFrames(out)), double(c.expected), 8.0);
    EXPECT_EQ(rig.sound.activeSoundCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Info, EventLength,
    ::testing::Values(LengthCase{"whole", 3, {}, 44100},
                      LengthCase{"in_point", 3, Info().withIn(11025), 33075},
                      LengthCase{"out_point", 3, Info().withOut(22050), 22050},
                      LengthCase{"in_and_out", 3, Info().withIn(11025).withOut(22050), 11025},
                      // points count 44.1 kHz samples whatever the sound's rate
                      LengthCase{"in_out_at_11k", 1, Info().withIn(11025).withOut(22050), 11025},
                      LengthCase{"three_loops", 3, Info().withLoops(3), 3 * 44100},
                      LengthCase{"loops_of_region", 3, Info().withIn(22050).withOut(33075).withLoops(2), 22050},
                      LengthCase{"zero_loops_play_once", 3, Info().withLoops(0), 44100},
                      LengthCase{"out_before_in", 3, Info().withIn(30000).withOut(20000), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Envelope, CrossFadesLeftToRightLinearly) {
    Rig rig;
    auto movie = levelMovie(16000, 44100);
    Info info;
    info.envelope = {{0, 32768, 0}, {22050, 0, 32768}};
    rig.start(movie, 1, info);
    auto out = rig.pull(0.75);
    auto at = [&](size_t frame, int ch) { return double(out[2 * frame + size_t(ch)]); };
    EXPECT_NEAR(at(0, 0), 16000, 50);
    EXPECT_NEAR(at(0, 1), 0, 50);
    EXPECT_NEAR(at(11025, 0), 8000, 50);
    EXPECT_NEAR(at(11025, 1), 8000, 50);
    EXPECT_NEAR(at(30000, 0), 0, 50); // after the last point its levels hold
    EXPECT_NEAR(at(30000, 1), 16000, 50);
}

TEST(Envelope, PositionsCountFromTheSoundsStartNotTheInPoint) {
    Rig rig;
    auto movie = levelMovie(16000, 44100);
    Info info;
    info.in = 22050;
    info.envelope = {{0, 0, 0}, {44100, 32768, 32768}};
    rig.start(movie, 1, info);
    auto out = rig.pull(0.1);
    EXPECT_NEAR(double(out[0]), 8000, 60); // half way up the ramp already
}

TEST(EventSounds, NoMultipleKeepsOneInstanceWhileOthersStack) {
    for (bool noMultiple : {false, true}) {
        Rig rig;
        auto movie = levelMovie(5000, 44100);
        rig.start(movie, 1, Info().withNoMultiple(noMultiple));
        rig.pull(0.1);
        rig.start(movie, 1, Info().withNoMultiple(noMultiple));
        EXPECT_EQ(rig.sound.activeSoundCount(), noMultiple ? 1u : 2u);
        auto out = rig.pull(0.01);
        EXPECT_EQ(out[0], noMultiple ? 5000 : 10000);
    }
}

TEST(EventSounds, StopRecordSilencesEveryInstanceOfThatSoundOnly) {
    Rig rig;
    std::vector<int16_t> level(44100, 4000);
    MovieBuilder b;
    for (uint16_t id : {1, 2})
        b.defineSound(id, defineSoundBody(id, formatByte(3, 3, true, false), 44100, pcm16(level)));
    auto movie = b.finish();
    rig.start(movie, 1);
    rig.start(movie, 1);
    rig.start(movie, 2);
    rig.pull(0.1);
    rig.start(movie, 1, Info().withStop());
    auto out = rig.pull(0.1);
    EXPECT_EQ(out.back(), 4000);  // sound 2 plays on
    EXPECT_LT(std::abs(out[2] - 12000), 200); // the stop fades, it does not cut
    EXPECT_EQ(rig.sound.activeSoundCount(), 1u);
}

TEST(EventSounds, LoudMixSaturatesInsteadOfWrapping) {
    Rig rig;
    auto movie = levelMovie(30000, 4410);
    rig.start(movie, 1);
    rig.start(movie, 1);
    auto out = rig.pull(0.05);
    EXPECT_EQ(out[100], 32767);
}

TEST(EventSounds, ControlTagsAndButtonsStartSounds) {
    Rig rig;
    std::vector<int16_t> level(4410, 3000);
    MovieBuilder b;
    b.defineSound(7, defineSoundBody(7, formatByte(3, 3, true, false), 4410, pcm16(level)));
    b.exportName("click", 7);
    std::vector<uint8_t> start = {7, 0};
    auto info = soundInfo({});
    start.insert(start.end(), info.begin(), info.end());
    b.frameTag(0, swf::tag::StartSound, start);
    std::vector<uint8_t> start2 = {'c', 'l', 'i', 'c', 'k', 0};
    start2.insert(start2.end(), info.begin(), info.end());
    b.frameTag(0, swf::tag::StartSound2, start2);
    auto movie = b.finish();
    for (const auto& t : movie->timeline.frames[0].tags)
        rig.sound.controlTag(movie, movie.get(), movie->timeline, 0, t);
    auto buttonInfo = soundInfo({});
    rig.sound.buttonSound(movie, swf::ButtonDef::Sound{7, buttonInfo});
    auto out = rig.pull(0.01);
    EXPECT_EQ(out[0], 9000);
    EXPECT_TRUE(rig.logs.empty());
}

TEST(EventSounds, StopAllEndsEverythingWithinAFade) {
    Rig rig;
    auto movie = levelMovie(5000, 44100);
    rig.start(movie, 1);
    rig.start(movie, 1, Info().withLoops(100));
    rig.pull(0.1);
    rig.sound.stopAll();
    auto out = rig.pull(0.01);
    EXPECT_EQ(rig.sound.activeSoundCount(), 0u);
    EXPECT_LT(soundingFrames(out), 200u);
    EXPECT_EQ(out.back(), 0);
}

TEST(EventSounds, VoiceLimitSkipsNewSoundsWithOneWarning) {
    Rig rig;
    auto movie = levelMovie(10, 44100);
    for (int i = 0; i < 100; ++i) rig.start(movie, 1);
    EXPECT_EQ(rig.sound.activeSoundCount(), 64u);
    // Messages raised while mixing are delivered on the player's next call.
    rig.sound.controlTag(movie, movie.get(), movie->timeline, 0, swf::ControlTag{});
    EXPECT_EQ(std::count_if(rig.logs.begin(), rig.logs.end(),
                            [](const std::string& m) { return m.find("at once") != std::string::npos; }),
              1);
}

// ---- Malformed sound data -------------------------------------------------------

struct BadCase {
    const char* name;
    std::vector<uint8_t> body;
    size_t maxFrames; // what the data can hold at most
};

std::vector<uint8_t> mp3Data(size_t frameCount, size_t cutLast) {
    auto frames = mp3Frames(readFile(fixture("tone1k_m44.mp3")));
    std::vector<uint8_t> data = {0, 0};
    for (size_t i = 0; i < std::min(frameCount, frames.size()); ++i)
        data.insert(data.end(), frames[i].begin(), frames[i].end());
    data.resize(data.size() - std::min(cutLast, data.size() - 2));
    return data;
}

std::vector<BadCase> badCases() {
    auto tone16 = pcm16(tone(440, 44100, 1000, 1, 8000));
    auto adp = adpcm(tone(440, 44100, 5000, 2, 8000), 2, 4);
    std::vector<uint8_t> garbage(3000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 7919 >> 3);
    garbage[0] = 0xff, garbage[1] = 0xfb; // looks like a frame header, is not one
    std::vector<BadCase> cases = {
        {"header_only", {1, 0, 0x3e}, 0},
        {"pcm_lying_count", defineSoundBody(1, formatByte(3, 3, true, false), 0xffffffffu, tone16), 1000},
        {"pcm_odd_bytes", defineSoundBody(1, formatByte(3, 3, true, true), 1000,
                                          std::span<const uint8_t>(tone16).subspan(0, 1999)), 499},
        {"adpcm_truncated_in_header", defineSoundBody(1, formatByte(1, 3, true, true), 5000,
                                                      std::span<const uint8_t>(adp).subspan(0, 4)), 0},
        {"adpcm_truncated_in_codes", defineSoundBody(1, formatByte(1, 3, true, true), 5000,
                                                     std::span<const uint8_t>(adp).subspan(0, 3000)), 5000},
        {"adpcm_lying_count", defineSoundBody(1, formatByte(1, 3, true, true), 0xffffffffu, adp), 5000},
        {"mp3_cut_mid_frame", defineSoundBody(1, formatByte(2, 3, true, false), 44100, mp3Data(30, 150)), 30 * 1152},
        {"mp3_lying_count", defineSoundBody(1, formatByte(2, 3, true, false), 0xffffffffu, mp3Data(5, 0)), 5 * 1152},
        {"mp3_garbage", defineSoundBody(1, formatByte(2, 3, true, false), 44100, garbage), 44100},
        {"mp3_seek_only", defineSoundBody(1, formatByte(2, 3, true, false), 44100, std::vector<uint8_t>{0xff}), 0},
        // Any bytes are Nellymoser data: each whole 64-byte block gives 256 samples.
        {"nellymoser", defineSoundBody(1, formatByte(6, 3, true, false), 44100, tone16), tone16.size() / 64 * 256},
    };
    return cases;
}

class MalformedSound : public ::testing::TestWithParam<BadCase> {};

TEST_P(MalformedSound, PlaysWhatTheDataHoldsAndNothingMore) {
    const BadCase& c = GetParam();
    MovieBuilder b;
    b.defineSound(1, c.body);
    auto movie = b.finish();
    Rig rig;
    rig.start(movie, 1);
    rig.start(movie, 1, Info().withIn(0xfffffff0).withOut(0xffffffff).withLoops(65535));
    auto out = rig.pull(2.0);
    EXPECT_LE(soundingFrames(out), c.maxFrames + 4);
    // A second start of the same broken sound reuses the decoded result quietly.
    const size_t logged = rig.logs.size();
    rig.start(movie, 1);
    EXPECT_EQ(rig.logs.size(), logged);
}

INSTANTIATE_TEST_SUITE_P(Data, MalformedSound, ::testing::ValuesIn(badCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MalformedSound, AdpcmEveryPrefixDecodesWithinBounds) {
    auto data = adpcm(tone(300, 22050, 5000, 2, 9000), 2, 5);
    for (size_t len = 0; len <= data.size(); len += 7) {
        std::vector<int16_t> out;
        swf::decodeAdpcm(std::span<const uint8_t>(data).subspan(0, len), true, 1u << 20, out);
        EXPECT_LE(out.size(), 2 * 5000u);
        EXPECT_EQ(out.size() % 2, 0u);
    }
}

TEST(MalformedSound, SoundInfoTruncationsAreRefused) {
    Info full = Info().withIn(5).withOut(100).withLoops(2);
    full.envelope = {{0, 1, 2}, {10, 3, 4}};
    auto bytes = soundInfo(full);
    for (size_t len = 0; len < bytes.size(); ++len)
        EXPECT_FALSE(swf::parseSoundInfo(std::span<const uint8_t>(bytes).subspan(0, len)).ok()) << len;
    auto parsed = swf::parseSoundInfo(bytes);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->envelope.size(), 2u);
    EXPECT_EQ(parsed->loopCount, 2);
}

TEST(MalformedSound, UnknownSoundAndCodecAreReportedOnce) {
    MovieBuilder b;
    auto tone16 = pcm16(tone(440, 44100, 100, 1, 8000));
    // Codecs 7 and 8 are not defined by the format.
    b.defineSound(1, defineSoundBody(1, formatByte(7, 3, true, false), 100, tone16));
    b.defineSound(2, defineSoundBody(2, formatByte(8, 3, true, false), 100, tone16));
    auto movie = b.finish();
    Rig rig;
    for (int i = 0; i < 3; ++i) rig.start(movie, 1);
    rig.start(movie, 2);
    rig.start(movie, 9);
    auto out = rig.pull(0.1);
    EXPECT_EQ(soundingFrames(out), 0u);
    ASSERT_EQ(rig.logs.size(), 3u);
    EXPECT_NE(rig.logs[0].find("codec 7"), std::string::npos);
    EXPECT_NE(rig.logs[1].find("codec 8"), std::string::npos);
    EXPECT_NE(rig.logs[2].find("9"), std::string::npos);
}

// ---- Offline mix -----------------------------------------------------------------

TEST(OfflineMix, CapturesFrameLengthsWithoutDriftAndWritesAWav) {
    auto movie = levelMovie(1234, 44100);
    auto capture = [&] {
        swf::SoundPlayer sound;
        swf::OfflineMix mix(sound, 7); // 44100 / 7 is not a whole number
        sound.startSound(movie, 1, swf::SoundInfo{});
        for (int i = 0; i < 70; ++i) mix.captureFrame();
        return mix;
    };
    auto a = capture();
    EXPECT_EQ(a.samples().size(), 2u * 441000u); // ten seconds exactly
    EXPECT_EQ(a.samples()[2 * 44099], 1234);
    EXPECT_EQ(a.samples()[2 * 44200], 0);
    EXPECT_EQ(a.samples(), capture().samples());

    QTemporaryDir dir;
    const std::string path = dir.filePath("mix.wav").toStdString();
    ASSERT_TRUE(a.writeWav(path).ok());
    auto wav = readFile(path);
    ASSERT_EQ(wav.size(), 44u + 4u * 441000u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(wav[22], 2);                               // channels
    EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16, 44100); // rate
    EXPECT_EQ(int16_t(wav[44] | wav[45] << 8), 1234);
    EXPECT_FALSE(swf::writeWav(dir.filePath("no/such/dir.wav").toStdString(), a.samples(), 44100).ok());
}

} // namespace

// ---- Script Sound objects ----------------------------------------------------------

namespace {

TEST(ScriptSound, OffsetAndLoopsSetTheLengthAndOnlyNaturalEndsAreReported) {
    Rig rig;
    auto movie = levelMovie(3000, 44100);
    const int owner = 0;
    const uint64_t a = rig.sound.startScriptSound(movie, 1, 0.5, 2, &owner);
    const uint64_t b = rig.sound.startScriptSound(movie, 1, 0, 1, &owner);
    ASSERT_NE(a, 0u);
    ASSERT_NE(a, b);
    EXPECT_NEAR(*rig.sound.durationSeconds(movie, 1), 1.0, 1e-9);
    EXPECT_FALSE(rig.sound.durationSeconds(movie, 99));
    rig.pull(0.25);
    EXPECT_NEAR(*rig.sound.instancePositionSeconds(a), 0.75, 0.001);
    rig.sound.stopInstance(b);
    auto out = rig.pull(2.0);
    // Half a second from the offset, then a whole second of the second loop.
    EXPECT_NEAR(double(soundingFrames(out)), 1.25 * 44100, 8);
    EXPECT_EQ(rig.sound.takeFinished(), std::vector<uint64_t>{a});
    EXPECT_TRUE(rig.sound.takeFinished().empty());
    EXPECT_FALSE(rig.sound.isInstancePlaying(a));
}

TEST(ScriptSound, TransformsApplyPerOwnerAndToTheWholeMix) {
    Rig rig;
    auto movie = levelMovie(8000, 44100);
    int clipA = 0, clipB = 0;
    rig.sound.startScriptSound(movie, 1, 0, 1, &clipA);
    rig.sound.startScriptSound(movie, 1, 0, 1, &clipB);
    rig.sound.setTransform(&clipA, swf::SoundTransform{0.5, 0, 0, 0.5}); // volume 50
    rig.sound.setTransform(&clipB, swf::SoundTransform{1, 0, 0, 0});     // pan fully left
    auto out = rig.pull(0.01);
    EXPECT_EQ(out[0], 4000 + 8000);
    EXPECT_EQ(out[1], 4000);
    rig.sound.setTransform(nullptr, swf::SoundTransform{0.5, 0, 0, 0.5}); // global volume 50
    out = rig.pull(0.01);
    EXPECT_EQ(out[0], 6000);
    rig.sound.stopOwner(&clipA);
    rig.pull(0.01);
    EXPECT_EQ(rig.sound.activeSoundCount(), 1u);
    rig.sound.stopAllSounds(); // the script action keeps the settings
    rig.pull(0.01);
    EXPECT_EQ(rig.sound.activeSoundCount(), 0u);
    rig.sound.startScriptSound(movie, 1, 0, 1, &clipB);
    out = rig.pull(0.01);
    EXPECT_EQ(out[0], 4000);
    EXPECT_EQ(out[1], 0);
    rig.sound.stopAll(); // a new movie starts with plain transforms
    rig.pull(0.01);
    rig.sound.startScriptSound(movie, 1, 0, 1, &clipB);
    out = rig.pull(0.01);
    EXPECT_EQ(out[1], 8000);
}

TEST(ScriptSound, LoadedMp3FilePlaysItsTone) {
    auto file = std::make_shared<const std::vector<uint8_t>>(readFile(fixture("tone1k_m44.mp3")));
    ASSERT_FALSE(file->empty());
    Rig rig;
    const uint64_t id = rig.sound.startMp3File(file, 0, 1, nullptr);
    ASSERT_NE(id, 0u);
    // One second of tone plus the encoder's padding, in whole MP3 frames.
    EXPECT_NEAR(*rig.sound.durationSeconds(file), 1.0, 0.1);
    auto out = rig.pull(0.5);
    std::span<const int16_t> body(out.data() + 2 * 4410, out.size() - 2 * 4410);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 0, 44100), 1000, 10);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 1, 44100), 1000, 10);
    rig.pull(1.0);
    EXPECT_EQ(rig.sound.takeFinished(), std::vector<uint64_t>{id});
    auto junk = std::make_shared<const std::vector<uint8_t>>(1000, uint8_t(0x55));
    EXPECT_EQ(rig.sound.startMp3File(junk, 0, 1, nullptr), 0u);
    EXPECT_EQ(rig.logs.size(), 1u);
}

} // namespace

namespace {

// Every prefix of a valid DefineSound body, for each codec, and of a stream
// head: a clean refusal or a shorter sound, never a crash or more sound
// than the prefix holds.
TEST(MalformedSound, EveryPrefixOfEachCodecIsSafe) {
    std::vector<uint8_t> mp3 = {0, 0};
    auto frames = mp3Frames(readFile(fixture("tone1k_m44.mp3")));
    for (size_t i = 0; i < 4 && i < frames.size(); ++i) mp3.insert(mp3.end(), frames[i].begin(), frames[i].end());
    auto samples = tone(440, 11025, 3000, 2, 9000);
    const std::vector<std::vector<uint8_t>> bodies = {
        defineSoundBody(1, formatByte(3, 1, true, true), 3000, pcm16(samples)),
        defineSoundBody(1, formatByte(0, 1, false, true), 3000, pcm8(samples)),
        defineSoundBody(1, formatByte(1, 1, true, true), 3000, adpcm(samples, 2, 3)),
        defineSoundBody(1, formatByte(2, 3, true, false), 4 * 1152, mp3)};
    for (const auto& body : bodies) {
        size_t lastFrames = 0;
        for (size_t len = 0; len <= body.size(); len += (len < 64 ? 1 : 37)) {
            auto rec = swf::parseDefineSound(std::span<const uint8_t>(body).subspan(0, len));
            ASSERT_EQ(rec.ok(), len >= 7) << len;
            if (!rec) continue;
            auto sound = swf::decodeEventSound(*rec, {});
            EXPECT_LE(sound->frames(), rec->sampleCount);
            EXPECT_GE(sound->frames() + 1152, lastFrames) << "a longer prefix lost sound at " << len;
            lastFrames = std::max(lastFrames, sound->frames());
        }
        EXPECT_GT(lastFrames, 2000u);
    }
    const std::vector<uint8_t> head = {0x2f, 0x2f, 0x5b, 0x0e, 0x10, 0x00};
    for (size_t len = 0; len <= head.size(); ++len)
        EXPECT_EQ(swf::parseStreamHead(std::span<const uint8_t>(head).subspan(0, len)).ok(), len >= 4) << len;
    EXPECT_EQ(swf::parseStreamHead(head)->latencySeek, 16);
}

} // namespace
