// Loading: LoadVars, MovieClipLoader, SharedObject and movies loaded into levels and clips.
#include "engine/avm1/builtins.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/interpreter.h"
#include "engine/avm1/net.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/loader.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"
#include "engine/swf/parser.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>
#include <optional>

namespace swf::avm1 {
namespace {

using namespace prop;

// ---- Text encodings ------------------------------------------------------------------

// Windows-1252 where it differs from Latin-1 (0x80..0x9F); 0 marks the unused codes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

QString fromCodePage(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = uint8_t(c);
        if (b >= 0x80 && b < 0xA0) {
            if (kCp1252High[b - 0x80]) out += QChar(kCp1252High[b - 0x80]);
        } else {
            out += QChar(b);
        }
    }
    return out;
}

QByteArray toCodePage(const QString& s) {
    QByteArray out;
    for (QChar c : s) {
        char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u < 0x100)) { out += char(u); continue; }
        char mapped = '?';
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == u) mapped = char(0x80 + i);
        out += mapped;
    }
    return out;
}

bool usesCodePage(Vm& vm) {
    if (vm.rootVersion() < 6) return true;
    Value system = vm.getMember(Value(vm.global()), QStringLiteral("System"));
    return vm.toBool(vm.getMember(system, QStringLiteral("useCodepage")));
}

QString decodeBytes(Vm& vm, const QByteArray& bytes) {
    return usesCodePage(vm) ? fromCodePage(bytes) : QString::fromUtf8(bytes);
}

// "%41b+c" -> "Ab c": escaped bytes are read in the text's encoding.
QString unescapeForm(Vm& vm, QStringView s) {
    QString out;
    QByteArray run;
    auto flush = [&] {
        if (!run.isEmpty()) out += decodeBytes(vm, run);
        run.clear();
    };
    for (qsizetype i = 0; i < s.size(); ++i) {
        QChar c = s[i];
        if (c == u'%' && i + 2 < s.size()) {
            bool ok = false;
            int byte = s.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                run += char(byte);
                i += 2;
                continue;
            }
        }
        flush();
        out += c == u'+' ? QChar(u' ') : c;
    }
    flush();
    return out;
}

// ---- Bits shared by the loaders ------------------------------------------------------------

// Relative addresses are read against the root movie's, as Flash does.
std::string baseUrlOf(Vm& vm) {
    const auto& movie = vm.engine->player().movie();
    return movie ? movie->url : std::string();
}

QByteArray bytesOf(const FetchResult& r) {
    return QByteArray(reinterpret_cast<const char*>(r.bytes.data()), qsizetype(r.bytes.size()));
}

void callQuietly(Vm& vm, const Value& obj, const QString& method, std::vector<Value> args) {
    vm.callMethod(obj, method, args);
    vm.takeException();
}

// Records the progress of a load into `o`; an object of another class (a
// Sound given to sendAndLoad) receives the text but keeps no count.
void setProgress(Object* o, double loaded, double total) {
    if (LoadProgress* p = o->nativeOrMake<LoadProgress>()) {
        p->loaded = loaded;
        p->total = total;
    }
}

// ---- Movies into levels and clips ----------------------------------------------------------

// Where a loaded movie goes: a level, or the place of a clip.
struct LoadTarget {
    int level = -1;
    DisplayClip* clip = nullptr;
};

