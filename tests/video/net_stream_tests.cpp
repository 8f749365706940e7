// NetStream playing FLV files the ffmpeg command made, in movies built
// here: the picture shown is the source frame of the stream's time, sound
// and picture change together, and hostile files end cleanly.
#include "engine/avm1/script_engine.h"
#include "engine/display/loader.h"
#include "engine/display/player.h"
#include "engine/sound/null_audio_output.h"
#include "engine/sound/sound_player.h"
#include "tests/avm1/action_builder.h"
#include "tools/harness/run_movie.h"
#include "tests/sound/sound_fixtures.h"
#include "tests/support/swf_writer.h"
#include "tests/video/video_fixtures.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <cmath>
#include <sstream>

using namespace videotest;
using swf::test::SwfWriter;
using avm1test::Asm;

namespace {

constexpr double kFps = 10;

// A Video named "v" over the stage playing `flv`; each frame traces ns.time.
// With `traceStatus`, onStatus traces each code, and each frame also
// "bytes LOADED TOTAL".
// With `deblocking` 0 and up, the Video's deblocking is set to it first.
// Without `withVideo` the movie has no Video (nor any sound of its own).
std::vector<uint8_t> playerMovie(const std::string& flv, int frames, bool traceStatus = false, int deblocking = -1,
                                 bool withVideo = true) {
    Asm start;
    start.push("nc").push(0).push("NetConnection").op(0x40).setVariable();
    start.pushNull().push(1).getVariable("nc").push("connect").callMethod().pop();
    start.push("ns").getVariable("nc").push(1).push("NetStream").op(0x40).setVariable();
    if (withVideo) start.getVariable("ns").push(1).getVariable("v").push("attachVideo").callMethod().pop();
    if (traceStatus) {
        Asm handler;
        handler.getVariable("info").push("code").getMember().trace();
        start.getVariable("ns").push("onStatus").defineFunction("", {"info"}, handler).setMember();
    }
    if (deblocking >= 0) start.getVariable("v").push("deblocking").push(deblocking).setMember();
    start.push(flv).push(1).getVariable("ns").push("play").callMethod().pop();
    Asm tick;
    tick.getVariable("ns").push("time").getMember().trace();
    if (traceStatus) {
        tick.push("bytes ").getVariable("ns").push("bytesLoaded").getMember().op(0x47);
        tick.push(" ").op(0x47).getVariable("ns").push("bytesTotal").getMember().op(0x47).trace();
    }
    SwfWriter w(8, swf::Rect{0, kWidth * 20, 0, kHeight * 20}, kFps);
    w.backgroundColor({0, 0, 0, 255});
    if (withVideo) {
        w.defineVideoStream(1, 0, kWidth, kHeight, 2);
        w.placeObject2({.depth = 1, .characterId = 1, .name = "v"});
    }
    w.doAction(start.bytes());
    for (int f = 0; f < frames; ++f) w.doAction(tick.bytes()).showFrame();
    return w.bytes();
}

bool isStatus(const std::string& line) { return line.starts_with("NetStream."); }
bool isBytes(const std::string& line) { return line.starts_with("bytes "); }

struct Rig {
    std::vector<std::string> traces;
    std::unique_ptr<swf::Player> player;
    swf::NullAudioOutput* output = nullptr;
    int outputsOpened = 0;

