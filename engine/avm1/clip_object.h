#pragma once
// The script side of a movie clip: variables live on it, and its timeline
// and display properties are reached through these virtual members. The
// display glue derives from it for real clips; the base class is a bare
// timeline with no display (scripts run against it in tests and tools).
#include "engine/avm1/object.h"

#include <span>
#include <vector>

namespace swf::avm1 {

// Property indices of GetProperty/SetProperty, in the order the format numbers them.
enum class ClipProp : int {
    X = 0, Y, XScale, YScale, CurrentFrame, TotalFrames, Alpha, Visible, Width, Height, Rotation,
    Target, FramesLoaded, Name, DropTarget, Url, HighQuality, FocusRect, SoundBufTime, Quality,
    XMouse, YMouse, Count
};
// The property named by `name` ("_x", "_alpha" ...), or -1.
int clipPropIndex(const QString& name, bool caseSensitive);
const char* clipPropName(int index);

class ClipObject : public Object {
public:
    explicit ClipObject(Object* proto, Kind kind = Kind::Clip) : Object(proto, kind) {}

    // ---- Tree ------------------------------------------------------------------
    virtual ClipObject* parentClip() { return nullptr; }
    // A child display object by instance name, or null.
    virtual Object* childByName(const QString& name) { (void)name; return nullptr; }
    virtual QString instanceName() const { return m_name; }
    virtual void setInstanceName(const QString& n) { m_name = n; }
    // The _levelN this clip lives in (0 for the main movie).
    virtual int level() const { return 0; }
    virtual bool removed() const { return false; }
    // What a reference to this clip stands for now: a clip removed from the
    // stage stands for the clip at its old path when there is one.
    Object* current(Vm& vm);
    virtual void childNames(std::vector<QString>& out) { (void)out; }
    // "_level0.a.b": the dot path Flash prints for clips.
    QString targetPath();
    // "/a/b": the slash path of _target.
    QString slashPath();
    // _root: the nearest clip up the tree (this one included) that locks
    // the root to itself, else the top of the tree.
    ClipObject* rootClip();
    bool lockRoot() const { return m_lockRoot; }
    void setLockRoot(bool lock) { m_lockRoot = lock; }

    // ---- Timeline --------------------------------------------------------------
    virtual int currentFrame() const { return m_frame; }     // 1-based
    virtual int totalFrames() const { return m_totalFrames; }
    virtual int framesLoaded() const { return totalFrames(); }
    // 0-based frame of a label (scene names too), or -1.
    virtual int frameOfLabel(const QString& label) { (void)label; return -1; }
    virtual void gotoFrame(int frame0, bool play) { m_frame = frame0 + 1; m_playing = play; }
    virtual void play() { m_playing = true; }
    virtual void stop() { m_playing = false; }
    virtual bool playing() const { return m_playing; }
    virtual void nextFrame() { gotoFrame(currentFrame(), false); }
    virtual void prevFrame() { gotoFrame(currentFrame() > 1 ? currentFrame() - 2 : 0, false); }

    // The DoAction bodies of a frame (for the Call action).
    virtual std::vector<std::span<const uint8_t>> frameScripts(int frame0) { (void)frame0; return {}; }
    virtual void stopAllSounds() {}

    // ---- Clip operations ---------------------------------------------------------
    virtual Object* duplicate(Vm& vm, const QString& name, int depth, Object* init) {
        (void)vm; (void)name; (void)depth; (void)init; return nullptr;
    }
    virtual void removeClip(Vm& vm) { (void)vm; }
    virtual void startDrag(Vm& vm, bool lockCenter, const double* rect) { (void)vm; (void)lockCenter; (void)rect; }
    virtual void stopDrag(Vm& vm) { (void)vm; }
    virtual void loadMovie(Vm& vm, const QString& url, int method);
    virtual void loadVariables(Vm& vm, const QString& url, int method);
    virtual void unloadMovie() {}

    // ---- Display properties (by index) -----------------------------------------
    virtual Value getProperty(Vm& vm, int index);
    virtual void setProperty(Vm& vm, int index, const Value& v);

    bool getSpecial(Vm& vm, const QString& name, Value& out) override;
    bool setSpecial(Vm& vm, const QString& name, const Value& v) override;
    bool hasSpecial(Vm& vm, const QString& name) override;
    void specialKeys(Vm& vm, std::vector<QString>& out) override;

    // Stand-in timeline state, used when no display object backs the clip.
    int m_frame = 1;
    int m_totalFrames = 1;
    bool m_playing = true;

protected:
    QString m_name;
    QString m_pathWhenRemoved;
    bool m_lockRoot = false;
    // Display properties kept for a clip without a display object.
    double m_props[int(ClipProp::Count)] = {0, 0, 100, 100, 0, 0, 100, 1, 0, 0, 0};
};

} // namespace swf::avm1
