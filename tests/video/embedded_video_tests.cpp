// Embedded video (DefineVideoStream + VideoFrame) from packets the ffmpeg
// command encoded: the picture shown matches the source frame, also after
// jumps back and forth, and broken data is survived.
#include "engine/display/player.h"
#include "engine/swf/parser.h"
#include "engine/video/flv_reader.h"
#include "engine/video/frame_sequence.h"
#include "tests/support/swf_writer.h"
#include "tests/video/video_fixtures.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>

using namespace videotest;
using swf::test::Place;
using swf::test::SwfWriter;

namespace {

constexpr int kFrames = 12;
constexpr int kKeyInterval = 4;

struct CodecCase {
    const char* name;
    const char* ffmpegArgs;
    uint8_t swfCodec;
    double tolerance; // mean difference per channel allowed against the source
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

const CodecCase kCodecs[] = {
    {"H263", "-c:v flv -q:v 2 -g 4", 2, 6},
    {"ScreenVideo", "-c:v flashsv -g 4", 3, 1},
    // ffmpeg's Screen Video 2 encoder keeps colours to 15 bits.
    {"ScreenVideo2", "-c:v flashsv2 -g 4", 6, 2},
};

class EmbeddedVideo : public ::testing::TestWithParam<CodecCase> {
protected:
    static void SetUpTestSuite() { videotest::ensureGuiApplication(); }
    void SetUp() override {
        flv = encodePattern(GetParam().name, GetParam().ffmpegArgs, kFrames);
        ASSERT_FALSE(flv.empty()) << "ffmpeg could not encode " << GetParam().name;
        tags = readTags(flv);
        ASSERT_EQ(tags.video.size(), size_t(kFrames));
        source = patternFrames(kFrames);
        ASSERT_EQ(source.size(), size_t(kFrames));
    }

    // One video frame per movie frame; the video is placed at `m`.
    std::vector<uint8_t> movie(const swf::Matrix& m = {}, const swf::ColorTransform& cx = {}) const {
        SwfWriter w(8, swf::Rect{0, kWidth * 20, 0, kHeight * 20}, kRate);
        w.defineVideoStream(1, kFrames, kWidth, kHeight, GetParam().swfCodec);
        for (int f = 0; f < kFrames; ++f) {
            w.videoFrame(1, uint16_t(f), tags.video[size_t(f)].packet);
            if (f == 0) w.placeObject2({.depth = 1, .characterId = 1, .matrix = m, .colorTransform = cx, .ratio = 0});
            else w.placeObject2({.depth = 1, .move = true, .ratio = uint16_t(f)});
            w.showFrame();
        }
        return w.bytes();
    }

