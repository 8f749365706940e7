#pragma once
// Bounded little-endian byte and bit reader over a span of bytes it does
// not own. A read past the end yields 0 and sets failed(); callers check
// once at the end of a record, so parsing code stays linear and cannot
// overrun.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace swf {

class Reader {
public:
    Reader() = default;
    explicit Reader(std::span<const uint8_t> data) : m_data(data) {}

    size_t pos() const { return m_pos; }
    size_t size() const { return m_data.size(); }
    size_t remaining() const { return m_pos < m_data.size() ? m_data.size() - m_pos : 0; }
    bool atEnd() const { return remaining() == 0; }
    bool failed() const { return m_failed; }
    void fail() { m_failed = true; }
    std::span<const uint8_t> data() const { return m_data; }

    void seek(size_t pos) {
        align();
        if (pos > m_data.size()) { m_failed = true; pos = m_data.size(); }
        m_pos = pos;
    }
    void skip(size_t n) {
        align();
        if (n > remaining()) { m_failed = true; m_pos = m_data.size(); return; }
        m_pos += n;
    }

    uint8_t u8() {
        align();
        if (m_pos >= m_data.size()) { m_failed = true; return 0; }
        return m_data[m_pos++];
    }
    uint16_t u16() { uint16_t a = u8(); return uint16_t(a | (u8() << 8)); }
    uint32_t u32() { uint32_t a = u16(); return a | (uint32_t(u16()) << 16); }
    uint64_t u64() { uint64_t a = u32(); return a | (uint64_t(u32()) << 32); }
    int8_t s8() { return int8_t(u8()); }
    int16_t s16() { return int16_t(u16()); }
    int32_t s32() { return int32_t(u32()); }
    // 16.16 and 8.8 fixed point.
    double fixed() { return s32() / 65536.0; }
    double fixed8() { return s16() / 256.0; }
    float f32() { uint32_t b = u32(); float f; std::memcpy(&f, &b, 4); return f; }
    // SWF stores doubles as two little-endian 32-bit halves, high word first.
    double f64Swapped() {
        uint64_t hi = u32(), lo = u32();
        uint64_t b = (hi << 32) | lo;
        double d; std::memcpy(&d, &b, 8); return d;
    }
    double f64() { uint64_t b = u64(); double d; std::memcpy(&d, &b, 8); return d; }
    // Half-precision float (filters, some version 8+ records).
    float f16();
    // Variable-length 32-bit integer (used by a few version 9+ tags).
    uint32_t encodedU32();

    // A zero-terminated string; the terminator is consumed. A missing
    // terminator takes the rest of the data and sets failed().
    std::string cstring();
    // Exactly n bytes, bounded by what is left.
    std::span<const uint8_t> bytes(size_t n) {
        align();
        if (n > remaining()) { m_failed = true; n = remaining(); }
        auto s = m_data.subspan(m_pos, n);
        m_pos += n;
        return s;
    }
    // A sub-reader over the next n bytes; this reader moves past them.
    Reader sub(size_t n) { return Reader(bytes(n)); }

    // Bit fields, most significant bit first, as SWF stores them.
    uint32_t ubits(unsigned n);
    int32_t sbits(unsigned n);
    double fbits(unsigned n) { return sbits(n) / 65536.0; }
    bool bit() { return ubits(1) != 0; }
    void align() { m_bitCount = 0; }

private:
    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
    bool m_failed = false;
    uint8_t m_bitBuf = 0;
    unsigned m_bitCount = 0; // bits left in m_bitBuf
};

} // namespace swf
