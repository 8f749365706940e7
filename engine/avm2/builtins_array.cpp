// Array and Vector.<T>.
#include "engine/avm2/builtins.h"

#include "engine/core/limits.h"

#include <algorithm>

namespace swf::avm2 {

namespace {

enum SortFlag { CaseInsensitive = 1, Descending = 2, UniqueSort = 4, ReturnIndexedArray = 8, Numeric = 16 };

std::vector<Value>& itemsOf(Vm& vm, const Value& self) {
    if (self.isObject()) {
        if (auto* a = self.o->as<ArrayObject>()) return denseItems(vm, *a);
        if (auto* v = self.o->as<VectorObject>()) return v->items;
    }
    vm.throwError(ErrorType::TypeError, 1034, {vm.describeForError(self), QStringLiteral("Array")});
}

void checkLength(Vm& vm, size_t n) {
    if (n > limits::kMaxArrayLength) vm.throwError(ErrorType::RangeError, 1000);
}

bool fixedVector(const Value& self) {
    auto* v = self.isObject() ? self.o->as<VectorObject>() : nullptr;
    return v && v->fixed;
}
ClassObject* elementType(const Value& self) {
    auto* v = self.isObject() ? self.o->as<VectorObject>() : nullptr;
    return v && v->klass ? v->klass->elementType : nullptr;
}
void guardFixed(Vm& vm, const Value& self) {
    if (fixedVector(self)) vm.throwError(ErrorType::RangeError, 1126);
}

Value relIndex(Vm& vm, const Value& v, size_t len, double dflt) {
    double d = v.isUndefined() ? dflt : std::trunc(vm.toNumber(v));
    if (std::isnan(d)) d = 0;
    if (d < 0) d += double(len);
    return Value::number(std::clamp(d, 0.0, double(len)));
}

Value arrayCtor(Vm& vm, const Value& self, Args a) {
    auto* arr = self.isObject() ? self.o->as<ArrayObject>() : nullptr;
    if (!arr) arr = vm.newArray();
    if (a.size() == 1 && a[0].isNumber()) {
        double n = a[0].d;
        if (n < 0 || n != std::trunc(n) || n > 4294967295.0)
            vm.throwError(ErrorType::RangeError, 1005, {numberToString(n)});
        arr->items.clear();
        arraySetLength(*arr, uint32_t(n));
    } else {
        arr->items.assign(a.begin(), a.end());
    }
    return {};
}
Value arrayCall(Vm& vm, const Value&, Args a) {
    ArrayObject* arr = vm.newArray();
    arrayCtor(vm, Value::object(arr), a);
    return Value::object(arr);
}
ArrayObject* asArray(const Value& self) { return self.isObject() ? self.o->as<ArrayObject>() : nullptr; }
Value length(Vm& vm, const Value& self, Args) {
    if (ArrayObject* arr = asArray(self)) return Value::number(arr->length());
    return Value::number(double(itemsOf(vm, self).size()));
}
Value setLength(Vm& vm, const Value& self, Args a) {
    double n = vm.toNumber(arg(a, 0));
    if (n < 0 || n != std::trunc(n) || n > 4294967295.0) vm.throwError(ErrorType::RangeError, 1005, {numberToString(n)});
    if (ArrayObject* arr = asArray(self)) {
        arraySetLength(*arr, uint32_t(n));
        return {};
    }
    guardFixed(vm, self);
    checkLength(vm, size_t(n));
    ClassObject* t = elementType(self);
    itemsOf(vm, self).resize(size_t(n), self.o->as<VectorObject>() ? vm.coerceTo(Value(), t) : Value::hole());
    return {};
}
// A value as `self` keeps it: a Vector coerces to its element type.
Value stored(Vm& vm, const Value& self, const Value& v) {
    return self.o->as<VectorObject>() ? vm.coerceTo(v, elementType(self)) : v.read();
}
std::vector<Value> storedAll(Vm& vm, const Value& self, Args a) {
    std::vector<Value> out;
    for (const Value& v : a) out.push_back(stored(vm, self, v));
    return out;
}
Value push(Vm& vm, const Value& self, Args a) {
    if (ArrayObject* arr = asArray(self); arr && arr->isSparse()) {
        for (const Value& v : a) {
            if (arr->length() == 4294967295u) vm.throwError(ErrorType::RangeError, 1005, {QStringLiteral("4294967296")});
            arraySetElement(vm, *arr, arr->length(), v);
        }
        return Value::number(arr->length());
    }
    guardFixed(vm, self);
    auto& items = itemsOf(vm, self);
    checkLength(vm, items.size() + a.size());
    for (const Value& v : storedAll(vm, self, a)) items.push_back(v);
    return Value::number(double(items.size()));
}
Value pop(Vm& vm, const Value& self, Args) {
    if (ArrayObject* arr = asArray(self); arr && arr->isSparse()) {
        const uint32_t last = arr->length() - 1;
        const Value* e = arr->element(last);
        Value v = e ? *e : Value();
        arraySetLength(*arr, last);
        return v;
    }
    guardFixed(vm, self);
    auto& items = itemsOf(vm, self);
    if (items.empty()) return {};
    Value v = items.back().read();
    items.pop_back();
    return v;
}
Value shift(Vm& vm, const Value& self, Args) {
    guardFixed(vm, self);
    auto& items = itemsOf(vm, self);
    if (items.empty()) return {};
    Value v = items.front().read();
    items.erase(items.begin());
    return v;
}
Value unshift(Vm& vm, const Value& self, Args a) {
    guardFixed(vm, self);
    auto& items = itemsOf(vm, self);
    checkLength(vm, items.size() + a.size());
    std::vector<Value> more = storedAll(vm, self, a);
    items.insert(items.begin(), more.begin(), more.end());
    return Value::number(double(items.size()));
}
// removeAt and insertAt: a negative index counts from the end; the index is clamped to the items.
size_t clampedIndex(Vm& vm, const Value& index, size_t len) { return size_t(relIndex(vm, index, len, 0).d); }
Value removeAt(Vm& vm, const Value& self, Args a) {
    guardFixed(vm, self);
    auto& items = itemsOf(vm, self);
    size_t i = clampedIndex(vm, arg(a, 0), items.size());
    if (i >= items.size()) {
        if (self.o->as<VectorObject>()) vm.throwError(ErrorType::RangeError, 1125, {vm.toString(arg(a, 0)), QString::number(items.size())});
        return {};
    }
    Value v = items[i].read();
    items.erase(items.begin() + long(i));
    return v;
}
Value insertAt(Vm& vm, const Value& self, Args a) {
    guardFixed(vm, self);
    auto& items = itemsOf(vm, self);
    checkLength(vm, items.size() + 1);
    size_t i = clampedIndex(vm, arg(a, 0), items.size());
    items.insert(items.begin() + long(i), stored(vm, self, arg(a, 1)));
    return {};
}
Value reverse(Vm& vm, const Value& self, Args) {
    auto& items = itemsOf(vm, self);
    std::reverse(items.begin(), items.end());
    return self;
}
Value newLike(Vm& vm, const Value& self, std::vector<Value> items) {
    if (auto* v = self.isObject() ? self.o->as<VectorObject>() : nullptr) {
        auto* out = static_cast<VectorObject*>(vm.allocateInstance(v->klass));
        out->items = std::move(items);
        return Value::object(out);
    }
    return Value::object(vm.newArray(std::move(items)));
}
Value slice(Vm& vm, const Value& self, Args a) {
    auto& items = itemsOf(vm, self);
    size_t b = size_t(relIndex(vm, arg(a, 0), items.size(), 0).d);
    size_t e = size_t(relIndex(vm, arg(a, 1), items.size(), double(items.size())).d);
    std::vector<Value> out;
    if (e > b) out.assign(items.begin() + long(b), items.begin() + long(e));
    return newLike(vm, self, std::move(out));
}
Value splice(Vm& vm, const Value& self, Args a) {
    auto& items = itemsOf(vm, self);
    if (a.empty()) return newLike(vm, self, {});
    size_t b = size_t(relIndex(vm, arg(a, 0), items.size(), 0).d);
    double dc = a.size() < 2 ? double(items.size() - b) : std::trunc(vm.toNumber(a[1]));
    if (std::isnan(dc)) dc = 0;
    size_t count = size_t(std::clamp(dc, 0.0, double(items.size() - b)));
    if (fixedVector(self) && (count != 0 || a.size() > 2)) vm.throwError(ErrorType::RangeError, 1126);
    std::vector<Value> removed(items.begin() + long(b), items.begin() + long(b + count));
    items.erase(items.begin() + long(b), items.begin() + long(b + count));
    if (a.size() > 2) {
        checkLength(vm, items.size() + a.size());
        std::vector<Value> more = storedAll(vm, self, a.subspan(2));
        items.insert(items.begin() + long(b), more.begin(), more.end());
    }
    return newLike(vm, self, std::move(removed));
}
Value concat(Vm& vm, const Value& self, Args a) {
    std::vector<Value> out = itemsOf(vm, self);
    auto* vector = self.o->as<VectorObject>();
    for (const Value& v : a) {
        // A Vector joins only Vectors its elements convert from.
        if (vector && !(v.isObject() && v.o->as<VectorObject>() && vm.isInstanceOf(v, vector->klass)))
            vm.throwError(ErrorType::TypeError, 1034, {vm.describeForError(v), vector->klass->qualifiedName()});
        if (v.isObject() && (v.o->as<ArrayObject>() || v.o->as<VectorObject>())) {
            auto& more = itemsOf(vm, v);
            checkLength(vm, out.size() + more.size());
            out.insert(out.end(), more.begin(), more.end());
        } else {
            out.push_back(v);
        }
    }
    return newLike(vm, self, std::move(out));
}
// Array writes null and undefined elements as empty; a Vector writes them out.
Value join(Vm& vm, const Value& self, Args a) {
    QString sep = arg(a, 0).isUndefined() ? QStringLiteral(",") : vm.toString(a[0]);
    return Value::string(joinValues(vm, itemsOf(vm, self), sep, self.o->as<VectorObject>() != nullptr));
}
Value toString(Vm& vm, const Value& self, Args) {
    return Value::string(joinValues(vm, itemsOf(vm, self), QStringLiteral(","), self.isObject() && self.o->as<VectorObject>()));
}
// Each element by its own toLocaleString; null and undefined ones are empty.
Value toLocaleString(Vm& vm, const Value& self, Args) {
    QString out;
    const std::vector<Value> items = itemsOf(vm, self);
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += u',';
        if (const Value v = items[i].read(); !v.isNullish())
            out += vm.toString(vm.callProperty(v, Name::publicName(QStringLiteral("toLocaleString")), {}));
        if (size_t(out.size()) > limits::kMaxStringLength) vm.throwError(ErrorType::RangeError, 1000);
    }
    return Value::string(out);
}
Value indexOf(Vm& vm, const Value& self, Args a) {
    auto& items = itemsOf(vm, self);
    double from = a.size() > 1 ? std::trunc(vm.toNumber(a[1])) : 0;
    if (from < 0) from = std::max(0.0, from + double(items.size()));
    for (size_t i = size_t(std::max(0.0, from)); i < items.size(); ++i)
        if (vm.strictEquals(items[i], arg(a, 0))) return Value::number(double(i));
    return Value::number(-1);
}
Value lastIndexOf(Vm& vm, const Value& self, Args a) {
    auto& items = itemsOf(vm, self);
    double from = a.size() > 1 ? std::trunc(vm.toNumber(a[1])) : double(items.size()) - 1;
    if (from < 0) from += double(items.size());
    for (double i = std::min(from, double(items.size()) - 1); i >= 0; --i)
        if (vm.strictEquals(items[size_t(i)], arg(a, 0))) return Value::number(i);
    return Value::number(-1);
}

// every, some, forEach, map, filter share one walk.
enum class Walk { Every, Some, ForEach, Map, Filter };
Value walk(Vm& vm, const Value& self, Args a, Walk kind) {
    auto& items = itemsOf(vm, self);
    Value fn = arg(a, 0), thisArg = arg(a, 1);
    // Vector's methods declare the callback as a required Function.
    if (self.o->as<VectorObject>()) {
        static const char* const names[] = {"every", "some", "forEach", "map", "filter"};
        if (a.empty())
            vm.throwError(ErrorType::ArgumentError, 1063,
                          {QStringLiteral("__AS3__.vec::Vector/%1()").arg(QLatin1String(names[int(kind)])), QStringLiteral("1"), QStringLiteral("0")});
        fn = vm.coerceTo(fn, vm.builtin("Function"));
    }
    // No callback visits nothing; a Vector's map still gives one default element per item.
    if (fn.isNullish()) {
        switch (kind) {
        case Walk::Every: return Value::boolean(true);
        case Walk::Some: return Value::boolean(false);
        case Walk::ForEach: return {};
        case Walk::Filter: return newLike(vm, self, {});
        case Walk::Map:
            return newLike(vm, self, self.o->as<VectorObject>() ? std::vector<Value>(items.size(), vm.coerceTo(Value(), elementType(self)))
                                                                : std::vector<Value>{});
        }
    }
    std::vector<Value> out;
    for (size_t i = 0; i < items.size(); ++i) {
        Value item = items[i].read();
        Value args[3] = {item, Value::number(double(i)), self};
        Value r = vm.call(fn, thisArg, args);
        switch (kind) {
        case Walk::Every: if (!vm.toBoolean(r)) return Value::boolean(false); break;
        case Walk::Some: if (vm.toBoolean(r)) return Value::boolean(true); break;
        case Walk::ForEach: break;
        case Walk::Map: out.push_back(stored(vm, self, r)); break;
        case Walk::Filter: if (vm.toBoolean(r)) out.push_back(item); break;
        }
        if (i >= items.size()) break;
    }
    switch (kind) {
    case Walk::Every: return Value::boolean(true);
    case Walk::Some: return Value::boolean(false);
    case Walk::ForEach: return {};
    default: return newLike(vm, self, std::move(out));
    }
}

// The comparison of Array.sort: by a function, or by strings or numbers per flags.
// Undefined never reaches it: those elements sort to the end.
int compareValues(Vm& vm, const Value& x, const Value& y, int flags, const Value& fn) {
    vm.chargeWork();
    if (!fn.isNullish()) {
        Value args[2] = {x, y};
        double r = vm.toNumber(vm.call(fn, Value::null(), args));
        return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    if (x.isUndefined() || y.isUndefined()) return x.isUndefined() == y.isUndefined() ? 0 : x.isUndefined() ? 1 : -1;
    int r;
    if (flags & Numeric) {
        double a = vm.toNumber(x), b = vm.toNumber(y);
        r = a < b ? -1 : a > b ? 1 : 0;
    } else {
        QString a = vm.toString(x), b = vm.toString(y);
        if (flags & CaseInsensitive) { a = a.toLower(); b = b.toLower(); }
        r = a < b ? -1 : a > b ? 1 : 0;
    }
    return flags & Descending ? -r : r;
}

// A stable merge sort that stays in bounds whatever the comparison answers:
// a script's comparison need not be consistent.
template <typename Less> void mergeSort(std::vector<size_t>& v, Less less) {
    std::vector<size_t> tmp(v.size());
    for (size_t width = 1; width < v.size(); width *= 2) {
        for (size_t lo = 0; lo < v.size(); lo += 2 * width) {
            const size_t mid = std::min(lo + width, v.size()), hi = std::min(lo + 2 * width, v.size());
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) tmp[k++] = less(v[j], v[i]) ? v[j++] : v[i++];
            while (i < mid) tmp[k++] = v[i++];
            while (j < hi) tmp[k++] = v[j++];
        }
        v.swap(tmp);
    }
}

// One sort key: the field values sortOn compares (one per field, each with its
// flags), or the element itself for sort.
struct SortKeys {
    std::vector<std::vector<Value>> values; // per element
    std::vector<int> flags;                 // per field
};

// Sorts `self` by `keys`: defined elements in order, then undefined ones, then holes.
// UNIQUESORT gives 0 when two keys tie; RETURNINDEXEDARRAY gives the order and
// leaves the array as it was.
Value sortBy(Vm& vm, const Value& self, const SortKeys& keys, int flags, const Value& fn) {
    const std::vector<Value> items = itemsOf(vm, self); // a copy: the comparison may change the array
    std::vector<size_t> order, undefinedOnes, holes;
    for (size_t i = 0; i < items.size(); ++i)
        (items[i].isHole() ? holes : items[i].isUndefined() ? undefinedOnes : order).push_back(i);
    auto compare = [&](size_t l, size_t r) {
        for (size_t f = 0; f < keys.flags.size(); ++f)
            if (int c = compareValues(vm, keys.values[l][f], keys.values[r][f], keys.flags[f], fn)) return c;
        return 0;
    };
    mergeSort(order, [&](size_t l, size_t r) { return compare(l, r) < 0; });
    if (flags & UniqueSort)
        for (size_t i = 1; i < order.size(); ++i)
            if (compare(order[i - 1], order[i]) == 0) return Value::number(0);
    order.insert(order.end(), undefinedOnes.begin(), undefinedOnes.end());
    order.insert(order.end(), holes.begin(), holes.end());
    if (flags & ReturnIndexedArray) {
        std::vector<Value> idx;
        for (size_t i : order) idx.push_back(Value::number(double(i)));
        return Value::object(vm.newArray(std::move(idx)));
    }
    std::vector<Value> sorted;
    for (size_t i : order) sorted.push_back(items[i]);
    itemsOf(vm, self) = std::move(sorted);
    return self;
}
// sort(), sort(flags), sort(compareFunction, flags).
Value sort(Vm& vm, const Value& self, Args a) {
    Value fn;
    int flags = 0;
    if (!a.empty() && a[0].isObject() && (a[0].o->as<FunctionObject>() || a[0].o->as<ClassObject>())) {
        fn = a[0];
        flags = a.size() > 1 ? vm.toInt(a[1]) : 0;
    } else if (!a.empty()) {
        flags = vm.toInt(a[0]);
    }
    SortKeys keys;
    keys.flags = {flags};
    for (const Value& v : itemsOf(vm, self)) keys.values.push_back({v});
    return sortBy(vm, self, keys, flags, fn);
}
// sortOn(name or names, flags or one flags value per name): the fields compare in turn.
Value sortOn(Vm& vm, const Value& self, Args a) {
    std::vector<QString> fields;
    if (auto* list = arg(a, 0).isObject() ? arg(a, 0).o->as<ArrayObject>() : nullptr)
        for (const Value& v : list->items) fields.push_back(vm.toString(v.read()));
    else
        fields.push_back(vm.toString(arg(a, 0)));
    if (fields.empty()) return self;
    SortKeys keys;
    const Value options = arg(a, 1);
    auto* optionList = options.isObject() ? options.o->as<ArrayObject>() : nullptr;
    for (size_t f = 0; f < fields.size(); ++f) {
        // A list of flags counts only when it gives one per field.
        if (optionList && optionList->items.size() == fields.size()) keys.flags.push_back(vm.toInt(optionList->items[f].read()));
        else keys.flags.push_back(optionList || options.isUndefined() ? 0 : vm.toInt(options));
    }
    for (const Value& v : itemsOf(vm, self)) {
        std::vector<Value> row;
        for (const QString& field : fields) row.push_back(v.isObject() ? vm.getPublic(v, field) : Value());
        keys.values.push_back(std::move(row));
    }
    return sortBy(vm, self, keys, keys.flags.front(), Value());
}

// Array's methods are generic: on any other object they work on a copy of its `length`
// indexed properties, and a method that changes the array writes the copy back.
template <NativeFn F, bool Writes> Value generic(Vm& vm, const Value& self, Args a) {
    if (self.isObject() && (self.o->as<ArrayObject>() || self.o->as<VectorObject>())) return F(vm, self, a);
    if (self.isNullish()) vm.throwError(ErrorType::TypeError, self.isNull() ? 1009 : 1010);
    const auto key = [](size_t i) { return Name::publicName(QString::number(i)); };
    const uint32_t n = vm.toUint(vm.getPublic(self, QStringLiteral("length")));
    checkLength(vm, n);
    std::vector<Value> items;
    for (uint32_t i = 0; i < n; ++i) {
        vm.chargeWork();
        items.push_back(vm.hasProperty(self, key(i)) ? vm.getProperty(self, key(i)) : Value::hole());
    }
    ArrayObject* copy = vm.newArray(std::move(items));
    Value r = F(vm, Value::object(copy), a);
    if (Writes) {
        for (size_t i = 0; i < std::max<size_t>(n, copy->items.size()); ++i) {
            vm.chargeWork();
            if (i < copy->items.size() && !copy->items[i].isHole()) vm.setProperty(self, key(i), copy->items[i]);
            else vm.deleteProperty(self, key(i));
        }
        vm.setPublic(self, QStringLiteral("length"), Value::number(double(copy->items.size())));
    }
    return r.isObject() && r.o == copy ? self : r;
}
template <Walk K> Value walkFn(Vm& vm, const Value& self, Args a) { return walk(vm, self, a, K); }

// ---- Vector
Object* allocateVector(Vm& vm, ClassObject*) { return vm.make<VectorObject>(); }
Value vectorCtor(Vm& vm, const Value& self, Args a) {
    auto* v = thisAs<VectorObject>(vm, self, "Vector");
    double n = a.empty() ? 0 : vm.toNumber(a[0]);
    if (n < 0 || n != std::trunc(n)) vm.throwError(ErrorType::RangeError, 1005, {numberToString(n)});
    checkLength(vm, size_t(n));
    v->items.assign(size_t(n), vm.coerceTo(Value(), v->klass ? v->klass->elementType : nullptr));
    v->fixed = vm.toBoolean(arg(a, 1));
    return {};
}
Value vectorCall(Vm& vm, const Value& self, Args a) {
    auto* c = self.o->as<ClassObject>();
    if (a.size() != 1) vm.throwError(ErrorType::ArgumentError, 1112, {QString::number(a.size())});
    if (a[0].isObject() && a[0].o->klass == c) return a[0];
    if (!a[0].isObject()) vm.throwError(ErrorType::TypeError, 1034, {vm.describeForError(a[0]), c->qualifiedName()});
    auto* out = static_cast<VectorObject*>(vm.allocateInstance(c));
    if (a[0].o->as<ArrayObject>() || a[0].o->as<VectorObject>()) {
        for (const Value& v : itemsOf(vm, a[0])) out->items.push_back(vm.coerceTo(v, c->elementType));
        return Value::object(out);
    }
    // Any other object converts by its length and indexed properties.
    const uint32_t n = vm.toUint(vm.getPublic(a[0], QStringLiteral("length")));
    checkLength(vm, n);
    for (uint32_t i = 0; i < n; ++i) {
        vm.chargeWork();
        out->items.push_back(vm.coerceTo(vm.getPublic(a[0], QString::number(i)), c->elementType));
    }
    return Value::object(out);
}
Value vectorFixed(Vm& vm, const Value& self, Args) { return Value::boolean(thisAs<VectorObject>(vm, self, "Vector")->fixed); }
Value vectorSetFixed(Vm& vm, const Value& self, Args a) {
    thisAs<VectorObject>(vm, self, "Vector")->fixed = vm.toBoolean(arg(a, 0));
    return {};
}

} // namespace

