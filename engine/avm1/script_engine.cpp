#include "engine/avm1/script_engine.h"

#include "engine/avm1/builtins.h"
#include "engine/avm1/net.h"
#include "engine/core/limits.h"
#include "engine/core/reader.h"
#include "engine/display/button.h"
#include "engine/display/edit_text.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"

#include <cmath>

namespace swf {

std::function<std::unique_ptr<ScriptHost>(Player&)> avm1ScriptHostFactory() {
    return [](Player& p) -> std::unique_ptr<ScriptHost> {
        // An ActionScript 3 movie ignores DoAction: this engine has nothing to run.
        if (p.movie() && p.movie()->isAs3()) return nullptr;
        return std::make_unique<avm1::ScriptEngine>(p);
    };
}

} // namespace swf

namespace swf::avm1 {

namespace {
// Jobs run in one runQueued() before the rest waits for the next call; a
// script that keeps queueing frames (gotoAndPlay loops) cannot spin forever.
constexpr size_t kMaxJobsPerRun = 100000;

const char* methodFor(ClipEvent e) {
    switch (e) {
    case ClipEvent::Load: return "onLoad";
    case ClipEvent::EnterFrame: return "onEnterFrame";
    case ClipEvent::Unload: return "onUnload";
    case ClipEvent::MouseMove: return "onMouseMove";
    case ClipEvent::MouseDown: return "onMouseDown";
    case ClipEvent::MouseUp: return "onMouseUp";
    case ClipEvent::KeyDown: return "onKeyDown";
    case ClipEvent::KeyUp: return "onKeyUp";
    case ClipEvent::Data: return "onData";
    case ClipEvent::Press: return "onPress";
    case ClipEvent::Release: return "onRelease";
    case ClipEvent::ReleaseOutside: return "onReleaseOutside";
    case ClipEvent::RollOver: return "onRollOver";
    case ClipEvent::RollOut: return "onRollOut";
    case ClipEvent::DragOver: return "onDragOver";
    case ClipEvent::DragOut: return "onDragOut";
    default: return nullptr;
    }
}

constexpr uint32_t kButtonEvents = clip_event::Press | clip_event::Release | clip_event::ReleaseOutside |
                                   clip_event::RollOver | clip_event::RollOut | clip_event::DragOver |
                                   clip_event::DragOut;
} // namespace

ScriptEngine::ScriptEngine(Player& player) : m_player(player) {}

ScriptEngine::~ScriptEngine() {
    for (auto& [obj, clip] : m_objects) clip->detach();
}

Point ScriptEngine::mouseTwips() const { return m_player.mousePosition(); }

DisplayClip* ScriptEngine::wrap(DisplayObject* obj) {
    if (!obj || !m_vm) return nullptr;
    auto it = m_objects.find(obj);
    if (it != m_objects.end()) return it->second;
    Object* proto = nullptr;
    Kind kind;
    switch (obj->type()) {
    case DisplayObject::Type::MovieClip: proto = m_vm->clipProto; kind = Kind::Clip; break;
    case DisplayObject::Type::Button: proto = m_vm->buttonProto; kind = Kind::Button; break;
    case DisplayObject::Type::EditText: proto = m_vm->textFieldProto; kind = Kind::TextField; break;
    case DisplayObject::Type::Video:
        proto = m_vm->getMember(m_vm->getMember(Value(m_vm->global()), QStringLiteral("Video")),
                                QStringLiteral("prototype")).asObject();
        kind = Kind::Other;
        break;
    default: return nullptr;
    }
    auto* clip = m_vm->make<DisplayClip>(*this, obj, proto, kind);
    m_objects.emplace(obj, clip);
    return clip;
}

// ---- Loading ----------------------------------------------------------------------------

// UTF-8 that writes half a surrogate pair as its own three bytes instead of
// dropping it, as the Flash player's trace log does.
std::string utf8KeepingLoneSurrogates(const QString& s) {
    std::string out;
    out.reserve(size_t(s.size()));
    for (qsizetype i = 0; i < s.size(); ++i) {
        uint32_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), s[++i].unicode());
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xc0 | (c >> 6));
            out += char(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += char(0xe0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        } else {
            out += char(0xf0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3f));
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        }
    }
    return out;
}

