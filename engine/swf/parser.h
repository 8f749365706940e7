#pragma once
// Turns the bytes of a SWF file into an immutable Movie: header, dictionary
// and timelines. Broken tags are skipped with a warning (in Movie::warnings
// and through `log`); only a movie without a usable header is an error.
#include "engine/core/log.h"
#include "engine/core/result.h"
#include "engine/swf/movie.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace swf {

Result<std::shared_ptr<const Movie>> parseMovie(std::vector<uint8_t> fileBytes, std::string url,
                                                LogFn log = {});

// Reads a local file (at most limits::kMaxFileBytes) and parses it; the
// movie's url is the path.
Result<std::shared_ptr<const Movie>> loadMovieFile(const std::string& path, LogFn log = {});

} // namespace swf
