#include "engine/avm2/abc.h"

#include "engine/avm2/code_reader.h"

#include "engine/core/limits.h"

#include <cstring>

namespace swf::avm2 {

namespace {

// Reads ABC primitives; the first fault sticks and later reads give 0.
class AbcReader {
public:
    explicit AbcReader(std::span<const uint8_t> data) : m_data(data) {}
    bool failed() const { return !m_error.empty(); }
    const std::string& error() const { return m_error; }
    size_t pos() const { return m_pos; }
    size_t remaining() const { return m_data.size() - m_pos; }
    void fail(const std::string& why) {
        if (m_error.empty()) m_error = why + " at offset " + std::to_string(m_pos);
    }
    uint8_t u8() {
        if (m_pos >= m_data.size()) { fail("data ends early"); return 0; }
        return m_data[m_pos++];
    }
    uint16_t u16() { uint16_t lo = u8(); return uint16_t(lo | (u8() << 8)); }
    uint32_t u32() { return readVarU32([this] { return u8(); }); }
    uint32_t u30() {
        uint32_t v = u32();
        if (v >> 30) fail("u30 value out of range");
        return failed() ? 0 : v;
    }
    int32_t s32() {
        uint32_t v = 0;
        int shift = 0;
        for (int i = 0; i < 5; ++i) {
            uint8_t b = u8();
            v |= uint32_t(b & 0x7F) << shift;
            shift += 7;
            if (!(b & 0x80)) break;
        }
        // The value is the low 32 bits as read, with no sign extension of a short form:
        // one byte 0x64 is 100, and negative numbers take all five bytes.
        return int32_t(v);
    }
    double d64() {
        if (remaining() < 8) { fail("data ends early"); m_pos = m_data.size(); return 0; }
        double d;
        std::memcpy(&d, m_data.data() + m_pos, 8); // little-endian host
        m_pos += 8;
        return d;
    }
    std::span<const uint8_t> bytes(size_t n) {
        if (remaining() < n) { fail("data ends early"); m_pos = m_data.size(); return {}; }
        auto s = m_data.subspan(m_pos, n);
        m_pos += n;
        return s;
    }
    // A count of entries that each take at least one byte: a larger count is a lie.
    uint32_t count(const char* what) {
        uint32_t n = u30();
        if (n > remaining() + 1) { fail(std::string(what) + " count " + std::to_string(n) + " exceeds the data"); return 0; }
        return n;
    }

private:
    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
    std::string m_error;
};

class AbcParser {
public:
    AbcParser(std::span<const uint8_t> data, uint64_t privateIdBase) : r(data), m_privateBase(privateIdBase) {}

    Result<std::shared_ptr<const AbcFile>> parse() {
        auto abc = std::make_shared<AbcFile>();
        f = abc.get();
        uint16_t minor = r.u16(), major = r.u16();
        if (!r.failed() && (major != 46 || minor < 16))
            return Error{ErrorCode::BadVersion, -1, 0,
                         "Not an ABC file. major_version=" + std::to_string(major) + " minor_version=" + std::to_string(minor)};
        constantPool();
        methods();
        metadata();
        classes();
        scripts();
        bodies();
        if (!r.failed() && r.remaining() > 0) r.fail("trailing bytes after the method bodies");
        if (r.failed()) return Error{ErrorCode::Malformed, -1, int64_t(r.pos()), "ABC: " + r.error()};
        return std::shared_ptr<const AbcFile>(std::move(abc));
    }

private:
    template <typename T>
    void reserve(std::vector<T>& v, size_t n) { v.reserve(std::min(n, limits::kReserveCap)); }

    uint32_t index(uint32_t i, size_t size, const char* what) {
        if (i >= size) { r.fail(std::string(what) + " index " + std::to_string(i) + " out of range " + std::to_string(size)); return 0; }
        return i;
    }
    uint32_t stringIndex() { return index(r.u30(), f->strings.size(), "string"); }
    uint32_t multinameIndex() { return index(r.u30(), f->multinames.size(), "multiname"); }
    uint32_t methodIndex() { return index(r.u30(), f->methods.size(), "method"); }

