// Hostile and broken movies: every prefix of a valid movie, lying lengths and
// counts, decompression bombs, deep nesting, and the fuzzer's seed and
// regression folders. Each must give an error or a (partial) movie, quickly
// and without a crash.
#include "tests/engine/test_util.h"

#include "engine/core/limits.h"
#include "engine/swf/place_object.h"
#include "engine/swf/shape.h"

#include <filesystem>
#include <fstream>

namespace swf::test {
namespace {

namespace fs = std::filesystem;

// A small movie that uses every kind of tag the parser reads.
SwfWriter richMovie(Compression c = Compression::None) {
    SwfWriter w(8, {0, 2000, 0, 1500}, 12);
    w.compression(c).backgroundColor({200, 220, 255, 255});
    w.tag(tag::FileAttributes, ByteWriter().u32(0).data());
    ShapeBuilder s;
    FillStyle grad;
    grad.type = FillType::RadialGradient;
    grad.gradient.stops = {{0, {255, 0, 0, 255}}, {255, {0, 0, 255, 128}}};
    uint32_t g = s.addFill(grad), red = s.addSolidFill({255, 0, 0, 255});
    s.addLine(40, {0, 0, 0, 255});
    s.rect(0, 0, 400, 300, g).line(1);
    s.circle(600, 600, 200, red);
    w.defineShape(1, s, 3);
    ShapeBuilder s4;
    LineStyle l;
    l.width = 30;
    l.join = JoinStyle::Miter;
    s4.addLine(l);
    s4.moveTo(0, 0).line(1).lineTo(100, 100).curveTo(200, 0, 300, 100);
    w.defineShape(2, s4, 4);
    // Morph: a square growing.
    ShapeBuilder ms, me;
    ms.moveTo(0, 0).fill1(1).lineTo(100, 0).lineTo(100, 100).lineTo(0, 0);
    me.moveTo(0, 0).lineTo(200, 0).curveTo(250, 100, 200, 200).lineTo(0, 0);
    ByteWriter styles;
    styles.u8(1).u8(0).rgba({0, 255, 0, 255}).rgba({0, 0, 255, 255}).u8(0);
    Bytes startEdges = ms.shapeRecords(3, false);
    ByteWriter morph;
    morph.u16(3).rect({0, 100, 0, 100}).rect({0, 250, 0, 200}).u32(uint32_t(styles.size() + startEdges.size()));
    morph.bytes(styles.data()).bytes(startEdges).bytes(me.shapeRecords(3, false));
    w.tag(tag::DefineMorphShape, morph.data());
    w.defineBitsLossless(4, 2, 5, 2, 2, {255, 255, 0, 0, 128, 0, 128, 0, 255, 0, 0, 255, 0, 0, 0, 0});
    w.defineBitsLossless(5, 1, 3, 2, 1, {1, 2, 3, 4, 5, 6, 0, 1, 0, 0}, 1);
    // Font with one square glyph and a text using it.
    ShapeBuilder glyph;
    glyph.rect(0, -800, 600, 800, 1);
    Bytes gb = glyph.shapeRecords(1, false);
    ByteWriter font;
    font.u16(6).u8(0x80).u8(0).u8(1).u8('F').u16(1).u16(4).u16(uint16_t(4 + gb.size())).bytes(gb).u8('A');
    font.u16(800).u16(200).s16(0).s16(640).rect({0, 600, -800, 0}).u16(0);
    w.tag(tag::DefineFont2, font.data());
    ByteWriter text;
    text.u16(7).rect({0, 1000, 0, 300}).matrix(Matrix{}).u8(1).u8(10);
    text.u8(0x8f).u16(6).rgb({0, 0, 0, 255}).s16(0).s16(240).u16(240).u8(1).ubits(0, 1).sbits(300, 10).align().u8(0);
    w.tag(tag::DefineText, text.data());
    ByteWriter edit;
    edit.u16(8).rect({0, 2000, 0, 400}).u8(0x81).u8(0x20).u16(6).u16(240).u8(0).u16(0).u16(0).u16(0).s16(0);
    edit.cstring("v").cstring("hello");
    w.tag(tag::DefineEditText, edit.data());
    w.defineButton2(9, {ButtonRecordSpec{.up = true, .hitTest = true, .characterId = 1, .depth = 1}},
                    {{0x08, {0x07, 0x00}}});
    w.defineSound(10, 3, 1, true, false, 4, {0, 0, 1, 0, 2, 0, 3, 0});
    SwfWriter sprite;
    sprite.placeObject2(Place{.depth = 1, .characterId = 1, .matrix = Matrix{1, 0, 0, 1, 50, 50}}).showFrame();
    sprite.placeObject2(Place{.depth = 1, .move = true, .matrix = Matrix{1, 0, 0, 1, 80, 50}}).showFrame();
    w.defineSprite(11, sprite);
    w.exportAssets({{11, "clip"}});
    w.frameLabel("one");
    w.placeObject2(Place{.depth = 1, .characterId = 11, .name = "mc"});
    w.placeObject2(Place{.depth = 2, .characterId = 3, .ratio = 0});
    w.placeObject3(Place{.depth = 3, .characterId = 4, .matrix = Matrix{20, 0, 0, 20, 0, 0},
                         .blendMode = BlendMode::Multiply});
    w.placeObject2(Place{.depth = 4, .characterId = 7, .clipActions = {{clip_event::EnterFrame, {0x07, 0x00}}}});
    w.placeObject2(Place{.depth = 5, .characterId = 9});
    w.placeObject2(Place{.depth = 6, .characterId = 8});
    w.startSound(10).doAction({0x07, 0x00}).showFrame();
    w.placeObject2(Place{.depth = 2, .move = true, .ratio = 40000}).removeObject2(3).showFrame();
    return w;
}

// What the runtime would decode from a movie, so sweeps reach those decoders too.
void decodeLikeTheRuntime(const Movie& m) {
    auto walk = [&](const Timeline& tl) {
        for (const auto& f : tl.frames)
            for (const auto& t : f.tags) {
                if (t.code == tag::PlaceObject || t.code == tag::PlaceObject2 || t.code == tag::PlaceObject3)
                    (void)parsePlaceObject(t, m.header.version);
                if (t.code == tag::RemoveObject || t.code == tag::RemoveObject2) (void)parseRemoveObject(t);
            }
    };
    walk(m.timeline);
    for (const auto& [id, c] : m.dictionary) {
        if (auto mo = std::get_if<std::shared_ptr<const MorphShapeDef>>(&c)) (void)morphAt(**mo, 0.3);
        if (auto sp = std::get_if<std::shared_ptr<const SpriteDef>>(&c)) walk((*sp)->timeline);
    }
}

TEST(Malformed, RichMovieIsValid) {
    auto m = parseOk(richMovie().bytes());
    ASSERT_TRUE(m);
    for (const auto& w : m->warnings) ADD_FAILURE() << w.message;
    EXPECT_EQ(m->dictionary.size(), 11u);
    EXPECT_EQ(m->timeline.frames.size(), 2u);
}

TEST(Malformed, EveryPrefixGivesAnErrorOrAPartialMovie) {
    for (Compression c : {Compression::None, Compression::Zlib}) {
        const Bytes full = richMovie(c).bytes();
        size_t movies = 0;
        for (size_t n = 0; n <= full.size(); ++n) {
            auto r = parseMovie(Bytes(full.begin(), full.begin() + n), "prefix.swf");
            if (!r.ok()) {
                EXPECT_NE(r.error().code, ErrorCode::None);
                continue;
            }
            ++movies;
            decodeLikeTheRuntime(**r);
            // A zlib prefix that lacks only the checksum still holds the whole movie.
            if ((*r)->data.size() < (*r)->header.declaredLength) {
                EXPECT_FALSE((*r)->warnings.empty()) << "prefix " << n << " cut silently";
            }
        }
        EXPECT_GT(movies, 0u);
    }
}

TEST(Malformed, EveryPrefixOfAnLzmaMovie) {
    const Bytes full = richMovie(Compression::Lzma).bytes();
    for (size_t n = 0; n <= full.size(); ++n) {
        auto r = parseMovie(Bytes(full.begin(), full.begin() + n), "prefix.swf");
        if (r.ok()) decodeLikeTheRuntime(**r);
    }
    auto whole = parseOk(full);
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->warnings.empty());
}

// A tag body that lies about a length or count: the movie still loads, the
// tag is skipped with its error.
struct Lie {
    const char* name;
    uint16_t code;
    Bytes body;
    ErrorCode expected;
};

class LyingTags : public ::testing::TestWithParam<Lie> {};

TEST_P(LyingTags, AreSkippedWithABoundedCleanError) {
    SwfWriter w;
    w.tag(GetParam().code, GetParam().body).backgroundColor({1, 2, 3, 255}).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_TRUE(hasWarning(*m, GetParam().expected, GetParam().code));
    EXPECT_TRUE(m->dictionary.empty());
    EXPECT_EQ(m->backgroundColor, (Rgba{1, 2, 3, 255})); // the rest still plays
    for (const auto& warning : m->warnings) EXPECT_NE(warning.message.find(" @0x"), std::string::npos);
}

Bytes shapeHead(uint16_t id) { return ByteWriter().u16(id).rect({0, 10, 0, 10}).data(); }

INSTANTIATE_TEST_SUITE_P(
    All, LyingTags,
    ::testing::Values(
        Lie{"FillStyleCount", tag::DefineShape2, ByteWriter().bytes(shapeHead(1)).u8(0xff).u16(300).data(),
            ErrorCode::Malformed},
        Lie{"LineStyleCount", tag::DefineShape3, ByteWriter().bytes(shapeHead(1)).u8(0).u8(0xff).u16(65535).data(),
            ErrorCode::Malformed},
        Lie{"GradientCut", tag::DefineShape3, ByteWriter().bytes(shapeHead(1)).u8(1).u8(0x10).u8(0).u8(15).data(),
            ErrorCode::Truncated},
        Lie{"UnknownFill", tag::DefineShape, ByteWriter().bytes(shapeHead(1)).u8(1).u8(0x33).data(),
            ErrorCode::Malformed},
        Lie{"RecordsNeverEnd", tag::DefineShape, ByteWriter().bytes(shapeHead(1)).u8(0).u8(0).u8(0x10).u8(0xff).data(),
            ErrorCode::Truncated},
        Lie{"MorphFillCount", tag::DefineMorphShape,
            ByteWriter().u16(1).rect({}).rect({}).u32(0).u8(0xff).u16(60000).data(), ErrorCode::Malformed},
        Lie{"FontGlyphCount", tag::DefineFont2,
            ByteWriter().u16(1).u8(0).u8(0).u8(0).u16(65535).u16(0).data(), ErrorCode::Malformed},
        Lie{"FontGlyphOffset", tag::DefineFont2,
            ByteWriter().u16(1).u8(0).u8(0).u8(0).u16(1).u16(4000).u16(4).data(), ErrorCode::Malformed},
        Lie{"Font1FirstOffset", tag::DefineFont, ByteWriter().u16(1).u16(0xfffe).data(), ErrorCode::Malformed},
        Lie{"FontKerningCount", tag::DefineFont2,
            ByteWriter().u16(1).u8(0x80).u8(0).u8(0).u16(0).u16(2).u16(0).u16(0).s16(0).u16(65535).data(),
            ErrorCode::Malformed},
        Lie{"TextGlyphBits", tag::DefineText,
            ByteWriter().u16(1).rect({}).matrix({}).u8(200).u8(8).data(), ErrorCode::Malformed},
        Lie{"TextGlyphCount", tag::DefineText,
            ByteWriter().u16(1).rect({}).matrix({}).u8(8).u8(8).u8(0x80).u8(255).u8(1).data(), ErrorCode::Truncated},
        Lie{"BitmapSides", tag::DefineBitsLossless2, ByteWriter().u16(1).u8(5).u16(65535).u16(65535).data(),
            ErrorCode::LimitExceeded},
        Lie{"AlphaOffset", tag::DefineBitsJPEG3, ByteWriter().u16(1).u32(0xffffffff).data(), ErrorCode::Malformed},
        Lie{"ButtonActionOffset", tag::DefineButton2,
            ByteWriter().u16(1).u8(0).u16(60000).u8(0).data(), ErrorCode::Malformed},
        Lie{"ButtonCondActionSize", tag::DefineButton2,
            ByteWriter().u16(1).u8(0).u16(3).u8(0).u16(5000).u16(8).u8(0).data(), ErrorCode::Malformed},
        Lie{"ButtonRecordsNeverEnd", tag::DefineButton, ByteWriter().u16(1).u8(1).u16(2).u16(1).data(),
            ErrorCode::Truncated},
        Lie{"ExportCount", tag::ExportAssets, ByteWriter().u16(65535).u16(1).cstring("a").data(),
            ErrorCode::Malformed},
        Lie{"ImportCount", tag::ImportAssets, ByteWriter().cstring("x.swf").u16(65535).data(), ErrorCode::Malformed},
        Lie{"SceneCount", tag::DefineSceneAndFrameLabelData, ByteWriter().encodedU32(0xffffffff).data(),
            ErrorCode::Malformed},
        Lie{"SoundCut", tag::DefineSound, ByteWriter().u16(1).u8(0x3e).data(), ErrorCode::Truncated}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Malformed, TagLengthBeyondTheDataEndsTheTimeline) {
    SwfWriter w;
    w.backgroundColor({5, 5, 5, 255}).showFrame();
    w.tag(tag::DoAction, {}, true);
    Bytes b = w.bytes();
    // Make the last DoAction's long length claim 2 GB: find it right before End (2 bytes).
    size_t lengthAt = b.size() - 2 - 4;
    b[lengthAt + 3] = 0x7f;
    auto m = parseOk(b);
    ASSERT_TRUE(m);
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Truncated, tag::DoAction));
    EXPECT_EQ(m->timeline.frames.size(), 1u);
    EXPECT_EQ(m->backgroundColor, (Rgba{5, 5, 5, 255}));
}

