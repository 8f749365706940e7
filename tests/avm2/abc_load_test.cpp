// ABC blocks are refused with a clear message when any count, index or
// length is wrong: every prefix of a valid block and lying counts give an
// error, never a crash or a large allocation.
#include "engine/avm2/abc.h"
#include "engine/avm2/opcodes.h"
#include "tests/avm2/abc_builder.h"

#include <gtest/gtest.h>

namespace {

using namespace swf::avm2;

std::vector<uint8_t> validBlock() {
    avm2test::ScriptSpec spec;
    spec.strings = {"trace", "hello"};
    spec.code = {op::findpropstrict, 1, op::pushstring, 2, op::callpropvoid, 1, 1, op::returnvoid};
    return avm2test::buildAbc(spec);
}

TEST(AbcLoad, ValidBlockParses) {
    auto abc = parseAbc(validBlock());
    ASSERT_TRUE(abc.ok()) << abc.error().message;
    EXPECT_EQ((*abc)->strings.size(), 3u);
    EXPECT_EQ((*abc)->multinames[1].name, QStringLiteral("trace"));
    EXPECT_EQ((*abc)->scripts.size(), 1u);
    EXPECT_EQ((*abc)->methods[0].body, 0);
}

TEST(AbcLoad, EveryTruncationIsRefused) {
    auto block = validBlock();
    for (size_t n = 0; n < block.size(); ++n) {
        auto abc = parseAbc(std::span<const uint8_t>(block.data(), n));
        EXPECT_FALSE(abc.ok()) << "prefix of " << n << " bytes";
    }
}

TEST(AbcLoad, MalformedBlocksAreRefusedWithAReason) {
    struct Case { const char* what; size_t offset; std::vector<uint8_t> bytes; const char* message; };
    auto block = validBlock();
    const Case cases[] = {
        {"wrong major version", 2, {47, 0}, "Not an ABC file"},
        {"lying int pool count", 4, {0xFF, 0xFF, 0xFF, 0xFF, 0x03}, "count"},
    };
    for (const Case& c : cases) {
        auto bytes = block;
        bytes.erase(bytes.begin() + long(c.offset), bytes.begin() + long(c.offset + (c.offset == 4 ? 1 : 2)));
        bytes.insert(bytes.begin() + long(c.offset), c.bytes.begin(), c.bytes.end());
        auto abc = parseAbc(bytes);
        ASSERT_FALSE(abc.ok()) << c.what;
        EXPECT_NE(abc.error().message.find(c.message), std::string::npos) << c.what << ": " << abc.error().message;
    }
}

TEST(AbcLoad, SignedIntegersAreTheLow32BitsWithoutShortFormSignExtension) {
    struct Case { std::vector<uint8_t> bytes; int32_t value; };
    const Case cases[] = {
        {{0x00}, 0},
        {{0x40}, 64},
        {{0x64}, 100},
        {{0x7F}, 127},
        {{0xE4, 0x00}, 100},
        {{0xFF, 0x7F}, 16383},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x07}, 2147483647},
        {{0x80, 0x80, 0x80, 0x80, 0x08}, -2147483647 - 1},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, -1},
        {{0x9C, 0xFF, 0xFF, 0xFF, 0x0F}, -100},
    };
    for (const Case& c : cases) {
        // The valid block with a one-entry int pool in place of its empty one (byte 4).
        auto bytes = validBlock();
        bytes[4] = 2;
        bytes.insert(bytes.begin() + 5, c.bytes.begin(), c.bytes.end());
        auto abc = parseAbc(bytes);
        ASSERT_TRUE(abc.ok()) << abc.error().message;
        ASSERT_EQ((*abc)->ints.size(), 2u);
        EXPECT_EQ((*abc)->ints[1], c.value) << "first byte " << int(c.bytes[0]);
    }
}

TEST(AbcLoad, IndexesOutOfTheirPoolsAreRefused) {
    avm2test::Bytes b;
    b.u16(16).u16(46).u30(0).u30(0).u30(0).u30(0).u30(0).u30(0);
    b.u30(2).u8(0x07).u30(5).u30(0); // QName naming namespace 5 of none
    auto abc = parseAbc(b.data);
    ASSERT_FALSE(abc.ok());
    EXPECT_NE(abc.error().message.find("namespace index 5 out of range"), std::string::npos) << abc.error().message;
}

TEST(AbcLoad, DoAbcHeaderAndSymbolClass) {
    std::vector<uint8_t> tag = {1, 0, 0, 0, 'm', 0, 0x10, 0, 0x2E, 0};
    auto t = readDoAbc(tag, true);
    ASSERT_TRUE(t.ok());
    EXPECT_TRUE(t->lazy);
    EXPECT_EQ(t->name, QStringLiteral("m"));
    EXPECT_EQ(t->abc.size(), 4u);
    EXPECT_FALSE(readDoAbc(std::vector<uint8_t>{0, 0, 0, 0, 'x'}, true).ok()); // unterminated name

    std::vector<uint8_t> symbols = {2, 0, 0, 0, 'M', 'a', 'i', 'n', 0, 5, 0, 'a', '.', 'B', 0};
    auto list = readSymbolClass(symbols);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].first, 0);
    EXPECT_EQ(list[0].second, QStringLiteral("Main"));
    EXPECT_EQ(list[1].second, QStringLiteral("a.B"));
    EXPECT_TRUE(readSymbolClass(std::vector<uint8_t>{9, 0, 1, 0, 'x'}).empty()); // names run past the tag
}

} // namespace
