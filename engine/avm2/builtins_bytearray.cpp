// flash.utils.ByteArray over the library's buffer, with readObject and
// writeObject through the AMF graph: each object is one node, so shared and
// cyclic references survive a round trip.
#include "engine/avm2/builtins.h"

#include "engine/avm2/lib/amf.h"
#include "engine/core/limits.h"

#include <QHash>

namespace swf::avm2 {

namespace amf = avm2lib::amf;
using avm2lib::ByteArray;

namespace {

ByteArrayObject* self_(Vm& vm, const Value& self) { return thisAs<ByteArrayObject>(vm, self, "flash.utils.ByteArray"); }
ByteArray& bytesOf(Vm& vm, const Value& self) { return self_(vm, self)->data; }

[[noreturn]] void endOfFile(Vm& vm) { vm.throwError(ErrorType::EOFError, ByteArray::kEofErrorId); }
void grew(Vm& vm, bool ok) {
    if (!ok) vm.throwError(ErrorType::MemoryError, 1000);
}
template <typename T> T orEof(Vm& vm, std::optional<T> v) {
    if (!v) endOfFile(vm);
    return *v;
}
uint32_t uintArg(Vm& vm, Args a, size_t i, uint32_t dflt = 0) { return i < a.size() ? vm.toUint(a[i]) : dflt; }

// ---- AMF: VM values to the graph and back

// Numbers that are whole and fit AMF3's 29-bit integer are written as integers, as int atoms are.
bool amfInteger(double d) { return d == std::trunc(d) && d >= -268435456.0 && d <= 268435455.0 && !(d == 0 && std::signbit(d)); }

class ToGraph {
public:
    explicit ToGraph(Vm& vm) : m_vm(vm) {}
    amf::Graph graph;

    amf::ValueId add(const Value& v) {
        m_vm.chargeWork();
        amf::Value n;
        switch (v.kind) {
        case Value::Kind::Undefined: n.type = amf::Type::Undefined; return graph.add(n);
        case Value::Kind::Null: n.type = amf::Type::Null; return graph.add(n);
        case Value::Kind::Boolean: n.type = amf::Type::Boolean; n.boolean = v.b; return graph.add(n);
        case Value::Kind::Number:
            if (amfInteger(v.d)) { n.type = amf::Type::Integer; n.integer = int32_t(v.d); }
            else { n.type = amf::Type::Number; n.number = v.d; }
            return graph.add(n);
        case Value::Kind::String: n.type = amf::Type::String; n.text = std::u16string(u16(v.s)); return graph.add(n);
        case Value::Kind::Object: break;
        }
        if (auto it = m_ids.find(v.o); it != m_ids.end()) return it.value();
        const amf::ValueId id = graph.add({});
        m_ids.insert(v.o, id);
        Object* o = v.o;
        if (auto* b = o->as<BoxedObject>()) {
            const amf::ValueId inner = add(b->value);
            graph.values[id] = graph.values[inner];
            return id;
        }
        n.type = amf::Type::Object;
        if (auto* d = o->as<DateObject>()) {
            n.type = amf::Type::Date;
            n.number = d->time;
        } else if (auto* ba = o->as<ByteArrayObject>()) {
            n.type = amf::Type::ByteArray;
            n.bytes = ba->data.bytes();
        } else if (auto* a = o->as<ArrayObject>()) {
            n.type = amf::Type::Array;
            for (const Value& item : a->items) n.items.push_back(add(item));
            dynamicMembers(o, n);
        } else if (auto* vec = o->as<VectorObject>()) {
            vectorNode(*vec, n);
        } else if (auto* dict = o->as<DictionaryObject>()) {
            // Keys go as values: objects by reference, the rest by name.
            n.type = amf::Type::Dictionary;
            n.weakKeys = dict->weakKeys;
            for (const auto& [key, value] : dict->objectKeys) n.pairs.emplace_back(add(Value::object(key)), add(value));
            for (const auto& e : o->dynamic.entries())
                if (!e.deleted && e.enumerable) n.pairs.emplace_back(add(Value::string(e.name)), add(e.value));
        } else if (o->as<FunctionObject>() || o->as<ClassObject>()) {
            n.type = amf::Type::Undefined;
        } else {
            if (o->traits)
                for (const Binding& b : o->traits->bindings)
                    if (b.kind == Binding::Kind::Slot && b.ns.isPublic() && b.slot < o->traits->slotDefs.size() &&
                        o->traits->slotDefs[b.slot].unit)
                        n.members.emplace_back(std::u16string(u16(b.name)), add(o->slotValues[b.slot]));
            n.sealedCount = n.members.size();
            n.dynamic = !o->sealed;
            dynamicMembers(o, n);
        }
        graph.values[id] = std::move(n);
        return id;
    }

private:
    void dynamicMembers(Object* o, amf::Value& n) {
        for (const auto& e : o->dynamic.entries())
            if (!e.deleted && e.enumerable) {
                const amf::ValueId member = add(e.value);
                n.members.emplace_back(std::u16string(u16(e.name)), member);
            }
    }
    void vectorNode(const VectorObject& vec, amf::Value& n) {
        ClassObject* et = vec.klass ? vec.klass->elementType : nullptr;
        const QString name = et ? et->qualifiedName() : QString();
        n.fixed = vec.fixed;
        if (name == QLatin1String("int") || name == QLatin1String("uint") || name == QLatin1String("Number")) {
            n.type = name == QLatin1String("int") ? amf::Type::VectorInt : name == QLatin1String("uint") ? amf::Type::VectorUInt : amf::Type::VectorDouble;
            for (const Value& item : vec.items) n.numbers.push_back(m_vm.toNumber(item));
            return;
        }
        n.type = amf::Type::VectorObject;
        n.text = std::u16string(u16(name));
        for (const Value& item : vec.items) n.items.push_back(add(item));
    }