TEST(Malformed, ManyBrokenTagsKeepABoundedWarningList) {
    SwfWriter w;
    for (int i = 0; i < 5000; ++i) w.tag(250, {});
    w.showFrame();
    size_t logged = 0;
    auto r = parseMovie(w.bytes(), "many", [&](LogLevel, const std::string&) { ++logged; });
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->warnings.size(), limits::kMaxWarnings);
    EXPECT_EQ(logged, limits::kMaxWarnings + 1); // and one line saying how many more
}

TEST(Malformed, ZlibBombStopsAtTheDeclaredSize) {
    // 16 MB of zeros behind a header that declares 64 KB.
    Bytes body = SwfWriter().showFrame().bytes();
    Bytes zeros(16u << 20, 0);
    Bytes packed = zlibCompress(zeros);
    Bytes file = {'C', 'W', 'S', 10};
    ByteWriter len;
    len.u32(64 * 1024 + 8);
    file.insert(file.end(), len.data().begin(), len.data().end());
    file.insert(file.end(), packed.begin(), packed.end());
    auto r = parseMovie(file, "bomb.swf");
    if (r.ok()) {
        EXPECT_EQ((*r)->data.size(), 64u * 1024 + 8);
    } else {
        EXPECT_EQ(r.error().code, ErrorCode::Truncated);
    }
}