std::optional<int> levelNumber(const QString& target) {
    static const QRegularExpression re(QStringLiteral("^_level(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    auto m = re.match(target.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    bool ok = false;
    int n = m.captured(1).toInt(&ok);
    if (!ok || n > limits::kMaxLevel) return std::nullopt;
    return n;
}

// A script object keeps only its identity when a new movie takes its place.
void resetScriptObject(Vm& vm, Object* o) {
    std::vector<QString> keys;
    for (const Property& p : o->properties()) keys.push_back(vm.key(p.name));
    for (const QString& k : keys) o->erase(k);
    o->watches.clear();
    o->setProto(vm.clipProto);
}

DisplayClip* installInLevel(ScriptEngine& engine, int level, std::unique_ptr<MovieClip> clip) {
    Vm& vm = engine.vm();
    Player& player = engine.player();
    if (level == 0) {
        MovieClip* root = player.replaceRoot(std::move(clip));
        if (!root) return nullptr;
        DisplayClip* w = engine.wrap(root);
        vm.setRoot(w);
        return w;
    }
    MovieClip* raw = player.setLevel(level, std::move(clip));
    DisplayClip* w = raw ? engine.wrap(raw) : nullptr;
    vm.setLevel(level, w);
    return w;
}

DisplayClip* installInClip(ScriptEngine& engine, DisplayClip* target, std::unique_ptr<MovieClip> clip) {
    MovieClip* old = target->movieClip();
    if (!old) return nullptr;
    MovieClip* parent = old->parent();
    if (!parent) return installInLevel(engine, target->level(), std::move(clip));
    clip->setMatrix(old->matrix());
    clip->setColorTransform(old->colorTransform());
    clip->setName(old->name());
    clip->setVisible(old->visible());
    clip->setBlendMode(old->blendMode());
    clip->setFilterBytes(old->filterBytes());
    clip->setPlaceFrame(old->placeFrame());
    clip->setNesting(old->nesting());
    if (old->transformLocked()) clip->lockTransform();
    engine.rebind(*old, *clip);
    resetScriptObject(engine.vm(), target);
    MovieClip* raw = clip.get();
    parent->addChild(std::move(clip), old->depth());
    // The container's onClipEvent(load) runs again for its new content.
    engine.clipEvent(*raw, ClipEvent::Load);
    return target;
}

// A movie of one frame showing a loaded image at its top left corner.
std::shared_ptr<const Movie> imageMovie(QImage image, int version, const std::string& url) {
    auto movie = std::make_shared<Movie>();
    movie->url = url;
    movie->header.version = version;
    movie->header.frameCount = 1;
    movie->header.frameSize = Rect{0, image.width() * 20, 0, image.height() * 20};
    auto bitmap = std::make_shared<BitmapDef>();
    bitmap->id = 1;
    bitmap->image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    movie->dictionary.emplace(uint16_t(1), Character(std::shared_ptr<const BitmapDef>(bitmap)));
    // PlaceObject2: a character (flag 2) at depth 1, character 1.
    movie->data = {0x02, 0x01, 0x00, 0x01, 0x00};
    Frame frame;
    frame.tags.push_back(ControlTag{tag::PlaceObject2, 0, std::span<const uint8_t>(movie->data)});
    movie->timeline.frames.push_back(std::move(frame));
    movie->timeline.declaredFrameCount = 1;
    return movie;
}

// The image formats Flash loads (JPEG, PNG, GIF), told by their signature
// and decoded only by that format's reader, after its size is checked: no
// other decoder ever sees a movie's bytes.
QImage decodeLoadedImage(const std::vector<uint8_t>& b) {
    auto startsWith = [&b](std::initializer_list<uint8_t> sig) {
        return b.size() >= sig.size() && std::equal(sig.begin(), sig.end(), b.begin());
    };
    const char* format = startsWith({0xFF, 0xD8, 0xFF})                                 ? "JPEG"
                         : startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})   ? "PNG"
                         : startsWith({'G', 'I', 'F', '8'})                            ? "GIF"
                                                                                       : nullptr;
    if (!format) return {};
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (size.isEmpty() || size.width() > limits::kMaxBitmapSide || size.height() > limits::kMaxBitmapSide ||
        int64_t(size.width()) * size.height() > limits::kMaxBitmapPixels)
        return {};
    return reader.read();
}

bool isMovieSignature(const std::vector<uint8_t>& b) {
    return b.size() >= 8 && (b[0] == 'F' || b[0] == 'C' || b[0] == 'Z') && b[1] == 'W' && b[2] == 'S';
}

struct LoadedContent {
    std::shared_ptr<const Movie> movie; // null: nothing that plays (the clip is emptied)
    double bytes = 0;
};

LoadedContent readContent(Vm& vm, const FetchResult& r, const std::string& url) {
    LoadedContent c;
    if (isMovieSignature(r.bytes)) {
        auto movie = parseMovie(r.bytes, url, vm.host().log);
        if (movie && !(*movie)->isAs3()) {
            c.movie = *movie;
            c.bytes = double(r.bytes.size());
        }
        return c;
    }
    // Images load into clips from SWF 6 on; older movies get nothing.
    if (vm.rootVersion() < 6) return c;
    QImage image = decodeLoadedImage(r.bytes);
    if (!image.isNull()) {
        c.movie = imageMovie(std::move(image), vm.rootVersion(), url);
        c.bytes = double(r.bytes.size());
    }
    return c;
}

std::unique_ptr<MovieClip> clipFor(Player& player, const LoadedContent& c, Runtime& fallback) {
    if (c.movie)
        if (Runtime* rt = player.addMovieRuntime(c.movie)) return std::make_unique<MovieClip>(*rt, 0, &c.movie->timeline);
    return std::make_unique<MovieClip>(fallback, 0, nullptr);
}

void mclEvent(Vm& vm, Object* mcl, const char* name, std::vector<Value> args) {
    if (!mcl) return;
    args.insert(args.begin(), Value(QString::fromLatin1(name)));
    callQuietly(vm, Value(mcl), QStringLiteral("broadcastMessage"), std::move(args));
}

void finishMovieLoad(ScriptEngine& engine, LoadTarget target, Object* mcl, FetchResult& r, const std::string& url) {
    Vm& vm = engine.vm();
    Player& player = engine.player();
    Value targetValue = target.clip ? Value(static_cast<Object*>(target.clip)) : Value();
    if (!r.ok) {
        mclEvent(vm, mcl, "onLoadError", {targetValue, Value(QStringLiteral("URLNotFound")), Value(r.httpStatus)});
        return;
    }
    // A clip removed while its movie was on the way takes nothing.
    if (target.clip && !target.clip->movieClip()) return;
    LoadedContent content = readContent(vm, r, Loader::displayUrl(url));
    std::unique_ptr<MovieClip> clip = clipFor(player, content, player.root() ? player.root()->runtime() : player.runtime());
    MovieClip* raw = clip.get();
    DisplayClip* w = target.clip ? installInClip(engine, target.clip, std::move(clip))
                                 : installInLevel(engine, target.level, std::move(clip));
    if (!w) return;
    if (content.movie)
        for (const auto& [spriteId, t] : content.movie->initActions) engine.initActions(*raw, spriteId, t.body);
    if (!mcl) return;
    Value loaded(w);
    mclEvent(vm, mcl, "onLoadStart", {loaded});
    mclEvent(vm, mcl, "onLoadProgress", {loaded, Value(content.bytes), Value(content.bytes)});
    mclEvent(vm, mcl, "onLoadComplete", {loaded, Value(r.httpStatus)});
    // onLoadInit follows the new movie's first frame.
    vm.addRoot(mcl);
    vm.addRoot(w);
    ScriptEngine* e = &engine;
    player.loader().defer([e, mcl, w] {
        Vm& vm = e->vm();
        vm.removeRoot(mcl);
        vm.removeRoot(w);
        mclEvent(vm, mcl, "onLoadInit", {Value(static_cast<Object*>(w))});
    });
}