void ScriptEngine::movieLoaded(Player&, MovieClip& root) {
    const auto& movie = root.runtime().movie;
    m_version = movie ? movie->header.version : 6;
    VmHost host;
    Player* player = &m_player;
    host.trace = [player](const QString& line) {
        if (player->host().trace) player->host().trace(utf8KeepingLoneSurrogates(line));
    };
    host.log = [player](LogLevel level, const std::string& msg) {
        if (player->host().log) player->host().log(level, msg);
    };
    host.openUrl = [this](const QString& url, const QString& window) {
        m_player.openPage(avm1::askerOf(*m_vm), url.toStdString(), window.toStdString());
    };
    host.fscommand = [player](const QString& cmd, const QString& args) {
        if (player->host().fscommand) player->host().fscommand(cmd.toStdString(), args.toStdString());
    };
    host.busy = player->host().scriptsBusy;
    m_vm = std::make_unique<Vm>(m_version, std::move(host));
    m_vm->engine = this;
    m_vm->setRoot(wrap(&root));
    builtins::installPlayerObjects(*m_vm, *this);
    if (movie) readScriptLimits(*movie);
    m_key = m_vm->getMember(Value(m_vm->global()), QStringLiteral("Key")).asObject();
    m_mouse = m_vm->getMember(Value(m_vm->global()), QStringLiteral("Mouse")).asObject();
    m_stage = m_vm->getMember(Value(m_vm->global()), QStringLiteral("Stage")).asObject();
    // The main timeline's load event (and onLoad) follows its first frame's actions.
    if (DisplayClip* c = wrap(&root)) m_deferredLoads.push_back({Job::Kind::Event, c, {}, ClipEvent::Load});
}

std::optional<QString> ScriptEngine::exportName(const DisplayObject& obj) const {
    // Each movie has its own library: a loaded movie's ids are its own.
    const auto& movie = obj.runtime().movie;
    if (!movie || !obj.characterId()) return std::nullopt;
    for (const auto& [name, id] : movie->exports)
        if (id == obj.characterId()) return QString::fromStdString(name);
    return std::nullopt;
}

void ScriptEngine::rebind(DisplayObject& from, DisplayObject& to) {
    auto it = m_objects.find(&from);
    if (it == m_objects.end()) return;
    DisplayClip* c = it->second;
    m_objects.erase(it);
    m_objects.erase(&to);
    c->attachTo(&to);
    m_objects.emplace(&to, c);
}

void ScriptEngine::readScriptLimits(const Movie& movie) {
    // The tag stream follows the header: signature and length (8 bytes), the
    // stage rectangle (5-bit field size, four fields), frame rate and count.
    Reader r(movie.data);
    if (r.size() < 9) return;
    r.skip(8);
    unsigned bits = r.ubits(5);
    for (int i = 0; i < 4; ++i) r.ubits(bits);
    r.align();
    r.skip(4);
    while (!r.atEnd() && !r.failed()) {
        uint16_t header = r.u16();
        uint32_t length = header & 0x3f;
        if (length == 0x3f) length = r.u32();
        uint16_t code = header >> 6;
        if (code == tag::End || r.failed()) return;
        Reader body = r.sub(length);
        if (code == tag::ScriptLimits) {
            uint16_t depth = body.u16();
            if (!body.failed() && depth) m_vm->setMaxCallDepth(depth);
            return;
        }
    }
}

DisplayClip* ScriptEngine::attach(MovieClip& parent, const QString& linkage, const QString& name, int depth, Object* init) {
    const auto& movie = parent.runtime().movie;
    if (!movie || !validScriptDepth(depth)) return nullptr;
    uint16_t id = 0;
    for (const auto& [exportName, exportId] : movie->exports)
        if (QString::fromStdString(exportName).compare(linkage, Qt::CaseInsensitive) == 0) { id = exportId; break; }
    if (!id) return nullptr;
    auto obj = parent.instantiate(id);
    // Clips and buttons can be attached.
    if (!obj || (obj->type() != DisplayObject::Type::MovieClip && obj->type() != DisplayObject::Type::Button))
        return nullptr;
    obj->setName(name.toStdString());
    int stored = depth + kScriptDepthOffset;
    if (parent.childAtDepth(stored)) parent.removeChild(stored);
    m_attaching = true;
    DisplayObject* placed = parent.addChild(std::move(obj), stored);
    DisplayClip* c = wrap(placed);
    objectPlaced(*placed, {});
    m_attaching = false;
    // The first frame's children are there when the class constructor runs.
    if (placed->type() == DisplayObject::Type::MovieClip) static_cast<MovieClip*>(placed)->enterFirstFrame();
    if (c) construct(c, init);
    if (c) m_deferredLoads.push_back({Job::Kind::Event, c, {}, ClipEvent::Load});
    return c;
}

