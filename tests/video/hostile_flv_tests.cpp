// Hostile FLV files: cut short, lying about sizes, claiming huge pictures,
// switching codecs mid-stream. Each plays what it can and ends cleanly.
#include "engine/sound/decoders.h"
#include "engine/video/amf0.h"
#include "engine/video/flv_reader.h"
#include "engine/video/video_decoder.h"
#include "tests/video/video_fixtures.h"

#include <gtest/gtest.h>

using namespace videotest;
using swf::video::FlvReader;

namespace {

// Reads every tag and decodes every packet as a NetStream would; returns
// the pictures decoded.
size_t decodeAll(std::span<const uint8_t> flv, bool complete) {
    FlvReader reader;
    swf::video::FlvTag tag;
    std::unique_ptr<swf::video::VideoDecoder> video;
    size_t pictures = 0;
    while (reader.next(flv, complete, tag) == FlvReader::Status::Tag) {
        if (tag.type == swf::video::FlvTagType::Video) {
            auto v = swf::video::splitVideoTag(tag.body);
            if (!v || !swf::video::knownVideoCodec(v->codec)) continue;
            if (!video || uint8_t(video->codec()) != v->codec)
                video = std::make_unique<swf::video::VideoDecoder>(swf::video::VideoCodec(v->codec), nullptr);
            pictures += !video->decode(v->packet).isNull();
        } else if (tag.type == swf::video::FlvTagType::Script) {
            (void)swf::video::readScriptTag(tag.body);
        }
    }
    return pictures;
}

TEST(HostileFlv, EveryPrefixReadsTheWholeTagsBeforeTheCut) {
    const auto flv = encodePattern("prefix", "-c:v flv -g 3", 6);
    ASSERT_FALSE(flv.empty());
    const size_t whole = decodeAll(flv, true);
    EXPECT_EQ(whole, 6u);
    size_t last = 0;
    for (size_t cut = 0; cut <= flv.size(); cut += 37) {
        const size_t got = decodeAll(std::span(flv).first(cut), true);
        EXPECT_GE(got, last) << "cut at " << cut;
        EXPECT_LE(got, whole);
        last = got;
    }
}

// A reader waiting for more data neither skips nor repeats a tag.
TEST(HostileFlv, ProgressiveReadingGivesEachTagOnce) {
    const auto flv = encodePattern("progressive", "-c:v flashsv", 4);
    ASSERT_FALSE(flv.empty());
    FlvReader reader;
    swf::video::FlvTag tag;
    std::vector<uint64_t> offsets;
    for (size_t have = 0; have <= flv.size(); have += 101) {
        while (reader.next(std::span(flv).first(have), false, tag) == FlvReader::Status::Tag) offsets.push_back(tag.offset);
    }
    while (reader.next(flv, true, tag) == FlvReader::Status::Tag) offsets.push_back(tag.offset);
    FlvReader whole;
    std::vector<uint64_t> expected;
    while (whole.next(flv, true, tag) == FlvReader::Status::Tag) expected.push_back(tag.offset);
    EXPECT_EQ(offsets, expected);
}

struct Damage {
    const char* name;
    void (*apply)(std::vector<uint8_t>& flv, size_t secondTag);
    FlvReader::Status ends;   // how reading the damaged file ends
    size_t tagsBefore;        // whole tags still read
};

const Damage kDamage[] = {
    // The second tag claims 16 MB the file does not hold: it ends there.
    {"HugeTagSize", [](std::vector<uint8_t>& f, size_t t) { f[t + 1] = 0xFF; f[t + 2] = 0xFF; f[t + 3] = 0xFF; },
     FlvReader::Status::End, 1},
    // Claims a little more than the file holds: a truncated file.
    {"SizePastTheEnd", [](std::vector<uint8_t>& f, size_t t) { f[t + 1] = 0x7F; }, FlvReader::Status::End, 1},
    {"NotAnFlv", [](std::vector<uint8_t>& f, size_t) { f[0] = 'X'; }, FlvReader::Status::Broken, 0},
    {"HeaderSizeTooSmall", [](std::vector<uint8_t>& f, size_t) { f[8] = 3; }, FlvReader::Status::Broken, 0},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class DamagedFlv : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedFlv, EndsCleanlyAfterTheGoodTags) {
    auto flv = encodePattern(std::string("damaged") + GetParam().name, "-c:v flv", 4);
    ASSERT_GT(flv.size(), 40u);
    FlvReader reader;
    swf::video::FlvTag tag;
    ASSERT_EQ(reader.next(flv, true, tag), FlvReader::Status::Tag);
    const size_t second = size_t(tag.offset + 11 + tag.body.size() + 4);
    GetParam().apply(flv, second);
    FlvReader damaged;
    size_t tags = 0;
    FlvReader::Status st;
    while ((st = damaged.next(flv, true, tag)) == FlvReader::Status::Tag) ++tags;
    EXPECT_EQ(st, GetParam().ends);
    EXPECT_EQ(tags, GetParam().tagsBefore);
    (void)decodeAll(flv, true); // and decoding what is left never crashes
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedFlv, ::testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.name); });

// A Sorenson picture header asking for 5000 x 5000 pixels: refused, no picture.
TEST(HostileFlv, HugePictureSizeIsRefused) {
    const auto packet = hugeH263KeyFrame();
    ASSERT_TRUE(swf::video::isKeyFrame(swf::video::VideoCodec::SorensonH263, packet));
    swf::video::VideoDecoder decoder(swf::video::VideoCodec::SorensonH263, nullptr);
    EXPECT_TRUE(decoder.decode(packet).isNull());
    EXPECT_TRUE(decoder.decode(std::vector<uint8_t>(3, 0xFF)).isNull()); // and garbage after it
}

// A file whose video changes codec half way: both parts give pictures.
TEST(HostileFlv, CodecSwitchMidStreamStartsANewDecoder) {
    auto first = encodePattern("switchA", "-c:v flv", 3);
    auto second = encodePattern("switchB", "-c:v flashsv", 3);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    // The second file's tags follow the first file's (its 13-byte header dropped).
    first.insert(first.end(), second.begin() + 13, second.end());
    EXPECT_EQ(decodeAll(first, true), 6u);
}

TEST(HostileFlv, ScriptTagsWithBrokenValuesKeepTheirName) {
    // "onCuePoint", then an object whose member is cut short.
    std::vector<uint8_t> body = {2, 0, 10};
    for (char c : std::string("onCuePoint")) body.push_back(uint8_t(c));
    body.insert(body.end(), {3, 0, 4, 'n', 'a', 'm', 'e', 2, 0, 50, 'x'});
    auto call = swf::video::readScriptTag(body);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->name, "onCuePoint");
    // Deep nesting stops at the limit instead of recursing without end.
    std::vector<uint8_t> deep = {2, 0, 1, 'a'};
    for (int i = 0; i < 100000; ++i) deep.push_back(10), deep.insert(deep.end(), {0, 0, 0, 1});
    EXPECT_TRUE(swf::video::readScriptTag(deep));
}

} // namespace