    // `url`: where the movie came from (by default the fixture folder,
    // beside the files it plays). With `outputOnDemand` the sound output is
    // opened only when the engine asks for one, as the window does for a
    // movie without sound tags.
    explicit Rig(const std::vector<uint8_t>& movie, const std::string& url = fixturePath("movie.swf"),
                 bool outputOnDemand = false) {
        ensureGuiApplication();
        swf::HostCallbacks host;
        host.trace = [this](const std::string& line) { traces.push_back(line); };
        player = std::make_unique<swf::Player>(std::move(host));
        player->setScriptHostFactory(swf::avm1ScriptHostFactory());
        auto sound = std::make_unique<swf::SoundPlayer>();
        auto open = [this] {
            auto out = std::make_unique<swf::NullAudioOutput>(swf::NullAudioOutput::Mode::Manual);
            output = out.get();
            ++outputsOpened;
            return out;
        };
        if (outputOnDemand) sound->setOutputOpener(open);
        else sound->setOutput(open());
        player->setSoundPlayer(std::move(sound));
        EXPECT_TRUE(player->load(movie, url).ok());
        player->setViewport(kWidth, kHeight);
        player->setQuality(swf::Quality::Low);
    }
    // One frame: its sound (the mixer is pulled as a device would) and picture.
    std::vector<int16_t> frame() {
        player->advance(1000 / kFps);
        return output ? output->pull(size_t(44100 / kFps)) : std::vector<int16_t>{};
    }
    double time() const {
        for (auto it = traces.rbegin(); it != traces.rend(); ++it)
            if (!isStatus(*it) && !isBytes(*it)) return std::stod(*it);
        return 0;
    }
    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        std::copy_if(traces.begin(), traces.end(), std::back_inserter(out), isStatus);
        return out;
    }
    bool saw(const std::string& code) const { return std::ranges::count(traces, code) > 0; }
    // Frames until `code` is traced (at most `limit`); false when it never was.
    bool playUntil(const std::string& code, int limit) {
        for (int f = 0; f < limit && !saw(code); ++f) frame();
        return saw(code);
    }
    // The last "bytes LOADED TOTAL" line's numbers.
    std::pair<double, double> bytes() const {
        for (auto it = traces.rbegin(); it != traces.rend(); ++it)
            if (isBytes(*it)) {
                std::istringstream in(it->substr(6));
                double loaded = -1, total = -1;
                in >> loaded >> total;
                return {loaded, total};
            }
        return {-1, -1};
    }
};

TEST(NetStream, ShowsTheSourceFrameOfTheStreamsTime) {
    const int frames = 20;
    ASSERT_FALSE(encodePattern("h264", "-c:v libx264 -bf 0 -g 5 -pix_fmt yuv420p -crf 18", frames).empty());
    const auto source = patternFrames(frames);
    ASSERT_EQ(source.size(), size_t(frames));
    Rig rig(playerMovie("h264.flv", frames + 10));
    // A frame's script reads the time the previous frame was drawn at.
    // Drawn as the window draws: only what changed since the last frame.
    int checked = 0;
    QImage shown, kept;
    for (int f = 0; f < frames + 5; ++f) {
        rig.frame();
        const double t = rig.time();
        const auto index = size_t(std::lround(std::floor(t * kRate + 1e-6)));
        if (t > 0 && index < source.size()) {
            EXPECT_LT(meanDifference(shown, source[index]), 6) << "time " << t;
            ++checked;
        }
        rig.player->render(kept);
        shown = kept.copy();
    }
    EXPECT_GT(checked, frames / 2);
}

