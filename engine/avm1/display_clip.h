#pragma once
// The script object of a display object (movie clip, button or text field):
// properties, timeline and tree operations go to the display runtime. The
// ScriptEngine makes one per display object and detaches it when the
// display object is destroyed; a detached object keeps its variables.
#include "engine/avm1/clip_object.h"
#include "engine/swf/place_object.h"

namespace swf {
class DisplayObject;
class MovieClip;
}

namespace swf::avm1 {

class ScriptEngine;

class DisplayClip : public ClipObject {
public:
    DisplayClip(ScriptEngine& engine, DisplayObject* obj, Object* proto, Kind kind);

    DisplayObject* object() const { return m_obj; }
    MovieClip* movieClip() const;
    void detach();
    // Now stands for another display object (a movie loaded in place of this clip's).
    void attachTo(DisplayObject* obj) { m_obj = obj; }
    // onClipEvent handlers from the PlaceObject that made the object.
    std::vector<ClipAction> handlers;
    // Text fields: the variable path they show, and the text last seen there.
    QString boundText;

    ClipObject* parentClip() override;
    Object* childByName(const QString& name) override;
    QString instanceName() const override;
    void setInstanceName(const QString& n) override;
    bool removed() const override { return m_obj == nullptr; }
    int level() const override;
    void childNames(std::vector<QString>& out) override;

    int currentFrame() const override;
    int totalFrames() const override;
    int framesLoaded() const override { return totalFrames(); }
    int frameOfLabel(const QString& label) override;
    void gotoFrame(int frame0, bool play) override;
    void play() override;
    void stop() override;
    bool playing() const override;
    void nextFrame() override;
    void prevFrame() override;
    std::vector<std::span<const uint8_t>> frameScripts(int frame0) override;

    Object* duplicate(Vm& vm, const QString& name, int depth, Object* init) override;
    void removeClip(Vm& vm) override;
    void startDrag(Vm& vm, bool lockCenter, const double* rect) override;
    void stopDrag(Vm& vm) override;
    void unloadMovie() override;
    void stopAllSounds() override;

    Value getProperty(Vm& vm, int index) override;
    void setProperty(Vm& vm, int index, const Value& v) override;
    bool getSpecial(Vm& vm, const QString& name, Value& out) override;
    bool setSpecial(Vm& vm, const QString& name, const Value& v) override;

    ScriptEngine& engine() const { return m_engine; }

private:
    // The slash path of the clip under this one where it was last dropped
    // (or is being dragged over); "" when none.
    QString dropTarget();
    QString m_dropTarget;
    ScriptEngine& m_engine;
    DisplayObject* m_obj;
};

} // namespace swf::avm1
