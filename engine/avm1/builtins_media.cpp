// Color and Sound: the classes that change how clips look and sound.
#include "engine/avm1/builtins.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/net.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"
#include "engine/sound/sound_player.h"

#include <cmath>
#include <optional>
#include <utility>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

// The display object a Color or Sound object names: its `target` member,
// resolved like a path from the root when it is a string.
DisplayObject* targetOf(Vm& vm, Object* self) {
    Value t = vm.getMember(Value(self), QStringLiteral("target"));
    Object* o = t.asObject();
    if (!o && t.isString() && !t.asString().isEmpty()) o = vm.resolveTarget(vm.root(), t.asString());
    auto* c = dynamic_cast<DisplayClip*>(o);
    return c ? c->object() : nullptr;
}

// A Color keeps its target as given; the instance's own members (its
// constructor link included, and no `constructor` in old movies) are
// hidden, permanent and read-only.
Value colorCtor(Vm& vm, CallArgs& a) {
    Object* o = newInstance(vm, a);
    if (a.callee) vm.defineValue(o, QStringLiteral("__constructor__"), Value(static_cast<Object*>(a.callee)), kVersion6);
    vm.defineValue(o, QStringLiteral("target"), a.at(0), 0);
    vm.changeFlags(o, kHidden | kReadOnly, 0);
    return Value(o);
}

// The arguments are read before the target is looked up: reading them may
// run script that removes the target clip.
Value colorSetRgb(Vm& vm, CallArgs& a) {
    uint32_t rgb = vm.toUint32(a.at(0));
    DisplayObject* d = a.thisObject() ? targetOf(vm, a.thisObject()) : nullptr;
    if (!d) return Value();
    ColorTransform cx = d->colorTransform();
    cx.rMult = cx.gMult = cx.bMult = 0;
    cx.rAdd = (rgb >> 16) & 255;
    cx.gAdd = (rgb >> 8) & 255;
    cx.bAdd = rgb & 255;
    d->setColorTransform(cx);
    return Value();
}

Value colorGetRgb(Vm& vm, CallArgs& a) {
    DisplayObject* d = a.thisObject() ? targetOf(vm, a.thisObject()) : nullptr;
    if (!d) return Value();
    const ColorTransform cx = d->colorTransform();
    // The offsets are signed: negative ones spill into the higher bytes, as in Flash.
    auto part = [](double v) { return uint32_t(int32_t(v)); };
    return Value(double(int32_t((part(cx.rAdd) << 16) | (part(cx.gAdd) << 8) | part(cx.bAdd))));
}

Value colorGetTransform(Vm& vm, CallArgs& a) {
    DisplayObject* d = a.thisObject() ? targetOf(vm, a.thisObject()) : nullptr;
    if (!d) return Value();
    const ColorTransform cx = d->colorTransform(); // setMember below may run script
    Object* o = vm.newObject();
    vm.setMember(o, QStringLiteral("ra"), Value(cx.rMult * 100));
    vm.setMember(o, QStringLiteral("ga"), Value(cx.gMult * 100));
    vm.setMember(o, QStringLiteral("ba"), Value(cx.bMult * 100));
    vm.setMember(o, QStringLiteral("aa"), Value(cx.aMult * 100));
    vm.setMember(o, QStringLiteral("rb"), Value(cx.rAdd));
    vm.setMember(o, QStringLiteral("gb"), Value(cx.gAdd));
    vm.setMember(o, QStringLiteral("bb"), Value(cx.bAdd));
    vm.setMember(o, QStringLiteral("ab"), Value(cx.aAdd));
    return Value(o);
}

