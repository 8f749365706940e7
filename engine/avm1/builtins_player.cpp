// The MovieClip methods that reach the display list, and the objects that
// describe the player: Key, Mouse, Stage, System.
#include "engine/avm1/builtins.h"
#include "engine/avm1/builtins_gfx.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/script_engine.h"
#include "engine/display/button.h"
#include "engine/display/edit_text.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"

#include <array>
#include <cmath>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

DisplayClip* thisClip(CallArgs& a) { return dynamic_cast<DisplayClip*>(a.thisObject()); }
MovieClip* thisMovieClip(CallArgs& a) {
    DisplayClip* c = thisClip(a);
    return c ? c->movieClip() : nullptr;
}
ScriptEngine& engineOf(Vm& vm) { return *vm.engine; }

Matrix worldMatrix(const DisplayObject& o) { return o.concatenatedMatrix(); }

Value clipAttachMovie(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a) || a.size() < 3) return Value();
    // Arguments convert in order (each may run a script, which may remove this clip).
    QString linkage = vm.toString(a.at(0)), name = vm.toString(a.at(1));
    int depth = vm.toInt32(a.at(2));
    MovieClip* mc = thisMovieClip(a);
    DisplayClip* c = mc ? engineOf(vm).attach(*mc, linkage, name, depth, a.at(3).asObject()) : nullptr;
    return c ? Value(static_cast<Object*>(c)) : Value();
}

Value clipCreateEmpty(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a) || a.size() < 2) return Value();
    QString name = vm.toString(a.at(0));
    int depth = vm.toInt32(a.at(1));
    MovieClip* mc = thisMovieClip(a);
    DisplayClip* c = mc ? engineOf(vm).createEmpty(*mc, name, depth) : nullptr;
    return c ? Value(static_cast<Object*>(c)) : Value();
}

Value clipCreateTextField(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a) || a.size() < 6) return Value();
    int depth = vm.toInt32(a.at(1));
    if (!validScriptDepth(depth)) return Value();
    auto def = std::make_shared<EditTextDef>();
    def->readOnly = true; // script-made fields start as dynamic text
    // Flash takes whole pixels for the field's position and size.
    double w = std::trunc(vm.toNumber(a.at(4))), h = std::trunc(vm.toNumber(a.at(5)));
    def->bounds = Rect{0, std::isfinite(w) ? int32_t(std::clamp(w, 0.0, 1e6) * 20) : 0, 0,
                       std::isfinite(h) ? int32_t(std::clamp(h, 0.0, 1e6) * 20) : 0};
    std::string name = vm.toString(a.at(0)).toStdString();
    double x = std::trunc(vm.toNumber(a.at(2))), y = std::trunc(vm.toNumber(a.at(3)));
    // The arguments ran script, which may have removed this clip.
    MovieClip* mc = thisMovieClip(a);
    if (!mc || !mc->mayAddScriptChild(false)) return Value();
    auto field = std::make_unique<EditTextObject>(mc->runtime(), def);
    field->setName(name);
    if (std::isfinite(x)) field->setX(x);
    if (std::isfinite(y)) field->setY(y);
    int stored = depth + kScriptDepthOffset;
    if (mc->childAtDepth(stored)) mc->removeChild(stored);
    DisplayObject* placed = mc->addChild(std::move(field), stored);
    engineOf(vm).objectPlaced(*placed, {});
    DisplayClip* c = engineOf(vm).wrap(placed);
    // Movies before version 8 get nothing back.
    return c && vm.version() >= 8 ? Value(static_cast<Object*>(c)) : Value();
}

Value clipGetDepth(Vm&, CallArgs& a) {
    DisplayClip* c = thisClip(a);
    if (!c || !c->object()) return Value();
    return Value(c->object()->depth() - kScriptDepthOffset);
}

// TextField's and Button's getDepth answer for their own kind of object
// only; MovieClip's answers for any display object.
template <Kind K>
Value ownKindGetDepth(Vm& vm, CallArgs& a) {
    Object* o = a.thisObject();
    return o && o->kind() == K ? clipGetDepth(vm, a) : Value();
}