void arraySetElement(Vm& vm, ArrayObject& a, uint32_t index, const Value& v) {
    if (index < a.items.size()) {
        a.items[index] = v.read();
        return;
    }
    // Near the end, or once the sparse elements are many, the elements grow to hold the
    // index and take in the sparse ones they now cover.
    const bool nearEnd = index < a.items.size() + limits::kSparseArrayGap;
    if ((nearEnd || a.sparse.size() >= limits::kMaxSparseElements) && index < limits::kMaxArrayLength) {
        a.items.resize(size_t(index) + 1, Value::hole());
        while (!a.sparse.empty() && a.sparse.begin()->first < a.items.size()) {
            a.items[a.sparse.begin()->first] = std::move(a.sparse.begin()->second);
            a.sparse.erase(a.sparse.begin());
        }
        a.items[index] = v.read();
        if (a.sparseLength <= a.items.size()) a.sparseLength = 0;
        return;
    }
    if (a.sparse.size() >= limits::kMaxSparseElements && !a.sparse.count(index)) vm.throwError(ErrorType::RangeError, 1000);
    a.sparse[index] = v.read();
    a.sparseLength = std::max(a.sparseLength, index + 1);
}

void arraySetLength(ArrayObject& a, uint32_t length) {
    if (length <= a.items.size()) {
        a.items.resize(length);
        a.sparse.clear();
        a.sparseLength = 0;
        return;
    }
    a.sparse.erase(a.sparse.lower_bound(length), a.sparse.end());
    if (a.sparse.empty() && length < a.items.size() + limits::kSparseArrayGap && length <= limits::kMaxArrayLength) {
        a.items.resize(length, Value::hole());
        a.sparseLength = 0;
        return;
    }
    a.sparseLength = length;
}