    void constantPool() {
        uint32_t n = r.count("int");
        reserve(f->ints, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) f->ints.push_back(r.s32());
        n = r.count("uint");
        reserve(f->uints, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) f->uints.push_back(r.u32());
        n = r.count("double");
        f->doubles.push_back(std::numeric_limits<double>::quiet_NaN());
        reserve(f->doubles, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) f->doubles.push_back(r.d64());
        n = r.count("string");
        reserve(f->strings, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) {
            auto bytes = r.bytes(r.u30());
            f->strings.push_back(QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
        }
        n = r.count("namespace");
        f->namespaces.push_back(Namespace{NsKind::Package, QString(), 0}); // entry 0: any namespace
        reserve(f->namespaces, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) {
            uint8_t kind = r.u8();
            uint32_t name = stringIndex();
            switch (kind) {
            case 0x05: case 0x08: case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A: break;
            default: r.fail("unknown namespace kind " + std::to_string(kind));
            }
            Namespace ns{NsKind(kind), f->strings[name], 0};
            if (ns.kind == NsKind::Private) ns.privateId = m_privateBase + i;
            f->namespaces.push_back(ns);
        }
        n = r.count("namespace set");
        reserve(f->nsSets, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) {
            uint32_t c = r.count("namespace set entry");
            std::vector<Namespace> set;
            reserve(set, c);
            for (uint32_t k = 0; k < c && !r.failed(); ++k) {
                uint32_t ns = index(r.u30(), f->namespaces.size(), "namespace");
                if (ns == 0) r.fail("namespace set names namespace 0");
                set.push_back(f->namespaces[ns]);
            }
            f->nsSets.push_back(std::move(set));
        }
        n = r.count("multiname");
        f->multinames.push_back(Multiname{MnKind::QName, false, false, false, true, true, {}, {}, 0, {}});
        reserve(f->multinames, n);
        for (uint32_t i = 1; i < n && !r.failed(); ++i) f->multinames.push_back(multiname());
        // TypeName parameters may point forward: check them once all are read.
        for (const Multiname& m : f->multinames)
            if (m.kind == MnKind::TypeName) {
                index(m.typeBase, f->multinames.size(), "type name base");
                for (uint32_t p : m.typeParams) index(p, f->multinames.size(), "type parameter");
            }
    }

    Multiname multiname() {
        Multiname m;
        uint8_t kind = r.u8();
        m.kind = MnKind(kind);
        auto name = [&] {
            uint32_t s = stringIndex();
            m.anyName = s == 0;
            m.name = f->strings[s];
        };
        auto ns = [&] {
            uint32_t n = index(r.u30(), f->namespaces.size(), "namespace");
            m.anyNs = n == 0;
            if (n) m.nss.push_back(f->namespaces[n]);
        };
        auto nsSet = [&] {
            uint32_t s = index(r.u30(), f->nsSets.size(), "namespace set");
            if (s == 0) r.fail("multiname names namespace set 0");
            m.nss = f->nsSets[s];
        };
        switch (kind) {
        case 0x07: case 0x0D: ns(); name(); break;
        case 0x0F: case 0x10: name(); m.runtimeNs = true; break;
        case 0x11: case 0x12: m.runtimeNs = m.runtimeName = true; break;
        case 0x09: case 0x0E: name(); nsSet(); break;
        case 0x1B: case 0x1C: nsSet(); m.runtimeName = true; break;
        case 0x1D: {
            m.typeBase = r.u30();
            uint32_t c = r.count("type parameter");
            for (uint32_t k = 0; k < c && !r.failed(); ++k) m.typeParams.push_back(r.u30());
            break;
        }
        default: r.fail("unknown multiname kind " + std::to_string(kind));
        }
        m.attribute = kind == 0x0D || kind == 0x10 || kind == 0x12 || kind == 0x0E || kind == 0x1C;
        return m;
    }

    ConstantRef constant(uint32_t idx, uint8_t kind) {
        size_t size = 0;
        switch (kind) {
        case 0x00: case 0x0A: case 0x0B: case 0x0C: return {kind, 0};
        case 0x01: size = f->strings.size(); break;
        case 0x03: size = f->ints.size(); break;
        case 0x04: size = f->uints.size(); break;
        case 0x06: size = f->doubles.size(); break;
        case 0x05: case 0x08: case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A: size = f->namespaces.size(); break;
        default: r.fail("unknown constant kind " + std::to_string(kind)); return {};
        }
        return {kind, index(idx, size, "constant")};
    }

    void methods() {
        uint32_t n = r.count("method");
        reserve(f->methods, n);
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            MethodInfo m;
            uint32_t params = r.count("parameter");
            m.returnType = multinameIndex();
            for (uint32_t k = 0; k < params && !r.failed(); ++k) m.paramTypes.push_back(multinameIndex());
            m.name = f->strings[stringIndex()];
            m.flags = r.u8();
            if (m.has(MethodFlag::HasOptional)) {
                uint32_t c = r.u30();
                if (c == 0 || c > params) r.fail("method has " + std::to_string(c) + " optional parameters of " + std::to_string(params));
                for (uint32_t k = 0; k < c && !r.failed(); ++k) {
                    uint32_t val = r.u30();
                    m.optionals.push_back(constant(val, r.u8()));
                }
            }
            if (m.has(MethodFlag::HasParamNames))
                for (uint32_t k = 0; k < params && !r.failed(); ++k) stringIndex();
            f->methods.push_back(std::move(m));
        }
    }