void startMovieLoad(Vm& vm, LoadTarget target, const QString& url, Object* mcl) {
    ScriptEngine* engine = vm.engine;
    if (!engine) return;
    std::optional<std::string> resolved = Loader::resolve(baseUrlOf(vm), url.toStdString());
    if (target.clip) vm.addRoot(target.clip);
    if (mcl) vm.addRoot(mcl);
    std::string where = resolved.value_or(url.toStdString());
    engine->player().loader().request(
        resolved, limits::kMaxFileBytes,
        [engine, target, mcl, where](FetchResult& r) {
            Vm& vm = engine->vm();
            if (target.clip) vm.removeRoot(target.clip);
            if (mcl) vm.removeRoot(mcl);
            finishMovieLoad(*engine, target, mcl, r, where);
        },
        "GET", {}, askerOf(vm));
}

void unloadTarget(Vm& vm, LoadTarget target) {
    ScriptEngine* engine = vm.engine;
    if (!engine) return;
    if (target.clip) {
        target.clip->unloadMovie();
        return;
    }
    // Levels go on the next frame, with the loads asked for before.
    int level = target.level;
    engine->player().loader().enqueue([engine, level] {
        if (level == 0) {
            if (auto* root = engine->wrap(engine->player().root())) root->unloadMovie();
            return;
        }
        engine->player().setLevel(level, nullptr);
        engine->vm().setLevel(level, nullptr);
    });
}

// ---- Variables into clips ------------------------------------------------------------------

void startVariablesLoad(Vm& vm, LoadTarget target, const QString& url) {
    ScriptEngine* engine = vm.engine;
    if (!engine) return;
    loadText(vm, url, [engine, target](Vm& vm, std::optional<QByteArray> bytes) {
        if (!bytes) return;
        DisplayClip* clip = target.clip;
        if (!clip) {
            if (target.level == 0) clip = engine->wrap(engine->player().root());
            else if (MovieClip* l = engine->player().level(target.level)) clip = engine->wrap(l);
        }
        if (!clip || !clip->object()) return;
        for (const auto& [name, value] : decodeVariables(vm, decodeLoadedText(vm, *bytes)))
            vm.setMember(clip, name, Value(value));
        engine->clipEvent(*clip->object(), ClipEvent::Data);
    }, target.clip ? std::vector<Object*>{target.clip} : std::vector<Object*>{});
}

// ---- LoadVars -------------------------------------------------------------------------

Value loadVarsCtor(Vm&, CallArgs& a) {
    if (Object* self = a.thisObject()) self->nativeOrMake<LoadProgress>();
    return Value();
}

Value loadVarsLoad(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || a.size() < 1) return Value(false);
    return Value(loadForOnData(vm, self, vm.toString(a.at(0))));
}

Value loadVarsSendAndLoad(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Object* receiver = a.at(1).asObject();
    if (!self || !receiver) return Value(false);
    QString query = encodeVariables(vm, self);
    if (vm.hasException()) return Value();
    QString url = vm.toString(a.at(0));
    bool post = vm.toString(a.at(2)).compare(QStringLiteral("GET"), Qt::CaseInsensitive) != 0;
    if (!post) return Value(loadForOnData(vm, receiver, url + (url.contains(u'?') ? u'&' : u'?') + query));
    return Value(loadForOnData(vm, receiver, url, query.toUtf8()));
}

Value loadVarsSend(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || a.size() < 1) return Value(false);
    QString query = encodeVariables(vm, self);
    if (vm.hasException()) return Value();
    QString url = vm.toString(a.at(0));
    vm.openUrl(url + (url.contains(u'?') ? u'&' : u'?') + query, a.at(1).isUndefined() ? QString() : vm.toString(a.at(1)));
    return Value(true);
}

// decode(text): the variables become members; without an argument it answers false.
Value loadVarsDecode(Vm& vm, CallArgs& a) {
    if (a.size() < 1) return Value(false);
    Object* self = a.thisObject();
    if (!self) return Value();
    for (const auto& [name, value] : decodeVariables(vm, vm.toString(a.at(0)))) vm.setMember(self, name, Value(value));
    return Value();
}

Value loadVarsToString(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    QString s = encodeVariables(vm, self);
    return vm.hasException() ? Value() : Value(s);
}

// The default onData: variables in, then onLoad(success).
Value loadVarsOnData(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    if (a.at(0).isUndefined()) {
        vm.callMethod(Value(self), QStringLiteral("onLoad"), std::vector<Value>{Value(false)});
        return Value();
    }
    for (const auto& [name, value] : decodeVariables(vm, vm.toString(a.at(0)))) vm.setMember(self, name, Value(value));
    vm.setMember(self, QStringLiteral("loaded"), Value(true));
    vm.callMethod(Value(self), QStringLiteral("onLoad"), std::vector<Value>{Value(true)});
    return Value();
}

