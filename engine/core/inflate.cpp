#include "engine/core/inflate.h"

#include "engine/core/limits.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

namespace swf {

namespace {

// Output grows in steps of this size (or doubles), never by the declared size,
// so a lying header cannot make us allocate before data really arrives.
constexpr size_t kInflateChunk = 64 * 1024;

size_t nextSize(size_t have, size_t cap) {
    size_t grow = std::max(kInflateChunk, have);
    return std::min(cap, have + grow);
}

Error inflateError(ErrorCode code, std::string what) {
    return Error{code, -1, -1, std::move(what)};
}

// windowBits 15 reads a zlib stream, -15 raw deflate data.
Result<Inflated> inflateWithWindow(std::span<const uint8_t> in, size_t cap, int windowBits) {
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return inflateError(ErrorCode::Decompression, "zlib: cannot initialise");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);

    Inflated out;
    // zlib counts in uInt; feed the input in pieces that fit.
    size_t inPos = 0;
    int rc = Z_OK;
    while (out.bytes.size() < cap) {
        size_t used = out.bytes.size();
        out.bytes.resize(nextSize(used, cap));
        zs.next_out = out.bytes.data() + used;
        zs.avail_out = uInt(std::min<size_t>(out.bytes.size() - used, 1u << 30));
        if (zs.avail_in == 0 && inPos < in.size()) {
            size_t n = std::min<size_t>(in.size() - inPos, 1u << 30);
            zs.next_in = const_cast<Bytef*>(in.data() + inPos);
            zs.avail_in = uInt(n);
            inPos += n;
        }
        uInt before = zs.avail_out;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.bytes.resize(used + (before - zs.avail_out));
        if (rc == Z_STREAM_END) { out.complete = true; break; }
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && inPos >= in.size()) break; // input ran out
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            if (out.bytes.empty())
                return inflateError(ErrorCode::Decompression,
                                    std::string("zlib: ") + (zs.msg ? zs.msg : "corrupt stream"));
            break; // keep what was decoded before the damage
        }
    }
    if (out.bytes.size() >= cap) out.complete = true;
    return out;
}

} // namespace

Result<Inflated> inflateZlib(std::span<const uint8_t> in, size_t cap) { return inflateWithWindow(in, cap, 15); }

Result<Inflated> inflateRawDeflate(std::span<const uint8_t> in, size_t cap) { return inflateWithWindow(in, cap, -15); }

Result<Inflated> inflateSwfLzma(std::span<const uint8_t> propsAndStream, size_t expected) {
    if (propsAndStream.size() < 5)
        return inflateError(ErrorCode::Truncated, "LZMA: properties missing");
    // liblzma's "alone" format is: 5 property bytes, 64-bit uncompressed size,
    // then the same raw stream SWF stores. Rebuild that header in front.
    uint8_t header[13];
    std::copy_n(propsAndStream.data(), 5, header);
    uint64_t size = expected;
    for (int i = 0; i < 8; ++i) header[5 + i] = uint8_t(size >> (8 * i));

    lzma_stream ls = LZMA_STREAM_INIT;
    // The dictionary size comes from the file; the memory limit refuses absurd ones.
    if (lzma_alone_decoder(&ls, limits::kMaxLzmaDecoderMemory) != LZMA_OK)
        return inflateError(ErrorCode::Decompression, "LZMA: cannot initialise");
    std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&ls, lzma_end);

    Inflated out;
    // First the rebuilt header, then the stream that follows the properties.
    std::span<const uint8_t> pieces[2] = {std::span<const uint8_t>(header, 13), propsAndStream.subspan(5)};
    int piece = 0;
    ls.avail_in = 0;
    while (true) {
        if (ls.avail_in == 0 && piece < 2) {
            ls.next_in = pieces[piece].data();
            ls.avail_in = pieces[piece].size();
            ++piece;
        }
        size_t used = out.bytes.size();
        if (used >= expected) { out.complete = true; break; }
        out.bytes.resize(nextSize(used, expected));
        ls.next_out = out.bytes.data() + used;
        ls.avail_out = out.bytes.size() - used;
        size_t before = ls.avail_out;
        lzma_ret rc = lzma_code(&ls, piece < 2 ? LZMA_RUN : LZMA_FINISH);
        out.bytes.resize(used + (before - ls.avail_out));
        if (rc == LZMA_STREAM_END) { out.complete = true; break; }
        if (rc == LZMA_OK) {
            if (piece >= 2 && ls.avail_in == 0 && before == ls.avail_out) break; // no progress
            continue;
        }
        if (rc == LZMA_BUF_ERROR) break; // input ran out
        if (rc == LZMA_MEMLIMIT_ERROR)
            return inflateError(ErrorCode::TooLarge, "LZMA: dictionary exceeds the memory limit");
        if (out.bytes.empty())
            return inflateError(ErrorCode::Decompression, "LZMA: corrupt stream");
        break;
    }
    return out;
}

} // namespace swf
