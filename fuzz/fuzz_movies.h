#pragma once
// What the fuzz targets share: movies made around a script, and one way of
// playing a movie so that the runtime, the scripts, input and drawing all run.
#include <cstdint>
#include <span>
#include <vector>

namespace swf {
class Player;
}

namespace fuzzing {

bool looksLikeMovie(std::span<const uint8_t> bytes);

// A one-frame movie (no stage size, 12 fps) of `version` whose frame runs
// `actions` (a DoAction body, End included).
std::vector<uint8_t> movieWithActions(uint8_t version, std::span<const uint8_t> actions);

// `movie` (FWS or CWS) with `actions` run in its first frame, uncompressed;
// empty when `movie` cannot take them.
std::vector<uint8_t> addFirstFrameActions(std::span<const uint8_t> movie, std::span<const uint8_t> actions);

// Plays a loaded movie for a few frames into a small image, with the mouse
// pressed and released over it and Tab, Enter and a letter typed in between.
void playBriefly(swf::Player& player);

} // namespace fuzzing