// The default onData of XML: the text is parsed into the document.
Value xmlOnData(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    if (a.at(0).isUndefined()) {
        vm.callMethod(Value(self), QStringLiteral("onLoad"), std::vector<Value>{Value(false)});
        return Value();
    }
    int status = parseXmlInto(vm, self, vm.toString(a.at(0)));
    vm.setMember(self, QStringLiteral("status"), Value(status));
    vm.setMember(self, QStringLiteral("loaded"), Value(true));
    vm.callMethod(Value(self), QStringLiteral("onLoad"), std::vector<Value>{Value(true)});
    return Value();
}

Value xmlSendAndLoad(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    Object* receiver = a.at(1).asObject();
    if (!self || !receiver) return Value(false);
    return Value(loadForOnData(vm, receiver, vm.toString(a.at(0)), xmlToString(vm, self).toUtf8()));
}

Value xmlSend(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || a.size() < 1) return Value(false);
    vm.openUrl(vm.toString(a.at(0)), a.at(1).isUndefined() ? QString() : vm.toString(a.at(1)));
    return Value(true);
}

Value bytesLoaded(Vm&, CallArgs& a) {
    LoadProgress* p = a.thisObject() ? a.thisObject()->nativeAs<LoadProgress>() : nullptr;
    return p && p->loaded >= 0 ? Value(p->loaded) : Value();
}

Value bytesTotal(Vm&, CallArgs& a) {
    LoadProgress* p = a.thisObject() ? a.thisObject()->nativeAs<LoadProgress>() : nullptr;
    return p && p->total >= 0 ? Value(p->total) : Value();
}

Value doNothing(Vm&, CallArgs&) { return Value(); }

Value clipSwfVersion(Vm&, CallArgs& a) {
    auto* clip = dynamic_cast<DisplayClip*>(a.thisObject());
    MovieClip* mc = clip ? clip->movieClip() : nullptr;
    if (!mc || !mc->runtime().movie) return Value(-1);
    return Value(mc->runtime().movie->header.version);
}

// A clip counts the bytes of the movie it plays; a movie is whole once it
// plays. A clip made empty by a script plays none.
Value clipMovieBytes(Vm&, CallArgs& a) {
    auto* clip = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!clip) return Value();
    MovieClip* mc = clip->movieClip();
    if (!mc || !mc->timeline() || !mc->runtime().movie) return Value(0);
    return Value(double(mc->runtime().movie->header.declaredLength));
}

// ---- LocalConnection ----------------------------------------------------------------------

// connect(name): a name given is taken (nothing else can hold it here).
Value localConnectionConnect(Vm& vm, CallArgs& a) {
    return Value(a.size() > 0 && a.at(0).isString() && !vm.toString(a.at(0)).isEmpty());
}
// send(name, method, ...): accepted when both names are given; no one receives it.
Value localConnectionSend(Vm&, CallArgs& a) {
    return Value(a.size() >= 2 && a.at(0).isString() && a.at(1).isString());
}
// The movie's domain: "localhost" for a movie from the file system.
Value localConnectionDomain(Vm& vm, CallArgs&) {
    const QUrl url(QString::fromStdString(vm.engine ? baseUrlOf(vm) : std::string()));
    const QString host = url.host();
    return Value(host.isEmpty() ? QStringLiteral("localhost") : host);
}

// ---- MovieClipLoader -----------------------------------------------------------------------

// The broadcaster methods live on the prototype; each loader has its own
// listener list, which starts with the loader itself (it hears its own events).
// Marks an object made by the MovieClipLoader constructor.
struct MovieClipLoaderNative : NativeState {};

Value mclCtor(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    self->nativeOrMake<MovieClipLoaderNative>();
    ArrayObject* listeners = vm.newArray();
    listeners->items.push_back(Value(self));
    vm.defineValue(self, QStringLiteral("_listeners"), Value(listeners), kHidden);
    return Value();
}

// A broadcastMessage of its own that calls the built-in one kept in its data slot.
Value forwardBroadcast(Vm& vm, CallArgs& a) {
    return a.callee ? vm.call(a.callee->data, a.thisv, a.args) : Value();
}

void makeBroadcaster(Vm& vm, Object* proto) {
    Value bc = builtins::broadcasterClass(vm);
    Value arg(proto);
    vm.callMethod(bc, QStringLiteral("initialize"), std::span<const Value>(&arg, 1));
    FunctionObject* broadcast = vm.newNative(forwardBroadcast);
    broadcast->data = vm.getMember(arg, QStringLiteral("broadcastMessage"));
    vm.defineValue(proto, QStringLiteral("broadcastMessage"), Value(broadcast), kHidden);
    for (const char* name : {"_listeners", "addListener", "removeListener"})
        if (Property* p = proto->find(vm.key(QString::fromLatin1(name)))) p->flags |= kHidden;
}

// The target of loadClip/unloadClip: a level number, a clip, or a path to one.
std::optional<LoadTarget> mclTarget(Vm& vm, const Value& v) {
    LoadTarget t;
    if (v.isNumber()) {
        double n = v.asNumber();
        if (!std::isfinite(n) || n < 0 || n > limits::kMaxLevel) return std::nullopt;
        t.level = int(n);
        return t;
    }
    Object* o = v.asObject();
    if (v.isString()) {
        if (auto level = levelNumber(v.asString())) {
            t.level = *level;
            return t;
        }
        o = vm.resolveTarget(vm.root(), v.asString());
    }
    auto* clip = dynamic_cast<DisplayClip*>(o);
    if (!clip || !clip->movieClip()) return std::nullopt;
    t.clip = clip;
    return t;
}