// swfrender's run (frames one after another, the sound mixed offline or
// not at all) draws in each frame the source picture of the stream's time
// then, and the clock moves a frame's time every frame from the first
// picture on: with sound it neither stalls nor runs ahead.
TEST(NetStream, OfflineRunDrawsThePictureOfEachFramesTime) {
    const int frames = 20;
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                       ":rate=10 -f lavfi -i sine=frequency=500:sample_rate=44100 -frames:v 20 -t 2 "
                       "-c:v flashsv -c:a adpcm_swf offline.flv"));
    const auto source = patternFrames(frames);
    ASSERT_EQ(source.size(), size_t(frames));
    const auto movie = playerMovie("offline.flv", frames + 5);
    {
        std::ofstream out(fixturePath("offline.swf"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(movie.data()), std::streamsize(movie.size()));
    }
    ensureGuiApplication();
    for (bool mixAudio : {false, true}) {
        SCOPED_TRACE(mixAudio ? "sound mixed" : "no sound");
        swf::harness::RunSpec spec;
        spec.path = fixturePath("offline.swf");
        spec.frames = frames;
        spec.quality = swf::Quality::Low;
        spec.mixAudio = mixAudio;
        spec.captureAtEnd = false;
        for (uint32_t f = 1; f <= spec.frames; ++f) spec.captureFrames.push_back(f);
        auto run = swf::harness::runMovie(spec);
        ASSERT_TRUE(run.ok());
        // Frame f traces the time frame f - 1 was drawn at.
        std::vector<double> times;
        std::istringstream lines(run->trace);
        for (std::string line; std::getline(lines, line);) times.push_back(std::stod(line));
        ASSERT_EQ(times.size(), size_t(frames));
        ASSERT_EQ(run->captures.size(), size_t(frames));
        int first = -1;
        for (int f = 0; f + 1 < frames; ++f) {
            const double t = times[size_t(f + 1)];
            if (first < 0 && meanDifference(run->captures[size_t(f)].image, source[0]) < 3) first = f;
            if (first < 0) continue;
            EXPECT_NEAR(t, (f - first) / kFps, 1e-3) << "frame " << f + 1;
            const auto index = size_t(std::lround(std::floor(t * kRate + 1e-6)));
            if (index < source.size()) {
                EXPECT_LT(meanDifference(run->captures[size_t(f)].image, source[index]), 3) << "frame " << f + 1;
            }
        }
        EXPECT_GE(first, 0);
        EXPECT_LE(first, 3);
    }
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

// A stream's sound opens the output itself in a movie that has no sound
// (nor any Video) of its own; a stream without sound opens none.
struct OutputCase {
    const char* name;
    const char* ffmpegArgs;
    bool sounds;
};
void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

const OutputCase kOutput[] = {
    {"SoundOnly", "-f lavfi -i \"sine=frequency=1000:sample_rate=44100:duration=2\" -c:a libmp3lame", true},
    {"PictureOnly", "-f lavfi -i testsrc2=size=160x120:rate=10:duration=2 -c:v flv", false},
};

class NetStreamOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(NetStreamOutput, StreamSoundOpensTheOutput) {
    const std::string file = std::string("output-") + GetParam().name + ".flv";
    ASSERT_TRUE(ffmpeg(std::string(GetParam().ffmpegArgs) + " " + file));
    Rig rig(playerMovie(file, 40, false, -1, false), fixturePath("movie.swf"), true);
    std::vector<int16_t> mix;
    for (int f = 0; f < 15; ++f) {
        const auto sound = rig.frame();
        mix.insert(mix.end(), sound.begin(), sound.end());
    }
    EXPECT_GT(rig.time(), 0.5);
    EXPECT_EQ(rig.outputsOpened, GetParam().sounds ? 1 : 0);
    if (!GetParam().sounds) return;
    ASSERT_GT(mix.size(), 44100u);
    EXPECT_NEAR(soundtest::zeroCrossingFrequency(std::span(mix).last(44100 / 2), 2, 0, 44100), 1000, 10);
}

INSTANTIATE_TEST_SUITE_P(Streams, NetStreamOutput, ::testing::ValuesIn(kOutput),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Progressive loading ------------------------------------------------------------------

// A web file served by the test in pieces it chooses.
struct WebServer {
    struct Fetch {
        std::string url;
        swf::FetchPart part;
        swf::FetchDone done;
    };
    std::vector<Fetch> fetches;
    void install(swf::Player& player) {
        player.loader().setFetchStream([this](const std::string& url, size_t, swf::FetchPart part, swf::FetchDone done) {
            fetches.push_back({url, std::move(part), std::move(done)});
        });
    }
    void send(size_t index, std::span<const uint8_t> bytes, uint64_t total) {
        fetches.at(index).part(std::vector<uint8_t>(bytes.begin(), bytes.end()), total);
    }
    void finish(size_t index) { fetches.at(index).done(swf::FetchResult{true, 200, {}, {}}); }
};

// The file comes from the web in two halves with a pause between: playback
// starts once the buffer is full, stops with Buffer.Empty where the bytes
// end, goes on when the rest arrives, and ends as Flash ends a file.
TEST(NetStream, WebStreamPlaysAsItArrives) {
    const auto flv = encodePattern("web", "-c:v flv -g 5", 40);
    ASSERT_FALSE(flv.empty());
    Rig rig(playerMovie("web.flv", 200, true), "http://example.com/movie.swf");
    WebServer server;
    server.install(*rig.player);
    for (int f = 0; f < 3; ++f) rig.frame();
    ASSERT_EQ(server.fetches.size(), 1u);
    EXPECT_EQ(server.fetches[0].url, "http://example.com/web.flv");
    EXPECT_TRUE(rig.statuses().empty());
    EXPECT_EQ(rig.bytes(), std::make_pair(0.0, 0.0));

    const size_t half = flv.size() / 2;
    server.send(0, std::span(flv).first(half), flv.size());
    ASSERT_TRUE(rig.playUntil("NetStream.Buffer.Full", 3));
    EXPECT_EQ(rig.statuses(), (std::vector<std::string>{"NetStream.Play.Start", "NetStream.Buffer.Full"}));
    ASSERT_TRUE(rig.playUntil("NetStream.Buffer.Empty", 40));
    // Waiting: the clock and the picture hold.
    rig.frame();
    const double heldAt = rig.time();
    const QImage held = rig.player->renderImage();
    EXPECT_GT(heldAt, 0.5);
    EXPECT_LT(heldAt, 4.0 * half / flv.size() + 0.3);
    for (int f = 0; f < 5; ++f) rig.frame();
    EXPECT_EQ(rig.time(), heldAt);
    EXPECT_LT(meanDifference(rig.player->renderImage(), held), 0.5);
    EXPECT_EQ(rig.bytes(), std::make_pair(double(half), double(flv.size())));

    server.send(0, std::span(flv).subspan(half), flv.size());
    server.finish(0);
    ASSERT_TRUE(rig.playUntil("NetStream.Play.Stop", 60));
    EXPECT_EQ(rig.statuses(),
              (std::vector<std::string>{"NetStream.Play.Start", "NetStream.Buffer.Full", "NetStream.Buffer.Empty",
                                        "NetStream.Buffer.Full", "NetStream.Buffer.Flush", "NetStream.Play.Stop"}));
    EXPECT_NEAR(rig.time(), 3.9, 0.15);
    EXPECT_EQ(rig.bytes(), std::make_pair(double(flv.size()), double(flv.size())));
}

// What a movie may stream, by where it came from and where the file is.
struct SandboxCase {
    const char* name;
    const char* movieUrl;  // "" for the fixture folder
    const char* streamUrl; // "@" stands for the fixture file's own path
    bool fetched;          // the web fetch is asked for it
    bool plays;
};
void PrintTo(const SandboxCase& c, std::ostream* os) { *os << c.name; }

const SandboxCase kSandbox[] = {
    {"LocalMovieLocalFile", "", "sandbox.flv", false, true},
    {"LocalMovieWebFile", "", "http://example.com/sandbox.flv", false, false},
    {"WebMovieSameSite", "http://example.com/m/movie.swf", "sandbox.flv", true, true},
    {"WebMovieLocalFile", "http://example.com/movie.swf", "file://@", false, false},
    {"WebMoviePrivateAddress", "http://example.com/movie.swf", "http://192.168.1.1/sandbox.flv", false, false},
    // Another site: its policy file cannot be read here, so it lets nothing in.
    {"WebMovieOtherSite", "http://example.com/movie.swf", "http://other.example.org/sandbox.flv", false, false},
};

class NetStreamSandbox : public ::testing::TestWithParam<SandboxCase> {};

TEST_P(NetStreamSandbox, LoadsOnlyWhatTheMovieMayReach) {
    const auto flv = encodePattern("sandbox", "-c:v flashsv", 5);
    ASSERT_FALSE(flv.empty());
    const SandboxCase& c = GetParam();
    std::string stream = c.streamUrl;
    if (auto at = stream.find('@'); at != std::string::npos) stream.replace(at, 1, fixturePath("sandbox.flv"));
    const std::string movieUrl = *c.movieUrl ? c.movieUrl : fixturePath("movie.swf");
    Rig rig(playerMovie(stream, 40, true), movieUrl);
    WebServer server;
    server.install(*rig.player);
    for (int f = 0; f < 3; ++f) rig.frame();
    EXPECT_EQ(server.fetches.size(), c.fetched ? 1u : 0u);
    if (!server.fetches.empty()) {
        EXPECT_EQ(server.fetches[0].url, "http://example.com/m/sandbox.flv");
        server.send(0, flv, 0);
        server.finish(0);
    }
    rig.playUntil("NetStream.Play.Stop", 20);
    const auto statuses = rig.statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), c.plays ? "NetStream.Play.Start" : "NetStream.Play.StreamNotFound");
    EXPECT_EQ(rig.saw("NetStream.Play.Stop"), c.plays);
}