    void metadata() {
        uint32_t n = r.count("metadata");
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            stringIndex();
            uint32_t items = r.count("metadata item");
            for (uint32_t k = 0; k < 2 * items && !r.failed(); ++k) stringIndex();
        }
    }

    std::vector<Trait> traits() {
        std::vector<Trait> out;
        uint32_t n = r.count("trait");
        reserve(out, n);
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            Trait t;
            t.name = multinameIndex();
            if (!r.failed() && (t.name == 0 || f->multinames[t.name].kind != MnKind::QName))
                r.fail("trait name is not a QName");
            uint8_t kind = r.u8();
            t.kind = TraitKind(kind & 0x0F);
            t.attrs = kind >> 4;
            switch (t.kind) {
            case TraitKind::Slot: case TraitKind::Const: {
                t.id = r.u30();
                t.typeName = multinameIndex();
                uint32_t v = r.u30();
                if (v) t.value = constant(v, r.u8());
                break;
            }
            case TraitKind::Method: case TraitKind::Getter: case TraitKind::Setter:
                t.id = r.u30();
                t.index = methodIndex();
                break;
            case TraitKind::Class:
                t.id = r.u30();
                t.index = r.u30();
                if (t.index >= m_classCount) r.fail("class index out of range");
                break;
            case TraitKind::Function:
                t.id = r.u30();
                t.index = methodIndex();
                break;
            default: r.fail("Unsupported traits kind=" + std::to_string(kind & 0x0F));
            }
            if (t.attrs & 4) {
                uint32_t c = r.count("trait metadata");
                for (uint32_t k = 0; k < c && !r.failed(); ++k) r.u30();
            }
            out.push_back(t);
        }
        return out;
    }

