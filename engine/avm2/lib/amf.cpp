#include "engine/avm2/lib/amf.h"

#include "engine/avm2/lib/unicode.h"
#include "engine/core/limits.h"

#include <bit>
#include <map>
#include <unordered_map>

namespace swf::avm2lib::amf {

namespace {

enum Amf0 : uint8_t {
    kNumber0 = 0x00, kBoolean0 = 0x01, kString0 = 0x02, kObject0 = 0x03, kNull0 = 0x05, kUndefined0 = 0x06,
    kReference0 = 0x07, kEcmaArray0 = 0x08, kObjectEnd0 = 0x09, kStrictArray0 = 0x0A, kDate0 = 0x0B,
    kLongString0 = 0x0C, kUnsupported0 = 0x0D, kXmlDocument0 = 0x0F, kTypedObject0 = 0x10, kAvmPlus0 = 0x11,
};

enum Amf3 : uint8_t {
    kUndefined3 = 0x00, kNull3 = 0x01, kFalse3 = 0x02, kTrue3 = 0x03, kInteger3 = 0x04, kDouble3 = 0x05,
    kString3 = 0x06, kXmlDocument3 = 0x07, kDate3 = 0x08, kArray3 = 0x09, kObject3 = 0x0A, kXml3 = 0x0B,
    kByteArray3 = 0x0C, kVectorInt3 = 0x0D, kVectorUInt3 = 0x0E, kVectorDouble3 = 0x0F, kVectorObject3 = 0x10,
    kDictionary3 = 0x11,
};

// AMF3 integers are 29-bit signed.
constexpr int32_t kMinInt29 = -(1 << 28), kMaxInt29 = (1 << 28) - 1;

// Externalizable classes of Flex that wrap one value.
bool isFlexWrapper(const std::u16string& name) {
    return name == u"flex.messaging.io.ArrayCollection" || name == u"flex.messaging.io.ArrayList"
        || name == u"flex.messaging.io.ObjectProxy";
}

struct Traits {
    std::u16string className;
    std::vector<std::u16string> sealed;
    bool dynamic = false;
    bool externalizable = false;
};

class Decoder final : public Amf3Reader {
public:
    Decoder(std::span<const uint8_t> d, const ExternalHooks& hooks) : m_d(d), m_hooks(hooks) {}

    std::optional<Decoded> run(Version v) {
        Decoded out;
        out.root = v == Version::Amf3 ? read3() : read0();
        if (m_failed) return std::nullopt;
        out.graph = std::move(m_g);
        out.consumed = m_pos;
        return out;
    }

    std::optional<std::vector<uint8_t>> readBytes(size_t n) override {
        if (!need(n)) return std::nullopt;
        std::vector<uint8_t> b(m_d.begin() + long(m_pos), m_d.begin() + long(m_pos + n));
        m_pos += n;
        return b;
    }
    std::optional<ValueId> readValue() override {
        const ValueId id = read3();
        if (m_failed) return std::nullopt;
        return id;
    }
    Graph& graph() override { return m_g; }

private:
    std::span<const uint8_t> m_d;
    size_t m_pos = 0;
    const ExternalHooks& m_hooks;
    Graph m_g;
    bool m_failed = false;
    int m_depth = 0;
    std::vector<std::u16string> m_strings;
    std::vector<ValueId> m_objects;
    std::vector<Traits> m_traits;
    std::vector<ValueId> m_objects0;
    size_t m_expanded = 0;

