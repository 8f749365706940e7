// Array: construction and every method movies use, including sort flags.
#include "engine/avm1/builtins.h"
#include "engine/core/limits.h"

#include <algorithm>
#include <cmath>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

enum SortFlag { kCaseInsensitive = 1, kDescending = 2, kUniqueSort = 4, kReturnIndexedArray = 8, kNumeric = 16 };

// Element access that also works for array-like objects (Array methods applied with call()).
int lengthOf(Vm& vm, Object* o) {
    if (auto* a = dynamic_cast<ArrayObject*>(o)) return int(a->items.size());
    return std::clamp(vm.toInt(vm.getMember(Value(o), QStringLiteral("length"))), 0, int(limits::kMaxArrayLength));
}
// An object that is not an array gives its own stored elements only: neither
// getters nor its prototypes' elements count, as in the Flash player.
Value elementOf(Vm& vm, Object* o, int i) {
    if (auto* a = dynamic_cast<ArrayObject*>(o)) return size_t(i) < a->items.size() ? a->items[size_t(i)] : Value();
    const Property* p = o->find(vm.key(QString::number(i)));
    return p && !p->isVirtual() ? p->value : Value();
}
std::vector<Value> elementsOf(Vm& vm, Object* o) {
    if (auto* a = dynamic_cast<ArrayObject*>(o)) {
        // A copy costs about a sixteenth of an action per element.
        if (!vm.chargeWork(a->items.size() / 16) || !vm.allocate(a->items.size() * sizeof(Value))) return {};
        return a->items;
    }
    std::vector<Value> out;
    int n = lengthOf(vm, o);
    for (int i = 0; i < n; ++i) out.push_back(elementOf(vm, o, i));
    return out;
}
void setElements(Vm& vm, Object* o, std::vector<Value> items) {
    if (auto* a = dynamic_cast<ArrayObject*>(o)) { a->items = std::move(items); return; }
    int old = lengthOf(vm, o);
    for (size_t i = 0; i < items.size(); ++i) vm.setMember(o, QString::number(i), items[i]);
    for (int i = int(items.size()); i < old; ++i) vm.deleteMember(o, QString::number(i));
    vm.setMember(o, QStringLiteral("length"), Value(double(items.size())));
}

// A relative index: negative counts from the end; clamped to 0..length.
int relativeIndex(Vm& vm, const Value& v, int length, int fallback) {
    if (v.isUndefined()) return fallback;
    double d = vm.toNumber(v);
    if (std::isnan(d)) d = 0;
    d = std::trunc(d);
    if (d < 0) d = std::max(0.0, length + d);
    return int(std::min(d, double(length)));
}

Value arrayCall(Vm& vm, CallArgs& a) {
    ArrayObject* arr = vm.newArray();
    if (a.size() == 1 && a.at(0).isNumber()) {
        // One number is a length, cut to a 32-bit integer: fractions drop,
        // negative and non-finite lengths give an empty array.
        arr->resize(vm, std::max(0, vm.toInt32(a.at(0))));
    } else {
        arr->items.assign(a.args.begin(), a.args.end());
    }
    return Value(arr);
}

Value arrayPush(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    // An Array's own length counts (a getter added on `length` does not), as
    // a script set it: below zero too.
    auto* arr = dynamic_cast<ArrayObject*>(o);
    double length = double(arr ? arr->items.size() : 0);
    if (!arr) length = std::trunc(vm.toNumber(vm.getMember(a.thisv, QStringLiteral("length"))));
    else if (arr->assignedLength && arr->assignedLengthFor == arr->items.size() && arr->assignedLength->isNumber())
        length = std::trunc(arr->assignedLength->asNumber());
    if (!std::isfinite(length)) length = 0;
    if (arr && length == double(arr->items.size())) {
        if (arr->items.size() + a.size() > limits::kMaxArrayLength || !vm.allocate(a.size() * sizeof(Value)))
            return Value(double(arr->items.size()));
        arr->items.insert(arr->items.end(), a.args.begin(), a.args.end());
        return Value(double(arr->items.size()));
    }
    // Otherwise the new elements go at `length` as it reads, below zero for a
    // negative one, and `length` grows by their count.
    if (std::fabs(length) + double(a.size()) > double(limits::kMaxArrayLength)) return Value(length);
    for (size_t i = 0; i < a.size(); ++i) vm.setMember(o, Vm::numberToString(length + double(i)), a.args[i]);
    const double grown = length + double(a.size());
    vm.setMember(o, QStringLiteral("length"), Value(grown));
    return Value(grown);
}

