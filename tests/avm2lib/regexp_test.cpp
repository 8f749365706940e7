#include "engine/avm2/lib/regexp.h"
#include "engine/avm2/lib/unicode.h"

#include <gtest/gtest.h>

using namespace swf::avm2lib;

namespace {

RegExp compile(const char* pattern, const char* flags = "") {
    RegExpFlags f;
    EXPECT_TRUE(RegExpFlags::parse(ascii16(flags), f)) << flags;
    return RegExp::compile(ascii16(pattern), f);
}

// Spans as "start-end" per group, "-" for an undefined group; "none" when
// nothing matched.
std::string describe(const RegExpMatch& m) {
    if (m.status == MatchStatus::TooComplex) return "too complex";
    if (!m.matched()) return "none";
    std::string out;
    for (size_t g = 0; g < m.spans.size() / 2; ++g) {
        if (!out.empty()) out += ' ';
        out += m.defined(int(g)) ? std::to_string(m.start(int(g))) + "-" + std::to_string(m.end(int(g))) : "-";
    }
    return out;
}

struct Case {
    const char* pattern;
    const char* flags;
    const char* subject;
    const char* spans;
};

const Case kCases[] = {
    // Characters, classes, escapes.
    {"abc", "", "xxabcx", "2-5"},
    {"a.c", "", "a\nc abc", "4-7"},
    {"a.c", "s", "a\nc", "0-3"},
    {"[a-c]+", "", "xxbcaz", "2-5"},
    {"[^a-c]+", "", "abxyc", "2-4"},
    {"\\d+\\s\\w+", "", "ab 12 cd_9", "3-10"},
    {"[\\d-z]+", "", "a-9z", "1-4"},
    {"\\x41\\u0042\\cC\\0", "", "AB\x03", "none"},
    {"\\x41\\u0042\\t", "", "zAB\t", "1-4"},
    {"[\\b]", "", "a\bb", "1-2"},
    {"\\D\\W\\S", "", "1a! .x", "2-5"},
    {"a{2}", "", "aaa", "0-2"},
    {"a{2,}", "", "aaaa", "0-4"},
    {"a{1,2}?", "", "aaa", "0-1"},
    {"x{", "", "ax{", "1-3"},
    {"a{,2}", "", "a{,2}", "0-5"},
    // Case folding.
    {"ABC", "i", "xabc", "1-4"},
    {"[a-z]+", "i", "HeLLo!", "0-5"},
    {"[^a-z]", "i", "abcD1", "4-5"},
    {"\\u00e9", "i", "\xc3\x89", "0-1"},
    // Anchors and boundaries.
    {"^b", "", "a\nb", "none"},
    {"^b", "m", "a\nb", "2-3"},
    {"a$", "m", "a\nb", "0-1"},
    {"\\bfoo\\b", "", "afoo foo", "5-8"},
    {"\\Boo", "", "foo", "1-3"},
    // Alternation, groups and backtracking order.
    {"a|ab", "", "abc", "0-1"},
    {"((a)|(ab))((c)|(bc))", "", "abc", "0-3 0-1 0-1 - 1-3 - 1-3"},
    {"(z)((a+)?(b+)?(c))*", "", "zaacbbbcac", "0-10 0-1 8-10 8-9 - 9-10"},
    {"(a*)*", "", "b", "0-0 -"},
    {"(a*)b\\1+", "", "baaaac", "0-1 0-0"},
    {"(.*?)a(?!(a+)b\\2c)\\2(.*)", "", "baaabaac", "0-8 0-2 - 3-8"},
    {"(?=(a+))", "", "baaabac", "1-1 1-4"},
    {"(?=(a+))a*b\\1", "", "baaabac", "3-6 3-4"},
    {"(a)|b\\1", "", "b", "0-1 -"},
    {"(?:ab)+", "", "ababa", "0-4"},
    {"a[a-z]{2,4}", "", "abcdefghi", "0-5"},
    {"a[a-z]{2,4}?", "", "abcdefghi", "0-3"},
    {"(aa|aabaac|ba|b|c)*", "", "aabaac", "0-4 2-4"},
    {"(a)?(b)?\\2\\1c", "", "c", "0-1 - -"},
    {".+x", "", "abcxdefx", "0-8"},
    {".+?x", "", "abcxdefx", "0-4"},
    {"(\\w+)\\s+\\1", "i", "the The end", "0-7 0-3"},
    // Octal-looking escapes that name no group are characters.
    {"\\101", "", "A", "0-1"},
    {"(a)\\2", "", "a\x02", "0-2 0-1"},
    // AS3 extras: named groups, extended syntax.
    {"(?P<year>\\d{4})-(?P<m>\\d\\d)-(?P=m)", "", "on 2024-05-05", "3-13 3-7 8-10"},
    {"a b  # comment\n c", "x", "abc", "0-3"},
    {"[ ]b", "x", "a b", "1-3"},
    {"a # (\n\\1b", "x", "ab", "0-2"},
    // More of the matching rules.
    {"(a)\\1", "i", "aA", "0-2 0-1"},
    {"(?=a)*b", "", "b", "0-1"},
    {"(?:(?=(\\w))\\1)+", "", "ab!", "0-2 1-2"},
    {"[^]+", "", "a\nb", "0-3"},
    {"a[]", "", "a", "none"},
    {"\\2(a)(b)", "", "ab", "0-2 0-1 1-2"},
    {"(?!(a)b)\\w\\1", "", "abac", "1-2 -"},
    {"k", "i", "\xe2\x84\xaa", "none"},
    {"[\\u00e0-\\u00fe]+", "i", "x\xc3\x80\xc3\xa9Z", "1-3"},
    {"^.$", "", "\xf0\x9f\x98\x80", "none"},  // a surrogate pair is two code units
    {"^..$", "", "\xf0\x9f\x98\x80", "0-2"},
};

class RegExpCases : public ::testing::TestWithParam<Case> {};

TEST_P(RegExpCases, MatchesWithCaptures) {
    const Case& c = GetParam();
    const RegExp re = compile(c.pattern, c.flags);
    ASSERT_TRUE(re.valid()) << re.error().message;
    EXPECT_EQ(describe(re.execAt(utf8ToUtf16(c.subject), 0)), c.spans) << c.pattern << " on " << c.subject;
}

INSTANTIATE_TEST_SUITE_P(Table, RegExpCases, ::testing::ValuesIn(kCases));

TEST(RegExp, RefusesBrokenPatterns) {
    for (const char* bad : {"(", "a)", "[a", "*a", "a**", "+", "[z-a]", "a{3,2}", "\\", "(?<x>a)", "(?P<>a)",
                            "(?P=nope)"}) {
        const RegExp re = compile(bad);
        EXPECT_FALSE(re.valid()) << bad;
        EXPECT_FALSE(re.error().message.empty()) << bad;
    }
    RegExpFlags f;
    EXPECT_FALSE(RegExpFlags::parse(u"gg", f));
    EXPECT_FALSE(RegExpFlags::parse(u"q", f));
    EXPECT_TRUE(RegExpFlags::parse(u"gimsx", f));
    EXPECT_TRUE(f.global && f.ignoreCase && f.multiline && f.dotAll && f.extended);
}

TEST(RegExp, NamesGroups) {
    const RegExp re = compile("(?P<a>x)(y)(?P<b>z)");
    ASSERT_TRUE(re.valid());
    EXPECT_EQ(re.groupCount(), 3);
    EXPECT_EQ(re.groupName(1), u"a");
    EXPECT_EQ(re.groupName(2), u"");
    EXPECT_EQ(re.groupName(3), u"b");
}

TEST(RegExp, LastIndexRules) {
    const RegExp g = compile("o", "g");
    const std::u16string s = u"foo boo";
    double last = 0;
    std::vector<int> ends;
    for (int i = 0; i < 6; ++i) {
        if (!g.exec(s, last).matched()) { ends.push_back(-1); break; }
        ends.push_back(int(last));
    }
    EXPECT_EQ(ends, (std::vector<int>{2, 3, 6, 7, -1}));
    EXPECT_EQ(last, 0);
    last = 99; // past the end: no match, lastIndex back to 0
    EXPECT_FALSE(g.exec(s, last).matched());
    EXPECT_EQ(last, 0);
    const RegExp plain = compile("o");
    last = 5; // without g, lastIndex is neither read nor written
    EXPECT_EQ(describe(plain.exec(s, last)), "1-2");
    EXPECT_EQ(last, 5);
}

TEST(RegExp, HostileInputEndsAsTooComplex) {
    const std::u16string as(30, u'a');
    EXPECT_EQ(describe(compile("(a+)+b").execAt(as, 0)), "too complex");
    EXPECT_EQ(describe(compile("(a|a)*c").execAt(as, 0, 100000)), "too complex");
    // A long subject with a simple greedy run stays within the stack caps.
    const std::u16string big(1 << 20, u'x');
    EXPECT_EQ(describe(compile("x*?y|x*$").execAt(big, 0)), "0-" + std::to_string(big.size()));
    // Deep nesting and oversized patterns are refused, not recursed into.
    EXPECT_FALSE(compile(std::string(5000, '(').append(5000, ')').c_str()).valid());
    EXPECT_FALSE(RegExp::compile(std::u16string(1 << 17, u'a'), {}).valid());
}

TEST(RegExp, ExpandsReplacementPatterns) {
    const RegExp re = compile("(b)(c)?");
    const std::u16string s = u"abd";
    const RegExpMatch m = re.execAt(s, 0);
    struct { const char16_t* rep; const char16_t* out; } cases[] = {
        {u"[$&]", u"[b]"}, {u"$`|$'", u"a|d"}, {u"$$1", u"$1"}, {u"$1$2.", u"b."}, {u"$01x", u"bx"},
        {u"$10", u"b0"}, {u"$3$0$", u"$3$0$"},
    };
    for (const auto& c : cases) EXPECT_EQ(expandReplacement(c.rep, s, m), c.out);
}

} // namespace
