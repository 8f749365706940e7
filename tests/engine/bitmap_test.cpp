// Bitmaps: lossless formats with and without alpha, JPEG with shared tables,
// the erroneous-header quirk, JPEG with an alpha plane, PNG and GIF payloads.
#include "tests/engine/test_util.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace swf::test {
namespace {

QRgb pixel(const BitmapDef& b, int x, int y) { return b.image.pixel(x, y); }

std::shared_ptr<const BitmapDef> parseBitmap(const SwfWriter& w) { return parseCharacter<BitmapDef>(w, 1); }

TEST(Lossless, PaletteRowsArePaddedToFourBytes) {
    // 3x2, two palette colours; rows of 3 indices padded to 4 bytes.
    Bytes rgb = {255, 0, 0, 0, 0, 255, /*rows*/ 0, 1, 0, 9, 1, 1, 0, 9};
    SwfWriter w;
    w.defineBitsLossless(1, 1, 3, 3, 2, rgb, 1).showFrame();
    auto b = parseBitmap(w);
    ASSERT_TRUE(b);
    ASSERT_EQ(b->image.size(), QSize(3, 2));
    EXPECT_EQ(b->image.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixel(*b, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*b, 1, 0), qRgb(0, 0, 255));
    EXPECT_EQ(pixel(*b, 0, 1), qRgb(0, 0, 255));
    EXPECT_EQ(pixel(*b, 2, 1), qRgb(255, 0, 0));
}

// A corpus movie's colormapped bitmaps (RGB palette with junk in the row
// padding, and RGBA palette) decode to what the Flash player shows for them:
// the reference image of the same movie as version 8, bitmap 1 at (25, 25)
// and bitmap 3 at (50, 25) over white.
TEST(Lossless, CorpusPaletteBitmapsMatchTheReferencePixels) {
    const std::string dir = std::string(SWIFTREEL_CORPUS_DIR) + "/visual/swfdec__image__definebits-palette-";
    auto movie = loadMovieFile(dir + "6/test.swf");
    QImage expected(QString::fromStdString(dir + "8/output.expected.png"));
    if (!movie || expected.isNull()) GTEST_SKIP() << "no corpus at " << SWIFTREEL_CORPUS_DIR;
    expected = expected.convertToFormat(QImage::Format_RGB32);
    for (auto [id, left] : {std::pair<uint16_t, int>{1, 25}, {3, 50}}) {
        auto it = (*movie)->dictionary.find(id);
        ASSERT_NE(it, (*movie)->dictionary.end());
        const auto* bitmap = std::get_if<std::shared_ptr<const BitmapDef>>(&it->second);
        ASSERT_TRUE(bitmap && *bitmap);
        QImage over((*bitmap)->image.size(), QImage::Format_RGB32);
        over.fill(Qt::white);
        QPainter(&over).drawImage(0, 0, (*bitmap)->image);
        ASSERT_EQ(over.size(), QSize(9, 11));
        for (int y = 0; y < over.height(); ++y)
            for (int x = 0; x < over.width(); ++x)
                ASSERT_EQ(over.pixel(x, y), expected.pixel(left + x, 25 + y)) << "bitmap " << id << " at " << x << "," << y;
    }
}

TEST(Lossless, PaletteWithAlphaIsPremultiplied) {
    Bytes rgba = {100, 50, 0, 128, 0, 0, 0, 0, /*row*/ 0, 1, 0, 0};
    SwfWriter w;
    w.defineBitsLossless(1, 2, 3, 2, 1, rgba, 1).showFrame();
    auto b = parseBitmap(w);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->image.format(), QImage::Format_ARGB32_Premultiplied);
    const QRgb* line = reinterpret_cast<const QRgb*>(b->image.constScanLine(0));
    EXPECT_EQ(line[0], qRgba(100, 50, 0, 128)); // stored premultiplied, as in the file
    EXPECT_EQ(qAlpha(pixel(*b, 1, 0)), 0);
}

TEST(Lossless, FifteenBitPixels) {
    // 1:5:5:5 big-endian; width 1 pads each row to 4 bytes.
    uint16_t red = 31 << 10, green = 31 << 5;
    Bytes px = {uint8_t(red >> 8), uint8_t(red), 0, 0, uint8_t(green >> 8), uint8_t(green), 0, 0};
    SwfWriter w;
    w.defineBitsLossless(1, 1, 4, 1, 2, px).showFrame();
    auto b = parseBitmap(w);
    ASSERT_TRUE(b);
    EXPECT_EQ(pixel(*b, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*b, 0, 1), qRgb(0, 255, 0));
}