// A plain object (neither an Array nor a timeline) is worked on member by
// member: pop, shift and unshift move and delete its indexed members but
// leave its `length` as it was, as the Flash player does.
bool isPlainObject(Object* o) { return !dynamic_cast<ArrayObject*>(o) && o->kind() != Kind::Clip; }
QString indexName(int i) { return QString::number(i); }
void moveElement(Vm& vm, Object* o, int from, int to) {
    const Property* p = o->find(vm.key(indexName(from)));
    if (p && !p->isVirtual()) vm.setMember(o, indexName(to), p->value);
    else vm.deleteMember(o, indexName(to));
}

Value arrayPop(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    if (isPlainObject(o)) {
        const int n = lengthOf(vm, o);
        if (n <= 0) return Value();
        Value v = elementOf(vm, o, n - 1);
        vm.deleteMember(o, indexName(n - 1));
        return v;
    }
    auto items = elementsOf(vm, o);
    if (items.empty()) return Value();
    Value v = items.back();
    items.pop_back();
    setElements(vm, o, std::move(items));
    return v;
}

Value arrayShift(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    if (isPlainObject(o)) {
        const int n = lengthOf(vm, o);
        if (n <= 0) return Value();
        Value v = elementOf(vm, o, 0);
        for (int k = 1; k < n && vm.chargeWork(1); ++k) moveElement(vm, o, k, k - 1);
        return v;
    }
    auto items = elementsOf(vm, o);
    if (items.empty()) return Value();
    Value v = items.front();
    items.erase(items.begin());
    setElements(vm, o, std::move(items));
    return v;
}

Value arrayUnshift(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    if (isPlainObject(o)) {
        const int n = lengthOf(vm, o), m = int(a.size());
        if (int64_t(n) + m > int64_t(limits::kMaxArrayLength)) return Value(n);
        for (int k = n - 1; k >= 0 && vm.chargeWork(1); --k) moveElement(vm, o, k, k + m);
        for (int j = 0; j < m; ++j) vm.setMember(o, indexName(j), a.args[size_t(j)]);
        return Value(n);
    }
    auto items = elementsOf(vm, o);
    items.insert(items.begin(), a.args.begin(), a.args.end());
    size_t n = items.size();
    setElements(vm, o, std::move(items));
    return Value(double(n));
}

QString joinItems(Vm& vm, const std::vector<Value>& items, const QString& sep) {
    QString out;
    for (size_t i = 0; i < items.size() && vm.chargeWork(1); ++i) {
        const Value& v = items[i];
        const QString piece = (i ? sep : QString()) + (v.isUndefined() && vm.version() < 7 ? QString() : vm.toString(v));
        if (!vm.allocateString(piece.size(), out.size())) break;
        out += piece;
    }
    return out;
}

Value arrayJoin(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    // Only a missing separator is ","; a given one converts, undefined included.
    QString sep = a.size() ? vm.toString(a.at(0)) : QStringLiteral(",");
    return Value(joinItems(vm, elementsOf(vm, o), sep));
}

Value arrayToString(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    return Value(joinItems(vm, elementsOf(vm, o), QStringLiteral(",")));
}

Value arrayReverse(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    auto items = elementsOf(vm, o);
    std::reverse(items.begin(), items.end());
    setElements(vm, o, std::move(items));
    return a.thisv;
}

Value arrayConcat(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    std::vector<Value> items = o ? elementsOf(vm, o) : std::vector<Value>{};
    for (const Value& v : a.args) {
        auto* arr = dynamic_cast<ArrayObject*>(v.asObject());
        const size_t more = arr ? arr->items.size() : 1;
        if (items.size() + more > limits::kMaxArrayLength || !vm.allocate(more * sizeof(Value))) break;
        if (arr) items.insert(items.end(), arr->items.begin(), arr->items.end());
        else items.push_back(v);
    }
    return Value(vm.newArray(std::move(items)));
}

Value arraySlice(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    auto items = elementsOf(vm, o);
    int n = int(items.size());
    int start = relativeIndex(vm, a.at(0), n, 0);
    int end = relativeIndex(vm, a.at(1), n, n);
    std::vector<Value> out;
    for (int i = start; i < end; ++i) out.push_back(items[size_t(i)]);
    return Value(vm.newArray(std::move(out)));
}

