#include "engine/avm2/lib/byte_array.h"

#include "engine/avm2/lib/unicode.h"
#include "engine/core/inflate.h"
#include "engine/core/limits.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace swf::avm2lib {

namespace {

std::u16string lowerAscii(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        if (c >= 'A' && c <= 'Z') c = char16_t(c + 32);
    return out;
}

enum class Charset { Utf8, Latin1, Utf16Le, Utf16Be };

// The character sets readMultiByte and writeMultiByte know; others are read
// as UTF-8, the default of Flash on most systems.
Charset charsetOf(std::u16string_view name) {
    const std::u16string n = lowerAscii(name);
    if (n == u"iso-8859-1" || n == u"latin1" || n == u"us-ascii" || n == u"ascii" || n == u"windows-1252")
        return Charset::Latin1;
    if (n == u"unicode" || n == u"utf-16" || n == u"utf-16le") return Charset::Utf16Le;
    if (n == u"unicodefffe" || n == u"utf-16be") return Charset::Utf16Be;
    return Charset::Utf8;
}

bool compressZlib(std::span<const uint8_t> in, int windowBits, std::vector<uint8_t>& out) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, deflateEnd);
    out.resize(deflateBound(&zs, uLong(in.size())));
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = uInt(in.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) return false;
    out.resize(zs.total_out);
    return true;
}

// Flash's LZMA layout: 5 property bytes, the uncompressed size as 64 bits
// little-endian, then the stream.
bool compressLzma(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, 1)) return false; // a 1 MB dictionary keeps encoder memory small
    lzma_stream ls = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&ls, &opt) != LZMA_OK) return false;
    std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&ls, lzma_end);
    out.resize(in.size() + in.size() / 2 + 1024);
    ls.next_in = in.data();
    ls.avail_in = in.size();
    ls.next_out = out.data();
    ls.avail_out = out.size();
    if (lzma_code(&ls, LZMA_FINISH) != LZMA_STREAM_END) return false;
    out.resize(ls.total_out);
    for (int i = 0; i < 8; ++i) out[5 + size_t(i)] = uint8_t(uint64_t(in.size()) >> (8 * i));
    return true;
}

std::optional<std::vector<uint8_t>> uncompressLzma(std::span<const uint8_t> in) {
    if (in.size() < 13) return std::nullopt;
    uint64_t size = 0;
    for (int i = 0; i < 8; ++i) size |= uint64_t(in[5 + size_t(i)]) << (8 * i);
    const bool known = size != ~uint64_t(0);
    if (known && size >= limits::kMaxByteArrayBytes) return std::nullopt;
    std::vector<uint8_t> propsAndStream(in.begin(), in.begin() + 5);
    propsAndStream.insert(propsAndStream.end(), in.begin() + 13, in.end());
    auto r = inflateSwfLzma(propsAndStream, known ? size_t(size) : limits::kMaxByteArrayBytes);
    if (!r.ok()) return std::nullopt;
    if (known ? r->bytes.size() != size : (!r->complete || r->bytes.size() >= limits::kMaxByteArrayBytes))
        return std::nullopt;
    return std::move(r->bytes);
}

} // namespace

std::u16string decodeUtf8Flash(std::span<const uint8_t> bytes) {
    size_t start = 0;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) start = 3;
    size_t end = start;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    return utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()) + start, end - start));
}

bool ByteArray::setLength(uint32_t n) {
    if (n > limits::kMaxByteArrayBytes) return false;
    m_data.resize(n);
    m_pos = std::min(m_pos, n);
    return true;
}

bool ByteArray::writeBytes(std::span<const uint8_t> b) {
    const uint64_t end = uint64_t(m_pos) + b.size();
    if (end > limits::kMaxByteArrayBytes) return false;
    if (end > m_data.size()) m_data.resize(size_t(end));
    if (!b.empty()) std::memmove(m_data.data() + m_pos, b.data(), b.size());
    m_pos = uint32_t(end);
    return true;
}