Value clipSwapDepths(Vm& vm, CallArgs& a) {
    DisplayClip* c = thisClip(a);
    if (!c || !c->object() || !c->object()->parent() || !a.size() || a.at(0).isUndefined()) return Value();
    DisplayObject* o = c->object();
    MovieClip* parent = o->parent();
    // A clip on its way out (its unload event pending) keeps its depth.
    if (o->removalPending()) return Value();
    int target;
    // A clip, or a target path naming one, swaps with that clip; anything else is a depth.
    auto* other = dynamic_cast<DisplayClip*>(a.at(0).asObject());
    if (!other && a.at(0).isString())
        other = dynamic_cast<DisplayClip*>(vm.resolveTarget(c, a.at(0).asString()));
    if (other) {
        if (!other->object() || other->object()->parent() != parent || other->object()->removalPending()) return Value();
        target = other->object()->depth();
    } else {
        int d = vm.toInt32(a.at(0));
        if (!validScriptDepth(d)) return Value();
        target = d + kScriptDepthOffset;
        // valueOf may have removed or moved this clip.
        if (!(o = c->object()) || o->parent() != parent || o->removalPending()) return Value();
    }
    parent->swapDepths(o->depth(), target);
    o->lockTransform();
    return Value();
}

// setMask(clip or target path): that object masks this clip and is no longer
// drawn itself; null, or anything naming no object, removes the mask.
Value clipSetMask(Vm& vm, CallArgs& a) {
    DisplayClip* c = thisClip(a);
    if (!c || !c->object() || !a.size()) return Value();
    auto* mask = dynamic_cast<DisplayClip*>(a.at(0).asObject());
    if (!mask && a.at(0).isString()) mask = dynamic_cast<DisplayClip*>(vm.resolveTarget(c, a.at(0).asString()));
    c->object()->setMask(mask ? mask->object() : nullptr);
    return Value(true);
}

Value clipNextHighestDepth(Vm&, CallArgs& a) {
    MovieClip* mc = thisMovieClip(a);
    if (!mc) return Value();
    int next = 0;
    for (const auto& [depth, child] : mc->children()) next = std::max(next, depth - kScriptDepthOffset + 1);
    return Value(next);
}

Value clipInstanceAtDepth(Vm& vm, CallArgs& a) {
    if (!thisMovieClip(a) || !a.size()) return Value();
    int depth = vm.toInt32(a.at(0));
    MovieClip* mc = thisMovieClip(a);
    DisplayObject* o = mc ? mc->childAtDepth(depth + kScriptDepthOffset) : nullptr;
    DisplayClip* c = o ? engineOf(vm).wrap(o) : nullptr;
    return c ? Value(static_cast<Object*>(c)) : Value();
}

// Bounds of an object with nothing drawn in it.
bool holdsNothing(const Rect& r) { return r.xMin >= r.xMax && r.yMin >= r.yMax; }

// A clip object, or a target path naming one from `self`; null for anything else.
DisplayClip* namedClip(Vm& vm, DisplayClip* self, const Value& v) {
    auto* other = dynamic_cast<DisplayClip*>(v.asObject());
    if (!other && v.isString()) other = dynamic_cast<DisplayClip*>(vm.resolveTarget(self, v.asString()));
    return other;
}

// getBounds(space): in the clip's own space without an argument, else in
// the space of the clip `space` names; anything naming no clip has no answer.
Value clipGetBounds(Vm& vm, CallArgs& a) {
    DisplayClip* c = thisClip(a);
    if (!c || !c->object()) return Value();
    DisplayClip* space = a.at(0).isUndefined() ? nullptr : namedClip(vm, c, a.at(0));
    if (!a.at(0).isUndefined() && (!space || !space->object())) return Value();
    DisplayObject* o = c->object();
    Rect local = o->localBounds();
    Object* r = vm.newObject();
    if (local.xMin >= local.xMax && local.yMin >= local.yMax && local.xMin == 0) {
        // An empty clip reports Flash's "no bounds" sentinel.
        vm.setMember(r, QStringLiteral("xMin"), Value(6710886.35));
        vm.setMember(r, QStringLiteral("xMax"), Value(6710886.35));
        vm.setMember(r, QStringLiteral("yMin"), Value(6710886.35));
        vm.setMember(r, QStringLiteral("yMax"), Value(6710886.35));
        return Value(r);
    }
    Matrix m;
    if (space) m = inverted(worldMatrix(*space->object())) * worldMatrix(*o);
    Rect b = transformRect(m, local);
    vm.setMember(r, QStringLiteral("xMin"), Value(b.xMin / 20.0));
    vm.setMember(r, QStringLiteral("xMax"), Value(b.xMax / 20.0));
    vm.setMember(r, QStringLiteral("yMin"), Value(b.yMin / 20.0));
    vm.setMember(r, QStringLiteral("yMax"), Value(b.yMax / 20.0));
    return Value(r);
}