DisplayClip* ScriptEngine::createEmpty(MovieClip& parent, const QString& name, int depth) {
    if (!validScriptDepth(depth) || !parent.mayAddScriptChild(true)) return nullptr;
    auto obj = std::make_unique<MovieClip>(parent.runtime(), 0, nullptr);
    obj->setNesting(parent.nestingLevel() + 1);
    obj->setName(name.toStdString());
    int stored = depth + kScriptDepthOffset;
    if (parent.childAtDepth(stored)) parent.removeChild(stored);
    DisplayObject* placed = parent.addChild(std::move(obj), stored);
    static_cast<MovieClip*>(placed)->enterFirstFrame();
    DisplayClip* c = wrap(placed);
    // A made clip gets onConstruct (from its prototype) at once; it has no load event.
    if (c) callMethod(c, QStringLiteral("onConstruct"));
    return c;
}

void ScriptEngine::movieUnloading() {
    m_focus.clear();
    m_queue.clear();
    m_deferredLoads.clear();
    for (auto& [obj, clip] : m_objects) clip->detach();
    m_objects.clear();
    m_drag = nullptr;
    if (m_vm) m_vm->setRoot(nullptr);
}

// ---- Queueing -----------------------------------------------------------------------------

void ScriptEngine::frameActions(MovieClip& clip, std::span<const uint8_t> actions) {
    DisplayClip* c = wrap(&clip);
    if (!c) return;
    m_queue.push_back({Job::Kind::Actions, c, actions, ClipEvent::Load});
}

void ScriptEngine::initActions(MovieClip& root, uint16_t spriteId, std::span<const uint8_t> actions) {
    if (!m_initDone.insert({root.runtime().movie.get(), spriteId}).second) return;
    if (DisplayClip* c = wrap(&root)) m_queue.push_back({Job::Kind::Actions, c, actions, ClipEvent::Load});
}

void ScriptEngine::objectPlaced(DisplayObject& obj, const std::vector<ClipAction>& clipActions) {
    DisplayClip* c = wrap(&obj);
    if (!c) return;
    c->handlers = clipActions;
    if (obj.type() == DisplayObject::Type::Button && obj.name().empty())
        obj.setName("instance" + std::to_string(++obj.runtime().instanceCounter));
    if (obj.type() == DisplayObject::Type::EditText) {
        auto& t = static_cast<EditTextObject&>(obj);
        if (!t.variableName().empty()) {
            // A bound field shows its variable; an unset variable takes the field's text.
            QString var = QString::fromStdString(t.variableName());
            // Placement runs no script (the timeline is mid-way through its
            // tags): the variable is looked at, never through a getter, and
            // made without setters or watches.
            DisplayClip* scope = wrap(obj.parent());
            Value unused;
            if (scope && !var.contains(u'.') && !var.contains(u':') && !var.contains(u'/') &&
                !m_vm->findProperty(scope, var) && !scope->getSpecial(*m_vm, var, unused))
                m_vm->defineValue(scope, var, Value(QString::fromStdString(t.text())), 0);
        }
        return;
    }
    if (obj.type() != DisplayObject::Type::MovieClip) return;
    if (m_attaching) return; // attach() constructs the clip and queues its load event
    if (std::optional<QString> linkage = exportName(obj)) {
        auto cls = m_vm->registeredClasses.find(Vm::registeredClassKey(obj.runtime().movie->header.version, *linkage));
        if (cls != m_vm->registeredClasses.end()) {
            Value proto = m_vm->getMember(Value(cls->second), QStringLiteral("prototype"));
            if (proto.asObject()) c->setProto(proto.asObject());
            m_queue.push_back({Job::Kind::Construct, c, {}, ClipEvent::Construct});
        }
    }
    for (const ClipAction& a : clipActions)
        if (a.events & clip_event::Initialize) {
            m_queue.push_back({Job::Kind::Event, c, {}, ClipEvent::Initialize});
            break;
        }
    // onClipEvent(construct) runs once, as the clip is made.
    for (const ClipAction& a : clipActions)
        if (a.events & clip_event::Construct) {
            m_queue.push_back({Job::Kind::Event, c, {}, ClipEvent::Construct});
            break;
        }
    // A placed clip's load event runs where the clip is placed among the
    // frame's tags. Whether onLoad is called is settled now: one a frame
    // script gives the clip later is not (its clip actions still run).
    Job load{Job::Kind::Event, c, {}, ClipEvent::Load};
    // Without running script here: an onLoad getter is called when the event runs.
    Property* onLoad = m_vm->findProperty(c, QStringLiteral("onLoad"));
    load.withMethod = onLoad && (onLoad->isVirtual() || m_vm->isCallable(onLoad->value));
    m_queue.push_back(load);
}

