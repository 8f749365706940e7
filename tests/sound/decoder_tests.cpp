// Each codec against a known tone: the frequency and level that come out of
// the mixer at 44.1 kHz must be the ones that went in, at every source rate.
#include "engine/sound/decoders.h"
#include "tests/sound/sound_rig.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace soundtest;

namespace {

enum class Codec { Pcm16Little, Pcm16Native, Pcm8, Adpcm, Mp3 };

struct ToneCase {
    const char* name;
    Codec codec;
    int rateCode; // 0..3: 5.5, 11, 22, 44 kHz
    bool stereo;
    int adpcmBits;
    double levelTolerance; // fraction of the tone's amplitude
};

constexpr double kAmplitude = 12000;
constexpr double kLeftHz = 440, kRightHz = 660;

std::shared_ptr<const swf::Movie> toneMovie(const ToneCase& c) {
    static constexpr int kRates[4] = {5512, 11025, 22050, 44100};
    const int rate = kRates[c.rateCode];
    const int channels = c.stereo ? 2 : 1;
    const size_t frames = size_t(rate) / 2;
    auto samples = tone(kLeftHz, rate, frames, channels, kAmplitude, c.stereo ? kRightHz : 0);
    std::vector<uint8_t> data;
    int codecId = 3;
    bool is16 = true;
    switch (c.codec) {
    case Codec::Pcm16Little: data = pcm16(samples); break;
    case Codec::Pcm16Native: data = pcm16(samples); codecId = 0; break;
    case Codec::Pcm8: data = pcm8(samples); is16 = false; break;
    case Codec::Adpcm: data = adpcm(samples, channels, c.adpcmBits); codecId = 1; break;
    case Codec::Mp3: break;
    }
    MovieBuilder b;
    b.defineSound(1, defineSoundBody(1, formatByte(codecId, c.rateCode, is16, c.stereo),
                                     uint32_t(frames), data));
    return b.finish();
}

class ToneThroughCodec : public ::testing::TestWithParam<ToneCase> {};

TEST_P(ToneThroughCodec, KeepsFrequencyAndLevelPerChannel) {
    const ToneCase& c = GetParam();
    Rig rig;
    auto movie = toneMovie(c);
    rig.start(movie, 1);
    auto out = rig.pull(0.45);
    // Skip the first 10 ms, where ADPCM is still settling on its step size.
    std::span<const int16_t> body(out.data() + 2 * 441, out.size() - 2 * 441);
    const double rightHz = c.stereo ? kRightHz : kLeftHz;
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 0, 44100), kLeftHz, kLeftHz * 0.01);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 1, 44100), rightHz, rightHz * 0.01);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 0, kLeftHz, 44100), kAmplitude, kAmplitude * c.levelTolerance);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 1, rightHz, 44100), kAmplitude, kAmplitude * c.levelTolerance);
    if (c.stereo) { // no crosstalk between the channels
        EXPECT_LT(goertzelAmplitude(body, 2, 0, kRightHz, 44100), kAmplitude * 0.05);
    }
    EXPECT_TRUE(rig.logs.empty()) << rig.logs.front();
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, ToneThroughCodec,
    ::testing::Values(ToneCase{"pcm16_le_mono_44k", Codec::Pcm16Little, 3, false, 0, 0.03},
                      ToneCase{"pcm16_native_stereo_22k", Codec::Pcm16Native, 2, true, 0, 0.03},
                      ToneCase{"pcm8_stereo_11k", Codec::Pcm8, 1, true, 0, 0.05},
                      ToneCase{"pcm16_mono_5k", Codec::Pcm16Little, 0, false, 0, 0.06},
                      ToneCase{"adpcm2_mono_22k", Codec::Adpcm, 2, false, 2, 0.35},
                      ToneCase{"adpcm3_stereo_22k", Codec::Adpcm, 2, true, 3, 0.15},
                      ToneCase{"adpcm4_mono_11k", Codec::Adpcm, 1, false, 4, 0.08},
                      ToneCase{"adpcm4_stereo_44k", Codec::Adpcm, 3, true, 4, 0.08},
                      ToneCase{"adpcm5_stereo_5k", Codec::Adpcm, 0, true, 5, 0.08}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Adpcm, DecodesPacketsOf4096FramesWithFreshHeaders) {
    // Two packets and a bit: the decoder must pick up the second packet's
    // header exactly where the first packet's 4095 codes end.
    auto samples = tone(1000, 44100, 9000, 1, kAmplitude);
    auto data = adpcm(samples, 1, 4);
    std::vector<int16_t> out;
    swf::decodeAdpcm(data, false, 1u << 20, out);
    ASSERT_EQ(out.size(), 9000u);
    for (size_t packetStart : {size_t(0), size_t(4096), size_t(8192)})
        EXPECT_EQ(out[packetStart], samples[packetStart]) << packetStart;
    EXPECT_NEAR(rms(out, 1, 0), rms(samples, 1, 0), rms(samples, 1, 0) * 0.05);
}