Value clipHitTest(Vm& vm, CallArgs& a) {
    DisplayClip* c = thisClip(a);
    if (!c || !c->object()) return Value(false);
    DisplayObject* o = c->object();
    if (a.size() >= 2) {
        Point stage{vm.toNumber(a.at(0)) * 20.0, vm.toNumber(a.at(1)) * 20.0};
        // valueOf may have removed this clip.
        if (!(o = c->object())) return Value(false);
        Matrix world = worldMatrix(*o);
        if (vm.toBool(a.at(2))) return Value(o->hitTest(inverted(world).map(stage)));
        Rect b = transformRect(world, o->localBounds());
        return Value(stage.x >= b.xMin && stage.x <= b.xMax && stage.y >= b.yMin && stage.y <= b.yMax);
    }
    // hitTest(target): the target may be a clip or its path.
    DisplayClip* other = namedClip(vm, c, a.at(0));
    if (!other || !other->object() || !(o = c->object())) return Value(false);
    // An object with nothing in it overlaps nothing.
    if (holdsNothing(o->localBounds()) || holdsNothing(other->object()->localBounds())) return Value(false);
    Rect r1 = transformRect(worldMatrix(*o), o->localBounds());
    Rect r2 = transformRect(worldMatrix(*other->object()), other->object()->localBounds());
    return Value(r1.xMin <= r2.xMax && r2.xMin <= r1.xMax && r1.yMin <= r2.yMax && r2.yMin <= r1.yMax);
}

void convertPoint(Vm& vm, CallArgs& a, bool toGlobal) {
    DisplayClip* c = thisClip(a);
    Object* pt = a.at(0).asObject();
    if (!c || !c->object() || !pt) return;
    // Only a point with its own numeric x and y is converted; anything else is left alone.
    const Property* x = pt->find(vm.key(QStringLiteral("x")));
    const Property* y = pt->find(vm.key(QStringLiteral("y")));
    if (!x || !y || x->isVirtual() || y->isVirtual() || !x->value.isNumber() || !y->value.isNumber()) return;
    Matrix world = worldMatrix(*c->object());
    // A clip scaled to nothing has no local space to convert into.
    if (!toGlobal && world.a * world.d - world.b * world.c == 0) return;
    Point p{x->value.asNumber() * 20.0, y->value.asNumber() * 20.0};
    Point q = toGlobal ? world.map(p) : inverted(world).map(p);
    vm.setMember(pt, QStringLiteral("x"), Value(q.x / 20.0));
    vm.setMember(pt, QStringLiteral("y"), Value(q.y / 20.0));
}
Value clipLocalToGlobal(Vm& vm, CallArgs& a) { convertPoint(vm, a, true); return Value(); }
Value clipGlobalToLocal(Vm& vm, CallArgs& a) { convertPoint(vm, a, false); return Value(); }

Value clipGetUrl(Vm& vm, CallArgs& a) {
    QString url = vm.toString(a.at(0));
    if (url.startsWith(QStringLiteral("fscommand:"), Qt::CaseInsensitive)) {
        if (vm.host().fscommand) vm.host().fscommand(url.mid(10), vm.toString(a.at(1)));
        return Value();
    }
    vm.openUrl(url, a.size() > 1 ? vm.toString(a.at(1)) : QString());
    return Value();
}

Value clipUnloadMovie(Vm&, CallArgs& a) { if (DisplayClip* c = thisClip(a)) c->unloadMovie(); return Value(); }
Value clipLoadMovie(Vm& vm, CallArgs& a) {
    if (DisplayClip* c = thisClip(a)) c->loadMovie(vm, vm.toString(a.at(0)), 0);
    return Value();
}
Value clipLoadVariables(Vm& vm, CallArgs& a) {
    if (DisplayClip* c = thisClip(a)) c->loadVariables(vm, vm.toString(a.at(0)), 0);
    return Value();
}

// ---- Display properties of clips and buttons (blendMode, cacheAsBitmap, scale9Grid) -------

DisplayObject* thisDisplay(CallArgs& a) {
    DisplayClip* c = thisClip(a);
    return c ? c->object() : nullptr;
}

// Blend modes by name, numbered from 1 as scripts may also give them ("normal" is 0 and 1).
constexpr const char* kBlendNames[] = {"normal", "normal", "layer", "multiply", "screen", "lighten", "darken",
                                       "difference", "add", "subtract", "invert", "alpha", "erase", "overlay",
                                       "hardlight"};
