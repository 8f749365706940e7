#pragma once
// Decoding of the display-list control tags (PlaceObject 1-3, RemoveObject
// 1-2). The timeline keeps these tags raw; the runtime decodes each one when
// its frame runs.
#include "engine/swf/movie.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace swf {

// Clip event bits of a clip action (SWF 6+ layout; SWF 5's 16-bit flags are
// widened to the same bits).
namespace clip_event {
enum : uint32_t {
    KeyUp = 1u << 31, KeyDown = 1u << 30, MouseUp = 1u << 29, MouseDown = 1u << 28,
    MouseMove = 1u << 27, Unload = 1u << 26, EnterFrame = 1u << 25, Load = 1u << 24,
    DragOver = 1u << 23, RollOut = 1u << 22, RollOver = 1u << 21, ReleaseOutside = 1u << 20,
    Release = 1u << 19, Press = 1u << 18, Initialize = 1u << 17, Data = 1u << 16,
    Construct = 1u << 10, KeyPress = 1u << 9, DragOut = 1u << 8,
};
}

struct ClipAction {
    uint32_t events = 0;              // clip_event bits
    uint8_t keyCode = 0;              // with KeyPress
    std::span<const uint8_t> actions; // raw action bytes, into Movie::data
};

struct PlaceObject {
    int version = 1;                  // PlaceObject, PlaceObject2 or PlaceObject3
    uint16_t depth = 0;
    // PlaceObject2/3: true = modify the object at `depth` (with characterId:
    // replace its character); false = place a new object.
    bool move = false;
    std::optional<uint16_t> characterId;
    std::optional<Matrix> matrix;
    std::optional<ColorTransform> colorTransform;
    std::optional<uint16_t> ratio;    // morph ratio 0..65535, or the clip's ratio
    std::optional<std::string> name;
    std::optional<uint16_t> clipDepth; // masks the depths above up to this one
    uint32_t allClipEvents = 0;
    std::vector<ClipAction> clipActions;
    // The FILTERLIST as stored (count byte first); empty when absent.
    std::optional<std::span<const uint8_t>> filterBytes;
    std::optional<BlendMode> blendMode;
    std::optional<bool> cacheAsBitmap;
    std::optional<bool> visible;
    std::optional<Rgba> backgroundColor; // opaque background of a cached bitmap
    std::optional<std::string> className;
    bool hasImage = false;
};

struct RemoveObject {
    uint16_t depth = 0;
    std::optional<uint16_t> characterId; // RemoveObject (version 1) names the character too
};

// `tag.body` must point into a live Movie::data (clip action spans point there).
Result<PlaceObject> parsePlaceObject(const ControlTag& tag, int swfVersion);
Result<RemoveObject> parseRemoveObject(const ControlTag& tag);

// Blend mode byte of PlaceObject3 and button records (0 and 1 are Normal).
BlendMode blendModeFrom(uint8_t v);

} // namespace swf
