#pragma once
// Helpers shared by the engine-format tests.
#include "engine/swf/parser.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

namespace swf::test {

// Parses bytes and fails the test when the movie is refused.
inline std::shared_ptr<const Movie> parseOk(const Bytes& bytes) {
    auto r = parseMovie(bytes, "test.swf");
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    return r.ok() ? *r : nullptr;
}

// Parses a movie made of `w`'s tags and returns the one character `id`.
template <typename T>
std::shared_ptr<const T> parseCharacter(const SwfWriter& w, uint16_t id) {
    auto movie = parseOk(w.bytes());
    if (!movie) return nullptr;
    for (const auto& warning : movie->warnings) ADD_FAILURE() << warning.message;
    auto c = movie->get<T>(id);
    EXPECT_TRUE(c) << "character " << id << " missing or of another kind";
    // Share ownership with the movie: spans in definitions point into its data.
    return c ? std::shared_ptr<const T>(movie, c.get()) : nullptr;
}

inline bool hasWarning(const Movie& m, ErrorCode code, int tagCode) {
    for (const auto& w : m.warnings)
        if (w.code == code && w.tagCode == tagCode) return true;
    return false;
}

} // namespace swf::test