Value mclLoadClip(Vm& vm, CallArgs& a) {
    if (a.size() < 2 || !a.thisObject()) return Value();
    if (!a.at(0).isString()) return Value(false);
    std::optional<LoadTarget> t = mclTarget(vm, a.at(1));
    if (!t) return Value(false);
    startMovieLoad(vm, *t, a.at(0).asString(), a.thisObject());
    return Value(true);
}

Value mclUnloadClip(Vm& vm, CallArgs& a) {
    if (a.size() < 1 || !a.thisObject()) return Value();
    std::optional<LoadTarget> t = mclTarget(vm, a.at(0));
    if (!t) return Value(false);
    unloadTarget(vm, *t);
    return Value(true);
}

// getProgress(target): a bare object (no prototype) with the bytes of the
// movie the target is the root of; 0 for other clips; undefined for no
// target or a caller that is no MovieClipLoader.
Value mclGetProgress(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || !self->nativeAs<MovieClipLoaderNative>()) return Value();
    std::optional<LoadTarget> t = mclTarget(vm, a.at(0));
    if (!t) return Value();
    MovieClip* clip = nullptr;
    if (t->clip) clip = t->clip->movieClip();
    else if (vm.engine) clip = t->level == 0 ? vm.engine->player().root() : vm.engine->player().level(t->level);
    double bytes = 0;
    // Only a movie's own root clip has its bytes.
    const auto& movie = clip ? clip->runtime().movie : nullptr;
    if (movie && clip->timeline() == &movie->timeline) bytes = double(movie->data.size());
    Object* result = vm.newObject();
    result->erase(vm.key(protoKey()));
    vm.setMember(result, QStringLiteral("bytesLoaded"), Value(bytes));
    vm.setMember(result, QStringLiteral("bytesTotal"), Value(bytes));
    return Value(result);
}

// ---- SharedObject --------------------------------------------------------------------------

