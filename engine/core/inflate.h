#pragma once
// Inflation of compressed movie bodies (zlib for CWS, LZMA for ZWS) and of
// zlib blocks inside tags (lossless bitmaps, JPEG alpha planes). Output never
// grows past the caller's cap, so a decompression bomb costs at most `cap`.
#include "engine/core/result.h"

#include <cstdint>
#include <span>
#include <vector>

namespace swf {

struct Inflated {
    std::vector<uint8_t> bytes;
    bool complete = false; // the stream ended cleanly (or reached `cap`) before the input ran out
};

// Inflates a zlib stream into at most `cap` bytes. A stream that is cut short
// gives what was decoded so far with complete == false; a corrupt stream
// with nothing decoded is an error.
Result<Inflated> inflateZlib(std::span<const uint8_t> in, size_t cap);
// The same for raw deflate data (no zlib header or checksum).
Result<Inflated> inflateRawDeflate(std::span<const uint8_t> in, size_t cap);

// Inflates SWF's LZMA layout: 5 bytes of LZMA properties followed by the raw
// stream (the 32-bit compressed length before them is the caller's).
// `expected` is the uncompressed size the header declares, and is also the cap.
Result<Inflated> inflateSwfLzma(std::span<const uint8_t> propsAndStream, size_t expected);

} // namespace swf
