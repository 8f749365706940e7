#pragma once
// Character helpers shared by the ActionScript 3 library pieces: simple case
// mapping of one UTF-16 unit and UTF-8 <-> UTF-16 conversion.
#include <cstdint>
#include <string>
#include <string_view>

namespace swf::avm2lib {

char32_t simpleUpper(char32_t c);
char32_t simpleLower(char32_t c);
int hexValue(char16_t c); // -1 when not a hex digit

// Invalid UTF-8 bytes each become U+FFFD; lone surrogates are kept.
std::u16string utf8ToUtf16(std::string_view s);
// Lone surrogates become U+FFFD (three bytes).
std::string utf16ToUtf8(std::u16string_view s);
// ASCII literals in tests and tables.
std::u16string ascii16(std::string_view s);

} // namespace swf::avm2lib
