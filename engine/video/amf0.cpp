#include "engine/video/amf0.h"

#include <bit>
#include <cstring>

namespace swf::video {

namespace {

// Objects inside objects; deeper data is dropped.
constexpr int kMaxDepth = 32;
// Members and items in one script tag (cue point tables can be long).
constexpr size_t kMaxValues = 1u << 16;

class AmfReader {
public:
    explicit AmfReader(std::span<const uint8_t> d) : m_d(d) {}
    bool failed() const { return m_failed; }

    uint32_t uint(int bytes) {
        if (m_pos + size_t(bytes) > m_d.size()) return fail();
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8 | m_d[m_pos++];
        return v;
    }
    double number() {
        const uint64_t hi = uint(4), lo = uint(4);
        return std::bit_cast<double>(hi << 32 | lo);
    }
    std::string string(bool longForm) {
        const size_t n = uint(longForm ? 4 : 2);
        if (m_failed || n > m_d.size() - m_pos) return fail(), std::string();
        std::string s(reinterpret_cast<const char*>(m_d.data() + m_pos), n);
        m_pos += n;
        return s;
    }
    AmfValue value(int depth) {
        AmfValue v;
        const uint32_t marker = uint(1);
        if (m_failed || depth > kMaxDepth) return fail(), v;
        switch (marker) {
        case 0: v.type = AmfValue::Type::Number; v.number = number(); break;
        case 1: v.type = AmfValue::Type::Boolean; v.number = uint(1) ? 1 : 0; break;
        case 2: v.type = AmfValue::Type::String; v.string = string(false); break;
        case 12: v.type = AmfValue::Type::String; v.string = string(true); break;
        case 3: v.type = AmfValue::Type::Object; members(v, depth); break;
        case 8: v.type = AmfValue::Type::Object; uint(4); members(v, depth); break; // the count is a hint only
        case 10: {
            v.type = AmfValue::Type::Array;
            const uint32_t n = uint(4);
            for (uint32_t i = 0; i < n && !m_failed && spend(); ++i) v.items.push_back(value(depth + 1));
            break;
        }
        case 11: v.type = AmfValue::Type::Date; v.number = number(); uint(2); break;
        case 5: v.type = AmfValue::Type::Null; break;
        case 6: v.type = AmfValue::Type::Undefined; break;
        default: fail(); break; // references, typed objects, AMF3: not in FLV files
        }
        return v;
    }

private:
    uint32_t fail() {
        m_failed = true;
        return 0;
    }
    bool spend() { return ++m_values <= kMaxValues || (fail(), false); }
    void members(AmfValue& v, int depth) {
        while (!m_failed && spend()) {
            std::string key = string(false);
            if (key.empty() && m_pos < m_d.size() && m_d[m_pos] == 9) { // object end
                ++m_pos;
                return;
            }
            AmfValue member = value(depth + 1);
            if (!m_failed) v.members.push_back({std::move(key), std::move(member)});
        }
    }

    std::span<const uint8_t> m_d;
    size_t m_pos = 0, m_values = 0;
    bool m_failed = false;
};

} // namespace

std::optional<AmfCall> readScriptTag(std::span<const uint8_t> body) {
    AmfReader r(body);
    AmfValue name = r.value(0);
    if (r.failed() || name.type != AmfValue::Type::String) return std::nullopt;
    AmfCall call{name.string, r.value(0)};
    // A broken argument still names the handler: it gets what was read.
    return call;
}

} // namespace swf::video
