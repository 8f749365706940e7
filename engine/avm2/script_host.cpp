#include "engine/avm2/script_host.h"

#include "engine/core/limits.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"

namespace swf {

ScriptHostFactory withAvm2(ScriptHostFactory others) {
    return [others = std::move(others)](Player& p) -> std::unique_ptr<ScriptHost> {
        if (p.movie() && p.movie()->isAs3()) return std::make_unique<avm2::Avm2Host>(p);
        return others ? others(p) : nullptr;
    };
}

} // namespace swf

namespace swf::avm2 {

Avm2Host::Avm2Host(Player& player) : m_player(player) {
    m_vm = std::make_unique<Vm>([this](const QString& line) {
        if (m_player.host().trace) m_player.host().trace(line.toStdString());
    });
    m_vm->display = this;
    m_vm->rootProviders.push_back([this](std::vector<Value>& roots) {
        if (m_document) roots.push_back(Value::object(m_document));
    });
}

Avm2Host::~Avm2Host() = default;

void Avm2Host::log(LogLevel level, const std::string& message) {
    if (m_player.host().log) m_player.host().log(level, message);
}

void Avm2Host::guarded(const std::function<void()>& f) {
    if (m_halted) return;
    ScriptRun run(m_vm->budget());
    try {
        f();
    } catch (const ScriptThrow& t) {
        try {
            m_vm->trace(m_vm->uncaughtText(t.value));
        } catch (const ScriptThrow&) {
            m_vm->trace(QStringLiteral("Error: an uncaught error could not be printed"));
        } catch (const ScriptHalt&) {
        }
    } catch (const ScriptHalt& h) {
        m_halted = true;
        log(LogLevel::Error, "ActionScript 3 halted: " + h.reason);
    }
}

void Avm2Host::loadAbc(std::span<const uint8_t> body, bool withHeader) {
    auto tag = readDoAbc(body, withHeader);
    if (!tag) {
        log(LogLevel::Warning, tag.error().message);
        return;
    }
    guarded([&] {
        auto unit = m_vm->load(tag->abc, tag->lazy);
        if (!unit) {
            // The player reports a broken block as a VerifyError and runs the rest.
            log(LogLevel::Warning, unit.error().message);
            m_vm->trace(QStringLiteral("VerifyError: Error #1107: %1").arg(QString::fromStdString(unit.error().message)));
        }
    });
}

void Avm2Host::movieLoaded(Player&, MovieClip& root) {
    m_root = &root;
    const Timeline& tl = root.runtime().movie->timeline;
    if (tl.frames.empty()) return;
    // Frame 1 defines the code and names the document class: the class linked to id 0, or
    // else one linked to an id that no character of the movie has.
    QString unboundClass;
    for (const ControlTag& t : tl.frames.front().tags) {
        if (t.code == tag::DoABC || t.code == tag::DoABC1) loadAbc(t.body, t.code == tag::DoABC);
        else if (t.code == tag::SymbolClass)
            for (const auto& [id, name] : readSymbolClass(t.body)) {
                if (id == 0) m_documentClass = name;
                else if (unboundClass.isEmpty() && !root.runtime().movie->dictionary.contains(id)) unboundClass = name;
            }
    }
    if (m_documentClass.isEmpty()) m_documentClass = unboundClass;
}

void Avm2Host::movieUnloading() {
    m_document = nullptr;
    m_root = nullptr;
}

void Avm2Host::clipEvent(DisplayObject& obj, ClipEvent event) {
    if (event == ClipEvent::EnterFrame && &obj == m_root && m_constructed) m_enterFramePending = true;
}

void Avm2Host::constructDocument() {
    m_constructed = true;
    if (!m_root) return;
    guarded([&] {
        ClassObject* cls = m_documentClass.isEmpty() ? nullptr : m_vm->classByQualifiedName(m_documentClass);
        if (!cls) cls = m_vm->builtin("flash.display.MovieClip");
        // The root is a display object: a document class that is no Sprite cannot stand for it.
        ClassObject* sprite = m_vm->builtin("flash.display.Sprite");
        if (!cls->isSubclassOf(sprite))
            m_vm->throwError(ErrorType::TypeError, 2023, {cls->qualifiedName() + u'$'});
        Object* obj = m_vm->allocateInstance(cls);
        m_document = obj->as<DispatcherObject>();
        if (!m_document) return; // a document class that is no display object
        m_document->serial = m_root->serial();
        m_vm->invoke(cls->iinit, Value::object(obj), {}, &cls->scope, cls);
    });
}

void Avm2Host::dispatchSimple(const QString& type) {
    if (!m_document) return;
    guarded([&] {
        Value args[1] = {Value::string(type)};
        Value event = m_vm->construct(Value::object(m_vm->builtin("flash.events.Event")), args);
        Value evArgs[1] = {event};
        m_vm->callProperty(Value::object(m_document), Name::publicName(QStringLiteral("dispatchEvent")), evArgs);
    });
}

void Avm2Host::runFrameScript() {
    if (!m_document || !m_root) return;
    uint32_t frame = m_root->currentFrame();
    if (frame == m_lastFrame) return;
    m_lastFrame = frame;
    auto it = m_document->frameScripts.find(frame - 1);
    if (it == m_document->frameScripts.end()) return;
    Value fn = it->second;
    guarded([&] { m_vm->call(fn, Value::object(m_document), {}); });
}

void Avm2Host::runQueued() {
    if (m_halted) return;
    m_vm->budget().beginTick();
    if (m_enterFramePending) {
        m_enterFramePending = false;
        dispatchSimple(QStringLiteral("enterFrame"));
    }
    if (!m_constructed) constructDocument();
    runFrameScript();
    collectIfGrown();
}

void Avm2Host::advanceTimers(double ms) {
    if (m_halted) return;
    m_vm->nowMs += ms;
    // Timers due by now, earliest first; one that is set again waits for a later call.
    for (int guard = 0; guard < 1000; ++guard) {
        auto due = std::min_element(m_vm->timers.begin(), m_vm->timers.end(),
                                    [](const Vm::Timer& a, const Vm::Timer& b) { return a.due < b.due; });
        if (due == m_vm->timers.end() || due->due > m_vm->nowMs) break;
        Vm::Timer t = *due;
        if (t.repeat) due->due += t.interval;
        else m_vm->timers.erase(due);
        guarded([&] { m_vm->call(t.fn, Value::null(), t.args); });
        if (t.repeat && t.due + t.interval <= m_vm->nowMs) break;
    }
}

void Avm2Host::collectIfGrown() {
    // When the heap has doubled since the last collection, or its budget is
    // half spent with much charged since it was last measured.
    const ScriptBudget& budget = m_vm->budget();
    const size_t objects = m_vm->heapObjects();
    const bool grown = objects >= 50000 && objects >= 2 * m_objectsAfterCollect;
    const bool heapFull = budget.heapBytes() > limits::kMaxScriptHeapBytes / 2 &&
                          budget.bytesSinceMeasure() >= limits::kHeapMeasureSlack;
    if (!grown && !heapFull) return;
    m_vm->collectGarbage({});
    m_objectsAfterCollect = m_vm->heapObjects();
}

MovieClip* Avm2Host::clip(uint64_t serial) {
    if (!m_root) return nullptr;
    DisplayObject* o = m_root->runtime().find(serial);
    return o && o->type() == DisplayObject::Type::MovieClip ? static_cast<MovieClip*>(o) : nullptr;
}

uint32_t Avm2Host::currentFrame(uint64_t serial) {
    MovieClip* c = clip(serial);
    return c ? std::max<uint32_t>(1, c->currentFrame()) : 1;
}
uint32_t Avm2Host::totalFrames(uint64_t serial) {
    MovieClip* c = clip(serial);
    return c ? c->totalFrames() : 1;
}
void Avm2Host::play(uint64_t serial, bool playing) {
    if (MovieClip* c = clip(serial)) {
        if (playing) c->play();
        else c->stop();
    }
}
void Avm2Host::gotoFrame(uint64_t serial, uint32_t frame, bool playing) {
    if (MovieClip* c = clip(serial)) c->gotoFrame(frame, playing);
}
QString Avm2Host::name(uint64_t serial) {
    if (m_root && serial == m_root->serial()) return QStringLiteral("root1");
    DisplayObject* o = m_root ? m_root->runtime().find(serial) : nullptr;
    return o ? QString::fromStdString(o->name()) : QString();
}

} // namespace swf::avm2
