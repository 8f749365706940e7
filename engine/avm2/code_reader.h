#pragma once
// Reads the operands of method bodies: a read past the end gives 0 and
// clears ok(), so a decoder checks once per instruction.
#include <cstdint>
#include <vector>

namespace swf::avm2 {

// The variable-length 32-bit form of ABC (u30, u32): 7 bits a byte, low first.
template <typename NextByte> uint32_t readVarU32(NextByte next) {
    uint32_t v = 0;
    for (int i = 0; i < 5; ++i) {
        uint8_t b = next();
        v |= uint32_t(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) break;
    }
    return v;
}

class CodeReader {
public:
    CodeReader(const std::vector<uint8_t>& code, uint32_t pc) : m_code(code), pc(pc) {}
    bool ok() const { return m_ok; }
    uint8_t u8() {
        if (pc >= m_code.size()) { m_ok = false; return 0; }
        return m_code[pc++];
    }
    uint32_t u30() { return readVarU32([this] { return u8(); }); }
    int32_t s24() {
        uint32_t v = u8();
        v |= uint32_t(u8()) << 8;
        v |= uint32_t(u8()) << 16;
        if (v & 0x800000) v |= 0xFF000000;
        return int32_t(v);
    }

private:
    const std::vector<uint8_t>& m_code;
    bool m_ok = true;

public:
    uint32_t pc;
};

} // namespace swf::avm2