constexpr int kBlendCount = int(std::size(kBlendNames));

Value blendModeGet(Vm&, CallArgs& a) {
    DisplayObject* o = thisDisplay(a);
    int mode = o ? int(o->blendMode()) : -1;
    return mode >= 0 && mode < kBlendCount ? Value(QString::fromLatin1(kBlendNames[mode])) : Value();
}

// A mode number (1 to 14) or name; anything else leaves the mode as it was.
Value blendModeSet(Vm& vm, CallArgs& a) {
    const Value& v = a.at(0);
    int mode = -1;
    if (v.isNumber()) {
        double n = v.asNumber();
        if (n >= 1 && n < kBlendCount) mode = int(n);
    } else {
        QString name = vm.toString(v);
        for (int i = 1; i < kBlendCount && mode < 0; ++i)
            if (name == QLatin1String(kBlendNames[i])) mode = i;
    }
    if (DisplayObject* o = thisDisplay(a); o && mode > 0) o->setBlendMode(mode == 1 ? BlendMode::Normal : BlendMode(mode));
    return Value();
}

Value cacheAsBitmapGet(Vm&, CallArgs& a) {
    DisplayObject* o = thisDisplay(a);
    return o ? Value(o->cacheAsBitmap()) : Value();
}
Value cacheAsBitmapSet(Vm& vm, CallArgs& a) {
    bool on = vm.toBool(a.at(0));
    if (DisplayObject* o = thisDisplay(a)) o->setCacheAsBitmap(on);
    return Value();
}

// scale9Grid reads back as a new Rectangle in pixels, undefined when unset.
Value scale9GridGet(Vm& vm, CallArgs& a) {
    DisplayObject* o = thisDisplay(a);
    if (!o || !o->scale9Grid()) return Value();
    const Rect& r = *o->scale9Grid();
    return gfx::newGeom(vm, "Rectangle", {r.xMin / 20.0, r.yMin / 20.0, r.width() / 20.0, r.height() / 20.0});
}
// Takes anything with x, y, width and height; other values clear it.
Value scale9GridSet(Vm& vm, CallArgs& a) {
    Object* r = a.at(0).asObject();
    std::optional<Rect> grid;
    if (r) {
        double x = gfx::number(vm, r, "x"), y = gfx::number(vm, r, "y");
        double w = gfx::number(vm, r, "width"), h = gfx::number(vm, r, "height");
        auto twips = [](double px) { return std::isfinite(px) ? int32_t(std::clamp(px, -1e6, 1e6) * 20) : 0; };
        grid = Rect{twips(x), twips(x + w), twips(y), twips(y + h)};
    }
    if (DisplayObject* o = thisDisplay(a)) o->setScale9Grid(grid);
    return Value();
}

void addAccessor(Vm& vm, Object* on, const char* name, NativeFn getter, NativeFn setter, uint32_t flags) {
    QString n = QString::fromLatin1(name);
    Property& p = on->define(vm.key(n), n, Value(), flags);
    p.getter = vm.newNative(getter);
    p.setter = vm.newNative(setter);
}

void installDisplayProperties(Vm& vm) {
    struct { const char* name; NativeFn get, set; } accessors[] = {
        {"blendMode", blendModeGet, blendModeSet}, {"cacheAsBitmap", cacheAsBitmapGet, cacheAsBitmapSet},
        {"scale9Grid", scale9GridGet, scale9GridSet},
    };
    // Clips have them from version 8; on buttons they are plain, listed members.
    for (auto& p : accessors) {
        addAccessor(vm, vm.clipProto, p.name, p.get, p.set, kHidden | kVersion8);
        addAccessor(vm, vm.buttonProto, p.name, p.get, p.set, 0);
    }
    // The hand over buttons and clips that take the mouse follows these.
    vm.defineValue(vm.clipProto, QStringLiteral("useHandCursor"), Value(true), kDontEnum);
    vm.defineValue(vm.buttonProto, QStringLiteral("useHandCursor"), Value(true), 0);
}

// ---- Key -------------------------------------------------------------------------------