    ValueId fail() {
        m_failed = true;
        return 0;
    }
    bool need(size_t n) {
        if (m_failed || n > m_d.size() - m_pos) { m_failed = true; return false; }
        return true;
    }
    uint32_t be(int n) {
        if (!need(size_t(n))) return 0;
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | m_d[m_pos++];
        return v;
    }
    double f64() {
        const uint64_t hi = be(4);
        return std::bit_cast<double>(hi << 32 | be(4));
    }
    uint32_t u29() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint32_t b = be(1);
            if (i == 3) return v << 8 | b;
            v = v << 7 | (b & 0x7F);
            if (!(b & 0x80)) return v;
        }
        return v;
    }
    std::u16string utf8(size_t n) {
        if (!need(n)) return {};
        std::u16string s = utf8ToUtf16({reinterpret_cast<const char*>(m_d.data() + m_pos), n});
        m_pos += n;
        return s;
    }
    // A count read from the data: each item takes at least `minBytes`, so
    // counts beyond the remaining data are lies.
    bool plausible(uint64_t count, size_t minBytes) {
        if (m_failed || count * minBytes > m_d.size() - m_pos || m_g.values.size() + count > limits::kMaxAmfItems) {
            m_failed = true;
            return false;
        }
        return true;
    }
    ValueId add(Type t) {
        if (m_g.values.size() >= limits::kMaxAmfItems) return fail();
        Value v;
        v.type = t;
        return m_g.add(std::move(v));
    }
    Value& at(ValueId id) { return m_g.values[id]; }

    // References let a few bytes stand for a long string or a long list of
    // names again and again; what they expand to is counted against a budget.
    bool charge(size_t units) {
        m_expanded += units;
        if (m_expanded > limits::kMaxAmfExpandedUnits) m_failed = true;
        return !m_failed;
    }

    std::u16string string3() {
        const uint32_t ref = u29();
        if (!(ref & 1)) {
            if ((ref >> 1) >= m_strings.size()) { fail(); return {}; }
            if (!charge(m_strings[ref >> 1].size())) return {};
            return m_strings[ref >> 1];
        }
        if (ref == 1) return {};
        std::u16string s = utf8(ref >> 1);
        if (!m_failed) m_strings.push_back(s);
        return s;
    }

    // The U29 header of an object-table value: nullopt with `ref` set when
    // it refers back, else the inline length or count.
    std::optional<uint32_t> objectHeader(ValueId& ref) {
        const uint32_t h = u29();
        if (h & 1) return h >> 1;
        if ((h >> 1) >= m_objects.size()) fail();
        else ref = m_objects[h >> 1];
        return std::nullopt;
    }

    ValueId read3() {
        if (m_failed) return 0;
        if (++m_depth > limits::kMaxAmfDepth) return fail();
        const ValueId id = read3Inner();
        --m_depth;
        return m_failed ? 0 : id;
    }

