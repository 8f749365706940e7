// Blend modes on premultiplied pixels, one table of source, destination
// and result per rule.
#include "engine/render/blend.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace swf;
using namespace swf::render;

namespace {

struct BlendCase {
    const char* name;
    BlendMode mode;
    uint32_t src, dst, result; // premultiplied ARGB
};

class Blend : public ::testing::TestWithParam<BlendCase> {};

TEST_P(Blend, MixesPremultipliedPixels) {
    const BlendCase& c = GetParam();
    const uint32_t got = blendPixel(c.src, c.dst, c.mode);
    for (int shift : {24, 16, 8, 0})
        EXPECT_LE(std::abs(int(got >> shift & 0xff) - int(c.result >> shift & 0xff)), 1)
            << c.name << ": got " << std::hex << got << ", want " << c.result;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Blend,
    ::testing::Values(BlendCase{"normal", BlendMode::Normal, 0x80800000, 0xff0000ff, 0xff80007f},
                      BlendCase{"add holds at 0xFF", BlendMode::Add, 0xffaaa633, 0xffdd2200, 0xffffc833},
                      BlendCase{"add of a half-covering source", BlendMode::Add, 0x80400000, 0xff800000, 0xffc00000},
                      BlendCase{"subtract holds at 0", BlendMode::Subtract, 0xff202080, 0xff804010, 0xff602000},
                      BlendCase{"multiply", BlendMode::Multiply, 0xff808080, 0xff40ff00, 0xff208000},
                      BlendCase{"multiply over nothing", BlendMode::Multiply, 0xff808080, 0x00000000, 0xff808080},
                      BlendCase{"screen", BlendMode::Screen, 0xff808080, 0xff800000, 0xffc08080},
                      BlendCase{"lighten", BlendMode::Lighten, 0xff808080, 0xffff4000, 0xffff8080},
                      BlendCase{"darken", BlendMode::Darken, 0xff808080, 0xffff4000, 0xff804000},
                      BlendCase{"difference", BlendMode::Difference, 0xff808080, 0xffff4000, 0xff7f4080},
                      BlendCase{"overlay on dark and light", BlendMode::Overlay, 0xff808080, 0xff40c000, 0xff40c000},
                      BlendCase{"hardlight by the source", BlendMode::Hardlight, 0xff40c000, 0xff808080, 0xff40c000},
                      BlendCase{"invert", BlendMode::Invert, 0xff123456, 0xff204060, 0xffdfbf9f},
                      BlendCase{"invert over nothing is white", BlendMode::Invert, 0x80000000, 0x00000000, 0x80808080},
                      BlendCase{"alpha keeps what the layer covers", BlendMode::Alpha, 0x80000000, 0xff00ff00, 0x80008000},
                      BlendCase{"erase cuts what the layer covers", BlendMode::Erase, 0xc0000000, 0xff00ff00, 0x3f003f00}));

TEST(Blend, AlphaAndEraseNeedALayerBelow) {
    QImage stage(4, 4, QImage::Format_RGB32);
    stage.fill(0xff00ff00);
    QImage layer(2, 2, QImage::Format_ARGB32_Premultiplied);
    layer.fill(0xff000000);
    for (BlendMode mode : {BlendMode::Alpha, BlendMode::Erase}) {
        blendLayer(stage, layer, {1, 1}, mode, false);
        EXPECT_EQ(stage.pixel(1, 1), 0xff00ff00u);
    }
    // On a layer, alpha clears everything the layer does not cover.
    QImage below(4, 4, QImage::Format_ARGB32_Premultiplied);
    below.fill(0xff00ff00);
    blendLayer(below, layer, {1, 1}, BlendMode::Alpha, true);
    EXPECT_EQ(below.pixel(1, 1), 0xff00ff00u);
    EXPECT_EQ(below.pixel(0, 0), 0u);
    EXPECT_EQ(below.pixel(3, 2), 0u);
}

TEST(Blend, OnTheStageTheResultStaysOpaque) {
    QImage stage(2, 1, QImage::Format_RGB32);
    stage.fill(0xff808080);
    QImage layer(2, 1, QImage::Format_ARGB32_Premultiplied);
    layer.fill(0x80000000);
    blendLayer(stage, layer, {0, 0}, BlendMode::Subtract, false);
    EXPECT_EQ(stage.pixel(0, 0) >> 24, 0xffu);
}

} // namespace
