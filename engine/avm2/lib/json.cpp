#include "engine/avm2/lib/json.h"

#include "engine/avm2/lib/unicode.h"
#include "engine/core/limits.h"
#include "engine/core/number_format.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace swf::avm2lib::json {

namespace {

class Parser {
public:
    explicit Parser(std::u16string_view s) : m_s(s) {}

    std::optional<Value> run() {
        Value v;
        if (!value(v, 0)) return std::nullopt;
        space();
        if (m_pos != m_s.size()) return std::nullopt;
        return v;
    }

private:
    std::u16string_view m_s;
    size_t m_pos = 0;

    void space() {
        while (m_pos < m_s.size() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t' || m_s[m_pos] == '\n' || m_s[m_pos] == '\r'))
            ++m_pos;
    }
    bool literal(std::u16string_view word) {
        if (m_s.substr(m_pos, word.size()) != word) return false;
        m_pos += word.size();
        return true;
    }

    bool value(Value& out, int depth) {
        if (depth > limits::kMaxJsonDepth) return false;
        space();
        if (m_pos >= m_s.size()) return false;
        switch (m_s[m_pos]) {
        case '{': return object(out, depth);
        case '[': return array(out, depth);
        case '"': out.kind = Kind::String; return string(out.string);
        case 't': out.kind = Kind::Boolean; out.boolean = true; return literal(u"true");
        case 'f': out.kind = Kind::Boolean; out.boolean = false; return literal(u"false");
        case 'n': out.kind = Kind::Null; return literal(u"null");
        default: out.kind = Kind::Number; return number(out.number);
        }
    }

    bool object(Value& out, int depth) {
        out.kind = Kind::Object;
        ++m_pos;
        space();
        if (m_pos < m_s.size() && m_s[m_pos] == '}') { ++m_pos; return true; }
        for (;;) {
            space();
            std::u16string key;
            if (m_pos >= m_s.size() || m_s[m_pos] != '"' || !string(key)) return false;
            space();
            if (m_pos >= m_s.size() || m_s[m_pos++] != ':') return false;
            Value v;
            if (!value(v, depth + 1)) return false;
            auto it = std::find_if(out.members.begin(), out.members.end(), [&](const auto& m) { return m.first == key; });
            if (it != out.members.end()) it->second = std::move(v);
            else out.members.push_back({std::move(key), std::move(v)});
            space();
            if (m_pos >= m_s.size()) return false;
            const char16_t c = m_s[m_pos++];
            if (c == '}') return true;
            if (c != ',') return false;
        }
    }

    bool array(Value& out, int depth) {
        out.kind = Kind::Array;
        ++m_pos;
        space();
        if (m_pos < m_s.size() && m_s[m_pos] == ']') { ++m_pos; return true; }
        for (;;) {
            Value v;
            if (!value(v, depth + 1)) return false;
            out.items.push_back(std::move(v));
            space();
            if (m_pos >= m_s.size()) return false;
            const char16_t c = m_s[m_pos++];
            if (c == ']') return true;
            if (c != ',') return false;
        }
    }

    bool string(std::u16string& out) {
        ++m_pos; // opening quote
        while (m_pos < m_s.size()) {
            const char16_t c = m_s[m_pos++];
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') { out += c; continue; }
            if (m_pos >= m_s.size()) return false;
            const char16_t e = m_s[m_pos++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += u'\b'; break;
            case 'f': out += u'\f'; break;
            case 'n': out += u'\n'; break;
            case 'r': out += u'\r'; break;
            case 't': out += u'\t'; break;
            case 'u': {
                if (m_pos + 4 > m_s.size()) return false;
                int v = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = hexValue(m_s[m_pos++]);
                    if (d < 0) return false;
                    v = v * 16 + d;
                }
                out += char16_t(v);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    bool number(double& out) {
        const size_t start = m_pos;
        auto digit = [&] { return m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9'; };
        if (m_pos < m_s.size() && m_s[m_pos] == '-') ++m_pos;
        if (!digit()) return false;
        if (m_s[m_pos] == '0') ++m_pos; // no leading zeros
        else while (digit()) ++m_pos;
        if (m_pos < m_s.size() && m_s[m_pos] == '.') {
            ++m_pos;
            if (!digit()) return false;
            while (digit()) ++m_pos;
        }
        if (m_pos < m_s.size() && (m_s[m_pos] == 'e' || m_s[m_pos] == 'E')) {
            ++m_pos;
            if (m_pos < m_s.size() && (m_s[m_pos] == '+' || m_s[m_pos] == '-')) ++m_pos;
            if (!digit()) return false;
            while (digit()) ++m_pos;
        }
        const std::string ascii(m_s.begin() + long(start), m_s.begin() + long(m_pos));
        out = std::strtod(ascii.c_str(), nullptr);
        return true;
    }
};

std::u16string indexKey(size_t i) { return ascii16(std::to_string(i)); }

// ECMAScript 5's Walk: children first, then the value itself, through the reviver.
Value walk(const Value& holder, const std::u16string& key, Value v, const Reviver& reviver) {
    if (v.kind == Kind::Array) {
        for (size_t i = 0; i < v.items.size(); ++i) v.items[i] = walk(v, indexKey(i), v.items[i], reviver);
    } else if (v.kind == Kind::Object) {
        // The reviver sees the holder as it stands, so each child is copied in.
        for (size_t i = 0; i < v.members.size(); ++i) v.members[i].second = walk(v, v.members[i].first, v.members[i].second, reviver);
        std::erase_if(v.members, [](const auto& m) { return m.second.kind == Kind::Undefined; });
    }
    return reviver(holder, key, std::move(v));
}

class Stringifier {
public:
    Stringifier(StringifyHost& host, const std::u16string& gap) : m_host(host), m_gap(gap) {}

    int errorId = 0;

    // Appends holder[key]; false when it is undefined (or on error).
    bool str(StringifyHost::Handle holder, const std::u16string& key, std::u16string& out) {
        const StringifyHost::Handle v = m_host.resolve(holder, key);
        switch (m_host.kind(v)) {
        case Kind::Undefined: return false;
        case Kind::Null: out += u"null"; return true;
        case Kind::Boolean: out += m_host.boolean(v) ? u"true" : u"false"; return true;
        case Kind::Number: {
            const double d = m_host.number(v);
            out += std::isfinite(d) ? ascii16(numberToString(d)) : u"null";
            return true;
        }
        case Kind::String: out += quote(m_host.string(v)); return true;
        case Kind::Array: case Kind::Object: return composite(v, out);
        }
        return false;
    }

private:
    StringifyHost& m_host;
    std::u16string m_gap;
    std::u16string m_indent;
    std::vector<StringifyHost::Handle> m_stack;

    bool composite(StringifyHost::Handle v, std::u16string& out) {
        if (std::find(m_stack.begin(), m_stack.end(), v) != m_stack.end()) { errorId = kCycleErrorId; return false; }
        if (int(m_stack.size()) >= limits::kMaxJsonDepth) { errorId = kStackOverflowErrorId; return false; }
        m_stack.push_back(v);
        const std::u16string stepback = m_indent;
        m_indent += m_gap;
        const bool array = m_host.kind(v) == Kind::Array;
        std::vector<std::u16string> parts;
        if (array) {
            const uint32_t n = m_host.length(v);
            for (uint32_t i = 0; i < n && !errorId; ++i) {
                std::u16string part;
                if (!str(v, indexKey(i), part)) part = u"null";
                parts.push_back(std::move(part));
            }
        } else {
            for (const std::u16string& k : m_host.keys(v)) {
                if (errorId) break;
                std::u16string part = quote(k) + u":";
                if (!m_gap.empty()) part += u' ';
                if (str(v, k, part)) parts.push_back(std::move(part));
            }
        }
        m_stack.pop_back();
        if (errorId) return false;
        const char16_t open = array ? '[' : '{', close = array ? ']' : '}';
        out += open;
        if (!parts.empty()) {
            const std::u16string separator = m_gap.empty() ? u"," : u",\n" + m_indent;
            if (!m_gap.empty()) out += u"\n" + m_indent;
            for (size_t i = 0; i < parts.size(); ++i) {
                if (i) out += separator;
                out += parts[i];
            }
            if (!m_gap.empty()) out += u"\n" + stepback;
        }
        out += close;
        m_indent = stepback;
        return true;
    }
};

// Stringify over a tree: handles are node addresses; the root sits in a wrapper.
class TreeHost final : public StringifyHost {
public:
    explicit TreeHost(const Value& root) { m_wrapper.kind = Kind::Object; m_wrapper.members.push_back({u"", root}); }
    Handle wrapper() const { return Handle(reinterpret_cast<uintptr_t>(&m_wrapper)); }

    Handle resolve(Handle holder, const std::u16string& key) override {
        const Value& h = *node(holder);
        if (h.kind == Kind::Array) return Handle(reinterpret_cast<uintptr_t>(&h.items[std::stoul(utf16ToUtf8(key))]));
        for (const auto& m : h.members)
            if (m.first == key) return Handle(reinterpret_cast<uintptr_t>(&m.second));
        return Handle(reinterpret_cast<uintptr_t>(&m_undefined));
    }
    Kind kind(Handle v) override { return node(v)->kind; }
    bool boolean(Handle v) override { return node(v)->boolean; }
    double number(Handle v) override { return node(v)->number; }
    std::u16string string(Handle v) override { return node(v)->string; }
    uint32_t length(Handle v) override { return uint32_t(node(v)->items.size()); }
    std::vector<std::u16string> keys(Handle v) override {
        std::vector<std::u16string> out;
        for (const auto& m : node(v)->members) out.push_back(m.first);
        return out;
    }

private:
    Value m_wrapper;
    Value m_undefined = undefinedValue();
    static Value undefinedValue() { Value v; v.kind = Kind::Undefined; return v; }
    static const Value* node(Handle h) { return reinterpret_cast<const Value*>(uintptr_t(h)); }
};

} // namespace

ParseResult parse(std::u16string_view text, const Reviver& reviver) {
    std::optional<Value> v = Parser(text).run();
    if (!v) return {std::nullopt, kParseErrorId};
    if (!reviver) return {std::move(v), 0};
    Value root;
    root.kind = Kind::Object;
    root.members.push_back({u"", *v});
    return {walk(root, u"", std::move(*v), reviver), 0};
}

std::u16string quote(std::u16string_view s) {
    std::u16string out = u"\"";
    static const char16_t kHex[] = u"0123456789abcdef";
    for (char16_t c : s) {
        switch (c) {
        case '"': out += u"\\\""; break;
        case '\\': out += u"\\\\"; break;
        case '\b': out += u"\\b"; break;
        case '\f': out += u"\\f"; break;
        case '\n': out += u"\\n"; break;
        case '\r': out += u"\\r"; break;
        case '\t': out += u"\\t"; break;
        default:
            if (c < 0x20) {
                out += u"\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += c;
            }
        }
    }
    return out + u"\"";
}

std::u16string gapFromNumber(double space) {
    if (!(space >= 1)) return {};
    return std::u16string(size_t(std::min(10.0, std::floor(space))), u' ');
}

std::u16string gapFromString(std::u16string_view space) { return std::u16string(space.substr(0, 10)); }

StringifyResult stringify(StringifyHost& host, StringifyHost::Handle holder, const std::u16string& key, const std::u16string& gap) {
    Stringifier s(host, gap);
    std::u16string out;
    const bool written = s.str(holder, key, out);
    if (s.errorId) return {std::nullopt, s.errorId};
    if (!written) return {};
    return {std::move(out), 0};
}

StringifyResult stringify(const Value& value, const std::u16string& gap) {
    TreeHost host(value);
    return stringify(host, host.wrapper(), u"", gap);
}

} // namespace swf::avm2lib::json