INSTANTIATE_TEST_SUITE_P(Origins, NetStreamSandbox, ::testing::ValuesIn(kSandbox),
                         [](const auto& info) { return std::string(info.param.name); });

// A local file comes a megabyte a frame, whole and in order, with its size;
// one over the cap, or not a regular file, fails without a byte.
TEST(NetStreamLoading, LocalFileArrivesInPartsOverFrames) {
    const std::string path = fixturePath("parts.bin");
    std::vector<uint8_t> file((5u << 20) / 2);
    for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7 + (i >> 12));
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    struct Got {
        std::vector<size_t> parts;
        std::vector<uint8_t> bytes;
        uint64_t total = 0;
        std::optional<bool> ok;
    };
    swf::Loader loader;
    auto load = [&](const std::string& p, size_t maxBytes, Got& got) {
        loader.requestStream(
            p, maxBytes,
            [&got](std::span<const uint8_t> part, uint64_t total) {
                got.parts.push_back(part.size());
                got.bytes.insert(got.bytes.end(), part.begin(), part.end());
                got.total = total;
            },
            [&got](swf::FetchResult& r) { got.ok = r.ok; });
    };
    Got whole, tooBig, folder;
    load(path, 64u << 20, whole);
    load(path, 1000, tooBig);
    load(fixturePath(""), 64u << 20, folder);
    for (int poll = 0; poll < 2; ++poll) {
        loader.poll();
        EXPECT_FALSE(whole.ok) << "poll " << poll;
    }
    loader.poll();
    ASSERT_TRUE(whole.ok);
    EXPECT_TRUE(*whole.ok);
    EXPECT_EQ(whole.parts, (std::vector<size_t>{1u << 20, 1u << 20, 1u << 19}));
    EXPECT_EQ(whole.total, file.size());
    EXPECT_TRUE(whole.bytes == file);
    for (Got* g : {&tooBig, &folder}) {
        ASSERT_TRUE(g->ok);
        EXPECT_FALSE(*g->ok);
        EXPECT_TRUE(g->parts.empty());
    }
}