Value arraySplice(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || !a.size() || a.at(0).isUndefined()) return Value();
    auto items = elementsOf(vm, o);
    int n = int(items.size());
    int start = relativeIndex(vm, a.at(0), n, 0);
    int count = n - start;
    if (a.size() > 1) {
        // An undefined or negative count changes nothing and returns undefined.
        double c = a.at(1).isUndefined() ? -1 : vm.toNumber(a.at(1));
        if (c < 0) return Value();
        count = std::clamp(vm.toInt(a.at(1)), 0, n - start);
    }
    std::vector<Value> removed(items.begin() + start, items.begin() + start + count);
    items.erase(items.begin() + start, items.begin() + start + count);
    if (a.size() > 2) items.insert(items.begin() + start, a.args.begin() + 2, a.args.end());
    setElements(vm, o, std::move(items));
    return Value(vm.newArray(std::move(removed)));
}

// Compares two values as sort() does with `flags`; <0, 0, >0.
int compareValues(Vm& vm, const Value& x, const Value& y, int flags) {
    vm.chargeWork(1);
    if (flags & kNumeric) {
        double a = vm.toNumber(x), b = vm.toNumber(y);
        if (x.isNumber() && y.isNumber()) return a < b ? -1 : (a > b ? 1 : 0);
        if (!x.isNumber() || !y.isNumber()) {
            // Mixed numbers and strings fall back to string order, as Flash does.
            if (!x.isNumber() && !y.isNumber()) {
                QString s = vm.toString(x), t = vm.toString(y);
                return s.compare(t, (flags & kCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive);
            }
        }
        if (std::isnan(a) || std::isnan(b)) return std::isnan(a) == std::isnan(b) ? 0 : (std::isnan(a) ? 1 : -1);
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    // undefined is "" before SWF 7 here too, so it sorts first there.
    QString s = vm.toString(x), t = vm.toString(y);
    int c = (flags & kCaseInsensitive) ? s.compare(t, Qt::CaseInsensitive) : s.compare(t);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Sorts `order` stably: a bottom-up merge sort whose reads and writes stay
// within its runs whatever `less` answers (inconsistent, throwing, changing
// the array), which std::stable_sort does not promise.
template <typename Less>
void mergeSort(std::vector<size_t>& order, Less&& less) {
    const size_t n = order.size();
    std::vector<size_t> merged(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            // The right run goes first only when strictly less: equal items keep their order.
            while (i < mid && j < hi) merged[k++] = less(order[j], order[i]) ? order[j++] : order[i++];
            while (i < mid) merged[k++] = order[i++];
            while (j < hi) merged[k++] = order[j++];
        }
        order.swap(merged);
    }
}

// Sorts indices of `items`; returns false when UNIQUESORT finds equal items.
// Once scripts halt or a comparator throws, the rest compares as equal.
bool sortIndices(Vm& vm, const std::vector<Value>& items, std::vector<size_t>& order,
                 const std::function<int(const Value&, const Value&)>& cmp, int flags) {
    order.resize(items.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    bool duplicate = false;
    mergeSort(order, [&](size_t i, size_t j) {
        if (vm.halted() || vm.hasException()) return false;
        int c = cmp(items[i], items[j]);
        if (c == 0 && i != j) duplicate = true;
        return (flags & kDescending) ? c > 0 : c < 0;
    });
    return !((flags & kUniqueSort) && duplicate);
}

Value finishSort(Vm& vm, CallArgs& a, Object* o, std::vector<Value>& items, std::vector<size_t>& order, bool ok,
                 int flags) {
    // A comparator that threw leaves the array as it was.
    if (vm.hasException() || vm.halted()) return Value();
    if (!ok) return Value(0);
    if (flags & kReturnIndexedArray) {
        std::vector<Value> idx;
        for (size_t i : order) idx.push_back(Value(double(i)));
        return Value(vm.newArray(std::move(idx)));
    }
    std::vector<Value> sorted;
    sorted.reserve(items.size());
    for (size_t i : order) sorted.push_back(items[i]);
    setElements(vm, o, std::move(sorted));
    return a.thisv;
}

Value arraySort(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o) return Value();
    Value compareFn;
    int flags = 0;
    if (vm.isCallable(a.at(0))) {
        compareFn = a.at(0);
        flags = a.size() > 1 ? vm.toInt(a.at(1)) : 0;
    } else if (a.size()) {
        // An order that is neither a function nor flags sorts nothing.
        if (!a.at(0).isNumber() && !a.at(0).isUndefined()) return Value();
        flags = vm.toInt(a.at(0));
    }
    auto items = elementsOf(vm, o);
    std::function<int(const Value&, const Value&)> cmp;
    if (!compareFn.isUndefined()) {
        cmp = [&](const Value& x, const Value& y) {
            Value args[] = {x, y};
            double r = vm.toNumber(vm.call(compareFn, Value(), args));
            return r < 0 ? -1 : (r > 0 ? 1 : 0);
        };
    } else {
        cmp = [&](const Value& x, const Value& y) { return compareValues(vm, x, y, flags); };
    }
    std::vector<size_t> order;
    bool ok = sortIndices(vm, items, order, cmp, flags);
    return finishSort(vm, a, o, items, order, ok, flags);
}

Value arraySortOn(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    if (!o || !a.size()) return a.thisv;
    std::vector<QString> fields;
    std::vector<int> fieldFlags;
    int flags = a.size() > 1 && !a.at(1).isObject() ? vm.toInt(a.at(1)) : 0;
    if (auto* arr = dynamic_cast<ArrayObject*>(a.at(0).asObject())) {
        for (const Value& v : arr->items) fields.push_back(vm.toString(v));
        if (auto* fl = dynamic_cast<ArrayObject*>(a.at(1).asObject()))
            for (const Value& v : fl->items) fieldFlags.push_back(vm.toInt(v));
    } else {
        fields.push_back(vm.toString(a.at(0)));
    }
    if (fieldFlags.size() != fields.size()) fieldFlags.assign(fields.size(), flags);
    auto items = elementsOf(vm, o);
    auto cmp = [&](const Value& x, const Value& y) {
        for (size_t i = 0; i < fields.size(); ++i) {
            int c = compareValues(vm, vm.getMember(x, fields[i]), vm.getMember(y, fields[i]), fieldFlags[i]);
            if (fieldFlags[i] & kDescending) c = -c;
            if (c) return c;
        }
        return 0;
    };
    std::vector<size_t> order;
    bool ok = sortIndices(vm, items, order, cmp, flags & ~kDescending);
    if (ok && (flags & kDescending) && fieldFlags == std::vector<int>(fields.size(), flags)) {
        // Descending on every field was applied per field already.
    }
    return finishSort(vm, a, o, items, order, ok, flags & ~kDescending);
}

} // namespace

void installArray(Vm& vm) {
    vm.arrayProto = vm.make<ArrayObject>(vm.objectProto);
    Object* p = vm.arrayProto;
    FunctionObject* ctor = vm.defineClass(QStringLiteral("Array"), arrayCall, arrayCall, p);
    vm.defineMethod(p, QStringLiteral("push"), arrayPush);
    vm.defineMethod(p, QStringLiteral("pop"), arrayPop);
    vm.defineMethod(p, QStringLiteral("shift"), arrayShift);
    vm.defineMethod(p, QStringLiteral("unshift"), arrayUnshift);
    vm.defineMethod(p, QStringLiteral("join"), arrayJoin);
    vm.defineMethod(p, QStringLiteral("toString"), arrayToString);
    vm.defineMethod(p, QStringLiteral("reverse"), arrayReverse);
    vm.defineMethod(p, QStringLiteral("concat"), arrayConcat);
    vm.defineMethod(p, QStringLiteral("slice"), arraySlice);
    vm.defineMethod(p, QStringLiteral("splice"), arraySplice);
    vm.defineMethod(p, QStringLiteral("sort"), arraySort);
    vm.defineMethod(p, QStringLiteral("sortOn"), arraySortOn);
    // The sort flag names are plain (writable) members of Array.
    vm.defineValue(ctor, QStringLiteral("CASEINSENSITIVE"), Value(kCaseInsensitive));
    vm.defineValue(ctor, QStringLiteral("DESCENDING"), Value(kDescending));
    vm.defineValue(ctor, QStringLiteral("UNIQUESORT"), Value(kUniqueSort));
    vm.defineValue(ctor, QStringLiteral("RETURNINDEXEDARRAY"), Value(kReturnIndexedArray));
    vm.defineValue(ctor, QStringLiteral("NUMERIC"), Value(kNumeric));
}

} // namespace swf::avm1::builtins