TEST(Malformed, DeclaredSizeOverTheLimitIsRefusedBeforeInflating) {
    Bytes file = SwfWriter().compression(Compression::Zlib).showFrame().bytes();
    uint32_t huge = uint32_t(limits::kMaxInflatedBytes + 9);
    for (int i = 0; i < 4; ++i) file[4 + i] = uint8_t(huge >> (8 * i));
    auto r = parseMovie(file, "big.swf");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::TooLarge);
}

TEST(Malformed, LzmaBombStopsAtTheDeclaredSize) {
    SwfWriter w(13);
    w.compression(Compression::Lzma).tag(tag::DefineBinaryData, Bytes(4u << 20, 0)).showFrame();
    Bytes file = w.bytes();
    uint32_t declared = 4096;
    for (int i = 0; i < 4; ++i) file[4 + i] = uint8_t(declared >> (8 * i));
    auto r = parseMovie(file, "lzma-bomb.swf");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->data.size(), declared);
    EXPECT_FALSE((*r)->warnings.empty()); // the binary data tag no longer fits
}

TEST(Malformed, BitmapBombInflatesOnlyWhatThePixelsNeed) {
    // A 4x4 bitmap whose zlib stream holds 16 MB.
    ByteWriter body;
    body.u16(1).u8(5).u16(4).u16(4).bytes(zlibCompress(Bytes(16u << 20, 0xff)));
    SwfWriter w;
    w.tag(tag::DefineBitsLossless, body.data()).showFrame();
    auto b = parseCharacter<BitmapDef>(w, 1);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->image.size(), QSize(4, 4));
}

