// The container: header, compression, tag stream, frames, labels, scenes,
// sprites and movie-level tags.
#include "tests/engine/test_util.h"

#include "engine/core/inflate.h"

namespace swf::test {
namespace {

struct HeaderCase {
    Compression compression;
    int version;
};

class HeaderVariants : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderVariants, ReadsHeaderAndTimeline) {
    SwfWriter w(GetParam().version, {0, 640 * 20, 0, 480 * 20}, 30.5);
    w.compression(GetParam().compression).backgroundColor({10, 20, 30, 255});
    w.doAction({0x00}).showFrame().showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    const char sig[] = {'F', 'C', 'Z'};
    EXPECT_EQ(m->header.signature, sig[int(GetParam().compression)]);
    EXPECT_EQ(m->header.version, GetParam().version);
    EXPECT_EQ(m->header.frameSize, (Rect{0, 12800, 0, 9600}));
    EXPECT_DOUBLE_EQ(m->header.frameRate, 30.5);
    EXPECT_EQ(m->header.frameCount, 2u);
    EXPECT_EQ(m->data.size(), m->header.declaredLength);
    ASSERT_EQ(m->timeline.frames.size(), 2u);
    ASSERT_EQ(m->timeline.frames[0].tags.size(), 1u);
    EXPECT_EQ(m->timeline.frames[0].tags[0].code, tag::DoAction);
    EXPECT_TRUE(m->timeline.frames[1].tags.empty());
    EXPECT_EQ(m->backgroundColor, (Rgba{10, 20, 30, 255}));
    EXPECT_TRUE(m->warnings.empty());
}

INSTANTIATE_TEST_SUITE_P(All, HeaderVariants,
                         ::testing::Values(HeaderCase{Compression::None, 1}, HeaderCase{Compression::None, 43},
                                           HeaderCase{Compression::Zlib, 6}, HeaderCase{Compression::Zlib, 10},
                                           HeaderCase{Compression::Lzma, 13}, HeaderCase{Compression::Lzma, 32}));

struct BadHeader {
    const char* name;
    Bytes bytes;
    ErrorCode code;
};

class BadHeaders : public ::testing::TestWithParam<BadHeader> {};

TEST_P(BadHeaders, AreRefusedWithTheirCause) {
    auto r = parseMovie(GetParam().bytes, "x.swf");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, GetParam().code) << r.error().message;
    EXPECT_FALSE(r.error().message.empty());
}

Bytes withByte(Bytes b, size_t at, uint8_t v) {
    b[at] = v;
    return b;
}

const Bytes kValid = SwfWriter().showFrame().bytes();

INSTANTIATE_TEST_SUITE_P(
    All, BadHeaders,
    ::testing::Values(
        BadHeader{"Empty", {}, ErrorCode::Truncated},
        BadHeader{"ShortHeader", {'F', 'W', 'S', 10}, ErrorCode::Truncated},
        BadHeader{"Signature", withByte(kValid, 0, 'X'), ErrorCode::BadSignature},
        BadHeader{"Signature2", withByte(kValid, 1, 'X'), ErrorCode::BadSignature},
        BadHeader{"VersionZero", withByte(kValid, 3, 0), ErrorCode::BadVersion},
        BadHeader{"NoRect", {'F', 'W', 'S', 10, 9, 0, 0, 0, 0xff}, ErrorCode::Truncated},
        BadHeader{"CompressedTooSmall", {'C', 'W', 'S', 10, 4, 0, 0, 0, 0x78, 0x9c}, ErrorCode::Malformed},
        BadHeader{"CompressedTooLarge", {'C', 'W', 'S', 10, 0xff, 0xff, 0xff, 0xff, 0x78, 0x9c}, ErrorCode::TooLarge},
        BadHeader{"ZlibGarbage", {'C', 'W', 'S', 10, 100, 0, 0, 0, 1, 2, 3, 4}, ErrorCode::Decompression},
        BadHeader{"LzmaNoProps", {'Z', 'W', 'S', 13, 100, 0, 0, 0, 5, 0, 0, 0, 0x5d}, ErrorCode::Truncated}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MovieParser, NewerVersionIsReadWithAWarning) {
    auto m = parseOk(withByte(kValid, 3, 60));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->header.version, 60);
    EXPECT_EQ(m->warnings.size(), 1u);
}

TEST(MovieParser, ZeroFrameRateReadsAsTwelve) {
    auto m = parseOk(SwfWriter(8, {0, 100, 0, 100}, 0).showFrame().bytes());
    ASSERT_TRUE(m);
    EXPECT_DOUBLE_EQ(m->header.frameRate, 12);
}