// Where a movie's stored objects live: one folder per movie (or per shared
// local path) under the user's data folder, one file per object name. Empty:
// kept in memory only (no data folder); nullopt: refused. As in Flash, a
// movie may share its objects only under a folder of its own path, and the
// folder is kept apart per site.
std::optional<QString> sharedObjectFile(Vm& vm, const QString& name, const QString& localPath) {
    const QUrl movie(vm.engine ? QString::fromStdString(baseUrlOf(vm)) : QString());
    const QString moviePath = movie.path();
    if (!localPath.isEmpty()) {
        const QString folder = localPath.endsWith(u'/') ? localPath : localPath + u'/';
        if (localPath != moviePath && !moviePath.startsWith(folder)) return std::nullopt;
    }
    QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dataDir.isEmpty()) return QString();
    const QString scope = movie.scheme() + QStringLiteral("://") + movie.host() +
                          (localPath.isEmpty() ? moviePath : localPath);
    // Names become file names: only safe characters, and a hash keeps them apart.
    auto safe = [](const QString& s) {
        QString out;
        for (QChar c : s.right(40))
            out += c.isLetterOrNumber() && c.unicode() < 128 ? c : QChar(u'_');
        return out;
    };
    QString scopeHash = QString::fromLatin1(
        QCryptographicHash::hash(scope.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    QString nameHash = QString::fromLatin1(
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    QString folder = dataDir + QStringLiteral("/SharedObjects/") + safe(QFileInfo(scope).fileName()) + u'-' + scopeHash;
    return folder + u'/' + safe(name) + u'-' + nameHash + QStringLiteral(".sol.json");
}

// Stored data is read without running script, since it is also written
// while the movie unloads: a getter's member is stored as undefined.
Value storedMember(Vm& vm, Object* o, const QString& name) {
    Property* p = vm.findProperty(o, name);
    return p && !p->isVirtual() ? p->value : Value();
}

QJsonValue toJson(Vm& vm, const Value& v, int depth) {
    switch (v.type()) {
    case Type::Undefined: return QJsonArray{QStringLiteral("u")};
    case Type::Null: return QJsonArray{QStringLiteral("z")};
    case Type::Boolean: return QJsonArray{QStringLiteral("b"), v.asBool()};
    case Type::Number: return QJsonArray{QStringLiteral("n"), Vm::numberToString(v.asNumber())};
    case Type::String: return QJsonArray{QStringLiteral("s"), v.asString()};
    case Type::Object: break;
    }
    Object* o = v.asObject();
    if (depth > limits::kMaxSharedObjectDepth || o->kind() == Kind::Function || o->kind() == Kind::Clip ||
        o->kind() == Kind::Button || o->kind() == Kind::TextField)
        return QJsonArray{QStringLiteral("u")};
    if (o->kind() == Kind::Date) return QJsonArray{QStringLiteral("d"), Vm::numberToString(vm.toNumber(o->primitive))};
    if (auto* arr = dynamic_cast<ArrayObject*>(o)) {
        QJsonArray items;
        for (const Value& item : arr->items) items.append(toJson(vm, item, depth + 1));
        return QJsonArray{QStringLiteral("a"), items};
    }
    QJsonObject members;
    for (const QString& k : vm.enumerableKeys(o)) members.insert(k, toJson(vm, storedMember(vm, o, k), depth + 1));
    return QJsonArray{QStringLiteral("o"), members};
}

Value fromJson(Vm& vm, const QJsonValue& j, int depth) {
    QJsonArray a = j.toArray();
    QString tag = a.at(0).toString();
    if (tag == u"z") return Value::null();
    if (tag == u"b") return Value(a.at(1).toBool());
    if (tag == u"n") return Value(vm.stringToNumber(a.at(1).toString()));
    if (tag == u"s") return Value(a.at(1).toString());
    if (depth > limits::kMaxSharedObjectDepth) return Value();
    if (tag == u"d") {
        Value dateCtor = vm.getMember(Value(vm.global()), QStringLiteral("Date"));
        Value ms(vm.stringToNumber(a.at(1).toString()));
        return vm.construct(dateCtor, std::span<const Value>(&ms, 1));
    }
    if (tag == u"a") {
        std::vector<Value> items;
        for (const QJsonValue& item : a.at(1).toArray()) items.push_back(fromJson(vm, item, depth + 1));
        return Value(static_cast<Object*>(vm.newArray(std::move(items))));
    }
    if (tag == u"o") {
        Object* o = vm.newObject(vm.objectProto);
        QJsonObject members = a.at(1).toObject();
        for (auto it = members.begin(); it != members.end(); ++it)
            vm.setMember(o, it.key(), fromJson(vm, it.value(), depth + 1));
        return Value(o);
    }
    return Value();
}

struct SharedObjectState final : NativeState {
    QString file; // empty: kept in memory only
};
SharedObjectState* sharedObjectOf(Object* o) { return o ? o->nativeAs<SharedObjectState>() : nullptr; }

QByteArray serialiseSharedObject(Vm& vm, Object* so) {
    Value data = storedMember(vm, so, QStringLiteral("data"));
    return QJsonDocument(QJsonArray{toJson(vm, data, 0)}).toJson(QJsonDocument::Compact);
}

// Writes the object's data; false when it is over the size allowance or cannot be written.
bool writeSharedObject(Vm& vm, Object* so) {
    SharedObjectState* state = sharedObjectOf(so);
    if (!state || state->file.isEmpty()) return false;
    QByteArray bytes = serialiseSharedObject(vm, so);
    if (size_t(bytes.size()) > limits::kMaxSharedObjectBytes) return false;
    const QFileInfo target(state->file);
    // All of a folder's objects together stay within its allowance: a movie
    // cannot fill the disk with many names.
    qint64 others = 0;
    for (const QFileInfo& f : QDir(target.absolutePath()).entryInfoList({QStringLiteral("*.sol.json")}, QDir::Files))
        if (f.fileName() != target.fileName()) others += f.size();
    if (size_t(others) + size_t(bytes.size()) > limits::kMaxSharedObjectFolderBytes) return false;
    if (!QDir().mkpath(target.absolutePath())) return false;
    QSaveFile f(state->file);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(bytes);
    return f.commit();
}

// The stored objects handed out, one per file, so getLocal returns the same object twice.
struct SharedObjectRegistry {
    std::map<QString, Object*> byFile;
};

Value soGetLocal(Vm& vm, CallArgs& a) {
    QString name = vm.toString(a.at(0));
    static const QRegularExpression bad(QStringLiteral("[~%&\\\\;:\"',<>?# ]"));
    if (a.size() < 1 || name.isEmpty() || name.contains(bad)) return Value::null();
    std::optional<QString> where = sharedObjectFile(vm, name, a.at(1).isUndefined() ? QString() : vm.toString(a.at(1)));
    if (!where) return Value::null();
    const QString file = *where;
    // Kept in a hidden member of SharedObject, so collection leaves them alone.
    Value ctor = vm.getMember(Value(vm.global()), QStringLiteral("SharedObject"));
    Object* ctorObj = ctor.asObject();
    if (!ctorObj) return Value::null();
    Value registryV = vm.getMember(ctor, QStringLiteral("__instances"));
    Object* registry = registryV.asObject();
    if (!registry) {
        registry = vm.newObject();
        vm.defineValue(ctorObj, QStringLiteral("__instances"), Value(registry), kHidden);
    }
    QString key = file.isEmpty() ? QStringLiteral("memory:") + name : file;
    if (Object* existing = vm.getMember(Value(registry), key).asObject()) return Value(existing);

    Object* so = vm.newObject(vm.getMember(ctor, QStringLiteral("prototype")).asObject());
    so->nativeOrMake<SharedObjectState>()->file = file;
    Value data;
    if (!file.isEmpty()) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly) && f.size() <= qint64(limits::kMaxSharedObjectBytes)) {
            QJsonDocument doc = QJsonDocument::fromJson(f.readAll());
            if (doc.isArray() && !doc.array().isEmpty()) data = fromJson(vm, doc.array().at(0), 0);
        }
    }
    if (!data.asObject()) data = Value(vm.newObject(vm.objectProto));
    vm.defineValue(so, QStringLiteral("data"), data, kDontDelete);
    vm.defineValue(registry, key, Value(so), kHidden);
    // What is still unwritten goes to disk when the movie closes.
    if (vm.engine && !file.isEmpty()) {
        vm.addRoot(so);
        Vm* vmp = &vm;
        vm.engine->player().loader().atClear([vmp, so] { writeSharedObject(*vmp, so); });
    }
    return Value(so);
}