TEST(Lossless, ThirtyTwoBitWithAndWithoutAlpha) {
    Bytes px = {255, 10, 20, 30, 0, 40, 50, 60};
    SwfWriter a, b;
    a.defineBitsLossless(1, 1, 5, 2, 1, px).showFrame();
    // Lossless2: premultiplied ARGB; the second pixel is fully transparent.
    Bytes pre = {128, 64, 32, 0, 0, 0, 0, 0};
    b.defineBitsLossless(1, 2, 5, 2, 1, pre).showFrame();
    auto opaque = parseBitmap(a);
    auto alpha = parseBitmap(b);
    ASSERT_TRUE(opaque && alpha);
    EXPECT_EQ(pixel(*opaque, 0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(pixel(*opaque, 1, 0), qRgb(40, 50, 60)); // the reserved byte is not alpha
    const QRgb* line = reinterpret_cast<const QRgb*>(alpha->image.constScanLine(0));
    EXPECT_EQ(line[0], qRgba(64, 32, 0, 128)); // stored as premultiplied, unchanged
    EXPECT_EQ(line[1], 0u);
}

TEST(Lossless, ShortDataLeavesTheRestTransparent) {
    Bytes px = {255, 1, 2, 3}; // one pixel of four
    SwfWriter w;
    w.defineBitsLossless(1, 2, 5, 2, 2, px).showFrame();
    auto b = parseBitmap(w);
    ASSERT_TRUE(b);
    EXPECT_EQ(qAlpha(pixel(*b, 0, 0)), 255);
    EXPECT_EQ(qAlpha(pixel(*b, 1, 1)), 0);
}

Bytes encode(const QImage& image, const char* format, int quality = 95) {
    QByteArray ba;
    QBuffer buf(&ba);
    buf.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buf, format, quality));
    return Bytes(ba.begin(), ba.end());
}

QImage solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(c);
    return img;
}

// Splits a JPEG into a tables stream (SOI, DQT/DHT, EOI) and the image
// stream without them, as DefineBits with JPEGTables stores it.
std::pair<Bytes, Bytes> splitTables(const Bytes& jpeg) {
    Bytes tables = {0xFF, 0xD8}, image = {0xFF, 0xD8};
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        size_t len = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        Bytes& to = (jpeg[pos + 1] == 0xDB || jpeg[pos + 1] == 0xC4) ? tables : image;
        to.insert(to.end(), jpeg.begin() + pos, jpeg.begin() + pos + 2 + len);
        pos += 2 + len;
    }
    image.insert(image.end(), jpeg.begin() + pos, jpeg.end());
    tables.insert(tables.end(), {0xFF, 0xD9});
    return {tables, image};
}

void expectNear(QRgb p, int r, int g, int b, int tolerance = 6) {
    EXPECT_NEAR(qRed(p), r, tolerance);
    EXPECT_NEAR(qGreen(p), g, tolerance);
    EXPECT_NEAR(qBlue(p), b, tolerance);
}

TEST(Jpeg, DefineBitsUsesTheSharedTables) {
    Bytes jpeg = encode(solid(16, 8, QColor(200, 40, 40)), "JPG");
    auto [tables, image] = splitTables(jpeg);
    ASSERT_GT(tables.size(), 4u);
    SwfWriter w;
    w.tag(tag::JPEGTables, tables).tag(tag::DefineBits, ByteWriter().u16(1).bytes(image).data()).showFrame();
    auto b = parseBitmap(w);
    ASSERT_TRUE(b);
    ASSERT_EQ(b->image.size(), QSize(16, 8));
    expectNear(pixel(*b, 4, 4), 200, 40, 40);
}

TEST(Jpeg, ErroneousHeaderAndEmbeddedTablesAreAccepted) {
    Bytes jpeg = encode(solid(8, 8, QColor(30, 160, 90)), "JPG");
    auto [tables, image] = splitTables(jpeg);
    struct Case { const char* name; Bytes data; };
    Bytes quirk = {0xFF, 0xD9, 0xFF, 0xD8};
    quirk.insert(quirk.end(), jpeg.begin(), jpeg.end());
    Bytes twoStreams = tables; // tables and image as two streams in one tag
    twoStreams.insert(twoStreams.end(), image.begin(), image.end());
    for (const Case& c : {Case{"plain", jpeg}, Case{"quirk", quirk}, Case{"twoStreams", twoStreams}}) {
        SCOPED_TRACE(c.name);
        SwfWriter w;
        w.tag(tag::DefineBitsJPEG2, ByteWriter().u16(1).bytes(c.data).data()).showFrame();
        auto b = parseBitmap(w);
        ASSERT_TRUE(b);
        ASSERT_EQ(b->image.size(), QSize(8, 8));
        expectNear(pixel(*b, 3, 3), 30, 160, 90);
    }
}