void ScriptEngine::forget(DisplayObject& obj) {
    if (obj.type() == DisplayObject::Type::MovieClip) {
        for (const auto& [depth, child] : static_cast<MovieClip&>(obj).children()) forget(*child);
    } else if (obj.type() == DisplayObject::Type::Button) {
        for (const auto& [depth, child] : static_cast<ButtonObject&>(obj).children()) forget(*child);
    }
    objectDestroyed(obj);
}

void ScriptEngine::objectDestroyed(const DisplayObject& obj) {
    auto it = m_objects.find(&obj);
    if (it == m_objects.end()) return;
    if (m_drag == it->second) m_drag = nullptr;
    it->second->detach();
    m_objects.erase(it);
}

bool ScriptEngine::hasUnloadHandler(const DisplayObject& obj, bool inside) {
    auto it = m_objects.find(&obj);
    if (it != m_objects.end()) {
        DisplayClip* c = it->second;
        for (const ClipAction& a : c->handlers)
            if (a.events & clip_event::Unload) return true;
        if (m_vm->hasProperty(c, QStringLiteral("onUnload"))) return true;
    }
    if (inside && obj.type() == DisplayObject::Type::MovieClip)
        for (const auto& [depth, child] : static_cast<const MovieClip&>(obj).children())
            if (hasUnloadHandler(*child, true)) return true;
    return false;
}

void ScriptEngine::queueUnloads(DisplayObject& obj) {
    if (hasUnloadHandler(obj, false)) m_queue.push_back({Job::Kind::Event, wrap(&obj), {}, ClipEvent::Unload});
    if (obj.type() == DisplayObject::Type::MovieClip)
        for (const auto& [depth, child] : static_cast<MovieClip&>(obj).children()) queueUnloads(*child);
}

// Drops at once what in a parked clip has no unload handler: only the
// clips that wait for their unload event stay.
void ScriptEngine::pruneForUnload(MovieClip& clip) {
    std::vector<int> gone;
    for (const auto& [depth, child] : clip.children()) {
        if (!hasUnloadHandler(*child, true)) gone.push_back(depth);
        else if (child->type() == DisplayObject::Type::MovieClip) pruneForUnload(static_cast<MovieClip&>(*child));
    }
    for (int depth : gone) clip.removeChild(depth);
}

bool ScriptEngine::unloadFirst(DisplayObject& obj) {
    // A clip stays (parked) until the next frame when it, or anything in it, has an unload handler.
    if (!m_vm || obj.type() != DisplayObject::Type::MovieClip || !hasUnloadHandler(obj, true)) return false;
    queueUnloads(obj);
    pruneForUnload(static_cast<MovieClip&>(obj));
    return true;
}

void ScriptEngine::objectRemoved(DisplayObject& obj) {
    if (m_vm && !obj.removalPending()) queueUnloads(obj);
    if (m_vm) m_focus.objectRemoved(obj);
    forget(obj);
}