bool ByteArray::writeInteger(uint32_t v, int size) {
    uint8_t b[4];
    for (int i = 0; i < size; ++i) {
        const int shift = m_endian == Endian::Big ? 8 * (size - 1 - i) : 8 * i;
        b[i] = uint8_t(v >> shift);
    }
    return writeBytes({b, size_t(size)});
}

bool ByteArray::writeFloat(double v) { return writeInteger(std::bit_cast<uint32_t>(float(v)), 4); }

bool ByteArray::writeDouble(double v) {
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    const uint32_t hi = uint32_t(bits >> 32), lo = uint32_t(bits);
    return m_endian == Endian::Big ? writeInteger(hi, 4) && writeInteger(lo, 4) : writeInteger(lo, 4) && writeInteger(hi, 4);
}

bool ByteArray::writeUTF(std::u16string_view s) {
    const std::string u = utf16ToUtf8(s);
    if (u.size() > 0xFFFF) return false;
    const uint32_t pos = m_pos;
    if (!writeInteger(uint32_t(u.size()), 2)) return false;
    if (!writeBytes({reinterpret_cast<const uint8_t*>(u.data()), u.size()})) { m_pos = pos; return false; }
    return true;
}

bool ByteArray::writeUTFBytes(std::u16string_view s) {
    const std::string u = utf16ToUtf8(s);
    return writeBytes({reinterpret_cast<const uint8_t*>(u.data()), u.size()});
}

bool ByteArray::writeMultiByte(std::u16string_view s, std::u16string_view charSet) {
    std::vector<uint8_t> out;
    switch (charsetOf(charSet)) {
    case Charset::Utf8: return writeUTFBytes(s);
    case Charset::Latin1:
        for (char16_t c : s) out.push_back(c < 256 ? uint8_t(c) : uint8_t('?'));
        break;
    case Charset::Utf16Le: case Charset::Utf16Be: {
        const bool big = charsetOf(charSet) == Charset::Utf16Be;
        for (char16_t c : s) {
            out.push_back(uint8_t(big ? c >> 8 : c));
            out.push_back(uint8_t(big ? c : c >> 8));
        }
        break;
    }
    }
    return writeBytes(out);
}

std::optional<std::vector<uint8_t>> ByteArray::readRaw(uint32_t length) {
    if (length > bytesAvailable()) return std::nullopt;
    std::vector<uint8_t> out(m_data.begin() + m_pos, m_data.begin() + m_pos + length);
    m_pos += length;
    return out;
}

std::optional<uint32_t> ByteArray::readInteger(int size) {
    if (uint32_t(size) > bytesAvailable()) return std::nullopt;
    uint32_t v = 0;
    for (int i = 0; i < size; ++i) {
        const uint32_t b = m_data[m_pos + uint32_t(i)];
        v |= b << (m_endian == Endian::Big ? 8 * (size - 1 - i) : 8 * i);
    }
    m_pos += uint32_t(size);
    return v;
}

std::optional<bool> ByteArray::readBoolean() {
    auto v = readInteger(1);
    if (!v) return std::nullopt;
    return *v != 0;
}
std::optional<int32_t> ByteArray::readByte() {
    auto v = readInteger(1);
    if (!v) return std::nullopt;
    return int32_t(int8_t(*v));
}
std::optional<uint32_t> ByteArray::readUnsignedByte() { return readInteger(1); }
std::optional<int32_t> ByteArray::readShort() {
    auto v = readInteger(2);
    if (!v) return std::nullopt;
    return int32_t(int16_t(*v));
}
std::optional<uint32_t> ByteArray::readUnsignedShort() { return readInteger(2); }
std::optional<int32_t> ByteArray::readInt() {
    auto v = readInteger(4);
    if (!v) return std::nullopt;
    return int32_t(*v);
}
std::optional<uint32_t> ByteArray::readUnsignedInt() { return readInteger(4); }