TEST(MovieParser, UnknownAndBrokenTagsAreSkippedAndTheRestPlays) {
    SwfWriter w;
    w.tag(200, {1, 2, 3});                       // unknown
    w.tag(tag::DefineShape, {1});                // broken: cut short
    w.tag(tag::SetBackgroundColor, {1, 2, 3}).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Unsupported, 200));
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Truncated, tag::DefineShape));
    EXPECT_EQ(m->backgroundColor, (Rgba{1, 2, 3, 255}));
    EXPECT_EQ(m->timeline.frames.size(), 1u);
    // The message says what and where.
    for (const auto& warning : m->warnings)
        if (warning.tagCode == tag::DefineShape) {
            EXPECT_EQ(warning.message.rfind("DefineShape @0x", 0), 0u) << warning.message;
        }
}

TEST(MovieParser, LogCallbackReceivesWarnings) {
    std::vector<std::string> logged;
    SwfWriter w;
    w.tag(201, {}).showFrame();
    auto r = parseMovie(w.bytes(), "u", [&](LogLevel level, const std::string& msg) {
        if (level == LogLevel::Warning) logged.push_back(msg);
    });
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("Tag 201"), std::string::npos);
}

TEST(MovieParser, LongTagHeaderAndDeclaredLengthAreHonoured) {
    SwfWriter w;
    w.tag(tag::SetBackgroundColor, {9, 8, 7}, true).showFrame();
    Bytes b = w.bytes();
    b.insert(b.end(), {0xde, 0xad}); // bytes after the declared length are not the movie's
    auto m = parseOk(b);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->backgroundColor, (Rgba{9, 8, 7, 255}));
    EXPECT_TRUE(m->warnings.empty());
    EXPECT_EQ(m->data.size(), b.size() - 2);
}

TEST(MovieParser, LabelsScenesAndTrailingFrame) {
    SwfWriter w;
    w.frameLabel("start").showFrame().frameLabel("middle").frameLabel("start").showFrame();
    w.doAction({0}); // after the last ShowFrame: a frame only because the header counts three
    w.declaredFrameCount(3);
    ByteWriter scenes;
    scenes.encodedU32(2).encodedU32(0).cstring("Scene 1").encodedU32(1).cstring("Two");
    scenes.encodedU32(1).encodedU32(1).cstring("sceneLabel");
    w.tag(tag::DefineSceneAndFrameLabelData, scenes.data());
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->timeline.frames.size(), 3u);
    EXPECT_EQ(m->timeline.declaredFrameCount, 3u);
    EXPECT_EQ(m->timeline.labels.at("start"), 0u); // the first wins
    EXPECT_EQ(m->timeline.labels.at("middle"), 1u);
    EXPECT_EQ(m->timeline.labels.at("sceneLabel"), 1u);
    EXPECT_EQ(m->timeline.sceneNames.at(0), "Scene 1");
    EXPECT_EQ(m->timeline.sceneNames.at(1), "Two");
    // FrameLabel stays in its frame for the runtime as well.
    EXPECT_EQ(m->timeline.frames[1].tags.size(), 2u);
}

TEST(MovieParser, SpriteHasItsOwnTimelineAndNestedSpritesAreSkipped) {
    SwfWriter inner;
    inner.showFrame();
    SwfWriter sprite;
    sprite.frameLabel("a").placeObject2(Place{.depth = 1, .characterId = 5}).showFrame();
    sprite.defineSprite(3, inner); // invalid inside a sprite
    sprite.removeObject2(1).showFrame().showFrame();
    SwfWriter w;
    w.defineSprite(2, sprite).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    auto s = m->get<SpriteDef>(2);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->timeline.declaredFrameCount, 3u);
    ASSERT_EQ(s->timeline.frames.size(), 3u);
    EXPECT_EQ(s->timeline.frames[0].tags.size(), 2u);
    EXPECT_EQ(s->timeline.frames[1].tags[0].code, tag::RemoveObject2);
    EXPECT_EQ(s->timeline.labels.at("a"), 0u);
    EXPECT_FALSE(m->get<SpriteDef>(3));
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Malformed, tag::DefineSprite));
    // Control tag spans point into the movie's data at their header offsets.
    const ControlTag& ct = s->timeline.frames[1].tags[0];
    EXPECT_EQ(ct.body.data(), m->data.data() + ct.offset + 2);
}