TEST(Jpeg, Jpeg3AlphaPlaneIsPremultiplied) {
    Bytes jpeg = encode(solid(4, 4, QColor(255, 255, 255)), "JPG");
    Bytes alpha(16, 128);
    alpha[0] = 0;
    for (uint16_t code : {tag::DefineBitsJPEG3, tag::DefineBitsJPEG4}) {
        ByteWriter body;
        body.u16(1).u32(uint32_t(jpeg.size()));
        if (code == tag::DefineBitsJPEG4) body.u16(0);
        body.bytes(jpeg).bytes(zlibCompress(alpha));
        SwfWriter w;
        w.tag(code, body.data()).showFrame();
        auto b = parseBitmap(w);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->image.format(), QImage::Format_ARGB32_Premultiplied);
        const QRgb* line = reinterpret_cast<const QRgb*>(b->image.constScanLine(1));
        EXPECT_EQ(qAlpha(line[1]), 128);
        EXPECT_NEAR(qRed(line[1]), 128, 3);
        EXPECT_EQ(b->image.constScanLine(0)[3], 0); // first pixel's alpha byte (little-endian ARGB)
    }
}

TEST(Jpeg, PngAndGifPayloads) {
    QImage png = solid(5, 3, QColor(10, 20, 250, 64));
    SwfWriter a;
    a.tag(tag::DefineBitsJPEG2, ByteWriter().u16(1).bytes(encode(png, "PNG")).data()).showFrame();
    auto b = parseBitmap(a);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->image.size(), QSize(5, 3));
    EXPECT_EQ(b->image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(qAlpha(pixel(*b, 2, 2)), 64);

    // A 1x1 GIF whose one pixel is palette entry 0: red.
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xff, 0, 0, 0, 0, 0,
                       ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, ';'};
    SwfWriter g;
    g.tag(tag::DefineBitsJPEG2, ByteWriter().u16(1).bytes(gif).data()).showFrame();
    auto gb = parseBitmap(g);
    ASSERT_TRUE(gb);
    ASSERT_EQ(gb->image.size(), QSize(1, 1));
    EXPECT_EQ(pixel(*gb, 0, 0), qRgb(255, 0, 0));
}

struct BadBitmap {
    const char* name;
    uint16_t code;
    Bytes body;
    ErrorCode expected;
};

class BadBitmaps : public ::testing::TestWithParam<BadBitmap> {};

TEST_P(BadBitmaps, AreSkippedWithTheirError) {
    SwfWriter w;
    w.tag(GetParam().code, GetParam().body).showFrame();
    auto m = parseOk(w.bytes());
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->get<BitmapDef>(1));
    EXPECT_TRUE(hasWarning(*m, GetParam().expected, GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    All, BadBitmaps,
    ::testing::Values(
        BadBitmap{"HugeLossless", tag::DefineBitsLossless, ByteWriter().u16(1).u8(5).u16(60000).u16(60000).data(),
                  ErrorCode::LimitExceeded},
        BadBitmap{"TooManyPixels", tag::DefineBitsLossless2, ByteWriter().u16(1).u8(5).u16(8000).u16(8000).data(),
                  ErrorCode::LimitExceeded},
        BadBitmap{"UnknownFormat", tag::DefineBitsLossless, ByteWriter().u16(1).u8(9).u16(2).u16(2).data(),
                  ErrorCode::Malformed},
        BadBitmap{"NotZlib", tag::DefineBitsLossless, ByteWriter().u16(1).u8(5).u16(2).u16(2).u32(0x12345678).data(),
                  ErrorCode::Decompression},
        BadBitmap{"GarbageJpeg", tag::DefineBitsJPEG2, ByteWriter().u16(1).u32(0xE0FFD8FF).u32(7).data(),
                  ErrorCode::Malformed},
        BadBitmap{"AlphaOffsetLies", tag::DefineBitsJPEG3, ByteWriter().u16(1).u32(1000).u8(0xff).data(),
                  ErrorCode::Malformed},
        BadBitmap{"CutShort", tag::DefineBitsLossless, ByteWriter().u16(1).u8(5).data(), ErrorCode::Truncated}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace swf::test
