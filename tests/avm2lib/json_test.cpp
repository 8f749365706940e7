#include "engine/avm2/lib/json.h"
#include "engine/avm2/lib/unicode.h"

#include <gtest/gtest.h>

using namespace swf::avm2lib;
using namespace swf::avm2lib::json;

namespace {

std::string roundTrip(const char* text, const std::u16string& gap = {}) {
    const ParseResult r = parse(utf8ToUtf16(text));
    if (!r.value) return "error " + std::to_string(r.errorId);
    const StringifyResult s = stringify(*r.value, gap);
    return s.text ? utf16ToUtf8(*s.text) : "undefined";
}

TEST(Json, ParsesAndStringifies) {
    const struct { const char* in; const char* out; } cases[] = {
        {" {\"a\" : [1, -2.5e3, true, false, null], \"b\":{}} ", "{\"a\":[1,-2500,true,false,null],\"b\":{}}"},
        {"\"\\u0041\\n\\\"\\/\\t\"", "\"A\\n\\\"/\\t\""},
        {"\"\\u0001\\u001f\"", "\"\\u0001\\u001f\""},
        {"{\"k\":1,\"k\":2}", "{\"k\":2}"},
        {"[0.1, 1e400, -0]", "[0.1,null,0]"},
        {"[]", "[]"},
        {"0", "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(roundTrip(c.in), c.out) << c.in;
    EXPECT_EQ(roundTrip("{\"a\":[1,{\"b\":2}],\"c\":[]}", u"  "),
              "{\n  \"a\": [\n    1,\n    {\n      \"b\": 2\n    }\n  ],\n  \"c\": []\n}");
    EXPECT_EQ(roundTrip("[1,[2]]", u"\t"), "[\n\t1,\n\t[\n\t\t2\n\t]\n]");
}

TEST(Json, RefusesBadInputAsFlashDoes) {
    for (const char* bad : {"", " ", "{", "[1,]", "{\"a\":1,}", "{'a':1}", "01", "1.", ".5", "+1", "-", "1e", "tru",
                            "nul", "\"abc", "\"\\x\"", "\"\\u12\"", "\"tab\there\"", "[1] 2", "{a:1}", "NaN", "undefined"}) {
        const ParseResult r = parse(utf8ToUtf16(bad));
        EXPECT_FALSE(r.value) << bad;
        EXPECT_EQ(r.errorId, kParseErrorId) << bad;
    }
    std::string deep(5000, '[');
    deep.append(5000, ']');
    EXPECT_EQ(parse(utf8ToUtf16(deep)).errorId, kParseErrorId);
}

TEST(Json, ReviverWalksChildrenFirst) {
    std::vector<std::string> order;
    const ParseResult r = parse(u"{\"a\":1,\"b\":[2,3],\"drop\":4}", [&](const Value& holder, const std::u16string& key, Value v) {
        order.push_back(utf16ToUtf8(key));
        if (key == u"drop") return Value{Kind::Undefined};
        if (v.kind == Kind::Number && holder.kind == Kind::Array) v.number *= 10;
        return v;
    });
    ASSERT_TRUE(r.value);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "0", "1", "b", "drop", ""}));
    EXPECT_EQ(utf16ToUtf8(*stringify(*r.value, {}).text), "{\"a\":1,\"b\":[20,30]}");
}

// A host with a cycle: object 1 holds itself under "me".
class CyclicHost final : public StringifyHost {
public:
    Handle resolve(Handle holder, const std::u16string& key) override { return holder == 0 || key == u"me" ? 1 : 2; }
    Kind kind(Handle v) override { return v == 1 ? Kind::Object : Kind::Undefined; }
    bool boolean(Handle) override { return false; }
    double number(Handle) override { return 0; }
    std::u16string string(Handle) override { return {}; }
    uint32_t length(Handle) override { return 0; }
    std::vector<std::u16string> keys(Handle) override { return {u"fn", u"me"}; }
};

TEST(Json, StringifyRules) {
    CyclicHost host;
    const StringifyResult r = stringify(host, 0, u"", {});
    EXPECT_FALSE(r.text);
    EXPECT_EQ(r.errorId, kCycleErrorId);
    // Undefined members are left out, undefined elements are null.
    Value obj{Kind::Object};
    obj.members = {{u"u", Value{Kind::Undefined}}, {u"n", Value{Kind::Null}}};
    Value arr{Kind::Array};
    arr.items = {Value{Kind::Undefined}, obj};
    EXPECT_EQ(utf16ToUtf8(*stringify(arr, {}).text), "[null,{\"n\":null}]");
    EXPECT_FALSE(stringify(Value{Kind::Undefined}, {}).text);
    EXPECT_EQ(gapFromNumber(3), u"   ");
    EXPECT_EQ(gapFromNumber(25).size(), 10u);
    EXPECT_EQ(gapFromNumber(0.5), u"");
    EXPECT_EQ(gapFromString(u"abcdefghijkl"), u"abcdefghij");
}

} // namespace