Value soFlush(Vm& vm, CallArgs& a) {
    Object* so = a.thisObject();
    if (!sharedObjectOf(so)) return Value(false);
    return Value(writeSharedObject(vm, so));
}

Value soClear(Vm& vm, CallArgs& a) {
    Object* so = a.thisObject();
    SharedObjectState* state = sharedObjectOf(so);
    if (!state) return Value();
    vm.setMember(so, QStringLiteral("data"), Value(vm.newObject(vm.objectProto)));
    if (!state->file.isEmpty()) QFile::remove(state->file);
    return Value();
}

Value soGetSize(Vm& vm, CallArgs& a) {
    Object* so = a.thisObject();
    if (!sharedObjectOf(so)) return Value(0);
    return Value(double(serialiseSharedObject(vm, so).size()));
}

} // namespace

// ---- Shared helpers ------------------------------------------------------------------------

const Movie* askingMovie(Vm& vm) {
    Object* base = vm.currentFrame() ? vm.currentFrame()->baseTarget : nullptr;
    auto* clip = dynamic_cast<DisplayClip*>(base ? base : static_cast<Object*>(vm.root()));
    if (!clip || !clip->object()) return nullptr;
    return clip->object()->runtime().movie.get();
}

Asker askerOf(Vm& vm) {
    if (const Movie* m = askingMovie(vm)) return Asker::of(*m);
    return Asker{vm.engine ? baseUrlOf(vm) : std::string(), false};
}

QString decodeLoadedText(Vm& vm, const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.mid(3));
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        QByteArray body = bytes.mid(2);
        QString s;
        for (qsizetype i = 0; i + 1 < body.size(); i += 2) s += QChar(char16_t(uint8_t(body[i]) | (uint8_t(body[i + 1]) << 8)));
        return s;
    }
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF) {
        QByteArray body = bytes.mid(2);
        QString s;
        for (qsizetype i = 0; i + 1 < body.size(); i += 2) s += QChar(char16_t((uint8_t(body[i]) << 8) | uint8_t(body[i + 1])));
        return s;
    }
    return decodeBytes(vm, bytes);
}

std::vector<std::pair<QString, QString>> decodeVariables(Vm& vm, const QString& text) {
    std::vector<std::pair<QString, QString>> out;
    for (QStringView pair : QStringView(text).split(u'&')) {
        if (pair.isEmpty()) continue;
        qsizetype eq = pair.indexOf(u'=');
        QString name = unescapeForm(vm, eq < 0 ? pair : pair.left(eq));
        QString value = eq < 0 ? QString() : unescapeForm(vm, pair.mid(eq + 1));
        if (!name.isEmpty()) out.emplace_back(name, value);
    }
    return out;
}

QString urlEncode(Vm& vm, const QString& s) {
    QByteArray bytes = usesCodePage(vm) ? toCodePage(s) : s.toUtf8();
    QString out;
    static const char kHex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        auto b = uint8_t(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) {
            out += QChar(b);
        } else {
            out += u'%';
            out += QChar(kHex[b >> 4]);
            out += QChar(kHex[b & 15]);
        }
    }
    return out;
}

QString encodeVariables(Vm& vm, Object* obj) {
    QStringList parts;
    std::vector<QString> keys = vm.enumerableKeys(obj);
    // for..in lists the newest member first.
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        QString value = vm.toString(vm.getMember(Value(obj), *it));
        if (vm.hasException()) return QString();
        parts << urlEncode(vm, *it) + u'=' + urlEncode(vm, value);
    }
    return parts.join(u'&');
}

bool loadText(Vm& vm, const QString& url, TextDone done, std::vector<Object*> keepAlive, std::optional<QByteArray> post) {
    if (!vm.engine) return false;
    std::optional<std::string> resolved = Loader::resolve(baseUrlOf(vm), url.toStdString());
    for (Object* o : keepAlive) vm.addRoot(o);
    std::vector<uint8_t> body;
    if (post) body.assign(post->begin(), post->end());
    Vm* vmp = &vm;
    vm.engine->player().loader().request(
        resolved, limits::kMaxLoadedTextBytes,
        [vmp, done = std::move(done), keepAlive](FetchResult& r) {
            for (Object* o : keepAlive) vmp->removeRoot(o);
            if (r.ok) done(*vmp, bytesOf(r));
            else done(*vmp, std::nullopt);
        },
        post ? "POST" : "GET", std::move(body), askerOf(vm));
    return true;
}

bool loadForOnData(Vm& vm, Object* owner, const QString& url, std::optional<QByteArray> post) {
    vm.setMember(owner, QStringLiteral("loaded"), Value(false));
    setProgress(owner, 0, -1);
    return loadText(vm, url, [owner](Vm& vm, std::optional<QByteArray> bytes) {
        if (bytes) setProgress(owner, double(bytes->size()), double(bytes->size()));
        // A failed load is onData(undefined): one argument, as Flash passes it.
        std::vector<Value> args{bytes ? Value(decodeLoadedText(vm, *bytes)) : Value()};
        callQuietly(vm, Value(owner), QStringLiteral("onData"), std::move(args));
    }, {owner}, std::move(post));
}