// ---- Hostile files ------------------------------------------------------------------------

// The offset of the tag header that holds `time` or the next after it.
size_t tagAt(const std::vector<uint8_t>& flv, double share) {
    swf::video::FlvReader reader;
    swf::video::FlvTag tag;
    std::vector<size_t> offsets;
    while (reader.next(flv, true, tag) == swf::video::FlvReader::Status::Tag) offsets.push_back(size_t(tag.offset));
    return offsets.empty() ? 13 : offsets[size_t(double(offsets.size()) * share)];
}

// Every tag's time moved on by `ms` (the file's header and first size dropped).
std::vector<uint8_t> tagsShifted(const std::vector<uint8_t>& flv, uint32_t ms) {
    std::vector<uint8_t> out(flv.begin() + 13, flv.end());
    swf::video::FlvReader reader;
    swf::video::FlvTag tag;
    while (reader.next(flv, true, tag) == swf::video::FlvReader::Status::Tag) {
        uint8_t* h = out.data() + tag.offset - 13;
        const uint32_t t = tag.timeMs + ms;
        h[4] = uint8_t(t >> 16), h[5] = uint8_t(t >> 8), h[6] = uint8_t(t), h[7] = uint8_t(t >> 24);
    }
    return out;
}

// A Sorenson key frame claiming a 5000 x 5000 picture, as a 1.1 s FLV tag.
std::vector<uint8_t> hugePictureTag() {
    const auto packet = hugeH263KeyFrame();
    const uint32_t size = uint32_t(packet.size() + 1), t = 1100;
    std::vector<uint8_t> tag = {9, uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size),
                                uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t), 0, 0, 0, 0, 0x12};
    tag.insert(tag.end(), packet.begin(), packet.end());
    tag.insert(tag.end(), {0, 0, 0, uint8_t(11 + size)});
    return tag;
}