void ScriptEngine::clipEvent(DisplayObject& obj, ClipEvent event) {
    DisplayClip* c = wrap(&obj);
    if (!c) return;
    if (event == ClipEvent::EnterFrame) {
        // Most clips have no enterFrame handler; skip the queue for them.
        bool has = false;
        for (const ClipAction& a : c->handlers) has = has || (a.events & clip_event::EnterFrame);
        if (!has && !m_vm->hasProperty(c, QStringLiteral("onEnterFrame"))) return;
    }
    m_queue.push_back({Job::Kind::Event, c, {}, event});
}

void ScriptEngine::buttonEvent(ButtonObject& button, ButtonEvent event,
                               std::span<const std::span<const uint8_t>> actions) {
    DisplayClip* parent = wrap(button.parent());
    if (parent)
        for (const auto& a : actions) m_queue.push_back({Job::Kind::Actions, parent, a, ClipEvent::Load});
    std::optional<ClipEvent> ev = clipEventFor(event);
    if (!ev) return;
    if (DisplayClip* b = wrap(&button)) m_queue.push_back({Job::Kind::Event, b, {}, *ev});
}

void ScriptEngine::buttonKey(ButtonObject& button, std::span<const uint8_t> actions) {
    if (DisplayClip* parent = wrap(button.parent()))
        m_queue.push_back({Job::Kind::Actions, parent, actions, ClipEvent::Load});
}

void ScriptEngine::eachClip(const std::function<void(DisplayClip*)>& f) {
    if (!m_player.root()) return;
    std::vector<DisplayClip*> clips;
    m_player.root()->forEachClip([&](MovieClip& mc) {
        if (DisplayClip* c = wrap(&mc)) clips.push_back(c);
    });
    // Input events reach children before their parents, the topmost first.
    for (auto it = clips.rbegin(); it != clips.rend(); ++it) f(*it);
}

void ScriptEngine::keyDown(int code, uint32_t charCode) {
    constexpr int kCapsLock = 20, kNumLock = 144;
    if ((code == kCapsLock || code == kNumLock) && !m_keysDown.count(code) && !m_keysToggled.erase(code))
        m_keysToggled.insert(code);
    m_keysDown.insert(code);
    m_lastKey = code;
    m_lastChar = charCode;
    eachClip([&](DisplayClip* c) { m_queue.push_back({Job::Kind::Event, c, {}, ClipEvent::KeyDown}); });
    m_focus.keyDown(code);
    broadcast(m_key, QStringLiteral("onKeyDown"));
}

void ScriptEngine::keyDownDone(int code, uint32_t charCode, bool claimed) {
    (void)charCode;
    if (m_vm) m_focus.keyDownDone(code, m_keysDown.count(16) != 0, claimed);
}

void ScriptEngine::textInput(uint32_t codepoint) {
    if (m_vm) m_focus.textInput(codepoint);
}

void ScriptEngine::pointerPressed(Point stagePoint) {
    if (m_vm) m_focus.pointerPressed(stagePoint);
}

void ScriptEngine::queueTask(DisplayClip* keep, std::function<void()> task) {
    m_tasks.push_back(std::move(task));
    m_queue.push_back({Job::Kind::Task, keep, {}, ClipEvent::Load, int(m_tasks.size() - 1)});
}

void ScriptEngine::keyUp(int code, uint32_t charCode) {
    m_keysDown.erase(code);
    m_lastKey = code;
    m_lastChar = charCode;
    eachClip([&](DisplayClip* c) { m_queue.push_back({Job::Kind::Event, c, {}, ClipEvent::KeyUp}); });
    m_focus.keyUp(code);
    broadcast(m_key, QStringLiteral("onKeyUp"));
}

