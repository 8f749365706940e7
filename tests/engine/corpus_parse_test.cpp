// Every movie of the conformance corpus parses without error.
#include "engine/swf/parser.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpusMovies() {
    std::vector<fs::path> out;
    fs::path root(SWIFTREEL_CORPUS_DIR);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (ec) break;
        if (it->path().extension() == ".swf") out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CorpusParse, EveryMovieParses) {
    auto movies = corpusMovies();
    if (movies.empty()) GTEST_SKIP() << "no corpus at " << SWIFTREEL_CORPUS_DIR;
    size_t withWarnings = 0;
    std::error_code ec;
    for (const auto& path : movies) {
        auto movie = swf::loadMovieFile(path.string());
        // A few tests load deliberately empty files to see the load fail.
        if (fs::file_size(path, ec) == 0) {
            EXPECT_FALSE(movie.ok()) << path;
            continue;
        }
        ASSERT_TRUE(movie.ok()) << path << ": " << movie.error().message;
        EXPECT_GT((*movie)->header.version, 0) << path;
        if (!(*movie)->warnings.empty()) {
            ++withWarnings;
            for (const auto& w : (*movie)->warnings)
                if (w.code != swf::ErrorCode::Unsupported && w.code != swf::ErrorCode::LimitExceeded)
                    ADD_FAILURE() << path << ": " << w.message;
        }
    }
    RecordProperty("movies", int(movies.size()));
}

} // namespace
