#pragma once
// The bridge between the display runtime and the virtual machine: it
// receives frame, init, clip and button actions from the Player, queues them
// in the order Flash runs them and runs them at runQueued(). One per loaded
// movie, owned by the Player.
#include "engine/avm1/display_clip.h"
#include "engine/avm1/focus.h"
#include "engine/avm1/vm.h"
#include "engine/display/script_host.h"
#include "engine/swf/types.h"

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

namespace swf {
class ButtonObject;
// The factory the Player uses to give each movie an ActionScript 1/2 engine.
std::function<std::unique_ptr<ScriptHost>(Player&)> avm1ScriptHostFactory();
}

namespace swf::avm1 {

// Trace text as UTF-8, half a surrogate pair written as its own three bytes.
std::string utf8KeepingLoneSurrogates(const QString& s);

class ScriptEngine : public swf::ScriptHost {
public:
    explicit ScriptEngine(Player& player);
    ~ScriptEngine() override;

    Vm& vm() { return *m_vm; }
    Player& player() { return m_player; }
    int movieVersion() const { return m_version; }
    // The script object of a display object (made on first use); null for
    // shapes and other objects scripts cannot address.
    DisplayClip* wrap(DisplayObject* obj);
    // A new instance of an exported symbol (attachMovie) or an empty clip.
    DisplayClip* attach(MovieClip& parent, const QString& linkage, const QString& name, int depth, Object* init);
    DisplayClip* createEmpty(MovieClip& parent, const QString& name, int depth);
    // The script object of `from` moves to `to` (a movie loaded in place of a clip keeps its name in scripts).
    void rebind(DisplayObject& from, DisplayObject& to);
    // The linkage name a display object's symbol is exported under in its own movie.
    std::optional<QString> exportName(const DisplayObject& obj) const;
    // Gives a new clip the class registered for its symbol and runs the constructor.
    void construct(DisplayClip* clip, Object* init);
    // The stage point under the pointer, in twips.
    Point mouseTwips() const;
    bool keyIsDown(int code) const { return m_keysDown.count(code) != 0; }
    // Caps Lock and Num Lock flip on each press (both start off); other keys never toggle.
    bool keyIsToggled(int code) const { return m_keysToggled.count(code) != 0; }
    int lastKey() const { return m_lastKey; }
    uint32_t lastChar() const { return m_lastChar; }
    // Dragging (startDrag): the clip follows the pointer each mouse move.
    void setDrag(DisplayClip* clip, bool lockCenter, const double* rect);
    DisplayClip* dragged() const { return m_drag; }
    // Scripts may read the stage size and the Stage listeners.
    Object* stageObject() const { return m_stage; }
    Object* keyObject() const { return m_key; }
    Object* mouseObject() const { return m_mouse; }
    // Keyboard focus, tab order and typing into fields.
    FocusTracker& focus() { return m_focus; }
    // Work built-ins do once per frame after the timers (NetStreams advance
    // there), by name; `owner` is the built-in's own state.
    struct FrameHook {
        std::string name;
        std::shared_ptr<void> owner;
        std::function<void(double ms)> run;
    };
    std::vector<FrameHook> frameHooks;
    // Runs `task` in queue order; `keep` (may be null) stays alive until then.
    void queueTask(DisplayClip* keep, std::function<void()> task);