TEST(Malformed, DeeplyNestedSpritesAreFlattenedToOneLevel) {
    SwfWriter inner;
    inner.showFrame();
    for (int depth = 0; depth < 2000; ++depth) {
        SwfWriter outer;
        outer.defineSprite(uint16_t(depth + 1), inner).showFrame();
        inner = outer;
    }
    auto m = parseOk(inner.bytes());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->dictionary.size(), 1u); // only the outermost sprite; the rest are invalid nesting
    EXPECT_TRUE(m->get<SpriteDef>(2000));
    EXPECT_TRUE(hasWarning(*m, ErrorCode::Malformed, tag::DefineSprite));
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return out;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file()) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The fuzzer's seeds and every input it once crashed on load without fault.
TEST(FuzzRegression, SeedsAndFoundInputsLoad) {
    const fs::path root = fs::path(SWIFTREEL_SOURCE_DIR) / "fuzz";
    auto seeds = filesIn(root / "corpus");
    EXPECT_GE(seeds.size(), 4u) << "fuzz/corpus holds the seeds";
    for (const auto& p : seeds) {
        SCOPED_TRACE(p.string());
        if (p.extension() == ".flv") continue; // FLV seeds: the video tests play hostile FLVs
        auto r = parseMovie(readFile(p), p.string());
        ASSERT_TRUE(r.ok()) << r.error().message; // seeds are valid movies
        decodeLikeTheRuntime(**r);
    }
    for (const auto& p : filesIn(root / "regressions")) {
        SCOPED_TRACE(p.string());
        auto r = parseMovie(readFile(p), p.string());
        if (r.ok()) decodeLikeTheRuntime(**r);
    }
}

// Writes the seed movies: SWIFTREEL_WRITE_FUZZ_SEEDS=<dir> engine_tests
// --gtest_filter=FuzzSeeds.*
TEST(FuzzSeeds, Write) {
    const char* dir = std::getenv("SWIFTREEL_WRITE_FUZZ_SEEDS");
    if (!dir) GTEST_SKIP() << "set SWIFTREEL_WRITE_FUZZ_SEEDS to write the seeds";
    auto write = [&](const char* name, const Bytes& b) {
        std::ofstream(fs::path(dir) / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                                   std::streamsize(b.size()));
    };
    write("rich.swf", richMovie().bytes());
    write("rich-zlib.swf", richMovie(Compression::Zlib).bytes());
    write("rich-lzma.swf", richMovie(Compression::Lzma).bytes());
    ShapeBuilder s;
    s.rect(0, 0, 1000, 1000, s.addSolidFill({0, 128, 255, 255}));
    write("one-shape.swf", SwfWriter(6, {0, 2000, 0, 2000}, 24)
                               .defineShape(1, s, 1)
                               .placeObject(1, 1, Matrix{})
                               .showFrame()
                               .bytes());
}

} // namespace
} // namespace swf::test