    Vm& m_vm;
    QHash<Object*, amf::ValueId> m_ids;
};

// Typed vectors and named classes come back as Arrays and plain Objects:
// no class aliases are registered.
class FromGraph {
public:
    FromGraph(Vm& vm, const amf::Graph& g) : m_vm(vm), m_graph(g), m_made(g.values.size()) {}

    Value get(amf::ValueId id) {
        m_vm.chargeWork();
        if (m_made[id]) return Value::object(m_made[id]);
        const amf::Value& n = m_graph.values[id];
        switch (n.type) {
        case amf::Type::Undefined: return Value();
        case amf::Type::Null: return Value::null();
        case amf::Type::Boolean: return Value::boolean(n.boolean);
        case amf::Type::Integer: return Value::number(n.integer);
        case amf::Type::Number: return Value::number(n.number);
        case amf::Type::String: case amf::Type::Xml: case amf::Type::XmlDocument: return Value::string(qstr(n.text));
        case amf::Type::Date: {
            auto* d = static_cast<DateObject*>(m_vm.allocateInstance(m_vm.builtin("Date")));
            d->time = n.number;
            return remember(id, d);
        }
        case amf::Type::ByteArray: {
            auto* b = static_cast<ByteArrayObject*>(m_vm.allocateInstance(m_vm.builtin("flash.utils.ByteArray")));
            grew(m_vm, b->data.writeBytes(n.bytes));
            b->data.setPosition(0);
            return remember(id, b);
        }
        case amf::Type::VectorInt: case amf::Type::VectorUInt: case amf::Type::VectorDouble: {
            ArrayObject* a = m_vm.newArray();
            remember(id, a);
            for (double d : n.numbers) a->items.push_back(Value::number(d));
            return Value::object(a);
        }
        case amf::Type::Array: case amf::Type::VectorObject: {
            ArrayObject* a = m_vm.newArray();
            remember(id, a);
            for (amf::ValueId item : n.items) a->items.push_back(get(item));
            members(a, n);
            return Value::object(a);
        }
        case amf::Type::Dictionary: {
            Value d = m_vm.construct(Value::object(m_vm.builtin("flash.utils.Dictionary")), {});
            remember(id, d.o);
            for (const auto& [k, v] : n.pairs) {
                Name key = Name::publicName(QString());
                Value kv = get(k);
                if (kv.isObject()) key.key = kv;
                else key.name = m_vm.toString(kv);
                m_vm.setProperty(d, key, get(v));
            }
            return d;
        }
        case amf::Type::Object: {
            Object* o = m_vm.newObject();
            remember(id, o);
            members(o, n);
            return Value::object(o);
        }
        }
        return Value();
    }

private:
    Value remember(amf::ValueId id, Object* o) {
        m_made[id] = o;
        return Value::object(o);
    }
    void members(Object* o, const amf::Value& n) {
        for (const auto& [name, member] : n.members) m_vm.setPublic(Value::object(o), qstr(name), get(member));
    }

