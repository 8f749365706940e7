#pragma once
// Parsers of the definition tags other than shapes, used by the movie
// parser. Each reads one tag body and returns the definition or the tag's
// error.
#include "engine/swf/movie.h"
#include "engine/swf/records.h"

#include <memory>
#include <optional>

namespace swf {

// DefineBits (with the movie's JPEGTables), DefineBitsJPEG2/3/4.
Result<std::shared_ptr<BitmapDef>> parseDefineBitsJpeg(const TagContext& t,
                                                       std::span<const uint8_t> jpegTables);
// DefineBitsLossless and DefineBitsLossless2.
Result<std::shared_ptr<BitmapDef>> parseDefineBitsLossless(const TagContext& t);

// DefineFont, DefineFont2, DefineFont3.
Result<std::shared_ptr<FontDef>> parseDefineFont(const TagContext& t);
// DefineFontInfo / DefineFontInfo2 add the name, style and codes to `font`.
std::optional<Error> applyDefineFontInfo(const TagContext& t, FontDef& font);
// DefineText / DefineText2.
Result<std::shared_ptr<TextDef>> parseDefineText(const TagContext& t);
Result<std::shared_ptr<EditTextDef>> parseDefineEditText(const TagContext& t);

// DefineButton / DefineButton2, and the two tags that amend a DefineButton.
Result<std::shared_ptr<ButtonDef>> parseDefineButton(const TagContext& t);
std::optional<Error> applyButtonCxform(const TagContext& t, ButtonDef& button);
std::optional<Error> applyButtonSound(const TagContext& t, ButtonDef& button);

// The byte length of a SOUNDINFO record at the reader's position (the
// reader moves past it); 0 with r.failed() when it does not fit.
size_t skipSoundInfo(Reader& r);
// The byte length of a FILTERLIST (count byte included) at the reader's
// position; the reader moves past it.
size_t skipFilterList(Reader& r);

} // namespace swf
