// MovieClip and the player-wide objects scripts reach from a timeline.
#include "engine/avm1/builtins.h"
#include "engine/avm1/clip_object.h"

#include <cmath>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

ClipObject* thisClip(CallArgs& a) { return dynamic_cast<ClipObject*>(a.thisObject()); }

void gotoFrom(Vm& vm, ClipObject* c, const Value& where, bool play) {
    if (!c) return;
    if (where.isString()) {
        double n = vm.stringToNumber(where.asString());
        if (!std::isnan(n)) {
            c->gotoFrame(std::max(int(n), 1) - 1, play);
            return;
        }
        int f = c->frameOfLabel(where.asString());
        if (f >= 0) c->gotoFrame(f, play);
        return;
    }
    double n = vm.toNumber(where);
    if (std::isnan(n)) return;
    c->gotoFrame(std::max(int(n), 1) - 1, play);
}

Value clipPlay(Vm&, CallArgs& a) { if (auto* c = thisClip(a)) c->play(); return Value(); }
Value clipStop(Vm&, CallArgs& a) { if (auto* c = thisClip(a)) c->stop(); return Value(); }
Value clipNextFrame(Vm&, CallArgs& a) { if (auto* c = thisClip(a)) c->nextFrame(); return Value(); }
Value clipPrevFrame(Vm&, CallArgs& a) { if (auto* c = thisClip(a)) c->prevFrame(); return Value(); }
Value clipGotoAndPlay(Vm& vm, CallArgs& a) { gotoFrom(vm, thisClip(a), a.at(0), true); return Value(); }
Value clipGotoAndStop(Vm& vm, CallArgs& a) { gotoFrom(vm, thisClip(a), a.at(0), false); return Value(); }
Value clipRemove(Vm& vm, CallArgs& a) { if (auto* c = thisClip(a)) c->removeClip(vm); return Value(); }
Value clipDuplicate(Vm& vm, CallArgs& a) {
    auto* c = thisClip(a);
    if (!c) return Value();
    // The name converts before the depth (either may run a script).
    QString name = vm.toString(a.at(0));
    int depth = vm.toInt32(a.at(1));
    Object* r = c->duplicate(vm, name, depth, a.at(2).asObject());
    return r ? Value(r) : Value();
}
Value clipStartDrag(Vm& vm, CallArgs& a) {
    auto* c = thisClip(a);
    if (!c) return Value();
    double rect[4];
    bool constrain = a.size() >= 5;
    for (int i = 0; constrain && i < 4; ++i) rect[i] = vm.toNumber(a.at(size_t(i) + 1));
    c->startDrag(vm, vm.toBool(a.at(0)), constrain ? rect : nullptr);
    return Value();
}
Value clipStopDrag(Vm& vm, CallArgs& a) { if (auto* c = thisClip(a)) c->stopDrag(vm); return Value(); }
// Display objects print as their target path ("_level0.a.b"); a removed one as "".
Value displayToString(Vm&, CallArgs& a) {
    auto* c = dynamic_cast<ClipObject*>(a.thisObject());
    if (!c) return Value(QStringLiteral("[object Object]"));
    return Value(c->removed() ? QString() : c->targetPath());
}
} // namespace

void installClip(Vm& vm) {
    vm.clipProto = vm.newObject();
    Object* p = vm.clipProto;
    vm.defineClass(QStringLiteral("MovieClip"), nullptr, nullptr, p);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"play", clipPlay}, {"stop", clipStop}, {"nextFrame", clipNextFrame}, {"prevFrame", clipPrevFrame},
        {"gotoAndPlay", clipGotoAndPlay}, {"gotoAndStop", clipGotoAndStop}, {"removeMovieClip", clipRemove},
        {"duplicateMovieClip", clipDuplicate}, {"startDrag", clipStartDrag}, {"stopDrag", clipStopDrag},
    };
    for (auto& m : methods) vm.defineMethod(p, QString::fromLatin1(m.name), m.fn);
    vm.buttonProto = vm.newObject();
    vm.defineClass(QStringLiteral("Button"), nullptr, nullptr, vm.buttonProto);
    vm.textFieldProto = vm.newObject();
    vm.defineClass(QStringLiteral("TextField"), nullptr, nullptr, vm.textFieldProto);
    // Buttons have no toString of their own.
    for (Object* proto : {p, vm.textFieldProto}) vm.defineMethod(proto, QStringLiteral("toString"), displayToString);
}

} // namespace swf::avm1::builtins