void loadIntoTarget(Vm& vm, Object* clip, const QString& url, const QString& target, bool variables) {
    LoadTarget t;
    if (auto level = levelNumber(target)) t.level = *level;
    else if (!(t.clip = dynamic_cast<DisplayClip*>(clip))) return;
    if (variables) startVariablesLoad(vm, t, url);
    else if (url.isEmpty()) unloadTarget(vm, t);
    else startMovieLoad(vm, t, url, nullptr);
}

void loadMovieIntoClip(Vm& vm, Object* clip, const QString& url) {
    LoadTarget t;
    t.clip = dynamic_cast<DisplayClip*>(clip);
    if (!t.clip || !t.clip->movieClip()) return;
    if (url.isEmpty()) unloadTarget(vm, t);
    else startMovieLoad(vm, t, url, nullptr);
}

void loadVariablesIntoClip(Vm& vm, Object* clip, const QString& url) {
    LoadTarget t;
    t.clip = dynamic_cast<DisplayClip*>(clip);
    if (t.clip && t.clip->object()) startVariablesLoad(vm, t, url);
}

} // namespace swf::avm1

namespace swf::avm1::builtins {

void installNet(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    // LoadVars
    Object* lvProto = vm.newObject();
    vm.defineClass(QStringLiteral("LoadVars"), loadVarsCtor, nullptr, lvProto);
    struct { const char* name; NativeFn fn; } lvMethods[] = {
        {"load", loadVarsLoad}, {"send", loadVarsSend}, {"sendAndLoad", loadVarsSendAndLoad},
        {"decode", loadVarsDecode}, {"toString", loadVarsToString}, {"onData", loadVarsOnData},
        {"onLoad", doNothing}, {"getBytesLoaded", bytesLoaded}, {"getBytesTotal", bytesTotal},
        {"addRequestHeader", doNothing},
    };
    for (auto& m : lvMethods) vm.defineMethod(lvProto, QString::fromLatin1(m.name), m.fn, kDontEnum);
    vm.defineValue(lvProto, QStringLiteral("contentType"), Value(QStringLiteral("application/x-www-form-urlencoded")), kDontEnum);

    // XML's loading half (the class itself comes from builtins_xml.cpp).
    Value xmlCtor = vm.getMember(Value(vm.global()), QStringLiteral("XML"));
    if (Object* xmlProto = vm.getMember(xmlCtor, QStringLiteral("prototype")).asObject()) {
        struct { const char* name; NativeFn fn; } xmlMethods[] = {
            {"load", loadVarsLoad}, {"send", xmlSend}, {"sendAndLoad", xmlSendAndLoad},
            {"onData", xmlOnData}, {"onLoad", doNothing}, {"getBytesLoaded", bytesLoaded},
            {"getBytesTotal", bytesTotal}, {"addRequestHeader", doNothing},
        };
        for (auto& m : xmlMethods) vm.defineMethod(xmlProto, QString::fromLatin1(m.name), m.fn, kDontEnum);
    }

    // MovieClipLoader: movies before SWF 7 do not see it.
    Object* mclProto = vm.newObject();
    vm.defineClass(QStringLiteral("MovieClipLoader"), mclCtor, nullptr, mclProto);
    if (Property* p = vm.global()->find(vm.key(QStringLiteral("MovieClipLoader")))) p->flags |= kVersion7;
    struct { const char* name; NativeFn fn; } mclMethods[] = {
        {"loadClip", mclLoadClip}, {"unloadClip", mclUnloadClip}, {"getProgress", mclGetProgress},
    };
    for (auto& m : mclMethods) vm.defineMethod(mclProto, QString::fromLatin1(m.name), m.fn, kHidden);
    makeBroadcaster(vm, mclProto);

    // LocalConnection: this player runs alone, so no other movie ever listens.
    Object* lcProto = vm.newObject();
    vm.defineClass(QStringLiteral("LocalConnection"), doNothing, nullptr, lcProto);
    struct { const char* name; NativeFn fn; } lcMethods[] = {
        {"close", doNothing}, {"connect", localConnectionConnect}, {"domain", localConnectionDomain},
        {"send", localConnectionSend},
    };
    for (auto& m : lcMethods) vm.defineMethod(lcProto, QString::fromLatin1(m.name), m.fn, kHidden);

    // The version of the movie a clip plays (loaded movies keep their own).
    vm.defineMethod(vm.clipProto, QStringLiteral("getSWFVersion"), clipSwfVersion);
    vm.defineMethod(vm.clipProto, QStringLiteral("getBytesLoaded"), clipMovieBytes);
    vm.defineMethod(vm.clipProto, QStringLiteral("getBytesTotal"), clipMovieBytes);

    // SharedObject
    Object* soProto = vm.newObject();
    FunctionObject* so = vm.defineClass(QStringLiteral("SharedObject"), doNothing, nullptr, soProto);
    vm.defineMethod(so, QStringLiteral("getLocal"), soGetLocal);
    struct { const char* name; NativeFn fn; } soMethods[] = {
        {"flush", soFlush}, {"clear", soClear}, {"getSize", soGetSize}, {"setFps", doNothing},
        {"connect", doNothing}, {"close", doNothing},
    };
    for (auto& m : soMethods) vm.defineMethod(soProto, QString::fromLatin1(m.name), m.fn, kDontEnum);
}

} // namespace swf::avm1::builtins