Value colorSetTransform(Vm& vm, CallArgs& a) {
    Object* t = a.at(0).asObject();
    if (!a.thisObject() || !t) return Value();
    // Flash keeps multipliers in 8.8 fixed point and additions as 16-bit integers;
    // only the object's own members count, not inherited ones.
    auto read = [&](const char* name, bool multiplier) -> std::optional<double> {
        if (!vm.hasOwnProperty(t, QString::fromLatin1(name))) return std::nullopt;
        double v = vm.toNumber(vm.getMember(Value(t), QString::fromLatin1(name)));
        if (!std::isfinite(v)) return 0.0;
        return multiplier ? int16_t(int32_t(v * 2.56)) / 256.0 : double(int16_t(int32_t(v)));
    };
    const char* names[] = {"ra", "ga", "ba", "aa", "rb", "gb", "bb", "ab"};
    std::optional<double> values[8];
    for (int i = 0; i < 8; ++i) values[i] = read(names[i], i < 4);
    DisplayObject* d = targetOf(vm, a.thisObject());
    if (!d) return Value();
    ColorTransform cx = d->colorTransform();
    double* fields[] = {&cx.rMult, &cx.gMult, &cx.bMult, &cx.aMult, &cx.rAdd, &cx.gAdd, &cx.bAdd, &cx.aAdd};
    for (int i = 0; i < 8; ++i)
        if (values[i]) *fields[i] = *values[i];
    d->setColorTransform(cx);
    return Value();
}

// ---- Sound -------------------------------------------------------------------------------

// A Sound's mix belongs to the clip it targets: it is asked from the clip the
// target names now, so a clip made anew starts at full volume again.
struct SoundState final : NativeState {
    uint16_t soundId = 0;
    uint64_t instance = 0;
    double volume = 100, pan = 0;
    double ll = 100, lr = 0, rr = 100, rl = 0; // setTransform channel mix, in percent
    Object* mixOwner = nullptr; // the clip the mix was set on (null: the global mix)
    QString targetPath;         // where the target clip was when the Sound was made
    // loadSound: from then on the Sound plays and mixes a sound of its own,
    // whatever its target; -1 bytes before any load (undefined to scripts).
    bool ownSound = false;
    std::shared_ptr<const std::vector<uint8_t>> file;
    double bytesLoaded = -1, bytesTotal = -1;
    uint64_t loads = 0; // a newer loadSound supersedes the one in flight
    bool loading = false;
    // start() calls made while the sound still loads (offset, loops): they play once it is there.
    std::vector<std::pair<double, int>> waitingStarts;
    void resetMix() { volume = 100, pan = 0, ll = 100, lr = 0, rr = 100, rl = 0; }
    void mark(const MarkFn& markFn) const override { if (mixOwner) markFn(mixOwner); }
};

// The Sound part of `o`: made on first use for an object of no other class
// (a subclass's instance), null for another class's object.
SoundState* soundState(Object* o) { return o ? o->nativeOrMake<SoundState>() : nullptr; }

// The clip object a Sound targets; nullptr for the global sound. `missing`
// tells that a target was named but does not exist (the getters give undefined).
Object* soundTarget(Vm& vm, Object* self, bool& missing) {
    Value t = vm.getMember(Value(self), QStringLiteral("target"));
    missing = false;
    if (t.isUndefined()) return nullptr;
    Object* o = t.asObject();
    if (!o && t.isString() && !t.asString().isEmpty()) o = vm.resolveTarget(vm.root(), t.asString());
    auto* c = dynamic_cast<DisplayClip*>(o);
    // A clip reference follows its path: a clip made anew in its place is the target now.
    if (SoundState* s = soundState(self); c && !c->object() && s && !s->targetPath.isEmpty())
        c = dynamic_cast<DisplayClip*>(vm.resolveTarget(vm.root(), s->targetPath));
    if (!c || !c->object()) {
        missing = true;
        return nullptr;
    }
    return c;
}

// The mix state for the Sound's current target, reset when the target
// changed; null when the target is missing.
SoundState* mixState(Vm& vm, Object* self) {
    SoundState* s = soundState(self);
    if (!s || s->ownSound) return s;
    bool missing = false;
    Object* target = soundTarget(vm, self, missing);
    if (missing) return nullptr;
    if (s->mixOwner != target) {
        s->resetMix();
        s->mixOwner = target;
    }
    return s;
}

Value soundCtor(Vm& vm, CallArgs& a) {
    Object* o = newInstance(vm, a);
    vm.defineValue(o, QStringLiteral("target"), a.at(0), kHidden);
    // The part is made now, so that no other class's part can take its place.
    SoundState* s = soundState(o);
    if (auto* c = dynamic_cast<DisplayClip*>(a.at(0).asObject()); c && !c->removed()) s->targetPath = c->targetPath();
    return Value(o);
}

