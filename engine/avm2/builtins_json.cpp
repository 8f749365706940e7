// JSON (ECMA-262 5th edition 15.12 as AS3 adapts it): parse builds VM
// values from the library's tree and runs the reviver walk over them;
// stringify lets the library walk VM values through a host. Besides the
// dynamic properties, a class instance writes its public variables and
// getters; boxed primitives write as their primitive.
#include "engine/avm2/builtins.h"

#include "engine/avm2/lib/json.h"
#include "engine/core/limits.h"

namespace swf::avm2 {

namespace json = avm2lib::json;

namespace {

constexpr int kInvalidReplacer = 1131;

bool isFunction(const Value& v) { return v.isObject() && v.o->as<FunctionObject>(); }

Value fromTree(Vm& vm, const json::Value& t) {
    vm.chargeWork();
    switch (t.kind) {
    case json::Kind::Undefined: return Value();
    case json::Kind::Null: return Value::null();
    case json::Kind::Boolean: return Value::boolean(t.boolean);
    case json::Kind::Number: return Value::number(t.number);
    case json::Kind::String: return Value::string(qstr(t.string));
    case json::Kind::Array: {
        std::vector<Value> items;
        for (const json::Value& i : t.items) items.push_back(fromTree(vm, i));
        return Value::object(vm.newArray(std::move(items)));
    }
    case json::Kind::Object: {
        Value o = Value::object(vm.newObject());
        for (const json::Member& m : t.members) vm.setPublic(o, qstr(m.first), fromTree(vm, m.second));
        return o;
    }
    }
    return Value();
}

// The own enumerable dynamic names of `o`, in insertion order.
std::vector<QString> dynamicNames(Object* o) {
    std::vector<QString> names;
    for (const auto& e : o->dynamic.entries())
        if (!e.deleted && e.enumerable) names.push_back(e.name);
    return names;
}

// ECMA-262 15.12.2's Walk: children first, then the reviver on holder[key].
Value revive(Vm& vm, const Value& reviver, const Value& holder, const QString& key, int depth) {
    if (depth > int(limits::kMaxJsonDepth)) vm.throwError(ErrorType::Error, json::kStackOverflowErrorId);
    Value val = vm.getPublic(holder, key);
    if (val.isObject()) {
        std::vector<QString> keys;
        if (auto* a = val.o->as<ArrayObject>())
            for (size_t i = 0; i < a->items.size(); ++i) keys.push_back(QString::number(i));
        else keys = dynamicNames(val.o);
        for (const QString& k : keys) {
            Value fresh = revive(vm, reviver, val, k, depth + 1);
            if (fresh.isUndefined()) vm.deleteProperty(val, Name::publicName(k));
            else vm.setPublic(val, k, fresh);
        }
    }
    Value args[2] = {Value::string(key), val};
    return vm.call(reviver, holder, args);
}

Value jsonParse(Vm& vm, const Value&, Args a) {
    const QString text = vm.toString(arg(a, 0));
    json::ParseResult r = json::parse(u16(text));
    if (!r.value) vm.throwError(ErrorType::SyntaxError, r.errorId);
    Value result = fromTree(vm, *r.value);
    const Value reviver = arg(a, 1);
    if (!isFunction(reviver)) return result;
    Value root = Value::object(vm.newObject());
    vm.setPublic(root, QString(), result);
    return revive(vm, reviver, root, QString(), 0);
}

// Handles are indices into the values met; an object keeps one handle, so
// that the library finds cycles.
class VmJsonHost final : public json::StringifyHost {
public:
    VmJsonHost(Vm& vm, Value replacerFn, std::optional<std::vector<std::u16string>> allowList)
        : m_vm(vm), m_replacer(std::move(replacerFn)), m_allow(std::move(allowList)) {}

    Handle wrap(const Value& v) {
        if (v.isObject()) {
            auto it = m_handles.find(v.o);
            if (it != m_handles.end()) return it.value();
            m_handles.insert(v.o, Handle(m_values.size()));
        }
        m_values.push_back(v);
        return Handle(m_values.size() - 1);
    }