void ScriptEngine::mouseEvent(ClipEvent event) {
    if (event == ClipEvent::MouseMove && m_drag && m_drag->object()) {
        DisplayObject* o = m_drag->object();
        Point p = mouseTwips();
        Matrix parentWorld;
        for (MovieClip* par = o->parent(); par; par = par->parent()) parentWorld = par->matrix() * parentWorld;
        Point local = inverted(parentWorld).map(p);
        double x = m_dragLock ? local.x / 20.0 : local.x / 20.0 + m_dragOffset.x;
        double y = m_dragLock ? local.y / 20.0 : local.y / 20.0 + m_dragOffset.y;
        if (m_dragConstrained) {
            x = std::clamp(x, std::min(m_dragRect[0], m_dragRect[2]), std::max(m_dragRect[0], m_dragRect[2]));
            y = std::clamp(y, std::min(m_dragRect[1], m_dragRect[3]), std::max(m_dragRect[1], m_dragRect[3]));
        }
        o->setX(x);
        o->setY(y);
        o->lockTransform();
    }
    eachClip([&](DisplayClip* c) { m_queue.push_back({Job::Kind::Event, c, {}, event}); });
    const char* name = event == ClipEvent::MouseMove ? "onMouseMove" : event == ClipEvent::MouseDown ? "onMouseDown" : "onMouseUp";
    broadcast(m_mouse, QString::fromLatin1(name));
}

void ScriptEngine::setDrag(DisplayClip* clip, bool lockCenter, const double* rect) {
    m_drag = clip;
    m_dragLock = lockCenter;
    m_dragConstrained = rect != nullptr;
    if (rect) std::copy(rect, rect + 4, m_dragRect);
    if (clip && clip->object()) {
        DisplayObject* o = clip->object();
        Matrix parentWorld;
        for (MovieClip* par = o->parent(); par; par = par->parent()) parentWorld = par->matrix() * parentWorld;
        Point local = inverted(parentWorld).map(mouseTwips());
        m_dragOffset = {o->x() - local.x / 20.0, o->y() - local.y / 20.0};
        // From now on the script places the clip: its timeline moves it no more.
        o->lockTransform();
    }
}

bool ScriptEngine::clipIsButton(MovieClip& clip) {
    auto it = m_objects.find(&clip);
    if (it == m_objects.end() || !m_vm) return false;
    DisplayClip* c = it->second;
    for (const ClipAction& a : c->handlers)
        if (a.events & kButtonEvents) return true;
    for (const char* name : {"onPress", "onRelease", "onReleaseOutside", "onRollOver", "onRollOut", "onDragOver", "onDragOut"}) {
        Property* p = m_vm->findProperty(c, QString::fromLatin1(name));
        if (p && (p->isVirtual() || m_vm->isCallable(p->value))) return true;
    }
    return false;
}

// The player asks these while it walks the display list for the pointer,
// so they run no script (no getter, no valueOf) that could change the list
// under it: a getter's member counts as not set.
Value ScriptEngine::storedMember(const DisplayObject& obj, const QString& name) {
    auto it = m_objects.find(&obj);
    Property* p = it != m_objects.end() && m_vm ? m_vm->findProperty(it->second, name) : nullptr;
    return p && !p->isVirtual() ? p->value : Value();
}

bool ScriptEngine::tracksAsMenu(DisplayObject& obj) {
    Value v = storedMember(obj, QStringLiteral("trackAsMenu"));
    return v.isUndefined() ? ScriptHost::tracksAsMenu(obj) : m_vm->toBool(v);
}

// A button's enabled is a plain member (the prototype's is true): only a
// false value turns it off, and deleting it turns it on again.
bool ScriptEngine::buttonEnabled(ButtonObject& button) {
    if (!m_objects.count(&button)) return ScriptHost::buttonEnabled(button);
    Value v = storedMember(button, QStringLiteral("enabled"));
    return v.isUndefined() || m_vm->toBool(v);
}

// useHandCursor is a plain member (the prototypes' is true); one behind a
// getter cannot be read without running script, so it keeps the hand.
bool ScriptEngine::showsHandCursor(DisplayObject& obj) {
    auto it = m_objects.find(&obj);
    Property* p = it != m_objects.end() && m_vm ? m_vm->findProperty(it->second, QStringLiteral("useHandCursor")) : nullptr;
    if (it == m_objects.end() || (p && p->isVirtual())) return true;
    return p && m_vm->toBool(p->value);
}