// Whose sounds a Sound starts, stops and mixes: its own after loadSound,
// else its target clip's (null: the whole movie's).
const void* soundOwner(Vm& vm, Object* self) {
    if (SoundState* s = soundState(self); s && s->ownSound) return self;
    DisplayObject* d = targetOf(vm, self);
    return d ? static_cast<const void*>(d) : nullptr;
}

Value soundAttach(Vm& vm, CallArgs& a) {
    SoundState* s = soundState(a.thisObject());
    if (!s) return Value();
    const auto& movie = vm.engine ? vm.engine->player().movie() : nullptr;
    if (!movie) return Value();
    QString name = vm.toString(a.at(0));
    for (const auto& [exportName, id] : movie->exports)
        if (QString::fromStdString(exportName).compare(name, Qt::CaseInsensitive) == 0) {
            s->soundId = id;
            return Value();
        }
    return Value();
}

SoundPlayer* soundPlayerOf(Vm& vm) { return vm.engine ? vm.engine->player().soundPlayer() : nullptr; }

// ---- onSoundComplete: the Sounds whose started sound plays, polled each frame --------------

struct PlayingSounds {
    std::vector<std::pair<uint64_t, Object*>> playing; // instance, its Sound (kept alive meanwhile)
};
constexpr const char* kSoundHook = "Sound";

void tellFinished(Vm& vm, PlayingSounds& list) {
    SoundPlayer* sp = soundPlayerOf(vm);
    if (!sp) return;
    std::vector<uint64_t> finished = sp->takeFinished();
    std::vector<std::pair<uint64_t, Object*>> done;
    std::erase_if(list.playing, [&](const auto& e) {
        bool ended = std::find(finished.begin(), finished.end(), e.first) != finished.end();
        if (!ended && sp->isInstancePlaying(e.first)) return false;
        if (ended) done.push_back(e);
        else vm.removeRoot(e.second); // stopped: no event
        return true;
    });
    for (auto [instance, self] : done) {
        vm.removeRoot(self);
        vm.callMethod(Value(self), QStringLiteral("onSoundComplete"), {});
        vm.takeException();
    }
}

void watchInstance(Vm& vm, uint64_t instance, Object* self) {
    if (!instance || !vm.engine) return;
    PlayingSounds* list = nullptr;
    for (const auto& hook : vm.engine->frameHooks)
        if (hook.name == kSoundHook) list = static_cast<PlayingSounds*>(hook.owner.get());
    if (!list) {
        auto owner = std::make_shared<PlayingSounds>();
        list = owner.get();
        Vm* vmp = &vm;
        vm.engine->frameHooks.push_back({kSoundHook, owner, [vmp, list](double) { tellFinished(*vmp, *list); }});
    }
    vm.addRoot(self);
    list->playing.emplace_back(instance, self);
}

void startSound(Vm& vm, Object* self, SoundState& s, double offset, int loops) {
    SoundPlayer* sp = soundPlayerOf(vm);
    if (!sp) return;
    const void* owner = soundOwner(vm, self);
    s.instance = s.file ? sp->startMp3File(s.file, offset, loops, owner)
                        : sp->startScriptSound(vm.engine->player().movie(), s.soundId, offset, loops, owner);
    watchInstance(vm, s.instance, self);
}


// start(secondOffset = 0, loops = 1): the attached sound, or the loaded one
// (once it is there).
Value soundStart(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    SoundState* s = soundState(self);
    if (!s || !soundPlayerOf(vm) || (!s->soundId && !s->file && !s->loading)) return Value();
    double offset = argNumber(vm, a, 0, 0);
    int loops = std::max(int(argNumber(vm, a, 1, 1)), 1);
    offset = std::isfinite(offset) ? offset : 0;
    // The arguments ran script: look at the state again.
    if (!(s = soundState(self))) return Value();
    if (s->loading) {
        if (s->waitingStarts.size() < limits::kMaxSoundVoices) s->waitingStarts.emplace_back(offset, loops);
        return Value();
    }
    if (s->soundId || s->file) startSound(vm, self, *s, offset, loops);
    return Value();
}