Value keyIsDown(Vm& vm, CallArgs& a) { return Value(engineOf(vm).keyIsDown(vm.toInt(a.at(0)))); }
Value keyGetCode(Vm& vm, CallArgs&) { return Value(engineOf(vm).lastKey()); }
Value keyGetAscii(Vm& vm, CallArgs&) { return Value(int(engineOf(vm).lastChar())); }
Value keyIsToggled(Vm& vm, CallArgs& a) { return Value(engineOf(vm).keyIsToggled(vm.toInt(a.at(0)))); }
// A local movie may read every key.
Value keyIsAccessible(Vm&, CallArgs&) { return Value(true); }

// ---- Mouse and Stage -----------------------------------------------------------------------

// Both answer 1 when the pointer was visible before the call, else 0.
Value mouseShow(Vm& vm, CallArgs&) { return Value(engineOf(vm).setPointerHidden(false) ? 0 : 1); }
Value mouseHide(Vm& vm, CallArgs&) { return Value(engineOf(vm).setPointerHidden(true) ? 0 : 1); }

// The stage size scripts see: the movie's, or the window's when the movie is not scaled.
QSize stageSize(Vm& vm) {
    Player& player = engineOf(vm).player();
    if (player.scaleMode() == ScaleMode::NoScale) return player.viewport();
    const auto& movie = player.movie();
    if (!movie) return {};
    return {int(movie->header.frameSize.width() / 20), int(movie->header.frameSize.height() / 20)};
}
Value stageWidth(Vm& vm, CallArgs&) { return Value(stageSize(vm).width()); }
Value stageHeight(Vm& vm, CallArgs&) { return Value(stageSize(vm).height()); }

struct ScaleModeName { ScaleMode mode; const char* name; };
constexpr ScaleModeName kScaleModes[] = {
    {ScaleMode::ShowAll, "showAll"}, {ScaleMode::NoBorder, "noBorder"},
    {ScaleMode::ExactFit, "exactFit"}, {ScaleMode::NoScale, "noScale"},
};

Value stageScaleMode(Vm& vm, CallArgs&) {
    ScaleMode mode = engineOf(vm).player().scaleMode();
    for (const auto& m : kScaleModes)
        if (m.mode == mode) return Value(QString::fromLatin1(m.name));
    return Value(QStringLiteral("showAll"));
}

// Tells the Stage listeners when what scripts see of the stage size changed.
void changeStage(Vm& vm, const std::function<void()>& change) {
    QSize before = stageSize(vm);
    change();
    if (stageSize(vm) != before)
        vm.callMethod(Value(engineOf(vm).stageObject()), QStringLiteral("broadcastMessage"),
                      std::array<Value, 1>{Value(QStringLiteral("onResize"))});
}

Value stageSetScaleMode(Vm& vm, CallArgs& a) {
    // Names match in any case; an unknown name shows the whole movie.
    QString name = vm.toString(a.at(0));
    ScaleMode mode = ScaleMode::ShowAll;
    for (const auto& m : kScaleModes)
        if (name.compare(QLatin1String(m.name), Qt::CaseInsensitive) == 0) mode = m.mode;
    changeStage(vm, [&] { engineOf(vm).player().setScaleMode(mode); });
    return Value();
}

Value stageAlign(Vm& vm, CallArgs&) {
    uint8_t flags = engineOf(vm).player().stage().alignFlags();
    QString out;
    if (flags & align::Left) out += u'L';
    if (flags & align::Top) out += u'T';
    if (flags & align::Right) out += u'R';
    if (flags & align::Bottom) out += u'B';
    return Value(out);
}

Value stageSetAlign(Vm& vm, CallArgs& a) {
    uint8_t flags = parseAlign(vm.toString(a.at(0)).toLatin1().constData());
    engineOf(vm).player().setAlign(flags);
    return Value();
}

Object* broadcaster(Vm& vm) {
    Object* o = vm.newObject();
    Value bc = broadcasterClass(vm);
    Value init = vm.getMember(bc, QStringLiteral("initialize"));
    Value arg(o);
    vm.call(init, bc, std::span<const Value>(&arg, 1));
    return o;
}

void addGetter(Vm& vm, Object* on, const QString& name, NativeFn getter, NativeFn setter = nullptr) {
    Property& p = on->define(vm.key(name), name, Value(), kDontDelete);
    p.getter = vm.newNative(getter);
    if (setter) p.setter = vm.newNative(setter);
}

} // namespace