    Handle resolve(Handle holder, const std::u16string& key) override {
        m_vm.chargeWork();
        const Value h = m_values[holder];
        const QString k = qstr(key);
        Value v;
        if (auto* arr = h.o->as<ArrayObject>()) v = indexIn(arr->items, k);
        else if (auto* vec = h.o->as<VectorObject>()) v = indexIn(vec->items, k);
        else v = m_vm.getPublic(h, k);
        if (v.isObject() && !isFunction(v)) {
            bool found = false;
            Value toJson = lookup(v, QStringLiteral("toJSON"), found);
            if (found && isFunction(toJson)) {
                Value args[1] = {Value::string(k)};
                v = m_vm.call(toJson, v, args);
            }
        }
        if (isFunction(m_replacer)) {
            Value args[2] = {Value::string(k), v};
            v = m_vm.call(m_replacer, h, args);
        }
        if (v.isObject())
            if (auto* boxed = v.o->as<BoxedObject>()) v = boxed->value;
        return wrap(v);
    }
    json::Kind kind(Handle h) override {
        const Value& v = m_values[h];
        switch (v.kind) {
        case Value::Kind::Undefined: return json::Kind::Undefined;
        case Value::Kind::Null: return json::Kind::Null;
        case Value::Kind::Boolean: return json::Kind::Boolean;
        case Value::Kind::Number: return json::Kind::Number;
        case Value::Kind::String: return json::Kind::String;
        case Value::Kind::Object: break;
        }
        if (v.o->as<FunctionObject>() || v.o->as<ClassObject>()) return json::Kind::Undefined;
        if (v.o->as<ArrayObject>() || v.o->as<VectorObject>()) return json::Kind::Array;
        return json::Kind::Object;
    }
    bool boolean(Handle h) override { return m_values[h].b; }
    double number(Handle h) override { return m_values[h].d; }
    std::u16string string(Handle h) override { return std::u16string(u16(m_values[h].s)); }
    uint32_t length(Handle h) override {
        const Value& v = m_values[h];
        if (auto* arr = v.o->as<ArrayObject>()) return uint32_t(arr->items.size());
        return uint32_t(v.o->as<VectorObject>()->items.size());
    }
    std::vector<std::u16string> keys(Handle h) override {
        if (m_allow) return *m_allow;
        Object* o = m_values[h].o;
        std::vector<std::u16string> out;
        // A script class's public variables and getters first, then dynamic properties.
        if (o->traits)
            for (const Binding& b : o->traits->bindings)
                if (b.ns.isPublic() && declaredByScript(*o, b)) out.emplace_back(u16(b.name));
        for (const QString& n : dynamicNames(o)) out.emplace_back(u16(n));
        return out;
    }

private:
    static bool declaredByScript(const Object& o, const Binding& b) {
        if (b.kind == Binding::Kind::Slot) return b.slot < o.traits->slotDefs.size() && o.traits->slotDefs[b.slot].unit;
        return b.kind == Binding::Kind::Accessor && b.getter && !b.getter->native;
    }
    static Value indexIn(const std::vector<Value>& items, const QString& k) {
        bool ok = false;
        const uint32_t i = k.toUInt(&ok);
        return ok && i < items.size() ? items[i] : Value();
    }
    Value lookup(const Value& v, const QString& name, bool& found) {
        found = m_vm.hasProperty(v, Name::publicName(name));
        return found ? m_vm.getPublic(v, name) : Value();
    }

    Vm& m_vm;
    Value m_replacer;
    std::optional<std::vector<std::u16string>> m_allow;
    std::vector<Value> m_values;
    QHash<Object*, Handle> m_handles;
};

Value jsonStringify(Vm& vm, const Value&, Args a) {
    const Value replacer = a.size() > 1 ? a[1] : Value::null();
    std::optional<std::vector<std::u16string>> allow;
    if (!replacer.isNull() && !isFunction(replacer)) {
        auto* list = replacer.isObject() ? replacer.o->as<ArrayObject>() : nullptr;
        if (!list) vm.throwError(ErrorType::TypeError, kInvalidReplacer);
        allow.emplace();
        for (const Value& item : list->items) {
            Value v = item.isObject() && item.o->as<BoxedObject>() ? item.o->as<BoxedObject>()->value : item;
            if (!v.isString() && !v.isNumber()) continue;
            std::u16string key(u16(vm.toString(v)));
            if (std::find(allow->begin(), allow->end(), key) == allow->end()) allow->push_back(std::move(key));
        }
    }
    Value space = arg(a, 2);
    if (space.isObject())
        if (auto* boxed = space.o->as<BoxedObject>()) space = boxed->value;
    std::u16string gap;
    if (space.isNumber()) gap = json::gapFromNumber(std::trunc(space.d));
    else if (space.isString()) gap = json::gapFromString(u16(space.s));
    else if (!space.isUndefined() && !space.isNull()) gap = json::gapFromString(u16(vm.toString(space)));

    VmJsonHost host(vm, isFunction(replacer) ? replacer : Value(), std::move(allow));
    Value wrapper = Value::object(vm.newObject());
    vm.setPublic(wrapper, QString(), arg(a, 0));
    json::StringifyResult r = json::stringify(host, host.wrap(wrapper), u"", gap);
    if (r.errorId == json::kCycleErrorId) vm.throwError(ErrorType::TypeError, r.errorId);
    if (r.errorId) vm.throwError(ErrorType::Error, r.errorId);
    return r.text ? Value::string(qstr(*r.text)) : Value();
}

} // namespace

void installJson(Vm& vm) {
    // JSON only holds its two functions: `new JSON()` is refused.
    ClassObject* c = vm.defineClass(QStringLiteral("JSON"), vm.builtin("Object"), nullptr,
                                    [](Vm& vm, const Value&, Args) -> Value { vm.throwError(ErrorType::ArgumentError, 2012, {QStringLiteral("JSON")}); });
    c->isFinal = true;
    vm.defineStatic(c, QStringLiteral("parse"), jsonParse, 2, 1);
    vm.defineStatic(c, QStringLiteral("stringify"), jsonStringify, 3, 1);
}

} // namespace swf::avm2