    ValueId read3Inner() {
        const uint32_t marker = be(1);
        if (m_failed) return 0;
        ValueId id = 0;
        switch (marker) {
        case kUndefined3: return add(Type::Undefined);
        case kNull3: return add(Type::Null);
        case kFalse3: case kTrue3:
            id = add(Type::Boolean);
            if (!m_failed) at(id).boolean = marker == kTrue3;
            return id;
        case kInteger3: {
            const uint32_t v = u29();
            id = add(Type::Integer);
            if (!m_failed) at(id).integer = int32_t(v << 3) >> 3;
            return id;
        }
        case kDouble3: {
            const double v = f64();
            id = add(Type::Number);
            if (!m_failed) at(id).number = v;
            return id;
        }
        case kString3: {
            std::u16string s = string3();
            id = add(Type::String);
            if (!m_failed) at(id).text = std::move(s);
            return id;
        }
        case kXml3: case kXmlDocument3: case kByteArray3: case kDate3: {
            ValueId ref = 0;
            const auto len = objectHeader(ref);
            if (!len) return ref;
            const Type t = marker == kXml3 ? Type::Xml : marker == kXmlDocument3 ? Type::XmlDocument
                         : marker == kDate3 ? Type::Date : Type::ByteArray;
            id = add(t);
            m_objects.push_back(id);
            if (t == Type::Date) {
                const double ms = f64();
                if (!m_failed) at(id).number = ms;
            } else if (t == Type::ByteArray) {
                auto b = readBytes(*len);
                if (b) at(id).bytes = std::move(*b);
            } else {
                std::u16string s = utf8(*len);
                if (!m_failed) at(id).text = std::move(s);
            }
            return id;
        }
        case kArray3: {
            ValueId ref = 0;
            const auto count = objectHeader(ref);
            if (!count) return ref;
            id = add(Type::Array);
            m_objects.push_back(id);
            for (;;) {
                std::u16string name = string3();
                if (m_failed || name.empty()) break;
                const ValueId v = read3();
                if (m_failed) break;
                at(id).members.push_back({std::move(name), v});
            }
            if (!plausible(*count, 1)) return 0;
            for (uint32_t i = 0; i < *count && !m_failed; ++i) {
                const ValueId v = read3();
                at(id).items.push_back(v);
            }
            return id;
        }
        case kObject3: return object3();
        case kVectorInt3: case kVectorUInt3: case kVectorDouble3: case kVectorObject3: {
            ValueId ref = 0;
            const auto count = objectHeader(ref);
            if (!count) return ref;
            const Type t = marker == kVectorInt3 ? Type::VectorInt : marker == kVectorUInt3 ? Type::VectorUInt
                         : marker == kVectorDouble3 ? Type::VectorDouble : Type::VectorObject;
            id = add(t);
            m_objects.push_back(id);
            const bool fixed = be(1) != 0;
            if (!m_failed) at(id).fixed = fixed;
            if (t == Type::VectorObject) {
                std::u16string type = string3();
                if (!plausible(*count, 1)) return 0;
                at(id).text = std::move(type);
                for (uint32_t i = 0; i < *count && !m_failed; ++i) {
                    const ValueId v = read3();
                    at(id).items.push_back(v);
                }
                return id;
            }
            const size_t size = t == Type::VectorDouble ? 8 : 4;
            if (!plausible(*count, size)) return 0;
            for (uint32_t i = 0; i < *count; ++i) {
                const double v = t == Type::VectorDouble ? f64() : t == Type::VectorInt ? double(int32_t(be(4))) : double(be(4));
                at(id).numbers.push_back(v);
            }
            return id;
        }
        case kDictionary3: {
            ValueId ref = 0;
            const auto count = objectHeader(ref);
            if (!count) return ref;
            id = add(Type::Dictionary);
            m_objects.push_back(id);
            const bool weak = be(1) != 0;
            if (!plausible(*count, 2)) return 0;
            at(id).weakKeys = weak;
            for (uint32_t i = 0; i < *count && !m_failed; ++i) {
                const ValueId k = read3();
                const ValueId v = read3();
                if (!m_failed) at(id).pairs.push_back({k, v});
            }
            return id;
        }
        default: return fail();
        }
    }

    ValueId object3() {
        const uint32_t h = u29();
        if (m_failed) return 0;
        if (!(h & 1)) {
            if ((h >> 1) >= m_objects.size()) return fail();
            return m_objects[h >> 1];
        }
        Traits traits;
        if ((h & 3) == 1) {
            if ((h >> 2) >= m_traits.size()) return fail();
            traits = m_traits[h >> 2];
            if (!charge(traits.sealed.size())) return 0;
        } else if ((h & 7) == 7) {
            traits.className = string3();
            traits.externalizable = true;
            m_traits.push_back(traits);
        } else {
            traits.dynamic = (h & 8) != 0;
            const uint32_t count = h >> 4;
            traits.className = string3();
            if (!plausible(count, 1)) return 0;
            for (uint32_t i = 0; i < count && !m_failed; ++i) traits.sealed.push_back(string3());
            m_traits.push_back(traits);
        }
        if (m_failed) return 0;
        const ValueId id = add(Type::Object);
        m_objects.push_back(id);
        if (m_failed) return 0;
        at(id).text = traits.className;
        at(id).dynamic = traits.dynamic;
        at(id).externalizable = traits.externalizable;
        if (traits.externalizable) {
            if (m_hooks.read) {
                if (!m_hooks.read(traits.className, *this, id)) return fail();
            } else if (isFlexWrapper(traits.className)) {
                const ValueId v = read3();
                if (!m_failed) at(id).items.push_back(v);
            } else {
                return fail();
            }
            return id;
        }
        for (const std::u16string& name : traits.sealed) {
            const ValueId v = read3();
            if (m_failed) return 0;
            at(id).members.push_back({name, v});
        }
        at(id).sealedCount = traits.sealed.size();
        while (traits.dynamic && !m_failed) {
            std::u16string name = string3();
            if (m_failed || name.empty()) break;
            const ValueId v = read3();
            if (!m_failed) at(id).members.push_back({std::move(name), v});
        }
        return id;
    }