void ScriptEngine::broadcast(Object* source, const QString& message, std::span<const Value> args) {
    if (!source || !m_vm) return;
    (void)args;
    // Listeners run in queue order, after the clip events queued before them.
    Value listeners = m_vm->getMember(Value(source), QStringLiteral("_listeners"));
    auto* arr = dynamic_cast<ArrayObject*>(listeners.asObject());
    if (!arr || arr->items.empty()) return;
    m_pendingBroadcasts.push_back({source, message});
    m_queue.push_back({Job::Kind::Broadcast, nullptr, {}, ClipEvent::Load, int(m_pendingBroadcasts.size() - 1)});
}

// ---- Running -------------------------------------------------------------------------------

int ScriptEngine::codeVersion(const DisplayClip* clip) const {
    const DisplayObject* obj = clip ? clip->object() : nullptr;
    return obj && obj->runtime().movie ? obj->runtime().movie->header.version : m_version;
}

void ScriptEngine::runEvent(DisplayClip* c, ClipEvent event, bool withMethod) {
    if (c->removed() && event != ClipEvent::Unload) return;
    for (const ClipAction& a : std::vector<ClipAction>(c->handlers)) {
        if (!(a.events & uint32_t(event))) continue;
        m_vm->runActions(a.actions, c, codeVersion(c));
        if (m_vm->halted()) return;
    }
    // onKeyDown/onKeyUp methods belong to the focused object only (FocusTracker).
    if (event == ClipEvent::KeyDown || event == ClipEvent::KeyUp || !withMethod) return;
    // Event methods (onLoad, onEnterFrame ...) came with version 6 movies.
    if (codeVersion(c) < 6) return;
    if (const char* name = methodFor(event)) callMethod(c, QString::fromLatin1(name));
}

void ScriptEngine::callMethod(DisplayClip* c, const QString& name) {
    Value fn = m_vm->getMember(Value(static_cast<Object*>(c)), name);
    if (!m_vm->isCallable(fn)) return;
    m_vm->call(fn, Value(static_cast<Object*>(c)), {});
    m_vm->takeException();
}

void ScriptEngine::construct(DisplayClip* c, Object* init) {
    if (init)
        for (const QString& k : m_vm->enumerableKeys(init)) m_vm->setMember(c, k, m_vm->getMember(Value(init), k));
    DisplayObject* obj = c->object();
    // Only clips take a registered class: an attached button stays a button.
    if (!obj || obj->type() != DisplayObject::Type::MovieClip) return;
    std::optional<QString> linkage = exportName(*obj);
    if (!linkage) return;
    auto cls = m_vm->registeredClasses.find(Vm::registeredClassKey(obj->runtime().movie->header.version, *linkage));
    if (cls == m_vm->registeredClasses.end()) return;
    Value proto = m_vm->getMember(Value(cls->second), QStringLiteral("prototype"));
    if (proto.asObject()) c->setProto(proto.asObject());
    m_vm->call(Value(cls->second), Value(static_cast<Object*>(c)), {}, proto.asObject() ? proto.asObject()->proto() : nullptr);
    m_vm->takeException();
}

void ScriptEngine::runJob(const Job& job) {
    switch (job.kind) {
    case Job::Kind::Actions:
        if (job.clip && !job.clip->removed()) m_vm->runActions(job.code, job.clip, codeVersion(job.clip));
        break;
    case Job::Kind::Event:
        if (job.clip) runEvent(job.clip, job.event, job.withMethod);
        break;
    case Job::Kind::Construct:
        if (job.clip && !job.clip->removed()) construct(job.clip, nullptr);
        break;
    case Job::Kind::Broadcast: {
        if (job.broadcast < 0 || size_t(job.broadcast) >= m_pendingBroadcasts.size()) break;
        auto [source, message] = m_pendingBroadcasts[size_t(job.broadcast)];
        Value msg(message);
        m_vm->callMethod(Value(source), QStringLiteral("broadcastMessage"), std::span<const Value>(&msg, 1));
        m_vm->takeException();
        break;
    }
    case Job::Kind::Task: {
        if (job.broadcast < 0 || size_t(job.broadcast) >= m_tasks.size()) break;
        std::function<void()> task = std::move(m_tasks[size_t(job.broadcast)]);
        if (task) task();
        break;
    }
    }
}

