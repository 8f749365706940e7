// Video, NetConnection and NetStream: FLV files played into Video objects.
// The playback itself is engine/display/net_stream; this file is the script
// face of it.
#include "engine/avm1/builtins.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/net.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/loader.h"
#include "engine/display/net_stream.h"
#include "engine/display/player.h"
#include "engine/display/video_object.h"

#include <algorithm>
#include <cmath>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

// A NetStream object's native part. Read only through netStreamOf(): the
// one place that knows where native state lives.
struct NetStreamNative : NativeState {
    std::shared_ptr<NetStream> stream;
    uint64_t request = 0; // the loader's request for its file
    // Expires with the object, so the frame hook can tell a dead stream.
    std::shared_ptr<const int> life = std::make_shared<const int>(0);
};

NetStreamNative* netStreamNativeOf(const Value& v) {
    Object* o = v.asObject();
    return o ? o->nativeAs<NetStreamNative>() : nullptr;
}

NetStream* netStreamOf(const Value& v) {
    auto* n = netStreamNativeOf(v);
    return n ? n->stream.get() : nullptr;
}

std::shared_ptr<NetStream> sharedNetStreamOf(const Value& v) {
    auto* n = netStreamNativeOf(v);
    return n ? n->stream : nullptr;
}

// The streams of this script engine, ticked once per frame. An entry
// watches the object's native part, which dies with the object (a Video
// may keep the playback itself).
struct StreamList {
    std::vector<std::pair<std::weak_ptr<const int>, Object*>> streams;
};
constexpr const char* kStreamHook = "NetStream";

std::shared_ptr<StreamList> streamListOf(ScriptEngine& engine) {
    for (const auto& hook : engine.frameHooks)
        if (hook.name == kStreamHook) return std::static_pointer_cast<StreamList>(hook.owner);
    return nullptr;
}

VideoObject* videoOf(const Value& v) {
    auto* c = dynamic_cast<DisplayClip*>(v.asObject());
    return c && c->object() && c->object()->type() == DisplayObject::Type::Video
               ? static_cast<VideoObject*>(c->object())
               : nullptr;
}

Value toValue(Vm& vm, const video::AmfValue& a) {
    using T = video::AmfValue::Type;
    switch (a.type) {
    case T::Number:
    case T::Date: return Value(a.number);
    case T::Boolean: return Value(a.number != 0);
    case T::String: return Value(QString::fromUtf8(a.string.data(), qsizetype(a.string.size())));
    case T::Null: return Value::null();
    case T::Undefined: return Value();
    case T::Array: {
        std::vector<Value> items;
        for (const auto& i : a.items) items.push_back(toValue(vm, i));
        return Value(static_cast<Object*>(vm.newArray(std::move(items))));
    }
    case T::Object: {
        Object* o = vm.newObject(vm.objectProto);
        for (const auto& [k, v] : a.members)
            vm.setMember(o, QString::fromUtf8(k.data(), qsizetype(k.size())), toValue(vm, v));
        return Value(o);
    }
    }
    return Value();
}

void dispatch(Vm& vm, Object* self, NetStream& stream) {
    for (NetStreamEvent& e : stream.takeEvents()) {
        if (e.kind != NetStreamEvent::Kind::Status) {
            const Value arg = toValue(vm, e.data);
            vm.callMethod(Value(self), e.kind == NetStreamEvent::Kind::MetaData ? QStringLiteral("onMetaData")
                                                                                   : QStringLiteral("onCuePoint"),
                          std::span<const Value>(&arg, 1));
            vm.takeException();
            continue;
        }
        Object* info = vm.newObject(vm.objectProto);
        vm.setMember(info, QStringLiteral("code"), Value(QString::fromStdString(e.code)));
        vm.setMember(info, QStringLiteral("level"), Value(QString::fromStdString(e.level)));
        const Value arg(info);
        // Errors nobody handles on the stream go to System.onStatus.
        Value handler = vm.getMember(Value(self), QStringLiteral("onStatus"));
        if (!handler.asObject() && e.level == "error") {
            Value system = vm.getMember(Value(vm.global()), QStringLiteral("System"));
            handler = vm.getMember(system, QStringLiteral("onStatus"));
            if (handler.asObject()) vm.call(handler, system, std::span<const Value>(&arg, 1));
        } else if (handler.asObject()) {
            vm.call(handler, Value(self), std::span<const Value>(&arg, 1));
        }
        vm.takeException();
    }
}

