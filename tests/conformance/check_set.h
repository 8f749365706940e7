// The self-check third of each corpus set. A test belongs to it by a hash of
// its group (its name without a version suffix such as "-6", "_swf7" or
// "_v8"), so every version variant of one source test lands on the same side.
// The runner keeps no diffs for these tests: their pass rate is a guard
// against fitting the engine to the cases whose diffs are read.
#pragma once

#include <cstdint>
#include <regex>
#include <string>

namespace conformance {

inline std::string testGroup(const std::string& name) {
    static const std::regex suffix(R"(([-_](swf|v)?\d{1,2})$)", std::regex::icase);
    return std::regex_replace(name, suffix, "");
}

inline bool inCheckSet(const std::string& name) {
    uint32_t h = 2166136261u; // FNV-1a
    for (unsigned char c : testGroup(name)) h = (h ^ c) * 16777619u;
    return h % 3 == 0;
}

// The name a result line prints: a self-check test that fails is not named,
// so its failures cannot steer the work toward it.
inline std::string shownName(const std::string& name, bool passed) {
    return passed || !inCheckSet(name) ? name : std::string("(a self-check test)");
}

} // namespace conformance