void installPlayerObjects(Vm& vm, ScriptEngine& engine) {
    Object* p = vm.clipProto;
    // Movies older than a method's version do not see it (a version 6 movie
    // calling getNextHighestDepth gets undefined, as in Flash).
    struct { const char* name; NativeFn fn; uint32_t since = 0; } methods[] = {
        {"attachMovie", clipAttachMovie}, {"createEmptyMovieClip", clipCreateEmpty, kVersion6},
        {"createTextField", clipCreateTextField, kVersion6}, {"getDepth", clipGetDepth, kVersion6},
        {"swapDepths", clipSwapDepths}, {"getNextHighestDepth", clipNextHighestDepth, kVersion7},
        {"getInstanceAtDepth", clipInstanceAtDepth, kVersion7}, {"getBounds", clipGetBounds},
        {"getRect", clipGetBounds, kVersion8}, {"hitTest", clipHitTest}, {"localToGlobal", clipLocalToGlobal},
        {"globalToLocal", clipGlobalToLocal}, {"getURL", clipGetUrl}, {"unloadMovie", clipUnloadMovie},
        {"loadMovie", clipLoadMovie}, {"loadVariables", clipLoadVariables}, {"setMask", clipSetMask, kVersion6},
    };
    for (auto& m : methods) vm.defineMethod(p, QString::fromLatin1(m.name), m.fn, kHidden | m.since);
    vm.defineMethod(vm.buttonProto, QStringLiteral("getDepth"), ownKindGetDepth<Kind::Button>, 0);
    installDisplayProperties(vm);
    vm.defineMethod(vm.textFieldProto, QStringLiteral("getDepth"), ownKindGetDepth<Kind::TextField>);

    Object* key = broadcaster(vm);
    vm.defineValue(vm.global(), QStringLiteral("Key"), Value(key), kDontEnum);
    vm.defineMethod(key, QStringLiteral("isDown"), keyIsDown);
    vm.defineMethod(key, QStringLiteral("getCode"), keyGetCode);
    vm.defineMethod(key, QStringLiteral("getAscii"), keyGetAscii);
    vm.defineMethod(key, QStringLiteral("isToggled"), keyIsToggled);
    vm.defineMethod(key, QStringLiteral("isAccessible"), keyIsAccessible);
    struct { const char* name; int code; } keys[] = {
        {"BACKSPACE", 8}, {"CAPSLOCK", 20}, {"CONTROL", 17}, {"DELETEKEY", 46}, {"DOWN", 40}, {"END", 35},
        {"ENTER", 13}, {"ESCAPE", 27}, {"HOME", 36}, {"INSERT", 45}, {"LEFT", 37}, {"PGDN", 34}, {"PGUP", 33},
        {"RIGHT", 39}, {"SHIFT", 16}, {"SPACE", 32}, {"TAB", 9}, {"UP", 38}, {"ALT", 18},
    };
    for (auto& k : keys) vm.defineValue(key, QString::fromLatin1(k.name), Value(k.code), kHidden | kReadOnly);
    vm.sealBuiltinObject(key, kHidden | kReadOnly);

    Object* mouse = broadcaster(vm);
    vm.defineValue(vm.global(), QStringLiteral("Mouse"), Value(mouse), kDontEnum);
    vm.defineMethod(mouse, QStringLiteral("show"), mouseShow);
    vm.defineMethod(mouse, QStringLiteral("hide"), mouseHide);
    vm.sealBuiltinObject(mouse, kHidden | kReadOnly);

    Object* stage = broadcaster(vm);
    vm.defineValue(vm.global(), QStringLiteral("Stage"), Value(stage), kDontEnum);
    addGetter(vm, stage, QStringLiteral("width"), stageWidth);
    addGetter(vm, stage, QStringLiteral("height"), stageHeight);
    addGetter(vm, stage, QStringLiteral("scaleMode"), stageScaleMode, stageSetScaleMode);
    addGetter(vm, stage, QStringLiteral("align"), stageAlign, stageSetAlign);
    vm.setMember(stage, QStringLiteral("showMenu"), Value(true));
    for (const char* n : {"scaleMode", "align", "showMenu"})
        if (Property* pr = stage->find(vm.key(QString::fromLatin1(n)))) pr->flags = kHidden;

    installGeom(vm);
    installBitmap(vm, engine);
    installDrawing(vm, engine);
    installText(vm, engine);
    installFocus(vm, engine);
    installXml(vm, engine);
    installNet(vm, engine);
    installSystem(vm, engine);
    installVideo(vm, engine);
    // The player's own classes (LoadVars, ...) have native ids too.
    recordNativeIds(vm);
}

} // namespace swf::avm1::builtins