// MP3 event sounds made by lame from our own tones.
struct Mp3Case {
    const char* name;
    const char* file;
    int rateCode;
    bool stereo;
    double leftHz, rightHz;
};

class Mp3Tone : public ::testing::TestWithParam<Mp3Case> {};

TEST_P(Mp3Tone, DecodesTheToneAtItsRate) {
    const Mp3Case& c = GetParam();
    auto file = readFile(fixture(c.file));
    auto frames = mp3Frames(file);
    ASSERT_GT(frames.size(), 10u) << "fixture missing: " << fixture(c.file);
    std::vector<uint8_t> data = {0, 0}; // seekSamples
    for (auto& f : frames) data.insert(data.end(), f.begin(), f.end());
    MovieBuilder b;
    const int rate = c.rateCode == 3 ? 44100 : 22050;
    b.defineSound(1, defineSoundBody(1, formatByte(2, c.rateCode, true, c.stereo), uint32_t(rate), data));
    auto movie = b.finish();
    Rig rig;
    rig.start(movie, 1);
    auto out = rig.pull(0.8);
    std::span<const int16_t> body(out.data() + 2 * 4410, out.size() - 2 * 4410);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 0, 44100), c.leftHz, c.leftHz * 0.01);
    EXPECT_NEAR(zeroCrossingFrequency(body, 2, 1, 44100), c.rightHz, c.rightHz * 0.01);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 0, c.leftHz, 44100), kAmplitude, kAmplitude * 0.08);
    EXPECT_NEAR(goertzelAmplitude(body, 2, 1, c.rightHz, 44100), kAmplitude, kAmplitude * 0.08);
    EXPECT_TRUE(rig.logs.empty()) << rig.logs.front();
}

INSTANTIATE_TEST_SUITE_P(Files, Mp3Tone,
                         ::testing::Values(Mp3Case{"mono_44k", "tone1k_m44.mp3", 3, false, 1000, 1000},
                                           Mp3Case{"stereo_22k", "tone_s22.mp3", 2, true, 440, 660}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Mp3, DeclaredSampleCountCutsTheSoundAndSeekSamplesSkipItsStart) {
    auto frames = mp3Frames(readFile(fixture("tone1k_m44.mp3")));
    ASSERT_GT(frames.size(), 10u);
    std::vector<uint8_t> data = {0x40, 0x02}; // skip 576 samples
    for (auto& f : frames) data.insert(data.end(), f.begin(), f.end());
    swf::DefineSoundRecord rec{1, swf::soundFormatFromByte(formatByte(2, 3, true, false)), 10000, data};
    auto full = swf::decodeEventSound(rec, {});
    EXPECT_EQ(full->frames(), 10000u);
    rec.data = std::span<const uint8_t>(data).subspan(0, 2 + frames[0].size() * 20);
    rec.sampleCount = 1u << 30; // lies: 20 frames hold 20 * 1152 samples
    auto cut = swf::decodeEventSound(rec, {});
    EXPECT_LE(cut->frames(), 20u * 1152u - 576u);
    EXPECT_GE(cut->frames(), 18u * 1152u - 576u);
}

} // namespace

namespace {

// Raising 5.5 kHz sound to 44.1 kHz leaves images of the tone around
// multiples of 5512 Hz; the resampler keeps them well below the tone.
TEST(Resampling, ImagesOfALowRateToneStayFaint) {
    for (auto [rateCode, rate] : {std::pair{0, 5512}, std::pair{1, 11025}}) {
        auto samples = tone(kLeftHz, rate, size_t(rate), 1, kAmplitude);
        MovieBuilder b;
        b.defineSound(1, defineSoundBody(1, formatByte(3, rateCode, true, false), uint32_t(rate), pcm16(samples)));
        auto movie = b.finish();
        Rig rig;
        rig.start(movie, 1);
        auto out = rig.pull(0.5);
        std::span<const int16_t> body(out.data() + 2000, out.size() - 2000);
        const double image = goertzelAmplitude(body, 2, 0, rate - kLeftHz, 44100);
        const double image2 = goertzelAmplitude(body, 2, 0, rate + kLeftHz, 44100);
        std::printf("[ figures  ] %d Hz source: tone %.0f, images %.0f and %.0f\n", rate,
                    goertzelAmplitude(body, 2, 0, kLeftHz, 44100), image, image2);
        EXPECT_LT(image, kAmplitude * 0.005) << rate; // a straight-line resampler leaves ~0.8 %
        EXPECT_LT(image2, kAmplitude * 0.005) << rate;
    }
}

} // namespace
