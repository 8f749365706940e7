#pragma once
// A movie clip: the root movie or a placed sprite. Each clip owns its
// depth-ordered display list and runs its own timeline with its own frame
// cursor, independent of its parent's.
#include "engine/display/display_object.h"
#include "engine/display/drawing.h"

#include <functional>
#include <map>

namespace swf {

class MovieClip : public DisplayObject {
public:
    // `timeline` lives in the movie (root timeline or a sprite definition).
    MovieClip(Runtime& rt, uint16_t characterId, const Timeline* timeline);
    ~MovieClip() override;

    // ---- timeline -------------------------------------------------------
    uint32_t currentFrame() const { return m_currentFrame; } // 1-based; 0 before the first frame
    uint32_t totalFrames() const;
    uint32_t framesLoaded() const { return totalFrames(); }
    bool isPlaying() const { return m_playing; }
    void play() { m_playing = true; }
    void stop();
    // Jumps to a 1-based frame (clamped to the timeline); actions of the target
    // frame are queued, those of skipped frames are not.
    void gotoFrame(uint32_t frame, bool andPlay);
    // Frame number of a label (1-based), or 0 when there is no such label.
    uint32_t frameOfLabel(const std::string& label) const;
    std::string currentLabel() const;
    // The frames this clip plays (null for a clip made empty by a script).
    const Timeline* timeline() const { return m_timeline; }
    void nextFrame() { gotoFrame(m_currentFrame + 1, false); }
    void prevFrame() { if (m_currentFrame > 1) gotoFrame(m_currentFrame - 1, false); }
    // The root loops at its end only when looping is on; sprites always loop.
    void setLoops(bool loops) { m_loops = loops; }
    bool loops() const { return m_loops; }

    // One tick: this clip's timeline steps if playing, then its children's
    // (clips present before the tick). Children placed this tick already show
    // their first frame.
    void tick();
    // Runs the first frame of a freshly placed clip.
    void enterFirstFrame();

    // ---- display list ---------------------------------------------------
    const std::map<int, std::unique_ptr<DisplayObject>>& children() const { return m_children; }
    DisplayObject* childAtDepth(int depth) const;
    // The first child with this instance name (case-insensitive for movies
    // before version 7, as Flash resolves names).
    DisplayObject* childByName(const std::string& name) const;
    // Inserts a child (replacing any at the same depth); returns it.
    DisplayObject* addChild(std::unique_ptr<DisplayObject> child, int depth);
    // Removes and destroys the child at a depth (the script host is told first).
    void removeChild(int depth);
    // Moves a child to another depth, swapping with an object already there.
    void swapDepths(int fromDepth, int toDepth);
    // Script operations on clips. duplicate() copies this clip's placement
    // into a new instance in its parent at `depth`; returns null on failure.
    MovieClip* duplicate(const std::string& newName, int depth);
    // Removes this clip from its parent (only clips made or moved by scripts,
    // as Flash refuses removeMovieClip on timeline depths).
    bool removeSelf();
    // Creates an instance of a dictionary character (attachMovie and timeline use).
    std::unique_ptr<DisplayObject> instantiate(uint16_t characterId);

    // What scripts draw into this clip; call drawingChanged() after editing it.
    Drawing& drawing() { return m_drawing; }
    const Drawing& drawing() const { return m_drawing; }
    void drawingChanged() { runtime().changed = true; }

    Rect localBounds() const override;
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

    // Draws children in depth order, with clip-depth masks (shared with buttons).
    static void drawChildren(const std::map<int, std::unique_ptr<DisplayObject>>& children,
                             render::CommandList& out, const Matrix& world, const ColorTransform& cx);

    // Calls f for this clip and every clip below it, parents first.
    void forEachClip(const std::function<void(MovieClip&)>& f);
    int nestingLevel() const;
    // Whether a script may make a child here (`clip`: one that can have
    // children of its own): the limits on display objects and clip nesting
    // hold for script-made objects as for placed ones. Warns once per movie when not.
    bool mayAddScriptChild(bool clip) const;

private:
    struct DepthState;
    void runFrameTags(uint32_t frame, bool runActions);
    // What a frame does besides its display list: its actions and, when
    // `withSounds`, its sound tags.
    void runFrameEffects(uint32_t frame, bool withSounds);
    void runEffect(const ControlTag& t, uint32_t frame, bool withSounds);
    void place(const PlaceObject& p, uint32_t frame);
    std::optional<PlaceObject> decodePlace(const ControlTag& t) const;
    // Sets the display list to what frames 1..frame leave (no actions, no sounds).
    void rebuildTo(uint32_t frame);
    void clearTimelineObjects();

    const Timeline* m_timeline;
    uint32_t m_currentFrame = 0;
    bool m_playing = true;
    bool m_loops = true;
    std::map<int, std::unique_ptr<DisplayObject>> m_children;
    Drawing m_drawing;
};

// Creates the runtime object of a dictionary character; null for unknown or
// unplaceable characters and when a limit (objects, nesting) is reached.
std::unique_ptr<DisplayObject> createDisplayObject(Runtime& rt, uint16_t characterId, int nestingLevel);

} // namespace swf
