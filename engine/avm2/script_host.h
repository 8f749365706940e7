#pragma once
// The ActionScript 3 engine as the player sees it: loads the movie's ABC,
// constructs the document class on frame 1, runs frame scripts, enterFrame
// listeners and timers. One per loaded movie, owned by the Player.
#include "engine/avm2/vm.h"
#include "engine/core/log.h"
#include "engine/display/script_host.h"

#include <functional>
#include <memory>

namespace swf {

using ScriptHostFactory = std::function<std::unique_ptr<ScriptHost>(Player&)>;
// A factory that gives ActionScript 3 movies the AVM2 and others to `others`.
ScriptHostFactory withAvm2(ScriptHostFactory others);

} // namespace swf

namespace swf::avm2 {

class Avm2Host : public swf::ScriptHost, public DisplayBridge {
public:
    explicit Avm2Host(Player& player);
    ~Avm2Host() override;
    Vm& vm() { return *m_vm; }

    // ScriptHost
    void movieLoaded(Player&, MovieClip& root) override;
    void movieUnloading() override;
    void clipEvent(DisplayObject& obj, ClipEvent event) override;
    void runQueued() override;
    void advanceTimers(double ms) override;

    // DisplayBridge
    uint32_t currentFrame(uint64_t serial) override;
    uint32_t totalFrames(uint64_t serial) override;
    void play(uint64_t serial, bool playing) override;
    void gotoFrame(uint64_t serial, uint32_t frame, bool play) override;
    QString name(uint64_t serial) override;

private:
    // Runs script code; an uncaught error is printed as the debug player
    // does, a breached limit stops the movie's scripts.
    void guarded(const std::function<void()>& f);
    void log(LogLevel level, const std::string& message);
    void loadAbc(std::span<const uint8_t> body, bool withHeader);
    void constructDocument();
    void runFrameScript();
    void dispatchSimple(const QString& type);
    MovieClip* clip(uint64_t serial);
    void collectIfGrown();

    Player& m_player;
    std::unique_ptr<Vm> m_vm;
    MovieClip* m_root = nullptr;
    QString m_documentClass;
    DispatcherObject* m_document = nullptr;
    bool m_constructed = false;
    bool m_halted = false;
    bool m_enterFramePending = false;
    uint32_t m_lastFrame = 0;
    size_t m_objectsAfterCollect = 0;
};

} // namespace swf::avm2
