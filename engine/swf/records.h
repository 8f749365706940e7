#pragma once
// Readers for the small records shared by many tags (rectangles, colours,
// matrices, colour transforms) and the naming of tags in messages.
#include "engine/core/reader.h"
#include "engine/core/result.h"
#include "engine/swf/types.h"

#include <string>

namespace swf {

Rect readRect(Reader& r);
Rgba readRgb(Reader& r);
Rgba readRgba(Reader& r);
Rgba readArgb(Reader& r);
Matrix readMatrix(Reader& r);
// CXFORM (no alpha) and CXFORMWITHALPHA.
ColorTransform readColorTransform(Reader& r, bool withAlpha);

// "DefineShape2" for 22, "Tag 123" for unknown codes.
std::string tagName(uint16_t code);
// "DefineShape2 @0x1a4": the tag and the offset of its header in the movie.
std::string tagWhere(uint16_t code, uint64_t offset);

// Where a tag lies, for error messages, and its body as a reader.
struct TagContext {
    uint16_t code = 0;
    uint32_t offset = 0;              // of the tag header in the uncompressed movie
    std::span<const uint8_t> body;
    int swfVersion = 0;

    std::string where() const { return tagWhere(code, offset); }
    // An error of this tag: "DefineShape2 @0x1a4: <what>".
    Error error(ErrorCode code, const std::string& what) const;
    // The standard error for a body that ended before its records did.
    Error truncated(const std::string& what = "data ends inside the tag") const {
        return error(ErrorCode::Truncated, what);
    }
};

} // namespace swf
