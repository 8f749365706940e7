#include "engine/core/reader.h"

#include <cmath>

namespace swf {

std::string Reader::cstring() {
    align();
    size_t start = m_pos;
    while (m_pos < m_data.size() && m_data[m_pos] != 0)
        ++m_pos;
    std::string s(reinterpret_cast<const char*>(m_data.data()) + start, m_pos - start);
    if (m_pos < m_data.size())
        ++m_pos;
    else
        m_failed = true;
    return s;
}

float Reader::f16() {
    uint16_t h = u16();
    int sign = (h >> 15) & 1, exp = (h >> 10) & 0x1f, mant = h & 0x3ff;
    float v;
    if (exp == 0) v = std::ldexp(float(mant), -24);
    else if (exp == 31) v = mant ? NAN : INFINITY;
    else v = std::ldexp(float(mant | 0x400), exp - 25);
    return sign ? -v : v;
}

uint32_t Reader::encodedU32() {
    uint32_t result = 0;
    for (int i = 0; i < 5; ++i) {
        uint8_t b = u8();
        result |= uint32_t(b & 0x7f) << (7 * i);
        if (!(b & 0x80)) break;
    }
    return result;
}

uint32_t Reader::ubits(unsigned n) {
    if (n > 32) { m_failed = true; return 0; }
    uint32_t v = 0;
    while (n > 0) {
        if (m_bitCount == 0) {
            if (m_pos >= m_data.size()) { m_failed = true; return 0; }
            m_bitBuf = m_data[m_pos++];
            m_bitCount = 8;
        }
        unsigned take = n < m_bitCount ? n : m_bitCount;
        uint32_t bits = (m_bitBuf >> (m_bitCount - take)) & ((1u << take) - 1);
        v = take == 32 ? bits : (v << take) | bits;
        m_bitCount -= take;
        n -= take;
    }
    return v;
}

int32_t Reader::sbits(unsigned n) {
    if (n == 0) return 0;
    uint32_t v = ubits(n);
    if (n < 32 && (v & (1u << (n - 1))))
        v |= ~((1u << n) - 1);
    return int32_t(v);
}

} // namespace swf