std::optional<double> ByteArray::readFloat() {
    auto v = readInteger(4);
    if (!v) return std::nullopt;
    return double(std::bit_cast<float>(*v));
}

std::optional<double> ByteArray::readDouble() {
    if (bytesAvailable() < 8) return std::nullopt;
    const uint32_t a = *readInteger(4), b = *readInteger(4);
    const uint64_t bits = m_endian == Endian::Big ? (uint64_t(a) << 32 | b) : (uint64_t(b) << 32 | a);
    return std::bit_cast<double>(bits);
}

std::optional<std::u16string> ByteArray::readUTF() {
    const uint32_t start = m_pos;
    auto n = readInteger(2);
    if (!n) return std::nullopt;
    auto s = readUTFBytes(*n);
    if (!s) m_pos = start;
    return s;
}

std::optional<std::u16string> ByteArray::readUTFBytes(uint32_t length) {
    if (length > bytesAvailable()) return std::nullopt;
    std::u16string s = decodeUtf8Flash({m_data.data() + m_pos, length});
    m_pos += length;
    return s;
}

std::optional<std::u16string> ByteArray::readMultiByte(uint32_t length, std::u16string_view charSet) {
    if (length > bytesAvailable()) return std::nullopt;
    const uint8_t* p = m_data.data() + m_pos;
    std::u16string s;
    switch (charsetOf(charSet)) {
    case Charset::Utf8: return readUTFBytes(length);
    case Charset::Latin1:
        for (uint32_t i = 0; i < length && p[i]; ++i) s += char16_t(p[i]);
        break;
    case Charset::Utf16Le: case Charset::Utf16Be: {
        const bool big = charsetOf(charSet) == Charset::Utf16Be;
        for (uint32_t i = 0; i + 1 < length; i += 2) {
            const char16_t c = big ? char16_t(p[i] << 8 | p[i + 1]) : char16_t(p[i + 1] << 8 | p[i]);
            if (!c) break;
            s += c;
        }
        break;
    }
    }
    m_pos += length;
    return s;
}

bool ByteArray::readBytesInto(ByteArray& dst, uint32_t offset, uint32_t length) {
    if (length == 0) length = bytesAvailable();
    if (length > bytesAvailable()) return false;
    const uint64_t end = uint64_t(offset) + length;
    if (end > limits::kMaxByteArrayBytes) return false;
    if (end > dst.m_data.size()) dst.m_data.resize(size_t(end));
    if (length) std::memmove(dst.m_data.data() + offset, m_data.data() + m_pos, length);
    m_pos += length;
    return true;
}

bool ByteArray::compress(Compression algorithm) {
    if (m_data.empty()) return true; // Flash leaves an empty buffer empty
    std::vector<uint8_t> out;
    const bool ok = algorithm == Compression::Lzma ? compressLzma(m_data, out)
                                                   : compressZlib(m_data, algorithm == Compression::Zlib ? 15 : -15, out);
    if (!ok || out.size() > limits::kMaxByteArrayBytes) return false;
    m_data = std::move(out);
    m_pos = length();
    return true;
}

bool ByteArray::uncompress(Compression algorithm) {
    std::optional<std::vector<uint8_t>> out;
    if (algorithm == Compression::Lzma) {
        out = uncompressLzma(m_data);
    } else {
        auto r = algorithm == Compression::Zlib ? inflateZlib(m_data, limits::kMaxByteArrayBytes)
                                                : inflateRawDeflate(m_data, limits::kMaxByteArrayBytes);
        if (r.ok() && r->complete && r->bytes.size() < limits::kMaxByteArrayBytes) out = std::move(r->bytes);
    }
    if (!out) return false;
    m_data = std::move(*out);
    m_pos = 0;
    return true;
}

} // namespace swf::avm2lib