    Vm& m_vm;
    const amf::Graph& m_graph;
    std::vector<Object*> m_made;
};

amf::Version versionOf(const ByteArrayObject& b) { return b.objectEncoding == 0 ? amf::Version::Amf0 : amf::Version::Amf3; }

Value writeObject(Vm& vm, const Value& self, Args a) {
    ByteArrayObject* b = self_(vm, self);
    ToGraph g(vm);
    const amf::ValueId root = g.add(arg(a, 0));
    std::optional<std::vector<uint8_t>> bytes = amf::encode(g.graph, root, versionOf(*b));
    if (!bytes) vm.throwError(ErrorType::RangeError, 1023);
    grew(vm, b->data.writeBytes(*bytes));
    return {};
}

Value readObject(Vm& vm, const Value& self, Args) {
    ByteArrayObject* b = self_(vm, self);
    const auto& all = b->data.bytes();
    const uint32_t pos = b->data.position();
    if (pos >= all.size()) endOfFile(vm);
    std::optional<amf::Decoded> d = amf::decode(std::span(all).subspan(pos), versionOf(*b));
    if (!d) endOfFile(vm);
    b->data.setPosition(pos + uint32_t(d->consumed));
    return FromGraph(vm, d->graph).get(d->root);
}

// ---- The typed readers and writers

template <typename T, std::optional<T> (ByteArray::*Read)()> Value readNumber(Vm& vm, const Value& self, Args) {
    return Value::number(double(orEof(vm, (bytesOf(vm, self).*Read)())));
}
Value readBoolean(Vm& vm, const Value& self, Args) { return Value::boolean(orEof(vm, bytesOf(vm, self).readBoolean())); }
Value readUTF(Vm& vm, const Value& self, Args) { return Value::string(qstr(orEof(vm, bytesOf(vm, self).readUTF()))); }
Value readUTFBytes(Vm& vm, const Value& self, Args a) {
    return Value::string(qstr(orEof(vm, bytesOf(vm, self).readUTFBytes(uintArg(vm, a, 0)))));
}
// A String parameter given null (or undefined, which its type turns to
// null) is TypeError #2007 naming it.
QString nonNullString(Vm& vm, Args a, size_t i, const char* name) {
    if (arg(a, i).isNullish()) vm.throwError(ErrorType::TypeError, 2007, {QString::fromLatin1(name)});
    return vm.toString(a[i]);
}
Value readMultiByte(Vm& vm, const Value& self, Args a) {
    const QString charSet = nonNullString(vm, a, 1, "charSet");
    return Value::string(qstr(orEof(vm, bytesOf(vm, self).readMultiByte(uintArg(vm, a, 0), u16(charSet)))));
}
Value readBytes(Vm& vm, const Value& self, Args a) {
    ByteArray& src = bytesOf(vm, self);
    ByteArray& dst = bytesOf(vm, arg(a, 0));
    const uint32_t offset = uintArg(vm, a, 1), length = uintArg(vm, a, 2);
    if (length > src.bytesAvailable()) endOfFile(vm);
    if (uint64_t(offset) + (length ? length : src.bytesAvailable()) > limits::kMaxByteArrayBytes) vm.throwError(ErrorType::RangeError, 2006);
    grew(vm, src.readBytesInto(dst, offset, length));
    return {};
}

template <bool (ByteArray::*Write)(int32_t)> Value writeInt32(Vm& vm, const Value& self, Args a) {
    grew(vm, (bytesOf(vm, self).*Write)(vm.toInt(arg(a, 0))));
    return {};
}
template <bool (ByteArray::*Write)(double)> Value writeReal(Vm& vm, const Value& self, Args a) {
    grew(vm, (bytesOf(vm, self).*Write)(vm.toNumber(arg(a, 0))));
    return {};
}
Value writeBoolean(Vm& vm, const Value& self, Args a) {
    grew(vm, bytesOf(vm, self).writeBoolean(vm.toBoolean(arg(a, 0))));
    return {};
}
Value writeUnsignedInt(Vm& vm, const Value& self, Args a) {
    grew(vm, bytesOf(vm, self).writeUnsignedInt(vm.toUint(arg(a, 0))));
    return {};
}
Value writeUTF(Vm& vm, const Value& self, Args a) {
    const QString s = nonNullString(vm, a, 0, "value");
    if (s.toUtf8().size() > 65535) vm.throwError(ErrorType::RangeError, 2006);
    grew(vm, bytesOf(vm, self).writeUTF(u16(s)));
    return {};
}
Value writeUTFBytes(Vm& vm, const Value& self, Args a) {
    grew(vm, bytesOf(vm, self).writeUTFBytes(u16(nonNullString(vm, a, 0, "value"))));
    return {};
}
Value writeMultiByte(Vm& vm, const Value& self, Args a) {
    const QString s = nonNullString(vm, a, 0, "value"), charSet = nonNullString(vm, a, 1, "charSet");
    grew(vm, bytesOf(vm, self).writeMultiByte(u16(s), u16(charSet)));
    return {};
}
// writeBytes(bytes, offset, length): length 0 writes from offset to the end.
Value writeBytes(Vm& vm, const Value& self, Args a) {
    ByteArray& dst = bytesOf(vm, self);
    const std::vector<uint8_t> src = bytesOf(vm, arg(a, 0)).bytes(); // a copy: the source may be `this`
    const uint32_t offset = uintArg(vm, a, 1);
    uint32_t length = uintArg(vm, a, 2);
    if (offset > src.size()) vm.throwError(ErrorType::RangeError, 2006);
    if (length == 0) length = uint32_t(src.size()) - offset;
    if (uint64_t(offset) + length > src.size()) vm.throwError(ErrorType::RangeError, 2006);
    grew(vm, dst.writeBytes(std::span(src).subspan(offset, length)));
    return {};
}

// ---- Compression and the rest

std::optional<avm2lib::Compression> algorithmOf(Vm& vm, Args a) {
    const QString name = a.empty() || arg(a, 0).isNullish() ? QStringLiteral("zlib") : vm.toString(a[0]);
    if (name == QLatin1String("zlib")) return avm2lib::Compression::Zlib;
    if (name == QLatin1String("deflate")) return avm2lib::Compression::Deflate;
    if (name == QLatin1String("lzma")) return avm2lib::Compression::Lzma;
    vm.throwError(ErrorType::ArgumentError, 2008, {QStringLiteral("algorithm")});
}
Value compress(Vm& vm, const Value& self, Args a) {
    grew(vm, bytesOf(vm, self).compress(*algorithmOf(vm, a)));
    return {};
}
Value uncompress(Vm& vm, const Value& self, Args a) {
    if (!bytesOf(vm, self).uncompress(*algorithmOf(vm, a))) vm.throwError(ErrorType::IOError, ByteArray::kDecompressErrorId);
    return {};
}
Value deflate(Vm& vm, const Value& self, Args) {
    grew(vm, bytesOf(vm, self).compress(avm2lib::Compression::Deflate));
    return {};
}
Value inflate(Vm& vm, const Value& self, Args) {
    if (!bytesOf(vm, self).uncompress(avm2lib::Compression::Deflate)) vm.throwError(ErrorType::IOError, ByteArray::kDecompressErrorId);
    return {};
}
Value clear(Vm& vm, const Value& self, Args) {
    bytesOf(vm, self).clear();
    return {};
}
Value toString(Vm& vm, const Value& self, Args) { return Value::string(qstr(avm2lib::decodeUtf8Flash(bytesOf(vm, self).bytes()))); }

Value getLength(Vm& vm, const Value& self, Args) { return Value::number(bytesOf(vm, self).length()); }
Value setLength(Vm& vm, const Value& self, Args a) {
    grew(vm, bytesOf(vm, self).setLength(uintArg(vm, a, 0)));
    return {};
}
Value getPosition(Vm& vm, const Value& self, Args) { return Value::number(bytesOf(vm, self).position()); }
Value setPosition(Vm& vm, const Value& self, Args a) {
    bytesOf(vm, self).setPosition(uintArg(vm, a, 0));
    return {};
}
Value bytesAvailable(Vm& vm, const Value& self, Args) { return Value::number(bytesOf(vm, self).bytesAvailable()); }
Value getEndian(Vm& vm, const Value& self, Args) {
    return Value::string(bytesOf(vm, self).endian() == avm2lib::Endian::Big ? QStringLiteral("bigEndian") : QStringLiteral("littleEndian"));
}
Value setEndian(Vm& vm, const Value& self, Args a) {
    const QString e = vm.toString(arg(a, 0));
    if (e == QLatin1String("bigEndian")) bytesOf(vm, self).setEndian(avm2lib::Endian::Big);
    else if (e == QLatin1String("littleEndian")) bytesOf(vm, self).setEndian(avm2lib::Endian::Little);
    else vm.throwError(ErrorType::ArgumentError, 2008, {QStringLiteral("type")});
    return {};
}
Value getObjectEncoding(Vm& vm, const Value& self, Args) { return Value::number(self_(vm, self)->objectEncoding); }
uint32_t encodingArg(Vm& vm, Args a) {
    const uint32_t e = uintArg(vm, a, 0);
    if (e != 0 && e != 3) vm.throwError(ErrorType::ArgumentError, 2008, {QStringLiteral("version")});
    return e;
}
Value setObjectEncoding(Vm& vm, const Value& self, Args a) {
    self_(vm, self)->objectEncoding = encodingArg(vm, a);
    return {};
}
// ByteArray.defaultObjectEncoding: the encoding new byte arrays start with.
Value getDefaultEncoding(Vm& vm, const Value&, Args) { return Value::number(vm.byteArrayDefaultEncoding); }
Value setDefaultEncoding(Vm& vm, const Value&, Args a) {
    vm.byteArrayDefaultEncoding = encodingArg(vm, a);
    return {};
}

} // namespace

void installByteArray(Vm& vm) {
    ClassObject* c = vm.defineClass(QStringLiteral("flash.utils.ByteArray"), vm.builtin("Object"),
                                    [](Vm& vm, ClassObject*) -> Object* {
                                        auto* b = vm.make<ByteArrayObject>();
                                        b->objectEncoding = vm.byteArrayDefaultEncoding;
                                        return b;
                                    }, nullptr);
    c->instancesSealed = true;
    struct M { const char* name; NativeFn fn; int arity; };
    const M methods[] = {
        {"readBoolean", readBoolean, 0},
        {"readByte", readNumber<int32_t, &ByteArray::readByte>, 0},
        {"readUnsignedByte", readNumber<uint32_t, &ByteArray::readUnsignedByte>, 0},
        {"readShort", readNumber<int32_t, &ByteArray::readShort>, 0},
        {"readUnsignedShort", readNumber<uint32_t, &ByteArray::readUnsignedShort>, 0},
        {"readInt", readNumber<int32_t, &ByteArray::readInt>, 0},
        {"readUnsignedInt", readNumber<uint32_t, &ByteArray::readUnsignedInt>, 0},
        {"readFloat", readNumber<double, &ByteArray::readFloat>, 0},
        {"readDouble", readNumber<double, &ByteArray::readDouble>, 0},
        {"readUTF", readUTF, 0}, {"readUTFBytes", readUTFBytes, 1}, {"readMultiByte", readMultiByte, 2},
        {"readBytes", readBytes, 3}, {"readObject", readObject, 0},
        {"writeBoolean", writeBoolean, 1},
        {"writeByte", writeInt32<&ByteArray::writeByte>, 1},
        {"writeShort", writeInt32<&ByteArray::writeShort>, 1},
        {"writeInt", writeInt32<&ByteArray::writeInt>, 1},
        {"writeUnsignedInt", writeUnsignedInt, 1},
        {"writeFloat", writeReal<&ByteArray::writeFloat>, 1},
        {"writeDouble", writeReal<&ByteArray::writeDouble>, 1},
        {"writeUTF", writeUTF, 1}, {"writeUTFBytes", writeUTFBytes, 1}, {"writeMultiByte", writeMultiByte, 2},
        {"writeBytes", writeBytes, 3}, {"writeObject", writeObject, 1},
        {"compress", compress, 1}, {"uncompress", uncompress, 1}, {"deflate", deflate, 0}, {"inflate", inflate, 0},
        {"clear", clear, 0}, {"toString", toString, 0},
    };
    for (const M& m : methods) vm.defineFixedMethod(c, QString::fromLatin1(m.name), m.fn, m.arity);
    vm.defineAccessor(c, QStringLiteral("length"), getLength, setLength);
    vm.defineAccessor(c, QStringLiteral("position"), getPosition, setPosition);
    vm.defineAccessor(c, QStringLiteral("bytesAvailable"), bytesAvailable);
    vm.defineAccessor(c, QStringLiteral("endian"), getEndian, setEndian);
    vm.defineAccessor(c, QStringLiteral("objectEncoding"), getObjectEncoding, setObjectEncoding);
    vm.defineStaticAccessor(c, QStringLiteral("defaultObjectEncoding"), getDefaultEncoding, setDefaultEncoding);
}

// A ByteArray's index reads its byte (undefined past the end); writing one
// grows the buffer as needed.
std::optional<Value> byteArrayIndexGet(ByteArrayObject& b, double index) {
    if (index < 0 || index != std::trunc(index)) return std::nullopt;
    return index < b.data.length() ? Value::number(b.data.bytes()[size_t(index)]) : Value();
}

bool byteArrayIndexSet(Vm& vm, ByteArrayObject& b, double index, const Value& v) {
    if (index < 0 || index != std::trunc(index) || index >= double(limits::kMaxByteArrayBytes)) return false;
    const uint32_t i = uint32_t(index);
    if (i >= b.data.length()) grew(vm, b.data.setLength(i + 1));
    const uint32_t keep = b.data.position();
    b.data.setPosition(i);
    grew(vm, b.data.writeByte(vm.toInt(v)));
    b.data.setPosition(keep);
    return true;
}

} // namespace swf::avm2
