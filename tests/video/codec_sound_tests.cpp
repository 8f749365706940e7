// The sound codecs through libavcodec (Nellymoser at every rate, Speex) and
// MP3, from FLV audio the ffmpeg command encoded, played as a DefineSound
// and as stream sound: the mixed tone has its frequency and starts on time.
#include "engine/display/player.h"
#include "engine/sound/null_audio_output.h"
#include "engine/sound/sound_player.h"
#include "tests/sound/sound_fixtures.h"
#include "tests/support/swf_writer.h"
#include "tests/video/video_fixtures.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cmath>

using swf::test::SwfWriter;

namespace {

constexpr double kFps = 10;
constexpr double kToneStart = 0.5, kToneSeconds = 1.0, kToneHz = 1000;

struct SoundCase {
    const char* name;
    const char* ffmpegArgs;
    int rate;
    double toleranceSeconds; // the codec's own delay is allowed for
};

void PrintTo(const SoundCase& c, std::ostream* os) { *os << c.name; }

const SoundCase kSounds[] = {
    {"Nellymoser8k", "-c:a nellymoser -ar 8000", 8000, 0.05},
    {"Nellymoser11k", "-c:a nellymoser -ar 11025", 11025, 0.05},
    {"Nellymoser16k", "-c:a nellymoser -ar 16000", 16000, 0.05},
    {"Nellymoser22k", "-c:a nellymoser -ar 22050", 22050, 0.05},
    {"Nellymoser44k", "-c:a nellymoser -ar 44100", 44100, 0.05},
    {"Speex", "-c:a libspeex -ar 16000", 16000, 0.05},
    {"Mp3", "-c:a libmp3lame -ar 22050 -b:a 64k", 22050, 0.08},
};

// The FLV's audio packets with their times (ms) and the format byte of its first tag.
struct Encoded {
    std::vector<uint8_t> flv;
    uint8_t format = 0;
    std::vector<std::pair<std::span<const uint8_t>, uint32_t>> packets;
};

Encoded encodeTone(const SoundCase& c) {
    Encoded e;
    const std::string src = "-f lavfi -i \"aevalsrc='if(gte(t," + std::to_string(kToneStart) + "),0.5*sin(2*PI*" +
                            std::to_string(kToneHz) + "*t),0)':s=" + std::to_string(c.rate) + ":d=" +
                            std::to_string(kToneStart + kToneSeconds) + "\"";
    if (!videotest::ffmpeg(src + " " + c.ffmpegArgs + " " + c.name + ".flv")) return e;
    e.flv = videotest::readFile(videotest::fixturePath(std::string(c.name) + ".flv"));
    for (const auto& [a, time] : videotest::readTags(e.flv).audio) {
        if (e.packets.empty()) e.format = uint8_t(a.format << 4 | a.rateCode << 2 | a.sizeBit << 1 | a.stereoBit);
        e.packets.emplace_back(a.packet, time);
    }
    return e;
}

class CodecSound : public ::testing::TestWithParam<SoundCase> {
protected:
    static void SetUpTestSuite() { videotest::ensureGuiApplication(); }
    void SetUp() override {
        enc = encodeTone(GetParam());
        ASSERT_FALSE(enc.packets.empty()) << "ffmpeg could not encode " << GetParam().name;
    }

    const int frames = int((kToneStart + kToneSeconds) * kFps) + 3;

    // The whole tone as one DefineSound started on the first frame.
    std::vector<uint8_t> eventMovie() const {
        std::vector<uint8_t> data;
        if ((enc.format >> 4) == 2) data = {0, 0}; // MP3: no samples to skip
        for (const auto& [p, t] : enc.packets) data.insert(data.end(), p.begin(), p.end());
        SwfWriter w(8, {0, 2000, 0, 2000}, kFps);
        const auto sampleCount = uint32_t(GetParam().rate * (kToneStart + kToneSeconds));
        w.defineSound(1, enc.format >> 4, (enc.format >> 2) & 3, true, false, sampleCount, data);
        w.startSound(1);
        for (int f = 0; f < frames; ++f) w.showFrame();
        return w.bytes();
    }

    // The packets as stream blocks, each in the frame its time falls in.
    std::vector<uint8_t> streamMovie() const {
        const bool mp3 = (enc.format >> 4) == 2;
        const auto perFrame = uint16_t(GetParam().rate / kFps);
        std::vector<uint8_t> head = {enc.format, enc.format, uint8_t(perFrame & 0xff), uint8_t(perFrame >> 8)};
        if (mp3) head.resize(head.size() + 2, 0); // latency seek
        SwfWriter w(8, {0, 2000, 0, 2000}, kFps);
        w.soundStreamHead(head, 2);
        size_t next = 0;
        for (int f = 0; f < frames; ++f) {
            std::vector<uint8_t> block;
            if (mp3) block = {uint8_t(perFrame & 0xff), uint8_t(perFrame >> 8), 0, 0};
            for (; next < enc.packets.size() && enc.packets[next].second * kFps / 1000 < f + 1; ++next)
                block.insert(block.end(), enc.packets[next].first.begin(), enc.packets[next].first.end());
            if (block.size() > (mp3 ? 4u : 0u)) w.soundStreamBlock(block);
            w.showFrame();
        }
        return w.bytes();
    }

    // Plays `movie` frame by frame and returns its mix (44.1 kHz stereo).
    std::vector<int16_t> play(const std::vector<uint8_t>& movie) {
        swf::Player player;
        auto sound = std::make_unique<swf::SoundPlayer>();
        auto out = std::make_unique<swf::NullAudioOutput>(swf::NullAudioOutput::Mode::Manual);
        auto* output = out.get();
        sound->setOutput(std::move(out));
        player.setSoundPlayer(std::move(sound));
        EXPECT_TRUE(player.load(movie, "sound.swf").ok());
        std::vector<int16_t> mix;
        for (int f = 0; f < frames; ++f) {
            player.advance(1000 / kFps);
            const auto part = output->pull(size_t(44100 / kFps));
            mix.insert(mix.end(), part.begin(), part.end());
        }
        return mix;
    }

    void checkTone(const std::vector<int16_t>& mix) {
        const size_t from = size_t((kToneStart + 0.2) * 44100), to = size_t((kToneStart + kToneSeconds - 0.2) * 44100);
        ASSERT_GT(mix.size(), to * 2);
        const std::span<const int16_t> middle(mix.data() + from * 2, (to - from) * 2);
        EXPECT_NEAR(soundtest::zeroCrossingFrequency(middle, 2, 0, 44100), kToneHz, kToneHz * 0.01);
        // Loud enough to be the tone (the low-rate Nellymoser encoders lose
        // most of its level; ffmpeg's own decoder hears the same).
        const double level = soundtest::rms(middle, 2, 0);
        EXPECT_GT(level, 1000);
        // The tone starts where the signal first reaches its level.
        size_t onset = 0;
        while (onset < mix.size() / 2 && std::abs(mix[onset * 2]) < level) ++onset;
        EXPECT_NEAR(double(onset) / 44100, kToneStart, GetParam().toleranceSeconds);
    }

    Encoded enc;
};

TEST_P(CodecSound, DefineSoundPlaysTheToneOnTime) { checkTone(play(eventMovie())); }

TEST_P(CodecSound, StreamSoundPlaysTheToneOnTime) { checkTone(play(streamMovie())); }

INSTANTIATE_TEST_SUITE_P(Codecs, CodecSound, ::testing::ValuesIn(kSounds),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