    void classes() {
        uint32_t n = r.count("class");
        m_classCount = n;
        reserve(f->instances, n);
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            InstanceInfo inst;
            inst.name = multinameIndex();
            if (!r.failed() && f->multinames[inst.name].kind != MnKind::QName) r.fail("class name is not a QName");
            inst.superName = multinameIndex();
            inst.flags = r.u8();
            if (inst.flags & 8) inst.protectedNs = index(r.u30(), f->namespaces.size(), "namespace");
            uint32_t c = r.count("interface");
            for (uint32_t k = 0; k < c && !r.failed(); ++k) {
                uint32_t m = multinameIndex();
                if (m == 0) r.fail("interface index 0");
                inst.interfaces.push_back(m);
            }
            inst.iinit = methodIndex();
            inst.traits = traits();
            f->instances.push_back(std::move(inst));
        }
        reserve(f->classes, n);
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            ClassInfo c;
            c.cinit = methodIndex();
            c.traits = traits();
            f->classes.push_back(std::move(c));
        }
    }

    void scripts() {
        uint32_t n = r.count("script");
        if (!r.failed() && n == 0) r.fail("no entry point was found");
        reserve(f->scripts, n);
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            ScriptInfo s;
            s.init = methodIndex();
            s.traits = traits();
            f->scripts.push_back(std::move(s));
        }
    }

    void bodies() {
        uint32_t n = r.count("method body");
        reserve(f->bodies, n);
        for (uint32_t i = 0; i < n && !r.failed(); ++i) {
            MethodBody b;
            b.method = methodIndex();
            b.maxStack = r.u30();
            b.localCount = r.u30();
            b.initScopeDepth = r.u30();
            b.maxScopeDepth = r.u30();
            if (!r.failed() && b.maxScopeDepth < b.initScopeDepth) r.fail("max_scope_depth below init_scope_depth");
            auto code = r.bytes(r.u30());
            b.code.assign(code.begin(), code.end());
            uint32_t e = r.count("exception");
            for (uint32_t k = 0; k < e && !r.failed(); ++k) {
                ExceptionInfo x;
                x.from = r.u30(); x.to = r.u30(); x.target = r.u30();
                x.excType = multinameIndex();
                x.varName = multinameIndex();
                b.exceptions.push_back(x);
            }
            b.traits = traits();
            if (r.failed()) break;
            MethodInfo& m = f->methods[b.method];
            if (m.body >= 0) { r.fail("method " + std::to_string(b.method) + " has two bodies"); break; }
            m.body = int(f->bodies.size());
            f->bodies.push_back(std::move(b));
        }
    }

    AbcReader r;
    uint64_t m_privateBase;
    AbcFile* f = nullptr;
    uint32_t m_classCount = 0;
};

} // namespace

Result<std::shared_ptr<const AbcFile>> parseAbc(std::span<const uint8_t> data, uint64_t privateIdBase) {
    return AbcParser(data, privateIdBase).parse();
}

Result<DoAbcTag> readDoAbc(std::span<const uint8_t> body, bool withHeader) {
    DoAbcTag t;
    if (!withHeader) {
        t.abc = body;
        return t;
    }
    if (body.size() < 4) return Error{ErrorCode::Truncated, 82, -1, "DoABC: no flags"};
    t.lazy = body[0] & 1;
    size_t p = 4;
    while (p < body.size() && body[p] != 0) ++p;
    if (p >= body.size()) return Error{ErrorCode::Truncated, 82, -1, "DoABC: name is not terminated"};
    t.name = QString::fromUtf8(reinterpret_cast<const char*>(body.data() + 4), qsizetype(p - 4));
    t.abc = body.subspan(p + 1);
    return t;
}

std::vector<std::pair<uint16_t, QString>> readSymbolClass(std::span<const uint8_t> body) {
    std::vector<std::pair<uint16_t, QString>> out;
    if (body.size() < 2) return out;
    size_t n = body[0] | (body[1] << 8), p = 2;
    for (size_t i = 0; i < n && p + 2 <= body.size(); ++i) {
        uint16_t id = uint16_t(body[p] | (body[p + 1] << 8));
        size_t s = p + 2, e = s;
        while (e < body.size() && body[e] != 0) ++e;
        if (e >= body.size()) break;
        out.emplace_back(id, QString::fromUtf8(reinterpret_cast<const char*>(body.data() + s), qsizetype(e - s)));
        p = e + 1;
    }
    return out;
}

} // namespace swf::avm2
