#pragma once
// The parsed form of one ABC block (DoABC): constant pools, methods,
// classes, scripts and method bodies, with every index checked at load.
// Immutable once parsed; the VM keeps it alive with shared_ptr.
#include "engine/core/result.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace swf::avm2 {

enum class NsKind : uint8_t {
    Private = 0x05, Namespace = 0x08, Package = 0x16, PackageInternal = 0x17,
    Protected = 0x18, Explicit = 0x19, StaticProtected = 0x1A,
};

// A namespace as the VM compares them: user, package and explicit
// namespaces are the same namespace when their URIs agree; a private
// namespace is only ever equal to itself.
struct Namespace {
    NsKind kind = NsKind::Package;
    QString uri;
    uint64_t privateId = 0; // distinct for every private namespace
    bool isPublic() const {
        return (kind == NsKind::Package || kind == NsKind::Namespace || kind == NsKind::Explicit) && uri.isEmpty();
    }
    int category() const {
        switch (kind) {
        case NsKind::Namespace: case NsKind::Package: case NsKind::Explicit: return 0;
        default: return int(kind);
        }
    }
    bool operator==(const Namespace& o) const {
        if (category() != o.category()) return false;
        if (kind == NsKind::Private) return privateId == o.privateId;
        return uri == o.uri;
    }
};

enum class MnKind : uint8_t {
    QName = 0x07, QNameA = 0x0D, RTQName = 0x0F, RTQNameA = 0x10, RTQNameL = 0x11, RTQNameLA = 0x12,
    Multiname = 0x09, MultinameA = 0x0E, MultinameL = 0x1B, MultinameLA = 0x1C, TypeName = 0x1D,
};

// A multiname with its pool references resolved. `anyName`/`anyNs` stand
// for `*`; runtime parts come off the operand stack when used.
struct Multiname {
    MnKind kind = MnKind::QName;
    bool attribute = false;
    bool runtimeNs = false;
    bool runtimeName = false;
    bool anyName = false;
    bool anyNs = false;
    QString name;
    std::vector<Namespace> nss;     // one for QName forms, the set for Multiname forms
    uint32_t typeBase = 0;          // TypeName: the generic type's multiname
    std::vector<uint32_t> typeParams;
};

enum class MethodFlag : uint8_t {
    NeedArguments = 0x01, NeedActivation = 0x02, NeedRest = 0x04, HasOptional = 0x08,
    IgnoreRest = 0x10, Native = 0x20, SetDxns = 0x40, HasParamNames = 0x80,
};

struct ConstantRef {
    uint8_t kind = 0; // CONSTANT_* value kind
    uint32_t index = 0;
};

struct MethodInfo {
    std::vector<uint32_t> paramTypes; // multiname indices, 0 = *
    uint32_t returnType = 0;
    QString name;
    uint8_t flags = 0;
    std::vector<ConstantRef> optionals; // defaults of the last optionals.size() parameters
    int body = -1;                      // index into AbcFile::bodies
    bool has(MethodFlag f) const { return (flags & uint8_t(f)) != 0; }
};

enum class TraitKind : uint8_t { Slot = 0, Method = 1, Getter = 2, Setter = 3, Class = 4, Function = 5, Const = 6 };

struct Trait {
    uint32_t name = 0; // a QName multiname
    TraitKind kind = TraitKind::Slot;
    uint8_t attrs = 0;  // 1 final, 2 override, 4 metadata
    uint32_t id = 0;    // slot id or disp id
    uint32_t typeName = 0;
    ConstantRef value;  // slot default
    uint32_t index = 0; // method, class or function index
};

struct InstanceInfo {
    uint32_t name = 0;
    uint32_t superName = 0;
    uint8_t flags = 0; // 1 sealed, 2 final, 4 interface, 8 protected ns
    uint32_t protectedNs = 0;
    std::vector<uint32_t> interfaces;
    uint32_t iinit = 0;
    std::vector<Trait> traits;
    bool isInterface() const { return flags & 4; }
    bool isSealed() const { return flags & 1; }
};

struct ClassInfo {
    uint32_t cinit = 0;
    std::vector<Trait> traits;
};

struct ScriptInfo {
    uint32_t init = 0;
    std::vector<Trait> traits;
};

struct ExceptionInfo {
    uint32_t from = 0, to = 0, target = 0;
    uint32_t excType = 0; // multiname of the caught class, 0 = any
    uint32_t varName = 0; // multiname of the catch variable, 0 = none
};

struct MethodBody {
    uint32_t method = 0;
    uint32_t maxStack = 0, localCount = 0, initScopeDepth = 0, maxScopeDepth = 0;
    std::vector<uint8_t> code;
    std::vector<ExceptionInfo> exceptions;
    std::vector<Trait> traits; // activation traits
};

struct AbcFile {
    std::vector<int32_t> ints{0};
    std::vector<uint32_t> uints{0};
    std::vector<double> doubles;
    std::vector<QString> strings{QString()};
    std::vector<Namespace> namespaces;
    std::vector<std::vector<Namespace>> nsSets{{}};
    std::vector<Multiname> multinames;
    std::vector<MethodInfo> methods;
    std::vector<InstanceInfo> instances;
    std::vector<ClassInfo> classes;
    std::vector<ScriptInfo> scripts;
    std::vector<MethodBody> bodies;
};

// Parses an ABC block. `privateIdBase` numbers its private namespaces so
// that they differ from every other block's. A malformed block is refused
// with the offset and what was wrong.
Result<std::shared_ptr<const AbcFile>> parseAbc(std::span<const uint8_t> data, uint64_t privateIdBase = 0);

// DoABC (tag 82) body: flags, name, then the ABC bytes.
struct DoAbcTag {
    bool lazy = false;
    QString name;
    std::span<const uint8_t> abc;
};
Result<DoAbcTag> readDoAbc(std::span<const uint8_t> body, bool withHeader);

// SymbolClass: character id -> fully qualified class name.
std::vector<std::pair<uint16_t, QString>> readSymbolClass(std::span<const uint8_t> body);

} // namespace swf::avm2
