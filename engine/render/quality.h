#pragma once
// Drawing quality, as the Flash player's quality setting: low draws without
// antialiasing or bitmap smoothing, medium antialiases, high and best also
// smooth bitmaps and use the finer filter passes.
#include <cstdint>

namespace swf::render {

enum class Quality : uint8_t { Low, Medium, High, Best };

} // namespace swf::render