    // ---- AMF0 ----

    // An ECMA array writes its dense part as keys "0", "1" ...: they return
    // to the dense part.
    static void indexKeysToItems(Value& v) {
        std::vector<std::pair<std::u16string, ValueId>> rest;
        for (auto& m : v.members) {
            if (m.first == ascii16(std::to_string(v.items.size()))) v.items.push_back(m.second);
            else rest.push_back(std::move(m));
        }
        v.members = std::move(rest);
    }

    void properties0(ValueId id) {
        while (!m_failed) {
            const uint32_t len = be(2);
            std::u16string name = utf8(len);
            if (m_failed) return;
            if (name.empty()) {
                if (be(1) != kObjectEnd0) fail();
                return;
            }
            const ValueId v = read0();
            if (!m_failed) at(id).members.push_back({std::move(name), v});
        }
    }

    ValueId read0() {
        if (m_failed) return 0;
        if (++m_depth > limits::kMaxAmfDepth) return fail();
        const ValueId id = read0Inner();
        --m_depth;
        return m_failed ? 0 : id;
    }

    ValueId read0Inner() {
        const uint32_t marker = be(1);
        if (m_failed) return 0;
        ValueId id = 0;
        switch (marker) {
        case kNumber0: {
            const double v = f64();
            id = add(Type::Number);
            if (!m_failed) at(id).number = v;
            return id;
        }
        case kBoolean0: {
            const bool v = be(1) != 0;
            id = add(Type::Boolean);
            if (!m_failed) at(id).boolean = v;
            return id;
        }
        case kString0: case kLongString0: case kXmlDocument0: {
            const uint32_t len = marker == kString0 ? be(2) : be(4);
            std::u16string s = utf8(len);
            id = add(marker == kXmlDocument0 ? Type::XmlDocument : Type::String);
            if (!m_failed) at(id).text = std::move(s);
            return id;
        }
        case kObject0: case kTypedObject0: {
            std::u16string className;
            if (marker == kTypedObject0) className = utf8(be(2));
            id = add(Type::Object);
            if (m_failed) return 0;
            m_objects0.push_back(id);
            at(id).text = std::move(className);
            properties0(id);
            return id;
        }
        case kNull0: return add(Type::Null);
        case kUndefined0: case kUnsupported0: return add(Type::Undefined);
        case kReference0: {
            const uint32_t i = be(2);
            if (i >= m_objects0.size()) return fail();
            return m_objects0[i];
        }
        case kEcmaArray0: {
            be(4); // the count is only a hint
            id = add(Type::Array);
            if (m_failed) return 0;
            m_objects0.push_back(id);
            properties0(id);
            indexKeysToItems(at(id));
            return id;
        }
        case kStrictArray0: {
            const uint32_t count = be(4);
            id = add(Type::Array);
            if (!plausible(count, 1)) return 0;
            m_objects0.push_back(id);
            for (uint32_t i = 0; i < count && !m_failed; ++i) {
                const ValueId v = read0();
                at(id).items.push_back(v);
            }
            return id;
        }
        case kDate0: {
            const double ms = f64();
            be(2); // time zone, unused
            id = add(Type::Date);
            if (!m_failed) at(id).number = ms;
            return id;
        }
        case kAvmPlus0:
            // Each switch to AMF3 starts with empty reference tables.
            m_strings.clear();
            m_objects.clear();
            m_traits.clear();
            return read3();
        default: return fail();
        }
    }
};