struct HostileCase {
    const char* name;
    std::vector<uint8_t> (*make)(const std::vector<uint8_t>& good); // from a 1 s H.263 file
    bool plays;     // Play.Start ... Play.Stop, else StreamNotFound
    bool picture;   // a picture is shown at the end
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

const HostileCase kHostile[] = {
    {"Truncated", [](const std::vector<uint8_t>& f) { return std::vector<uint8_t>(f.begin(), f.begin() + f.size() * 6 / 10); },
     true, true},
    // A tag claiming 16 MB: nothing after it is read.
    {"HugeTagSize", [](const std::vector<uint8_t>& f) {
         auto d = f;
         const size_t t = tagAt(d, 0.5);
         d[t + 1] = d[t + 2] = d[t + 3] = 0xFF;
         return d;
     }, true, true},
    // A tag claiming more than is left: the file waits for it, then ends.
    {"SizePastTheEnd", [](const std::vector<uint8_t>& f) {
         auto d = f;
         d[tagAt(d, 0.5) + 1] = 0x7F;
         return d;
     }, true, true},
    {"HugePicture", [](const std::vector<uint8_t>& f) {
         auto d = f;
         const auto tag = hugePictureTag();
         d.insert(d.end(), tag.begin(), tag.end());
         return d;
     }, true, true},
    // Screen Video follows the H.263 pictures at 1 s.
    {"CodecSwitch", [](const std::vector<uint8_t>& f) {
         auto d = f;
         const auto more = tagsShifted(encodePattern("hostile-second", "-c:v flashsv", 5), 1000);
         d.insert(d.end(), more.begin(), more.end());
         return d;
     }, true, true},
    {"NotAnFlv", [](const std::vector<uint8_t>& f) { auto d = f; d[0] = 'X'; return d; }, false, false},
    {"Empty", [](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; }, false, false},
    {"HeaderOnly", [](const std::vector<uint8_t>& f) { return std::vector<uint8_t>(f.begin(), f.begin() + 13); },
     false, false},
};

class HostileNetStream : public ::testing::TestWithParam<HostileCase> {};

// Played through a NetStream, each file shows what it holds and ends with
// the status Flash gives, in bounded time.
TEST_P(HostileNetStream, PlaysWhatItCanAndEnds) {
    const auto good = encodePattern("hostile-good", "-c:v flv -g 3", 10);
    ASSERT_FALSE(good.empty());
    const auto bad = GetParam().make(good);
    const std::string name = std::string("hostile-") + GetParam().name + ".flv";
    {
        std::ofstream out(fixturePath(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bad.data()), std::streamsize(bad.size()));
    }
    Rig rig(playerMovie(name, 60, true));
    const bool ended = rig.playUntil(GetParam().plays ? "NetStream.Play.Stop" : "NetStream.Play.StreamNotFound", 40);
    EXPECT_TRUE(ended);
    const auto statuses = rig.statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), GetParam().plays ? "NetStream.Play.Start" : "NetStream.Play.StreamNotFound");
    const QImage shown = rig.player->renderImage();
    const bool picture = qGray(shown.pixel(kWidth / 4, kHeight / 4)) > 8 || qGray(shown.pixel(kWidth / 2, kHeight / 2)) > 8;
    EXPECT_EQ(picture, GetParam().picture);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileNetStream, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Deblocking ---------------------------------------------------------------------------

// Video.deblocking reaches the decoder: 1 turns H.264's loop filter off, any
// other level leaves it to the stream. A coarse encoding makes the filter show.
TEST(NetStream, DeblockingOffChangesTheDecodedPicture) {
    ASSERT_FALSE(encodePattern("coarse", "-c:v libx264 -bf 0 -g 30 -pix_fmt yuv420p -crf 45", 10).empty());
    auto pictureWith = [](int deblocking) {
        Rig rig(playerMovie("coarse.flv", 20, false, deblocking));
        for (int f = 0; f < 6; ++f) rig.frame();
        return rig.player->renderImage();
    };
    const QImage stream = pictureWith(-1);
    const QImage level0 = pictureWith(0), off = pictureWith(1), level2 = pictureWith(2), level5 = pictureWith(5);
    EXPECT_EQ(meanDifference(level0, stream), 0);
    EXPECT_EQ(meanDifference(level2, stream), 0);
    EXPECT_EQ(meanDifference(level5, stream), 0);
    EXPECT_GT(meanDifference(off, stream), 0.05);
    // Still the picture, only without the filter.
    EXPECT_LT(meanDifference(off, stream), 6);
}

} // namespace
