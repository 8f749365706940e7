// NetStream playing FLV files the ffmpeg command made, in movies built
// here: the picture shown is the source frame of the stream's time, sound
// and picture change together, and hostile files end cleanly.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "engine/sound/null_audio_output.h"
#include "engine/sound/sound_player.h"
#include "tests/avm1/action_builder.h"
#include "tests/sound/sound_fixtures.h"
#include "tests/support/swf_writer.h"
#include "tests/video/video_fixtures.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cmath>

using namespace videotest;
using swf::test::SwfWriter;
using avm1test::Asm;

namespace {

constexpr double kFps = 10;

// A Video named "v" over the stage playing `flv`; each frame traces ns.time.
std::vector<uint8_t> playerMovie(const std::string& flv, int frames) {
    Asm start;
    start.push("nc").push(0).push("NetConnection").op(0x40).setVariable();
    start.pushNull().push(1).getVariable("nc").push("connect").callMethod().pop();
    start.push("ns").getVariable("nc").push(1).push("NetStream").op(0x40).setVariable();
    start.getVariable("ns").push(1).getVariable("v").push("attachVideo").callMethod().pop();
    start.push(flv).push(1).getVariable("ns").push("play").callMethod().pop();
    Asm tick;
    tick.getVariable("ns").push("time").getMember().trace();
    SwfWriter w(8, swf::Rect{0, kWidth * 20, 0, kHeight * 20}, kFps);
    w.backgroundColor({0, 0, 0, 255});
    w.defineVideoStream(1, 0, kWidth, kHeight, 2);
    w.placeObject2({.depth = 1, .characterId = 1, .name = "v"});
    w.doAction(start.bytes());
    for (int f = 0; f < frames; ++f) w.doAction(tick.bytes()).showFrame();
    return w.bytes();
}

struct Rig {
    std::vector<std::string> traces;
    std::unique_ptr<swf::Player> player;
    swf::NullAudioOutput* output = nullptr;

    explicit Rig(const std::vector<uint8_t>& movie) {
        ensureGuiApplication();
        swf::HostCallbacks host;
        host.trace = [this](const std::string& line) { traces.push_back(line); };
        player = std::make_unique<swf::Player>(std::move(host));
        player->setScriptHostFactory(swf::avm1ScriptHostFactory());
        auto sound = std::make_unique<swf::SoundPlayer>();
        auto out = std::make_unique<swf::NullAudioOutput>(swf::NullAudioOutput::Mode::Manual);
        output = out.get();
        sound->setOutput(std::move(out));
        player->setSoundPlayer(std::move(sound));
        // The movie sits in the fixture folder, beside the files it plays.
        EXPECT_TRUE(player->load(movie, fixturePath("movie.swf")).ok());
        player->setViewport(kWidth, kHeight);
        player->setQuality(swf::Quality::Low);
    }
    // One frame: its sound (the mixer is pulled as a device would) and picture.
    std::vector<int16_t> frame() {
        player->advance(1000 / kFps);
        return output->pull(size_t(44100 / kFps));
    }
    double time() const { return traces.empty() ? 0 : std::stod(traces.back()); }
};

TEST(NetStream, ShowsTheSourceFrameOfTheStreamsTime) {
    const int frames = 20;
    ASSERT_FALSE(encodePattern("h264", "-c:v libx264 -bf 0 -g 5 -pix_fmt yuv420p -crf 18", frames).empty());
    const auto source = patternFrames(frames);
    ASSERT_EQ(source.size(), size_t(frames));
    Rig rig(playerMovie("h264.flv", frames + 10));
    // A frame's script reads the time the previous frame was drawn at.
    int checked = 0;
    QImage shown;
    for (int f = 0; f < frames + 5; ++f) {
        rig.frame();
        const double t = rig.time();
        const auto index = size_t(std::lround(std::floor(t * kRate + 1e-6)));
        if (t > 0 && index < source.size()) {
            EXPECT_LT(meanDifference(shown, source[index]), 6) << "time " << t;
            ++checked;
        }
        shown = rig.player->renderImage();
    }
    EXPECT_GT(checked, frames / 2);
}

struct SyncCase {
    const char* name;
    const char* videoArgs;
    const char* audioArgs;
};
void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.name; }

const SyncCase kSync[] = {
    {"H264Aac", "-c:v libx264 -bf 0 -g 10 -pix_fmt yuv420p", "-c:a aac -ar 44100"},
    {"H263Mp3", "-c:v flv -g 10", "-c:a libmp3lame -ar 44100"},
    {"ScreenVideoNellymoser", "-c:v flashsv", "-c:a nellymoser -ar 22050"},
    {"ScreenVideo2Speex", "-c:v flashsv2", "-c:a libspeex -ar 16000"},
};

class NetStreamSync : public ::testing::TestWithParam<SyncCase> {};

// Picture and sound both switch on at 1.0 s: the frame that first shows the
// white picture also first plays the 1 kHz tone (give or take a frame).
TEST_P(NetStreamSync, PictureAndSoundChangeTogether) {
    const std::string name = GetParam().name;
    const std::string cmd =
        "-f lavfi -i \"nullsrc=s=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
        ":r=10:d=2,geq=lum='if(gte(T,1),235,16)':cb=128:cr=128\" -f lavfi -i \"aevalsrc='if(gte(t,1),0.5*sin(2*PI*1000*t),0)':s=44100:d=2\" " +
        GetParam().videoArgs + " " + GetParam().audioArgs + " " + name + ".flv";
    ASSERT_TRUE(ffmpeg(cmd));
    Rig rig(playerMovie(name + ".flv", 40));
    int whiteAt = -1, loudAt = -1;
    std::vector<int16_t> mix;
    for (int f = 0; f < 35; ++f) {
        const auto sound = rig.frame();
        mix.insert(mix.end(), sound.begin(), sound.end());
        if (whiteAt < 0 && qGray(rig.player->renderImage().pixel(kWidth / 2, kHeight / 2)) > 128) whiteAt = f;
        if (loudAt < 0 && soundtest::rms(sound, 2, 0) > 3000) loudAt = f;
    }
    ASSERT_GE(whiteAt, 0);
    ASSERT_GE(loudAt, 0);
    EXPECT_LE(std::abs(whiteAt - loudAt), 1) << "picture at frame " << whiteAt << ", sound at " << loudAt;
    const size_t from = size_t(loudAt + 2) * 4410 * 2;
    ASSERT_GT(mix.size(), from + 44100);
    EXPECT_NEAR(soundtest::zeroCrossingFrequency(std::span(mix).subspan(from, 44100), 2, 0, 44100), 1000, 10);
}

INSTANTIATE_TEST_SUITE_P(Codecs, NetStreamSync, ::testing::ValuesIn(kSync),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