class Encoder final : public Amf3Writer {
public:
    Encoder(const Graph& g, const ExternalHooks& hooks) : m_g(g), m_hooks(hooks) {}

    std::optional<std::vector<uint8_t>> run(ValueId root, Version v) {
        const bool ok = v == Version::Amf3 ? writeValue(root) : write0(root);
        if (!ok) return std::nullopt;
        return std::move(m_out);
    }

    void writeBytes(std::span<const uint8_t> b) override { m_out.insert(m_out.end(), b.begin(), b.end()); }

    bool writeValue(ValueId id) override {
        if (id >= m_g.values.size() || ++m_depth > limits::kMaxAmfDepth) return false;
        const bool ok = write3(m_g.values[id], id);
        --m_depth;
        return ok;
    }

private:
    const Graph& m_g;
    const ExternalHooks& m_hooks;
    std::vector<uint8_t> m_out;
    int m_depth = 0;
    std::unordered_map<std::u16string, uint32_t> m_strings;
    std::unordered_map<ValueId, uint32_t> m_objects;
    std::map<std::pair<std::u16string, std::vector<std::u16string>>, uint32_t> m_traits;
    std::unordered_map<ValueId, uint32_t> m_objects0;

    void u8(uint32_t v) { m_out.push_back(uint8_t(v)); }
    void be(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) u8(v >> (8 * i));
    }
    void f64(double d) {
        const uint64_t b = std::bit_cast<uint64_t>(d);
        be(uint32_t(b >> 32), 4);
        be(uint32_t(b), 4);
    }
    void u29(uint32_t v) {
        v &= 0x1FFFFFFF;
        if (v < 0x80) { u8(v); return; }
        if (v < 0x4000) { u8(v >> 7 | 0x80); u8(v & 0x7F); return; }
        if (v < 0x200000) { u8(v >> 14 | 0x80); u8(v >> 7 | 0x80); u8(v & 0x7F); return; }
        u8(v >> 22 | 0x80); u8(v >> 15 | 0x80); u8(v >> 8 | 0x80); u8(v & 0xFF);
    }
    void utf8(const std::u16string& s) {
        const std::string u = utf16ToUtf8(s);
        m_out.insert(m_out.end(), u.begin(), u.end());
    }
    void string3(const std::u16string& s) {
        if (s.empty()) { u8(1); return; } // the empty string is never a reference
        auto it = m_strings.find(s);
        if (it != m_strings.end()) { u29(it->second << 1); return; }
        const uint32_t index = uint32_t(m_strings.size());
        m_strings.emplace(s, index);
        const std::string u = utf16ToUtf8(s);
        u29(uint32_t(u.size()) << 1 | 1);
        m_out.insert(m_out.end(), u.begin(), u.end());
    }
    // Writes the back reference when the value was written before.
    bool reference3(ValueId id) {
        auto it = m_objects.find(id);
        if (it != m_objects.end()) { u29(it->second << 1); return true; }
        m_objects.emplace(id, uint32_t(m_objects.size()));
        return false;
    }

    bool write3(const Value& v, ValueId id) {
        switch (v.type) {
        case Type::Undefined: u8(kUndefined3); return true;
        case Type::Null: u8(kNull3); return true;
        case Type::Boolean: u8(v.boolean ? kTrue3 : kFalse3); return true;
        case Type::Integer:
            if (v.integer < kMinInt29 || v.integer > kMaxInt29) { u8(kDouble3); f64(v.integer); return true; }
            u8(kInteger3);
            u29(uint32_t(v.integer));
            return true;
        case Type::Number: u8(kDouble3); f64(v.number); return true;
        case Type::String: u8(kString3); string3(v.text); return true;
        default: break;
        }
        const uint8_t marker = v.type == Type::Date ? kDate3 : v.type == Type::Array ? kArray3
            : v.type == Type::Object ? kObject3 : v.type == Type::Xml ? kXml3 : v.type == Type::XmlDocument ? kXmlDocument3
            : v.type == Type::ByteArray ? kByteArray3 : v.type == Type::VectorInt ? kVectorInt3
            : v.type == Type::VectorUInt ? kVectorUInt3 : v.type == Type::VectorDouble ? kVectorDouble3
            : v.type == Type::VectorObject ? kVectorObject3 : kDictionary3;
        u8(marker);
        if (reference3(id)) return true;
        switch (v.type) {
        case Type::Date: u29(1); f64(v.number); return true;
        case Type::Xml: case Type::XmlDocument: {
            const std::string u = utf16ToUtf8(v.text);
            u29(uint32_t(u.size()) << 1 | 1);
            m_out.insert(m_out.end(), u.begin(), u.end());
            return true;
        }
        case Type::ByteArray:
            u29(uint32_t(v.bytes.size()) << 1 | 1);
            writeBytes(v.bytes);
            return true;
        case Type::Array:
            u29(uint32_t(v.items.size()) << 1 | 1);
            for (const auto& [name, value] : v.members) {
                if (name.empty()) continue; // an empty key would end the list
                string3(name);
                if (!writeValue(value)) return false;
            }
            u8(1);
            for (ValueId item : v.items)
                if (!writeValue(item)) return false;
            return true;
        case Type::Object: return object3(v);
        case Type::VectorInt: case Type::VectorUInt: case Type::VectorDouble:
            u29(uint32_t(v.numbers.size()) << 1 | 1);
            u8(v.fixed);
            for (double d : v.numbers) {
                if (v.type == Type::VectorDouble) f64(d);
                else be(v.type == Type::VectorInt ? uint32_t(int32_t(d)) : uint32_t(d), 4);
            }
            return true;
        case Type::VectorObject:
            u29(uint32_t(v.items.size()) << 1 | 1);
            u8(v.fixed);
            string3(v.text.empty() ? u"*" : v.text);
            for (ValueId item : v.items)
                if (!writeValue(item)) return false;
            return true;
        case Type::Dictionary:
            u29(uint32_t(v.pairs.size()) << 1 | 1);
            u8(v.weakKeys);
            for (const auto& [k, val] : v.pairs)
                if (!writeValue(k) || !writeValue(val)) return false;
            return true;
        default: return false;
        }
    }

    bool object3(const Value& v) {
        const size_t sealed = std::min(v.sealedCount, v.members.size());
        std::vector<std::u16string> names;
        for (size_t i = 0; i < sealed; ++i) names.push_back(v.members[i].first);
        // The key tells traits apart by class, sealed names and kind.
        names.push_back(v.externalizable ? u"\x01" : v.dynamic ? u"\x02" : u"\x03");
        auto key = std::make_pair(v.text, names);
        names.pop_back();
        auto it = m_traits.find(key);
        if (it != m_traits.end()) {
            u29(it->second << 2 | 1);
        } else {
            m_traits.emplace(std::move(key), uint32_t(m_traits.size()));
            if (v.externalizable) {
                u29(7);
                string3(v.text);
            } else {
                u29(uint32_t(sealed) << 4 | (v.dynamic ? 8 : 0) | 3);
                string3(v.text);
                for (const auto& n : names) string3(n);
            }
        }
        if (v.externalizable) {
            if (m_hooks.write) return m_hooks.write(v, *this);
            if (isFlexWrapper(v.text) && v.items.size() == 1) return writeValue(v.items[0]);
            return false;
        }
        for (size_t i = 0; i < sealed; ++i)
            if (!writeValue(v.members[i].second)) return false;
        if (v.dynamic) {
            for (size_t i = sealed; i < v.members.size(); ++i) {
                if (v.members[i].first.empty()) continue;
                string3(v.members[i].first);
                if (!writeValue(v.members[i].second)) return false;
            }
            u8(1);
        }
        return true;
    }

    // ---- AMF0 ----

    bool name0(const std::u16string& s) {
        const std::string u = utf16ToUtf8(s);
        if (u.size() > 0xFFFF) return false;
        be(uint32_t(u.size()), 2);
        m_out.insert(m_out.end(), u.begin(), u.end());
        return true;
    }

    bool members0(const Value& v) {
        for (size_t i = 0; i < v.items.size(); ++i)
            if (!name0(ascii16(std::to_string(i))) || !write0(v.items[i])) return false;
        for (const auto& [name, value] : v.members) {
            if (name.empty()) continue;
            if (!name0(name) || !write0(value)) return false;
        }
        be(0, 2);
        u8(kObjectEnd0);
        return true;
    }

    bool write0(ValueId id) {
        if (id >= m_g.values.size() || ++m_depth > limits::kMaxAmfDepth) return false;
        const bool ok = write0Inner(m_g.values[id], id);
        --m_depth;
        return ok;
    }

    bool write0Inner(const Value& v, ValueId id) {
        switch (v.type) {
        case Type::Undefined: u8(kUndefined0); return true;
        case Type::Null: u8(kNull0); return true;
        case Type::Boolean: u8(kBoolean0); u8(v.boolean); return true;
        case Type::Integer: u8(kNumber0); f64(v.integer); return true;
        case Type::Number: u8(kNumber0); f64(v.number); return true;
        case Type::Date: u8(kDate0); f64(v.number); be(0, 2); return true;
        case Type::String: case Type::Xml: case Type::XmlDocument: {
            const std::string u = utf16ToUtf8(v.text);
            const bool longString = u.size() > 0xFFFF;
            u8(v.type != Type::String ? kXmlDocument0 : longString ? kLongString0 : kString0);
            be(uint32_t(u.size()), v.type == Type::String && !longString ? 2 : 4);
            m_out.insert(m_out.end(), u.begin(), u.end());
            return true;
        }
        case Type::Array: case Type::Object: {
            if (v.type == Type::Object && v.externalizable) break;
            auto it = m_objects0.find(id);
            if (it != m_objects0.end() && it->second <= 0xFFFF) {
                u8(kReference0);
                be(it->second, 2);
                return true;
            }
            m_objects0.emplace(id, uint32_t(m_objects0.size()));
            if (v.type == Type::Array && v.members.empty()) {
                u8(kStrictArray0);
                be(uint32_t(v.items.size()), 4);
                for (ValueId item : v.items)
                    if (!write0(item)) return false;
                return true;
            }
            if (v.type == Type::Array) {
                u8(kEcmaArray0);
                be(uint32_t(v.items.size()), 4);
            } else if (v.text.empty()) {
                u8(kObject0);
            } else {
                u8(kTypedObject0);
                if (!name0(v.text)) return false;
            }
            return members0(v);
        }
        default: break;
        }
        // No AMF0 form: switch to AMF3 with fresh tables.
        u8(kAvmPlus0);
        m_strings.clear();
        m_objects.clear();
        m_traits.clear();
        return write3(v, id);
    }
};

} // namespace

std::optional<Decoded> decode(std::span<const uint8_t> data, Version version, const ExternalHooks& hooks) {
    return Decoder(data, hooks).run(version);
}

std::optional<std::vector<uint8_t>> encode(const Graph& graph, ValueId root, Version version, const ExternalHooks& hooks) {
    return Encoder(graph, hooks).run(root, version);
}

} // namespace swf::avm2lib::amf