// loadSound(url, isStreaming): the Sound gets a sound of its own, with a
// fresh mix; a streaming one starts as soon as it arrives, an event one
// waits for start(). onLoad(success) follows the load.
Value soundLoad(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!soundState(self)) return Value();
    QString url = vm.toString(a.at(0));
    bool streaming = vm.toBool(a.at(1));
    SoundState* s = soundState(self);
    if (SoundPlayer* sp = soundPlayerOf(vm); sp && s->ownSound) sp->stopOwner(self);
    s->ownSound = true;
    s->resetMix();
    s->file.reset();
    s->soundId = 0;
    s->instance = 0;
    s->bytesLoaded = 0;
    s->bytesTotal = -1;
    s->waitingStarts.clear();
    s->loading = true;
    const uint64_t load = ++s->loads;
    loadText(vm, url, [self, streaming, load](Vm& vm, std::optional<QByteArray> bytes) {
        SoundState* s = soundState(self);
        if (!s || s->loads != load) return;
        s->loading = false;
        if (bytes) {
            s->file = std::make_shared<const std::vector<uint8_t>>(bytes->begin(), bytes->end());
            s->bytesLoaded = s->bytesTotal = double(bytes->size());
            if (streaming) startSound(vm, self, *s, 0, 1);
            for (auto [offset, loops] : std::exchange(s->waitingStarts, {})) startSound(vm, self, *s, offset, loops);
        }
        s->waitingStarts.clear();
        std::vector<Value> args{Value(bytes.has_value())};
        vm.callMethod(Value(self), QStringLiteral("onLoad"), args);
        vm.takeException();
    }, {self});
    return Value();
}

Value soundBytesLoaded(Vm&, CallArgs& a) {
    SoundState* s = soundState(a.thisObject());
    return s && s->bytesLoaded >= 0 ? Value(s->bytesLoaded) : Value();
}
Value soundBytesTotal(Vm&, CallArgs& a) {
    SoundState* s = soundState(a.thisObject());
    return s && s->bytesTotal >= 0 ? Value(s->bytesTotal) : Value();
}

Value soundStop(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!soundState(self) || !vm.engine) return Value();
    SoundPlayer* sp = vm.engine->player().soundPlayer();
    if (!sp) return Value();
    if (a.size() && a.at(0).isString()) {
        const auto& movie = vm.engine->player().movie();
        for (const auto& [exportName, id] : movie->exports)
            if (QString::fromStdString(exportName).compare(a.at(0).asString(), Qt::CaseInsensitive) == 0)
                sp->stopSound(movie.get(), id);
        return Value();
    }
    sp->stopOwner(soundOwner(vm, self));
    return Value();
}

void applyMix(Vm& vm, Object* self, const SoundState& s) {
    SoundPlayer* sp = vm.engine ? vm.engine->player().soundPlayer() : nullptr;
    if (!sp) return;
    double v = s.volume / 100.0;
    double p = std::clamp(s.pan, -100.0, 100.0) / 100.0;
    SoundTransform t;
    t.leftToLeft = v * (p > 0 ? 1 - p : 1) * s.ll / 100.0;
    t.rightToRight = v * (p < 0 ? 1 + p : 1) * s.rr / 100.0;
    t.leftToRight = v * s.lr / 100.0;
    t.rightToLeft = v * s.rl / 100.0;
    sp->setTransform(soundOwner(vm, self), t);
}

