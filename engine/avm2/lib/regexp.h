#pragma once
// ActionScript 3 regular expressions: ECMAScript 3 patterns and matching,
// with AS3's flags g i m s x and named groups (?P<name>...). Subjects are
// UTF-16 code units, as AS3 strings are. Matching runs on an explicit
// backtrack stack under a step budget, so a hostile pattern ends with
// MatchStatus::TooComplex instead of hanging or overflowing the stack.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace swf::avm2lib {

struct RegExpFlags {
    bool global = false;     // g
    bool ignoreCase = false; // i
    bool multiline = false;  // m: ^ and $ also match at line breaks
    bool dotAll = false;     // s: . also matches line breaks
    bool extended = false;   // x: blanks and # comments in the pattern are ignored

    // Reads "gimsx" letters; false on an unknown or repeated letter.
    static bool parse(std::u16string_view letters, RegExpFlags& out);
};

struct RegExpError {
    std::string message; // empty when compiling succeeded
    int offset = -1;     // code unit of the pattern where it went wrong
};

enum class MatchStatus { NoMatch, Match, TooComplex };

struct RegExpMatch {
    MatchStatus status = MatchStatus::NoMatch;
    // Start and end of the whole match (pair 0) and of each group; -1 for a
    // group that took no part in the match.
    std::vector<int> spans;

    bool matched() const { return status == MatchStatus::Match; }
    int start(int group = 0) const { return spans[size_t(group) * 2]; }
    int end(int group = 0) const { return spans[size_t(group) * 2 + 1]; }
    bool defined(int group) const { return spans[size_t(group) * 2] >= 0; }
};

class RegExpProgram;

class RegExp {
public:
    // Compiles `source`; on failure the result is invalid and error() says why.
    static RegExp compile(std::u16string_view source, RegExpFlags flags);

    RegExp();
    ~RegExp();
    RegExp(RegExp&&) noexcept;
    RegExp& operator=(RegExp&&) noexcept;

    bool valid() const { return m_program != nullptr; }
    const RegExpError& error() const { return m_error; }
    const RegExpFlags& flags() const { return m_flags; }
    const std::u16string& source() const { return m_source; }
    int groupCount() const; // capturing groups, not counting the whole match
    // Name of group `index` (1-based) or empty when it has none.
    const std::u16string& groupName(int index) const;

    // Tries positions from `start` on and returns the first match. The step
    // budget bounds the work of the whole call.
    RegExpMatch execAt(std::u16string_view subject, int start, uint64_t stepBudget = kDefaultStepBudget) const;
    // RegExp.prototype.exec's lastIndex rules: without g the search starts at
    // 0 and lastIndex is untouched; with g it starts at lastIndex, which is
    // then set to the end of the match, or to 0 when nothing matches.
    RegExpMatch exec(std::u16string_view subject, double& lastIndex, uint64_t stepBudget = kDefaultStepBudget) const;

    static constexpr uint64_t kDefaultStepBudget = 20'000'000;

private:
    std::unique_ptr<RegExpProgram> m_program;
    RegExpError m_error;
    RegExpFlags m_flags;
    std::u16string m_source;
};

// String.prototype.replace's replacement patterns: $& the match, $` before
// it, $' after it, $$ a dollar, $n and $nn a group (two digits when that
// group exists). Other dollars stay as written.
std::u16string expandReplacement(std::u16string_view replacement, std::u16string_view subject, const RegExpMatch& match);

} // namespace swf::avm2lib
