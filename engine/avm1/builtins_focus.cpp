// Selection: keyboard focus, tab order and the caret of input fields.
#include "engine/avm1/builtins.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/script_engine.h"
#include "engine/display/edit_text.h"

#include <cmath>
#include <limits>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

FocusTracker& focusOf(Vm& vm) { return vm.engine->focus(); }

DisplayObject* displayOf(const Value& v) {
    auto* c = dynamic_cast<DisplayClip*>(v.asObject());
    return c ? c->object() : nullptr;
}

Value selectionGetFocus(Vm& vm, CallArgs&) {
    DisplayObject* f = focusOf(vm).focused();
    DisplayClip* c = f ? vm.engine->wrap(f) : nullptr;
    if (!c) return Value(static_cast<Object*>(nullptr));
    return Value(c->targetPath());
}

// Selection.setFocus(target): a clip, button or field (or its path); null or
// undefined removes the focus. False when the target cannot take it, when
// there is no argument at all, and for a clip with nothing drawn in it even
// when it takes it.
Value selectionSetFocus(Vm& vm, CallArgs& a) {
    if (a.size() == 0) return Value(false);
    Value target = a.at(0);
    if (target.isString()) {
        Object* base = vm.root();
        Object* o = base ? vm.resolveTarget(base, target.asString()) : nullptr;
        if (!o) return Value(false);
        target = Value(o);
    }
    if (target.isNullish()) {
        focusOf(vm).setFocus(nullptr);
        return Value(true);
    }
    DisplayObject* obj = displayOf(target);
    if (!obj || !focusOf(vm).canFocus(obj)) return Value(false);
    // canFocus may run a getter that removes the target.
    obj = displayOf(target);
    if (!obj) return Value(false);
    const Rect drawn = obj->localBounds();
    const bool answersFalse =
        obj->type() == DisplayObject::Type::MovieClip && drawn.xMin >= drawn.xMax && drawn.yMin >= drawn.yMax;
    focusOf(vm).setFocus(obj); // handlers may remove it
    return Value(!answersFalse);
}

Value selectionBegin(Vm& vm, CallArgs&) { return Value(focusOf(vm).selection().begin); }
Value selectionEnd(Vm& vm, CallArgs&) { return Value(focusOf(vm).selection().end); }
Value selectionCaret(Vm& vm, CallArgs&) { return Value(focusOf(vm).selection().caret); }

// An index argument: NaN and missing ends reach past the text, so they clamp to its end.
int indexArg(Vm& vm, const Value& v) {
    double d = vm.toNumber(v);
    if (std::isnan(d) || d >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (d <= double(std::numeric_limits<int>::min())) return 0;
    return int(d);
}

Value selectionSetSelection(Vm& vm, CallArgs& a) {
    if (a.size() == 0) return Value();
    focusOf(vm).setSelection(indexArg(vm, a.at(0)), indexArg(vm, a.at(1)));
    return Value();
}

Value tabIndexGet(Vm& vm, CallArgs& a) {
    DisplayObject* obj = displayOf(a.thisv);
    return obj ? focusOf(vm).tabIndex(*obj) : Value();
}

Value tabIndexSet(Vm& vm, CallArgs& a) {
    if (DisplayObject* obj = displayOf(a.thisv)) focusOf(vm).setTabIndex(*obj, a.at(0));
    return Value();
}

void defineTabIndex(Vm& vm, Object* proto, uint32_t flags) {
    QString name = QStringLiteral("tabIndex");
    Property& p = proto->define(vm.key(name), name, Value(), flags);
    p.getter = vm.newNative(tabIndexGet);
    p.setter = vm.newNative(tabIndexSet);
}

} // namespace

void installFocus(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    Object* selection = vm.newObject();
    Value bc = broadcasterClass(vm);
    Value init = vm.getMember(bc, QStringLiteral("initialize"));
    Value arg(selection);
    vm.call(init, bc, std::span<const Value>(&arg, 1));
    vm.takeException();
    vm.defineValue(vm.global(), QStringLiteral("Selection"), Value(selection), kDontEnum);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"getFocus", selectionGetFocus}, {"setFocus", selectionSetFocus},
        {"getBeginIndex", selectionBegin}, {"getEndIndex", selectionEnd},
        {"getCaretIndex", selectionCaret}, {"setSelection", selectionSetSelection},
    };
    for (auto& m : methods) vm.defineMethod(selection, QString::fromLatin1(m.name), m.fn);
    vm.sealBuiltinObject(selection, kHidden | kReadOnly);

    // Buttons and clips take the mouse and the keyboard unless a script turns enabled off.
    vm.defineValue(vm.clipProto, QStringLiteral("enabled"), Value(true), kDontEnum);
    vm.defineValue(vm.buttonProto, QStringLiteral("enabled"), Value(true), 0);
    // Buttons list tabIndex in for..in and may delete it (fields have it
    // among their properties); on clips it is hidden.
    defineTabIndex(vm, vm.buttonProto, 0);
    defineTabIndex(vm, vm.clipProto, kHidden);
}

} // namespace swf::avm1::builtins
