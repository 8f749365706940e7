#include "engine/avm1/object.h"

#include "engine/avm1/vm.h"
#include "engine/core/limits.h"

#include <cmath>

namespace swf::avm1 {

namespace {
bool isProtoKey(const QString& key) { return key == protoKey(); }
} // namespace

Object::Object(Object* proto, Kind kind) : m_kind(kind) {
    if (proto) setProto(proto);
}

void Object::setProto(Object* p) {
    if (Property* own = find(protoKey())) {
        assign(*own, p ? Value(p) : Value());
        return;
    }
    if (p) define(protoKey(), protoKey(), Value(p), prop::kHidden);
}

void Object::followProtoMember() {
    const Property* p = find(protoKey());
    m_proto = p && !p->isVirtual() ? p->value.asObject() : nullptr;
}

int Object::slotOf(const QString& key) const {
    if (!m_index.isEmpty()) return m_index.value(key, -1);
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (m_keys[i] == key) return int(i);
    return -1;
}

Property* Object::find(const QString& key) {
    int at = slotOf(key);
    return at < 0 ? nullptr : &m_props[size_t(at)];
}

const Property* Object::find(const QString& key) const {
    int at = slotOf(key);
    return at < 0 ? nullptr : &m_props[size_t(at)];
}

void Object::reindex() {
    m_index.clear();
    if (m_props.size() <= kLinearMembers) return;
    for (size_t i = 0; i < m_props.size(); ++i) m_index.insert(m_keys[i], int(i));
}

Property& Object::define(const QString& key, const QString& name, const Value& v, uint32_t flags) {
    if (Property* p = find(key)) {
        p->getter = p->setter = nullptr;
        p->flags = flags;
        assign(*p, v);
        return *p;
    }
    m_keys.push_back(key);
    m_props.push_back(Property{name, v, nullptr, nullptr, flags});
    if (!m_index.isEmpty()) m_index.insert(key, int(m_props.size() - 1));
    else if (m_props.size() > kLinearMembers) reindex();
    if (isProtoKey(key)) followProtoMember();
    return m_props.back();
}

void Object::assign(Property& p, const Value& v) {
    p.value = v;
    if (p.name.compare(protoKey(), Qt::CaseInsensitive) == 0 && &p == find(protoKey())) followProtoMember();
}

bool Object::erase(const QString& key) {
    int at = slotOf(key);
    if (at < 0) return false;
    m_props.erase(m_props.begin() + at);
    m_keys.erase(m_keys.begin() + at);
    if (!m_index.isEmpty()) {
        m_index.remove(key);
        for (auto& i : m_index)
            if (i > at) --i;
        if (m_props.size() <= kLinearMembers) m_index.clear();
    }
    if (isProtoKey(key)) followProtoMember();
    return true;
}

void Object::markChildren(const MarkFn& mark) {
    for (const Property& p : m_props) {
        if (Object* o = p.value.asObject()) mark(o);
        if (p.getter) mark(p.getter);
        if (p.setter) mark(p.setter);
    }
    for (const Watch& w : watches) {
        if (w.callback) mark(w.callback);
        if (Object* o = w.data.asObject()) mark(o);
    }
    for (Object* i : interfaces) mark(i);
    if (Object* o = primitive.asObject()) mark(o);
    if (m_native) m_native->mark(mark);
}

void FunctionObject::markChildren(const MarkFn& mark) {
    Object::markChildren(mark);
    if (Object* o = data.asObject()) mark(o);
    if (!m_script) return;
    for (const Scope* s = m_script->scope.get(); s; s = s->parent.get())
        if (s->object) mark(s->object);
    if (m_script->target) mark(m_script->target);
}

int64_t arrayIndex(const QString& name) {
    if (name.isEmpty() || name.size() > 10) return -1;
    int64_t n = 0;
    for (QChar c : name) {
        if (c < u'0' || c > u'9') return -1;
        n = n * 10 + (c.unicode() - u'0');
    }
    if (name.size() > 1 && name[0] == u'0') return -1;
    return n < 0x7fffffff ? n : -1;
}

void Object::dropMembers() {
    // The prototype link stays: a halted movie's objects keep their class.
    Object* proto = m_proto;
    m_props.clear();
    m_keys.clear();
    m_index.clear();
    m_proto = nullptr;
    setProto(proto);
    watches.clear();
    interfaces.clear();
}

void ArrayObject::dropMembers() {
    Object::dropMembers();
    items.clear();
}

Scope::~Scope() {
    // Unlink the parents only this link holds one by one instead of letting
    // each destructor run the next.
    ScopePtr next = std::move(parent);
    while (next && next.use_count() == 1) next = std::move(next->parent);
}

bool ArrayObject::resize(Vm& vm, double length) {
    if (!(length >= 0) || length > double(limits::kMaxArrayLength)) return false;
    const size_t n = size_t(length);
    if (n > items.size() && !vm.allocate((n - items.size()) * sizeof(Value))) return false;
    items.resize(n);
    return true;
}

bool ArrayObject::getSpecial(Vm&, const QString& name, Value& out) {
    if (name == u"length") {
        const bool assigned = assignedLength && assignedLengthFor == items.size();
        out = assigned ? *assignedLength : Value(double(items.size()));
        return true;
    }
    int64_t i = arrayIndex(name);
    // Holes (undefined elements) fall through to the prototype, as sparse arrays do.
    if (i < 0 || size_t(i) >= items.size() || items[size_t(i)].isUndefined()) return false;
    out = items[size_t(i)];
    return true;
}

bool ArrayObject::setSpecial(Vm& vm, const QString& name, const Value& v) {
    if (name == u"length") {
        // Elements past the new length go (all of them for a length that is
        // no count); the length keeps the value as given.
        double n = vm.toNumber(v);
        if (!resize(vm, std::isfinite(n) && n >= 0 ? std::floor(n) : 0.0)) return true;
        assignedLength = v;
        assignedLengthFor = items.size();
        return true;
    }
    int64_t i = arrayIndex(name);
    if (i < 0) return false;
    if (size_t(i) >= items.size() && !resize(vm, double(i) + 1)) return false;
    items[size_t(i)] = v;
    return true;
}

bool ArrayObject::hasSpecial(Vm&, const QString& name) {
    if (name == u"length") return true;
    int64_t i = arrayIndex(name);
    return i >= 0 && size_t(i) < items.size();
}

bool ArrayObject::deleteSpecial(Vm&, const QString& name) {
    int64_t i = arrayIndex(name);
    if (i < 0 || size_t(i) >= items.size()) return false;
    items[size_t(i)] = Value();
    return true;
}

void ArrayObject::specialKeys(Vm& vm, std::vector<QString>& out) {
    // Every index becomes a string (for..in over a huge array).
    if (!vm.allocate(items.size() * kIndexKeyBytes)) return;
    for (size_t i = 0; i < items.size(); ++i) out.push_back(QString::number(i));
    if (!(lengthFlags & prop::kDontEnum)) out.push_back(QStringLiteral("length"));
}

void ArrayObject::markChildren(const MarkFn& mark) {
    Object::markChildren(mark);
    for (const Value& v : items)
        if (Object* o = v.asObject()) mark(o);
    if (assignedLength)
        if (Object* o = assignedLength->asObject()) mark(o);
}

} // namespace swf::avm1
