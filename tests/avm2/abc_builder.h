#pragma once
// Builds small ABC blocks in test code: constant pools, one script whose
// init method runs the given bytecode, and helpers to assemble it.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace avm2test {

class Bytes {
public:
    std::vector<uint8_t> data;
    Bytes& u8(uint8_t v) { data.push_back(v); return *this; }
    Bytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Bytes& u30(uint32_t v) {
        do {
            uint8_t b = v & 0x7F;
            v >>= 7;
            if (v) b |= 0x80;
            data.push_back(b);
        } while (v);
        return *this;
    }
    Bytes& s24(int32_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)).u8(uint8_t(v >> 16)); }
    Bytes& str(const std::string& s) {
        u30(uint32_t(s.size()));
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& d64(double d) {
        uint8_t b[8];
        std::memcpy(b, &d, 8);
        data.insert(data.end(), b, b + 8);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& v) { data.insert(data.end(), v.begin(), v.end()); return *this; }
};

// One script, one method (the script init) with `code` as its body. The
// string pool holds `strings` (index 1..), multiname 1 is the public
// QName of strings[0] (when given).
struct ScriptSpec {
    std::vector<std::string> strings;
    std::vector<uint8_t> code;
    uint32_t maxStack = 4, localCount = 1, initScope = 0, maxScope = 2;
    uint8_t flags = 0;
    struct Handler { uint32_t from, to, target; };
    std::vector<Handler> handlers;
};

inline std::vector<uint8_t> buildAbc(const ScriptSpec& spec) {
    Bytes b;
    b.u16(16).u16(46);
    b.u30(0).u30(0).u30(0); // int, uint, double pools
    b.u30(uint32_t(spec.strings.size() + 1));
    for (const auto& s : spec.strings) b.str(s);
    b.u30(2).u8(0x16).u30(0);                   // namespace 1: public
    b.u30(0);                                   // ns sets
    if (spec.strings.empty()) b.u30(0);
    else b.u30(2).u8(0x07).u30(1).u30(1);       // multiname 1: public::strings[0]
    b.u30(1).u30(0).u30(0).u30(0).u8(spec.flags); // one method, no params
    b.u30(0);                                   // metadata
    b.u30(0);                                   // classes
    b.u30(1).u30(0).u30(0);                     // one script: init 0, no traits
    b.u30(1).u30(0).u30(spec.maxStack).u30(spec.localCount).u30(spec.initScope).u30(spec.maxScope);
    b.u30(uint32_t(spec.code.size())).raw(spec.code);
    b.u30(uint32_t(spec.handlers.size()));
    for (const auto& h : spec.handlers) b.u30(h.from).u30(h.to).u30(h.target).u30(0).u30(0);
    b.u30(0);                                   // body traits
    return b.data;
}

} // namespace avm2test
