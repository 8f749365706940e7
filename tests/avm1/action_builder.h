#pragma once
// Writes action bytes in code, so that each test shows the program it runs.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace avm1test {

using Bytes = std::vector<uint8_t>;

class Asm {
public:
    // A plain action (code < 0x80) or one with a payload.
    Asm& op(uint8_t code) { m_b.push_back(code); return *this; }
    Asm& op(uint8_t code, const Bytes& payload) {
        m_b.push_back(code);
        m_b.push_back(uint8_t(payload.size()));
        m_b.push_back(uint8_t(payload.size() >> 8));
        m_b.insert(m_b.end(), payload.begin(), payload.end());
        return *this;
    }
    Asm& push(const std::string& s) {
        Bytes p{0};
        p.insert(p.end(), s.begin(), s.end());
        p.push_back(0);
        return op(0x96, p);
    }
    Asm& push(const char* s) { return push(std::string(s)); }
    Asm& push(double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        // Doubles are stored high word first.
        uint32_t hi = uint32_t(bits >> 32), lo = uint32_t(bits);
        Bytes p{6};
        for (int i = 0; i < 4; ++i) p.push_back(uint8_t(hi >> (8 * i)));
        for (int i = 0; i < 4; ++i) p.push_back(uint8_t(lo >> (8 * i)));
        return op(0x96, p);
    }
    Asm& push(int i) {
        Bytes p{7};
        for (int k = 0; k < 4; ++k) p.push_back(uint8_t(uint32_t(i) >> (8 * k)));
        return op(0x96, p);
    }
    Asm& pushBool(bool b) { return op(0x96, Bytes{5, uint8_t(b ? 1 : 0)}); }
    Asm& pushNull() { return op(0x96, Bytes{2}); }
    Asm& pushUndefined() { return op(0x96, Bytes{3}); }
    Asm& pushRegister(uint8_t r) { return op(0x96, Bytes{4, r}); }
    Asm& storeRegister(uint8_t r) { return op(0x87, Bytes{r}); }
    Asm& trace() { return op(0x26); }
    Asm& pop() { return op(0x17); }
    Asm& getVariable(const std::string& name) { return push(name).op(0x1C); }
    // name = <value on the stack>: push the name first, then the value, then this.
    Asm& setVariable() { return op(0x1D); }
    Asm& getMember() { return op(0x4E); }
    Asm& setMember() { return op(0x4F); }
    Asm& callFunction() { return op(0x3D); }
    Asm& callMethod() { return op(0x52); }
    Asm& jump(int16_t offset) { return op(0x99, Bytes{uint8_t(offset), uint8_t(uint16_t(offset) >> 8)}); }
    Asm& ifTrue(int16_t offset) { return op(0x9D, Bytes{uint8_t(offset), uint8_t(uint16_t(offset) >> 8)}); }
    Asm& getUrl(const std::string& url, const std::string& target) {
        Bytes p(url.begin(), url.end());
        p.push_back(0);
        p.insert(p.end(), target.begin(), target.end());
        p.push_back(0);
        return op(0x83, p);
    }
    Asm& defineFunction(const std::string& name, const std::vector<std::string>& params, const Asm& body) {
        Bytes p(name.begin(), name.end());
        p.push_back(0);
        p.push_back(uint8_t(params.size()));
        p.push_back(0);
        for (const auto& s : params) { p.insert(p.end(), s.begin(), s.end()); p.push_back(0); }
        p.push_back(uint8_t(body.m_b.size()));
        p.push_back(uint8_t(body.m_b.size() >> 8));
        op(0x9B, p);
        m_b.insert(m_b.end(), body.m_b.begin(), body.m_b.end());
        return *this;
    }
    // params: (register, name); register 0 keeps the parameter as a variable.
    Asm& defineFunction2(const std::string& name, const std::vector<std::pair<uint8_t, std::string>>& params,
                         uint8_t registers, uint16_t flags, const Asm& body) {
        Bytes p(name.begin(), name.end());
        p.push_back(0);
        p.push_back(uint8_t(params.size()));
        p.push_back(0);
        p.push_back(registers);
        p.push_back(uint8_t(flags));
        p.push_back(uint8_t(flags >> 8));
        for (const auto& [reg, s] : params) {
            p.push_back(reg);
            p.insert(p.end(), s.begin(), s.end());
            p.push_back(0);
        }
        p.push_back(uint8_t(body.m_b.size()));
        p.push_back(uint8_t(body.m_b.size() >> 8));
        op(0x8E, p);
        m_b.insert(m_b.end(), body.m_b.begin(), body.m_b.end());
        return *this;
    }
    // try { body } catch (name) { handler } finally { fin }; empty parts are left out.
    Asm& tryBlock(const Asm& body, const std::string& catchName, const Asm* handler, const Asm* fin) {
        Bytes p;
        p.push_back(uint8_t((handler ? 1 : 0) | (fin ? 2 : 0)));
        auto size16 = [&](size_t n) { p.push_back(uint8_t(n)); p.push_back(uint8_t(n >> 8)); };
        size16(body.m_b.size());
        size16(handler ? handler->m_b.size() : 0);
        size16(fin ? fin->m_b.size() : 0);
        p.insert(p.end(), catchName.begin(), catchName.end());
        p.push_back(0);
        op(0x8F, p);
        m_b.insert(m_b.end(), body.m_b.begin(), body.m_b.end());
        if (handler) m_b.insert(m_b.end(), handler->m_b.begin(), handler->m_b.end());
        if (fin) m_b.insert(m_b.end(), fin->m_b.begin(), fin->m_b.end());
        return *this;
    }
    Asm& raw(const Bytes& b) { m_b.insert(m_b.end(), b.begin(), b.end()); return *this; }
    size_t size() const { return m_b.size(); }
    // The bytes with a closing End action.
    Bytes bytes() const {
        Bytes out = m_b;
        out.push_back(0);
        return out;
    }
    const Bytes& body() const { return m_b; }

private:
    Bytes m_b;
};

} // namespace avm1test