void ScriptEngine::runQueued() {
    if (m_running || !m_vm) return;
    m_running = true;
    m_vm->clearSharedStack();
    size_t jobs = 0;
    while (!m_vm->halted() && jobs++ < kMaxJobsPerRun) {
        if (m_queue.empty()) {
            if (m_deferredLoads.empty()) break;
            m_queue.insert(m_queue.end(), m_deferredLoads.begin(), m_deferredLoads.end());
            m_deferredLoads.clear();
            continue;
        }
        Job job = m_queue.front();
        m_queue.pop_front();
        runJob(job);
    }
    if (m_vm->halted()) {
        m_queue.clear();
        m_deferredLoads.clear();
    }
    if (m_queue.empty()) {
        m_pendingBroadcasts.clear();
        m_tasks.clear();
    }
    syncTextFields();
    m_running = false;
    collectGarbage();
}

void ScriptEngine::advanceTimers(double ms) {
    if (!m_vm || m_running) return;
    m_vm->clearSharedStack();
    // What a timer callback queues (attachMovie's load event ...) runs before the next callback.
    m_vm->advanceTimers(ms, [this] { runQueued(); });
    for (size_t i = 0; i < frameHooks.size(); ++i) frameHooks[i].run(ms);
    runQueued();
}

void ScriptEngine::syncTextFields() {
    // Reading a variable runs getters and toString, which may remove fields
    // or make script objects (m_objects changes): walk a list of the bound
    // fields' script objects and look each field up again after the calls.
    std::vector<DisplayClip*> bound;
    for (auto& [obj, clip] : m_objects)
        if (obj->type() == DisplayObject::Type::EditText &&
            !static_cast<const EditTextObject*>(obj)->variableName().empty())
            bound.push_back(clip);
    auto fieldOf = [](DisplayClip* c) {
        DisplayObject* o = c->object();
        return o && o->type() == DisplayObject::Type::EditText ? static_cast<EditTextObject*>(o) : nullptr;
    };
    for (DisplayClip* clip : bound) {
        EditTextObject* t = fieldOf(clip);
        DisplayClip* scope = t ? wrap(t->parent()) : nullptr;
        if (!scope) continue;
        QString var = QString::fromStdString(t->variableName());
        Value v;
        int colon = var.lastIndexOf(u':');
        int dot = var.lastIndexOf(u'.');
        int cut = std::max(colon, dot);
        if (cut >= 0) {
            Object* target = m_vm->resolveTarget(scope, var.left(cut));
            if (target) v = m_vm->getMember(Value(target), var.mid(cut + 1));
        } else {
            v = m_vm->getMember(Value(static_cast<Object*>(scope)), var);
        }
        if (v.isUndefined()) continue;
        QString text = m_vm->toString(v);
        if (!(t = fieldOf(clip))) continue;
        if (text != clip->boundText) {
            clip->boundText = text;
            if (QString::fromStdString(t->text()) != text) t->setText(text.toStdString());
        }
    }
}

void ScriptEngine::collectGarbage() {
    // Collect when the heap has doubled since the last collection, or its
    // budget is half spent; once scripts are halted, what they left goes.
    const ScriptBudget& budget = m_vm->budget();
    const bool due = m_vm->heapSize() >= 2 * m_heapAfterCollect + 20000 ||
                     (budget.heapBytes() > limits::kMaxScriptHeapBytes / 2 &&
                      budget.bytesSinceMeasure() >= limits::kHeapMeasureSlack);
    const bool haltedSince = m_vm->halted() && m_vm->heapSize() != m_heapAfterCollect;
    if (!due && !haltedSince) return;
    std::vector<Object*> roots;
    roots.reserve(m_objects.size() + m_queue.size() + 4);
    for (auto& [obj, clip] : m_objects) roots.push_back(clip);
    for (const Job& j : m_queue) if (j.clip) roots.push_back(j.clip);
    for (const Job& j : m_deferredLoads) roots.push_back(j.clip);
    for (Object* o : {m_stage, m_key, m_mouse, static_cast<Object*>(m_drag)}) if (o) roots.push_back(o);
    for (auto& [source, message] : m_pendingBroadcasts) roots.push_back(source);
    m_vm->collect(roots);
    m_heapAfterCollect = m_vm->heapSize();
}

} // namespace swf::avm1