void arrayDeleteElement(ArrayObject& a, uint32_t index) {
    if (index < a.items.size()) a.items[index] = Value::hole();
    else a.sparse.erase(index);
}

std::vector<Value>& denseItems(Vm& vm, ArrayObject& a) {
    if (!a.isSparse()) return a.items;
    checkLength(vm, a.length());
    a.items.resize(a.length(), Value::hole());
    for (auto& [i, v] : a.sparse) a.items[i] = std::move(v);
    a.sparse.clear();
    a.sparseLength = 0;
    return a.items;
}

QString joinValues(Vm& vm, const std::vector<Value>& items, const QString& sep, bool writeNulls) {
    QString out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += sep;
        if (writeNulls || !items[i].isNullish()) out += vm.toString(items[i]);
        if (size_t(out.size()) > limits::kMaxStringLength) vm.throwError(ErrorType::RangeError, 1000);
    }
    return out;
}

void installArrayClasses(Vm& vm) {
    ClassObject* array = vm.defineClass(QStringLiteral("Array"), vm.builtin("Object"), nullptr, arrayCtor, 1);
    array->allocate = [](Vm& vm, ClassObject*) -> Object* { return vm.make<ArrayObject>(); };
    array->call = arrayCall;
    vm.defineAccessor(array, QStringLiteral("length"), length, setLength);
    struct M { const char* name; NativeFn fn; int arity; };
    const M methods[] = {
        {"push", generic<push, true>, 1}, {"pop", generic<pop, true>, 0}, {"shift", generic<shift, true>, 0},
        {"unshift", generic<unshift, true>, 1}, {"reverse", generic<reverse, true>, 0},
        {"slice", generic<slice, false>, 2}, {"splice", generic<splice, true>, 2}, {"concat", generic<concat, false>, 1},
        {"join", generic<join, false>, 1}, {"toString", generic<toString, false>, 0},
        {"toLocaleString", generic<toLocaleString, false>, 0}, {"indexOf", generic<indexOf, false>, 1},
        {"lastIndexOf", generic<lastIndexOf, false>, 1}, {"every", generic<walkFn<Walk::Every>, false>, 1},
        {"some", generic<walkFn<Walk::Some>, false>, 1}, {"forEach", generic<walkFn<Walk::ForEach>, false>, 1},
        {"map", generic<walkFn<Walk::Map>, false>, 1}, {"filter", generic<walkFn<Walk::Filter>, false>, 1},
        {"sort", generic<sort, true>, 0}, {"sortOn", generic<sortOn, true>, 2}, {"removeAt", generic<removeAt, true>, 1},
        {"insertAt", generic<insertAt, true>, 2},
    };
    for (const M& m : methods) vm.defineMethod(array, QString::fromLatin1(m.name), m.fn, m.arity);
    const std::pair<const char*, int> flags[] = {{"CASEINSENSITIVE", CaseInsensitive}, {"DESCENDING", Descending},
                                                 {"UNIQUESORT", UniqueSort}, {"RETURNINDEXEDARRAY", ReturnIndexedArray},
                                                 {"NUMERIC", Numeric}};
    for (const auto& [n, v] : flags) vm.defineConstant(array, QString::fromLatin1(n), Value::number(v));
    vm.defineConstant(array, QStringLiteral("length"), Value::number(1));

    ClassObject* vector = vm.defineClass(QStringLiteral("__AS3__.vec.Vector"), vm.builtin("Object"), allocateVector, vectorCtor, 2);
    vector->isGeneric = true;
    vector->instancesSealed = true;
    vector->call = vectorCall;
    vm.defineAccessor(vector, QStringLiteral("length"), length, setLength);
    vm.defineAccessor(vector, QStringLiteral("fixed"), vectorFixed, vectorSetFixed);
    for (const M& m : methods)
        if (std::string(m.name) != "sortOn") vm.defineMethod(vector, QString::fromLatin1(m.name), m.fn, m.arity);
}

} // namespace swf::avm2