// ---- NetConnection ------------------------------------------------------------------------

Value ncCtor(Vm& vm, CallArgs& a) { return Value(newInstance(vm, a)); }

// Only connect(null) is meaningful without a media server: files are
// played by address.
Value ncConnect(Vm& vm, CallArgs& a) {
    const bool local = a.at(0).isNull() || a.at(0).isUndefined();
    if (Object* self = a.thisObject()) vm.setMember(self, QStringLiteral("isConnected"), Value(local));
    return Value(local);
}

// ---- NetStream ----------------------------------------------------------------------------

Value nsCtor(Vm& vm, CallArgs& a) {
    Object* self = newInstance(vm, a);
    if (!vm.engine) return Value(self);
    auto* native = self->nativeOrMake<NetStreamNative>();
    if (!native) return Value(self);
    Player* player = &vm.engine->player();
    native->stream = std::make_shared<NetStream>(player->runtime(), [player] { return player->soundPlayer(); });
    if (auto list = streamListOf(*vm.engine)) list->streams.emplace_back(native->life, self);
    return Value(self);
}

// The file arrives over the following frames through the player's loader,
// under the asking movie's sandbox and load allowance.
Value nsPlay(Vm& vm, CallArgs& a) {
    auto* native = netStreamNativeOf(a.thisv);
    if (!native || !native->stream || !vm.engine) return Value();
    Loader& loader = vm.engine->player().loader();
    loader.cancel(native->request);
    const QString url = vm.toString(a.at(0));
    const uint64_t load = native->stream->loading();
    // Relative addresses are read against the root movie's, as for other loads.
    const auto& root = vm.engine->player().movie();
    auto resolved = Loader::resolve(root ? root->url : std::string(), url.toStdString());
    std::weak_ptr<NetStream> weak = native->stream;
    // A stream is under way for as long as it plays: it takes at most half of
    // what the movie may have under way, so its other loads go on meanwhile.
    native->request = loader.requestStream(
        resolved, std::min(limits::kMaxFlvFileBytes, limits::kMaxLoadBytesInFlight / 2),
        [weak, load](std::span<const uint8_t> part, uint64_t total) {
            if (auto s = weak.lock()) s->dataArrived(load, part, total);
        },
        [weak, load](FetchResult& r) {
            if (auto s = weak.lock()) s->loadEnded(load, r.ok);
        },
        askerOf(vm));
    return Value();
}

Value nsPause(Vm&, CallArgs& a) {
    if (NetStream* s = netStreamOf(a.thisv))
        s->setPaused(a.at(0).isBool() ? a.at(0).asBool() : !s->paused());
    return Value();
}

Value nsSeek(Vm& vm, CallArgs& a) {
    if (NetStream* s = netStreamOf(a.thisv)) s->seek(vm.toNumber(a.at(0)));
    return Value();
}

Value nsClose(Vm& vm, CallArgs& a) {
    auto* native = netStreamNativeOf(a.thisv);
    if (!native || !native->stream) return Value();
    if (vm.engine) vm.engine->player().loader().cancel(native->request);
    native->stream->close();
    return Value();
}

Value nsSetBufferTime(Vm& vm, CallArgs& a) {
    if (NetStream* s = netStreamOf(a.thisv)) s->setBufferTime(vm.toNumber(a.at(0)));
    return Value();
}

template <double (*Read)(const NetStream&)>
Value nsGetter(Vm&, CallArgs& a) {
    const NetStream* s = netStreamOf(a.thisv);
    return s ? Value(Read(*s)) : Value();
}
double readTime(const NetStream& s) { return s.time(); }
double readBytesLoaded(const NetStream& s) { return double(s.bytesLoaded()); }
double readBytesTotal(const NetStream& s) { return double(s.bytesTotal()); }
double readBufferLength(const NetStream& s) { return s.bufferLength(); }
double readBufferTime(const NetStream& s) { return s.bufferTime(); }

// ---- Video --------------------------------------------------------------------------------

Value videoAttach(Vm&, CallArgs& a) {
    if (VideoObject* v = videoOf(a.thisv)) v->attach(sharedNetStreamOf(a.at(0)));
    return Value();
}

Value videoClear(Vm&, CallArgs& a) {
    if (VideoObject* v = videoOf(a.thisv)) v->clear();
    return Value();
}