    std::vector<uint8_t> flv;
    FlvTags tags;
    std::vector<QImage> source;
};

std::unique_ptr<swf::Player> load(const std::vector<uint8_t>& bytes, std::vector<std::string>* warnings = nullptr) {
    swf::HostCallbacks host;
    if (warnings) host.log = [warnings](swf::LogLevel, const std::string& m) { warnings->push_back(m); };
    auto p = std::make_unique<swf::Player>(std::move(host));
    EXPECT_TRUE(p->load(bytes, "video.swf").ok());
    p->setViewport(kWidth, kHeight);
    p->setQuality(swf::Quality::Low);
    return p;
}

TEST_P(EmbeddedVideo, ShowsTheSourceFrameAfterPlayingAndJumping) {
    auto p = load(movie());
    for (int i = 0; i < 7; ++i) p->runFrame();
    ASSERT_EQ(p->currentFrame(), 7u);
    EXPECT_LT(meanDifference(p->renderImage(), source[6]), GetParam().tolerance);
    // Back, rewind and a jump forward past key frames each show their own frame.
    const std::pair<std::function<void()>, int> jumps[] = {
        {[&] { p->back(); }, 5},
        {[&] { p->rewind(); }, 0},
        {[&] { p->gotoFrame(11); }, 10},
        {[&] { p->gotoFrame(6); }, 5},
    };
    for (const auto& [jump, expected] : jumps) {
        jump();
        EXPECT_LT(meanDifference(p->renderImage(), source[size_t(expected)]), GetParam().tolerance)
            << "frame " << expected;
    }
}

TEST_P(EmbeddedVideo, KeyFramesAreFoundInThePacketsThemselves) {
    for (size_t i = 0; i < tags.video.size(); ++i) {
        const auto& v = tags.video[i];
        EXPECT_EQ(swf::video::isKeyFrame(swf::video::VideoCodec(GetParam().swfCodec), v.packet), v.frameType == 1)
            << "packet " << i;
    }
}

TEST_P(EmbeddedVideo, JumpsDecodeFromTheNearestKeyFrame) {
    auto def = std::make_shared<swf::VideoStreamDef>();
    def->codec = GetParam().swfCodec;
    def->width = kWidth;
    def->height = kHeight;
    for (int f = 0; f < kFrames; ++f) def->frames[uint32_t(f)] = tags.video[size_t(f)].packet;
    swf::video::FrameSequence seq(def, {});
    // A jump decodes from the last key frame at or before its target (the
    // encoder marks them), unless it goes on from the picture shown.
    std::optional<uint32_t> shown;
    size_t decoded = 0;
    for (uint32_t target : {6u, 7u, 2u, 9u, 9u, 11u}) {
        uint32_t key = target;
        while (key > 0 && tags.video[key].frameType != 1) --key;
        if (!shown || *shown != target)
            decoded += shown && *shown < target && *shown >= key ? target - *shown : target - key + 1;
        shown = target;
        EXPECT_LT(meanDifference(seq.pictureAt(target), source[target]), GetParam().tolerance) << target;
        EXPECT_EQ(seq.decodedPackets(), decoded) << "after frame " << target;
    }
}

// The video is drawn like a bitmap of the clip: its transform and colour apply.
TEST_P(EmbeddedVideo, DrawnWithTheObjectsTransformAndColour) {
    swf::ColorTransform noRed;
    noRed.rMult = 0;
    auto p = load(movie(swf::Matrix{0.5, 0, 0, 0.5, kWidth * 10.0, kHeight * 10.0}, noRed));
    p->runFrame();
    const QImage shown = p->renderImage();
    EXPECT_EQ(shown.pixel(10, 10), qRgb(255, 255, 255)); // outside the video: the stage
    QImage expected = source[0].scaled(kWidth / 2, kHeight / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb c = expected.pixel(x, y);
            expected.setPixel(x, y, qRgb(0, qGreen(c), qBlue(c)));
        }
    // Scaling by half without smoothing keeps every other pixel: allow for it.
    EXPECT_LT(meanDifference(shown.copy(kWidth / 2, kHeight / 2, kWidth / 2, kHeight / 2), expected),
              GetParam().tolerance + 12);
}

INSTANTIATE_TEST_SUITE_P(Codecs, EmbeddedVideo, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// The sample movies of the corpus carry codecs no free encoder makes (VP6,
// VP6 with alpha) beside H.263: every frame of every stream decodes, at
// the stream's picture size or larger, without a warning; the alpha
// streams are partly transparent. (Their reference pictures only guide the
// eye, so the pixels are not compared.)
struct SampleCase {
    const char* folder;
    uint8_t codec;
};
void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.folder; }

const SampleCase kSamples[] = {
    {"visual__video__colorconversion__h263", 2},   {"visual__video__colorconversion__vp6", 4},
    {"visual__video__colorconversion__vp6a", 5},   {"visual__video__vp6_alphaoffset", 5},
    {"visual__video__vp6_dispsize", 4},            {"visual__video__deblocking", 2},
    {"from_gnash__misc-ming.all__Video-EmbedSquareTest", 2},
};

class CorpusVideoSample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(CorpusVideoSample, EveryFrameDecodes) {
    std::vector<std::string> warnings;
    swf::LogFn log = [&warnings](swf::LogLevel level, const std::string& m) {
        if (level != swf::LogLevel::Debug) warnings.push_back(m);
    };
    auto movie = swf::loadMovieFile(std::string(SWIFTREEL_CORPUS_DIR) + "/video_samples/" + GetParam().folder + "/test.swf", log);
    ASSERT_TRUE(movie.ok());
    int streams = 0, pictures = 0;
    for (const auto& [id, c] : (*movie)->dictionary) {
        const auto* def = std::get_if<std::shared_ptr<const swf::VideoStreamDef>>(&c);
        if (!def) continue;
        ++streams;
        EXPECT_EQ((*def)->codec, GetParam().codec);
        swf::video::FrameSequence sequence(*def, log);
        bool seeThrough = false;
        for (const auto& [frame, data] : (*def)->frames) {
            const QImage picture = sequence.pictureAt(frame);
            ASSERT_FALSE(picture.isNull()) << "stream " << id << " frame " << frame;
            EXPECT_GT(picture.width(), 0);
            for (int y = 0; y < picture.height() && !seeThrough; y += 4)
                for (int x = 0; x < picture.width() && !seeThrough; x += 4) seeThrough = qAlpha(picture.pixel(x, y)) < 255;
            ++pictures;
        }
        EXPECT_EQ(seeThrough, GetParam().codec == 5) << "stream " << id;
    }
    EXPECT_GT(streams, 0);
    EXPECT_GT(pictures, 0);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusVideoSample, ::testing::ValuesIn(kSamples), [](const auto& info) {
    std::string name = info.param.folder;
    std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(uint8_t(ch)); }, '_');
    return name;
});

} // namespace