TEST(MovieParser, MovieLevelTags) {
    SwfWriter w(8);
    w.tag(tag::FileAttributes, ByteWriter().u32(0x08 | 0x01).data());
    w.exportAssets({{7, "Thing"}, {8, "Other"}});
    w.tag(tag::ImportAssets, ByteWriter().cstring("lib.swf").u16(1).u16(30).cstring("Far").data());
    w.tag(tag::ImportAssets2, ByteWriter().cstring("lib2.swf").u8(1).u8(0).u16(1).u16(31).cstring("Far2").data());
    w.doInitAction(7, {0x96, 0x00});
    w.tag(tag::Metadata, ByteWriter().cstring("<rdf/>").data());
    w.backgroundColor({1, 1, 1, 255}).backgroundColor({2, 2, 2, 255}).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isAs3());
    EXPECT_EQ(m->exports.at("Thing"), 7);
    EXPECT_EQ(m->exports.at("Other"), 8);
    ASSERT_EQ(m->imports.size(), 2u);
    EXPECT_EQ(m->imports[0].url, "lib.swf");
    EXPECT_EQ(m->imports[0].name, "Far");
    EXPECT_EQ(m->imports[1].id, 31);
    ASSERT_EQ(m->initActions.size(), 1u);
    EXPECT_EQ(m->initActions[0].first, 7);
    EXPECT_EQ(m->initActions[0].second.body.size(), 2u);
    EXPECT_EQ(m->initActions[0].second.body[0], 0x96);
    EXPECT_TRUE(m->hasMetadataTag);
    EXPECT_EQ(m->backgroundColor, (Rgba{1, 1, 1, 255})); // the first one counts
}

TEST(MovieParser, DuplicateCharacterIdKeepsTheFirst) {
    ShapeBuilder a, b;
    a.rect(0, 0, 20, 20, a.addSolidFill({255, 0, 0, 255}));
    b.rect(0, 0, 40, 40, b.addSolidFill({0, 255, 0, 255}));
    SwfWriter w;
    w.defineShape(1, a).defineShape(1, b).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->get<ShapeDef>(1)->bounds.xMax, 20);
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Malformed, tag::DefineShape3));
}

TEST(MovieParser, SoundAndBinaryData) {
    SwfWriter w;
    w.defineSound(4, 2, 3, true, true, 1152, {0xff, 0xfb, 0x90});
    w.tag(tag::DefineBinaryData, ByteWriter().u16(6).u32(0).bytes({1, 2, 3, 4}).data());
    w.startSound(4).soundStreamHead({0x0e, 0x3e, 0x80, 0x02}, 2).soundStreamBlock({1, 2}).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    auto s = m->get<SoundDef>(4);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format, 2);
    EXPECT_EQ(s->sampleRate, 44100u);
    EXPECT_TRUE(s->is16Bit);
    EXPECT_TRUE(s->stereo);
    EXPECT_EQ(s->sampleCount, 1152u);
    EXPECT_EQ(s->data.size(), 3u);
    EXPECT_EQ(s->body.size(), 10u);
    auto d = m->get<BinaryDataDef>(6);
    ASSERT_TRUE(d);
    EXPECT_EQ(Bytes(d->data.begin(), d->data.end()), (Bytes{1, 2, 3, 4}));
    const auto& tags = m->timeline.frames[0].tags;
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[0].code, tag::StartSound);
    EXPECT_EQ(tags[1].code, tag::SoundStreamHead2);
    EXPECT_EQ(tags[2].code, tag::SoundStreamBlock);
}

TEST(Inflate, ZlibStopsAtTheCapAndReportsCutStreams) {
    Bytes zeros(100000, 0);
    Bytes packed = zlibCompress(zeros);
    auto capped = inflateZlib(packed, 1000);
    ASSERT_TRUE(capped.ok());
    EXPECT_EQ(capped->bytes.size(), 1000u);
    auto cut = inflateZlib(std::span<const uint8_t>(packed).first(packed.size() / 2), 1u << 20);
    ASSERT_TRUE(cut.ok());
    EXPECT_FALSE(cut->complete);
    EXPECT_LT(cut->bytes.size(), zeros.size());
    auto whole = inflateZlib(packed, 1u << 20);
    ASSERT_TRUE(whole.ok());
    EXPECT_TRUE(whole->complete);
    EXPECT_EQ(whole->bytes, zeros);
}

} // namespace
} // namespace swf::test

namespace swf::test {
namespace {

TEST(LoadMovieFile, ReadsAFileAndRefusesMissingOnes) {
    const std::string dir = ::testing::TempDir();
    const std::string path = dir + "/load_movie_file_test.swf";
    Bytes b = SwfWriter().compression(Compression::Zlib).backgroundColor({4, 5, 6, 255}).showFrame().bytes();
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
    auto ok = loadMovieFile(path);
    ASSERT_TRUE(ok.ok()) << ok.error().message;
    EXPECT_EQ((*ok)->url, path);
    EXPECT_EQ((*ok)->backgroundColor, (Rgba{4, 5, 6, 255}));
    std::remove(path.c_str());

    auto missing = loadMovieFile(dir + "/no_such_movie.swf");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ErrorCode::FileNotFound);
    auto directory = loadMovieFile(dir);
    ASSERT_FALSE(directory.ok());
    EXPECT_NE(directory.error().code, ErrorCode::None);
}

} // namespace
} // namespace swf::test