Value videoWidth(Vm&, CallArgs& a) {
    const VideoObject* v = videoOf(a.thisv);
    return v ? Value(double(v->pictureWidth())) : Value();
}
Value videoHeight(Vm&, CallArgs& a) {
    const VideoObject* v = videoOf(a.thisv);
    return v ? Value(double(v->pictureHeight())) : Value();
}
Value videoGetSmoothing(Vm&, CallArgs& a) {
    const VideoObject* v = videoOf(a.thisv);
    return v ? Value(v->smoothing()) : Value();
}
Value videoSetSmoothing(Vm& vm, CallArgs& a) {
    if (VideoObject* v = videoOf(a.thisv)) v->setSmoothing(vm.toBool(a.at(0)));
    return Value();
}
Value videoGetDeblocking(Vm&, CallArgs& a) {
    const VideoObject* v = videoOf(a.thisv);
    return v ? Value(double(v->deblocking())) : Value();
}
Value videoSetDeblocking(Vm& vm, CallArgs& a) {
    if (VideoObject* v = videoOf(a.thisv)) v->setDeblocking(int(vm.toNumber(a.at(0))));
    return Value();
}

void addAccessor(Vm& vm, Object* on, const char* name, NativeFn getter, NativeFn setter = nullptr) {
    const QString n = QString::fromLatin1(name);
    Property& p = on->define(vm.key(n), n, Value(), kHidden);
    p.getter = vm.newNative(getter);
    if (setter) p.setter = vm.newNative(setter);
}

} // namespace

void installVideo(Vm& vm, ScriptEngine& engine) {
    Object* nc = vm.newObject();
    vm.defineClass(QStringLiteral("NetConnection"), ncCtor, ncCtor, nc);
    vm.defineMethod(nc, QStringLiteral("connect"), ncConnect);

    Object* ns = vm.newObject();
    vm.defineClass(QStringLiteral("NetStream"), nsCtor, nsCtor, ns);
    const struct { const char* name; NativeFn fn; } methods[] = {
        {"play", nsPlay}, {"pause", nsPause}, {"seek", nsSeek}, {"close", nsClose},
        {"setBufferTime", nsSetBufferTime},
    };
    for (const auto& m : methods) vm.defineMethod(ns, QString::fromLatin1(m.name), m.fn);
    addAccessor(vm, ns, "time", nsGetter<readTime>);
    addAccessor(vm, ns, "bytesLoaded", nsGetter<readBytesLoaded>);
    addAccessor(vm, ns, "bytesTotal", nsGetter<readBytesTotal>);
    addAccessor(vm, ns, "bufferLength", nsGetter<readBufferLength>);
    addAccessor(vm, ns, "bufferTime", nsGetter<readBufferTime>);

    Object* video = vm.newObject();
    vm.defineClass(QStringLiteral("Video"), ncCtor, ncCtor, video);
    vm.defineMethod(video, QStringLiteral("attachVideo"), videoAttach);
    vm.defineMethod(video, QStringLiteral("clear"), videoClear);
    addAccessor(vm, video, "width", videoWidth);
    addAccessor(vm, video, "height", videoHeight);
    addAccessor(vm, video, "smoothing", videoGetSmoothing, videoSetSmoothing);
    addAccessor(vm, video, "deblocking", videoGetDeblocking, videoSetDeblocking);

    // Streams advance with the frame clock and report to their objects.
    auto list = std::make_shared<StreamList>();
    Vm* vmp = &vm;
    StreamList* raw = list.get();
    engine.frameHooks.push_back({kStreamHook, list, [vmp, raw](double ms) {
        std::erase_if(raw->streams, [](const auto& e) { return e.first.expired(); });
        // Handlers may make new streams: walk by index over the ones here now.
        const size_t count = raw->streams.size();
        for (size_t i = 0; i < count && i < raw->streams.size(); ++i) {
            if (raw->streams[i].first.expired()) continue;
            Object* self = raw->streams[i].second;
            // Handlers may drop the object's hold on the stream: keep it here.
            std::shared_ptr<NetStream> stream = sharedNetStreamOf(Value(self));
            if (!stream) continue;
            stream->advance(ms / 1000.0);
            dispatch(*vmp, self, *stream);
        }
    }});
}

} // namespace swf::avm1::builtins