Value soundSetVolume(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    SoundState* s = self ? mixState(vm, self) : nullptr;
    if (!s) return Value();
    double v = vm.toNumber(a.at(0));
    if (std::isfinite(v)) s->volume = std::trunc(v);
    applyMix(vm, self, *s);
    return Value();
}
Value soundGetVolume(Vm& vm, CallArgs& a) {
    SoundState* s = a.thisObject() ? mixState(vm, a.thisObject()) : nullptr;
    return s ? Value(s->volume) : Value();
}
Value soundSetPan(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    SoundState* s = self ? mixState(vm, self) : nullptr;
    if (!s) return Value();
    double v = vm.toNumber(a.at(0));
    if (std::isfinite(v)) s->pan = std::trunc(v);
    applyMix(vm, self, *s);
    return Value();
}
Value soundGetPan(Vm& vm, CallArgs& a) {
    SoundState* s = a.thisObject() ? mixState(vm, a.thisObject()) : nullptr;
    return s ? Value(s->pan) : Value();
}
Value soundGetTransform(Vm& vm, CallArgs& a) {
    SoundState* s = a.thisObject() ? mixState(vm, a.thisObject()) : nullptr;
    if (!s) return Value();
    Object* o = vm.newObject();
    vm.setMember(o, QStringLiteral("ll"), Value(s->ll));
    vm.setMember(o, QStringLiteral("lr"), Value(s->lr));
    vm.setMember(o, QStringLiteral("rr"), Value(s->rr));
    vm.setMember(o, QStringLiteral("rl"), Value(s->rl));
    return Value(o);
}
Value soundSetTransform(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    SoundState* s = self ? mixState(vm, self) : nullptr;
    Object* t = a.at(0).asObject();
    if (!s || !t) return Value();
    auto field = [&](const char* name, double& out) {
        if (!vm.hasProperty(t, QString::fromLatin1(name))) return;
        double v = vm.toNumber(vm.getMember(Value(t), QString::fromLatin1(name)));
        if (std::isfinite(v)) out = std::trunc(v);
    };
    field("ll", s->ll); field("lr", s->lr); field("rr", s->rr); field("rl", s->rl);
    applyMix(vm, self, *s);
    return Value();
}
// Milliseconds, of the attached or loaded sound.
Value soundGetDuration(Vm& vm, CallArgs& a) {
    SoundState* s = soundState(a.thisObject());
    SoundPlayer* sp = soundPlayerOf(vm);
    if (!s || !sp || (!s->soundId && !s->file)) return Value();
    auto d = s->file ? sp->durationSeconds(s->file) : sp->durationSeconds(vm.engine->player().movie(), s->soundId);
    return d ? Value(std::round(*d * 1000)) : Value();
}
Value soundGetPosition(Vm& vm, CallArgs& a) {
    SoundState* s = soundState(a.thisObject());
    SoundPlayer* sp = soundPlayerOf(vm);
    if (!s || !sp || (!s->soundId && !s->file)) return Value();
    auto p = sp->instancePositionSeconds(s->instance);
    return p ? Value(std::round(*p * 1000)) : Value(0);
}

} // namespace

void installMedia(Vm& vm) {
    Object* color = vm.newObject();
    vm.defineClass(QStringLiteral("Color"), colorCtor, colorCtor, color);
    vm.defineMethod(color, QStringLiteral("setRGB"), colorSetRgb);
    vm.defineMethod(color, QStringLiteral("getRGB"), colorGetRgb);
    vm.defineMethod(color, QStringLiteral("setTransform"), colorSetTransform);
    vm.defineMethod(color, QStringLiteral("getTransform"), colorGetTransform);
    vm.changeFlags(color, kHidden | kReadOnly, 0);

    Object* sound = vm.newObject();
    vm.defineClass(QStringLiteral("Sound"), soundCtor, soundCtor, sound);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"attachSound", soundAttach}, {"start", soundStart}, {"stop", soundStop},
        {"setVolume", soundSetVolume}, {"getVolume", soundGetVolume}, {"setPan", soundSetPan},
        {"getPan", soundGetPan}, {"getDuration", soundGetDuration}, {"getPosition", soundGetPosition},
        {"getTransform", soundGetTransform}, {"setTransform", soundSetTransform},
    };
    for (auto& m : methods) vm.defineMethod(sound, QString::fromLatin1(m.name), m.fn);
    // Loading sounds came with version 6 movies, and so did duration and position.
    vm.defineMethod(sound, QStringLiteral("loadSound"), soundLoad, kHidden | kVersion6);
    vm.defineMethod(sound, QStringLiteral("getBytesLoaded"), soundBytesLoaded, kHidden | kVersion6);
    vm.defineMethod(sound, QStringLiteral("getBytesTotal"), soundBytesTotal, kHidden | kVersion6);
    const std::pair<const char*, NativeFn> readOnly[] = {{"duration", soundGetDuration}, {"position", soundGetPosition}};
    for (auto [name, getter] : readOnly) {
        QString n = QString::fromLatin1(name);
        Property& p = sound->define(vm.key(n), n, Value(), kHidden | kVersion6);
        p.getter = vm.newNative(getter);
    }
}

} // namespace swf::avm1::builtins