    // ScriptHost
    void movieLoaded(Player&, MovieClip& root) override;
    void movieUnloading() override;
    void frameActions(MovieClip& clip, std::span<const uint8_t> actions) override;
    void initActions(MovieClip& root, uint16_t spriteId, std::span<const uint8_t> actions) override;
    void objectPlaced(DisplayObject& obj, const std::vector<ClipAction>& clipActions) override;
    void objectDestroyed(const DisplayObject& obj) override;
    void objectRemoved(DisplayObject& obj) override;
    bool unloadFirst(DisplayObject& obj) override;
    void clipEvent(DisplayObject& obj, ClipEvent event) override;
    void buttonEvent(ButtonObject& button, ButtonEvent event,
                     std::span<const std::span<const uint8_t>> actions) override;
    void buttonKey(ButtonObject& button, std::span<const uint8_t> actions) override;
    void keyDown(int flashKeyCode, uint32_t charCode) override;
    void keyUp(int flashKeyCode, uint32_t charCode) override;
    void keyDownDone(int flashKeyCode, uint32_t charCode, bool claimed) override;
    void textInput(uint32_t codepoint) override;
    void pointerPressed(Point stagePoint) override;
    void mouseEvent(ClipEvent event) override;
    bool clipIsButton(MovieClip& clip) override;
    bool tracksAsMenu(DisplayObject& obj) override;
    bool buttonEnabled(ButtonObject& button) override;
    bool showsHandCursor(DisplayObject& obj) override;
    bool pointerHidden() const override { return m_pointerHidden; }
    // Mouse.hide/show; answers whether the pointer was hidden before.
    bool setPointerHidden(bool hidden) { return std::exchange(m_pointerHidden, hidden); }
    std::optional<Rect> focusHighlight() override { return m_vm ? m_focus.highlightBounds() : std::nullopt; }
    void beginTick() override { if (m_vm) m_vm->beginFrame(); }
    void runQueued() override;
    void advanceTimers(double ms) override;

private:
    struct Job {
        enum class Kind { Actions, Event, Construct, Broadcast, Task } kind = Kind::Actions;
        DisplayClip* clip = nullptr;
        std::span<const uint8_t> code;
        ClipEvent event = ClipEvent::Load;
        int broadcast = -1; // into m_pendingBroadcasts, or m_tasks for a Task
        bool withMethod = true; // an Event also calls the clip's method (onLoad ...)
    };
    void runJob(const Job& job);
    void runEvent(DisplayClip* clip, ClipEvent event, bool withMethod = true);
    // Whether the object (and, with `inside`, anything in it) has an unload clip event or onUnload.
    bool hasUnloadHandler(const DisplayObject& obj, bool inside);
    // Queues the unload events of a removed object and of what it holds.
    void queueUnloads(DisplayObject& obj);
    void pruneForUnload(MovieClip& clip);
    // Calls the clip's method `name` (with no arguments) when it is a function.
    void callMethod(DisplayClip* clip, const QString& name);
    // The version of the movie a clip's actions come from (a loaded movie keeps its own).
    int codeVersion(const DisplayClip* clip) const;
    void forget(DisplayObject& obj);
    void broadcast(Object* source, const QString& message, std::span<const Value> args = {});
    void eachClip(const std::function<void(DisplayClip*)>& f);
    void syncTextFields();
    // A member of a display object's script object read without running script; undefined for a getter.
    Value storedMember(const DisplayObject& obj, const QString& name);
    void collectGarbage();
    void readScriptLimits(const Movie& movie);

    Player& m_player;
    int m_version = 0;
    std::unique_ptr<Vm> m_vm;
    std::unordered_map<const DisplayObject*, DisplayClip*> m_objects;
    std::deque<Job> m_queue;
    // Frame actions run in tag order; a clip placed during this step gets its
    // load event after everything queued in the step.
    std::vector<Job> m_deferredLoads;
    std::vector<std::pair<Object*, QString>> m_pendingBroadcasts; // source, message
    std::set<std::pair<const Movie*, uint16_t>> m_initDone; // per movie: loaded movies have their own ids
    bool m_running = false;
    bool m_attaching = false;
    size_t m_heapAfterCollect = 0;
    std::set<int> m_keysDown;
    std::set<int> m_keysToggled;
    bool m_pointerHidden = false;
    int m_lastKey = 0;
    uint32_t m_lastChar = 0;
    DisplayClip* m_drag = nullptr;
    bool m_dragLock = false;
    bool m_dragConstrained = false;
    double m_dragRect[4] = {0, 0, 0, 0};
    Point m_dragOffset;
    Object* m_stage = nullptr;
    Object* m_key = nullptr;
    Object* m_mouse = nullptr;
    std::vector<std::function<void()>> m_tasks;
    FocusTracker m_focus{*this};
};

} // namespace swf::avm1
