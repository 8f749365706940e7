// PlaceObject 1-3 and RemoveObject 1-2 decoding.
#include "tests/engine/test_util.h"

#include "engine/swf/place_object.h"

namespace swf::test {
namespace {

// The movie and its first frame's control tags, kept alive together.
struct Parsed {
    std::shared_ptr<const Movie> movie;
    const ControlTag& tag(size_t i) const { return movie->timeline.frames.at(0).tags.at(i); }
};

Parsed parseFrame(const SwfWriter& w) { return Parsed{parseOk(w.bytes())}; }

const Matrix kMatrix{1.5, 0.25, -0.25, 0.75, 200, -40};
const ColorTransform kCx{0.5, 1, 1, 0.25, 10, -20, 0, 0};

TEST(PlaceObject, Version1WithAndWithoutColorTransform) {
    SwfWriter w;
    w.placeObject(3, 7, kMatrix).placeObject(4, 8, Matrix{}, ColorTransform{1, 0.5, 1, 1, 0, 0, 30, 0}).showFrame();
    auto p = parseFrame(w);
    ASSERT_TRUE(p.movie);
    auto a = parsePlaceObject(p.tag(0), 10);
    ASSERT_TRUE(a.ok()) << a.error().message;
    EXPECT_EQ(a->version, 1);
    EXPECT_EQ(a->characterId, 3);
    EXPECT_EQ(a->depth, 7);
    EXPECT_EQ(a->matrix, kMatrix);
    EXPECT_FALSE(a->colorTransform);
    auto b = parsePlaceObject(p.tag(1), 10);
    ASSERT_TRUE(b.ok());
    ASSERT_TRUE(b->colorTransform);
    EXPECT_EQ(*b->colorTransform, (ColorTransform{1, 0.5, 1, 1, 0, 0, 30, 0}));
}

struct PlaceCase {
    const char* name;
    Place place;
    bool v3;
};

class PlaceObjectVariants : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceObjectVariants, FieldsRoundTrip) {
    const Place& in = GetParam().place;
    SwfWriter w(8);
    GetParam().v3 ? w.placeObject3(in) : w.placeObject2(in);
    w.showFrame();
    auto p = parseFrame(w);
    ASSERT_TRUE(p.movie);
    auto po = parsePlaceObject(p.tag(0), 8);
    ASSERT_TRUE(po.ok()) << po.error().message;
    EXPECT_EQ(po->version, GetParam().v3 ? 3 : 2);
    EXPECT_EQ(po->depth, in.depth);
    EXPECT_EQ(po->move, in.move);
    EXPECT_EQ(po->characterId, in.characterId);
    EXPECT_EQ(po->matrix, in.matrix);
    EXPECT_EQ(po->colorTransform, in.colorTransform);
    EXPECT_EQ(po->ratio, in.ratio);
    EXPECT_EQ(po->name, in.name);
    EXPECT_EQ(po->clipDepth, in.clipDepth);
    EXPECT_EQ(po->blendMode, in.blendMode);
    EXPECT_EQ(po->cacheAsBitmap, in.cacheAsBitmap);
    EXPECT_EQ(po->visible, in.visible);
    EXPECT_EQ(po->backgroundColor, in.backgroundColor);
    EXPECT_EQ(po->className, in.className);
    EXPECT_EQ(po->filterBytes.has_value(), in.filterList.has_value());
    if (in.filterList && po->filterBytes) {
        EXPECT_EQ(Bytes(po->filterBytes->begin(), po->filterBytes->end()), *in.filterList);
    }
    ASSERT_EQ(po->clipActions.size(), in.clipActions.size());
    for (size_t i = 0; i < in.clipActions.size(); ++i) {
        EXPECT_EQ(po->clipActions[i].events, in.clipActions[i].first);
        Bytes expected = in.clipActions[i].second;
        if (in.clipActions[i].first & clip_event::KeyPress) {
            EXPECT_EQ(po->clipActions[i].keyCode, expected[0]);
            expected.erase(expected.begin());
        }
        EXPECT_EQ(Bytes(po->clipActions[i].actions.begin(), po->clipActions[i].actions.end()), expected);
    }
}

Bytes dropShadowAndBlur() {
    ByteWriter w;
    w.u8(2);
    w.u8(0).rgba({0, 0, 0, 255}).u32(0x40000).u32(0x40000).u32(0).u32(0x40000).u16(0x100).u8(0x80);
    w.u8(1).u32(0x50000).u32(0x50000).u8(0x08);
    return w.data();
}

INSTANTIATE_TEST_SUITE_P(
    All, PlaceObjectVariants,
    ::testing::Values(
        PlaceCase{"Place2Character", Place{.depth = 5, .characterId = 9}, false},
        PlaceCase{"Place2Move", Place{.depth = 5, .move = true, .matrix = kMatrix}, false},
        PlaceCase{"Place2Replace", Place{.depth = 5, .move = true, .characterId = 2, .ratio = 65535}, false},
        PlaceCase{"Place2All", Place{.depth = 300, .characterId = 1, .matrix = kMatrix, .colorTransform = kCx,
                                     .ratio = 1234, .name = "clip_1", .clipDepth = 310}, false},
        PlaceCase{"Place2ClipActions",
                  Place{.depth = 1, .characterId = 1,
                        .clipActions = {{clip_event::EnterFrame | clip_event::Load, {0x96, 0x00, 0x00}},
                                        {clip_event::KeyPress, {65, 0x07}}}}, false},
        PlaceCase{"Place3Blend", Place{.depth = 2, .characterId = 3, .blendMode = BlendMode::Multiply}, true},
        PlaceCase{"Place3CacheVisibleBackground",
                  Place{.depth = 2, .characterId = 3, .cacheAsBitmap = true, .visible = false,
                        .backgroundColor = Rgba{1, 2, 3, 4}}, true},
        PlaceCase{"Place3ClassName", Place{.depth = 2, .characterId = 3, .className = "my.Clip"}, true},
        PlaceCase{"Place3Filters", Place{.depth = 2, .move = true, .filterList = dropShadowAndBlur()}, true},
        PlaceCase{"Place3Everything",
                  Place{.depth = 4, .characterId = 8, .matrix = kMatrix, .colorTransform = kCx, .ratio = 7,
                        .name = "n", .clipDepth = 9, .filterList = dropShadowAndBlur(),
                        .blendMode = BlendMode::Hardlight, .cacheAsBitmap = false, .visible = true,
                        .clipActions = {{clip_event::MouseDown, {0x07}}}}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlaceObject, Swf5ClipActionsUseSixteenBitFlags) {
    SwfWriter w(5);
    w.placeObject2(Place{.depth = 1, .characterId = 1, .clipActions = {{clip_event::Load, {0x07}}}}).showFrame();
    auto p = parseFrame(w);
    auto po = parsePlaceObject(p.tag(0), 5);
    ASSERT_TRUE(po.ok()) << po.error().message;
    ASSERT_EQ(po->clipActions.size(), 1u);
    EXPECT_EQ(po->clipActions[0].events, uint32_t(clip_event::Load));
    EXPECT_EQ(po->allClipEvents, uint32_t(clip_event::Load));
}

TEST(PlaceObject, BrokenTagsGiveTheirError) {
    SwfWriter w(8);
    w.tag(tag::PlaceObject2, {0x02, 0x01}); // has character, depth cut short
    Bytes lying = ByteWriter().u8(0x82).u16(1).u16(1).u16(0).u32(1).u32(1).u32(0x7fffffff).data();
    w.tag(tag::PlaceObject2, lying); // a clip action claiming 2 GB
    w.tag(tag::RemoveObject, {1});
    w.showFrame();
    auto p = parseFrame(w);
    auto a = parsePlaceObject(p.tag(0), 8);
    ASSERT_FALSE(a.ok());
    EXPECT_EQ(a.error().code, ErrorCode::Truncated);
    EXPECT_EQ(a.error().tagCode, tag::PlaceObject2);
    EXPECT_EQ(a.error().offset, int64_t(p.tag(0).offset));
    auto b = parsePlaceObject(p.tag(1), 8);
    ASSERT_FALSE(b.ok());
    EXPECT_EQ(b.error().code, ErrorCode::Malformed);
    auto c = parseRemoveObject(p.tag(2));
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error().code, ErrorCode::Truncated);
}

TEST(RemoveObject, BothVersions) {
    SwfWriter w;
    w.removeObject(12, 3).removeObject2(40).showFrame();
    auto p = parseFrame(w);
    auto a = parseRemoveObject(p.tag(0));
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a->characterId, 12);
    EXPECT_EQ(a->depth, 3);
    auto b = parseRemoveObject(p.tag(1));
    ASSERT_TRUE(b.ok());
    EXPECT_FALSE(b->characterId);
    EXPECT_EQ(b->depth, 40);
}

} // namespace
} // namespace swf::test
