#pragma once
// Display objects: the runtime instances of a movie's characters. A parent
// MovieClip (or button) owns its children; every object refers to, never
// owns, the immutable definitions of the shared Movie.
#include "engine/core/log.h"
#include "engine/render/commands.h"
#include "engine/render/quality.h"
#include "engine/render/text_layout.h"
#include "engine/swf/movie.h"
#include "engine/swf/place_object.h"

#include <QPainterPath>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace swf {

class MovieClip;
class DisplayObject;
class ScriptHost;
namespace video { class DecodeWorker; }

using render::Quality;

// Scripts address depths from this offset below the timeline's (AS depth 0 = stored depth 16384).
inline constexpr int kScriptDepthOffset = 16384;
// The depths scripts may create objects at (as scripts number them).
inline constexpr int kMinScriptDepth = -16384;
inline constexpr int kMaxScriptDepth = 2130690044;
inline constexpr bool validScriptDepth(int d) { return d >= kMinScriptDepth && d <= kMaxScriptDepth; }

// State shared by all objects of one loaded movie; owned by the Player.
struct Runtime {
    std::shared_ptr<const Movie> movie;
    ScriptHost* scripts = nullptr; // never null while a movie is loaded
    LogFn log;
    render::BitmapResolver bitmaps; // bitmap fills look their bitmaps up here
    render::FontResolver fonts;     // text fields look their fonts up here
    Quality quality = Quality::High;
    size_t objectCount = 0;        // alive display objects, bounded by kMaxDisplayObjects
    bool warnedScriptObjectLimit = false; // scripts were refused an object (warned once)
    // Buttons whose state children are being made, innermost last: a button
    // that contains itself, directly or through others, would nest without end.
    std::vector<uint16_t> buttonsBuilding;
    bool changed = true;           // something visible changed since the last draw
    // Objects removed while their unload event waits (serials), destroyed
    // when the next frame begins.
    std::vector<uint64_t> pendingRemovals;
    bool silent = false;           // frame stepping without sound (Back/Forward)
    uint32_t instanceCounter = 0;
    uint64_t nextSerial = 1;       // identities of display objects, never reused  // names unnamed clips "instanceN", as Flash does
    // Sound tags of frames the timelines play (StartSound, stream head and
    // blocks; `frame` 0-based), and the end of a timeline's stream sound.
    std::function<void(MovieClip&, const Timeline&, uint32_t frame, const ControlTag&)> soundTag;
    std::function<void(const MovieClip&)> stopStream;
    // Told when an object is destroyed, so that input tracking forgets it.
    std::function<void(const DisplayObject*)> destroyed;
    void warn(const std::string& msg) const { if (log) log(LogLevel::Warning, msg); }
    // The movie's trace output: Flash writes some of its own warnings there too.
    std::function<void(const std::string&)> trace;
    // Every live object by serial: weak references (masks, input tracking,
    // script handles) look objects up here instead of keeping raw pointers.
    std::unordered_map<uint64_t, DisplayObject*> objects;
    // ImportAssets: a character id of this movie made from another movie's exported character.
    struct ImportedCharacter { Runtime* from = nullptr; uint16_t id = 0; };
    std::unordered_map<uint16_t, ImportedCharacter> imports;
    bool pinned = false; // lives as long as the player's movie (a movie imported from)
    // The thread that decodes this movie's video, started on first use.
    std::shared_ptr<video::DecodeWorker> decodeWorker;
    video::DecodeWorker& videoWorker();
    DisplayObject* find(uint64_t serial) const {
        auto it = objects.find(serial);
        return it == objects.end() ? nullptr : it->second;
    }
};

// Base of every display object: transform, colour, name and placement data.
class DisplayObject {
public:
    enum class Type { Shape, MorphShape, Bitmap, Text, EditText, Button, MovieClip, Video };

    DisplayObject(Type type, Runtime& rt, uint16_t characterId);
    virtual ~DisplayObject();
    DisplayObject(const DisplayObject&) = delete;
    DisplayObject& operator=(const DisplayObject&) = delete;

    Type type() const { return m_type; }
    // A number no other object of this player ever gets (addresses are reused).
    uint64_t serial() const { return m_serial; }
    uint16_t characterId() const { return m_characterId; }
    Runtime& runtime() const { return m_rt; }

    // Depth as stored in the movie (timeline depths start at 1; scripts add 16384 offsets).
    int depth() const { return m_depth; }
    void setDepth(int d) { m_depth = d; }
    MovieClip* parent() const { return m_parent; }
    void setParent(MovieClip* p) { m_parent = p; }
    // The button whose state shows this object (its parent as scripts see
    // it); null outside buttons.
    DisplayObject* ownerButton() const { return m_ownerButton; }
    void setOwnerButton(DisplayObject* b) { m_ownerButton = b; }
    // The object that contains this one: its button, else its parent clip.
    DisplayObject* container() const;
    // How deep below the root this object was made (clips in buttons count
    // the button too); bounded by kMaxClipNesting so that movies that place
    // themselves cannot recurse without end.
    int nesting() const { return m_nesting; }
    void setNesting(int n) { m_nesting = n; }

    const Matrix& matrix() const { return m_matrix; }
    void setMatrix(const Matrix& m);
    const ColorTransform& colorTransform() const { return m_cxform; }
    void setColorTransform(const ColorTransform& c);
    const std::string& name() const { return m_name; }
    void setName(std::string n) { m_name = std::move(n); }
    uint16_t ratio() const { return m_ratio; }
    virtual void setRatio(uint16_t r);
    int clipDepth() const { return m_clipDepth; }
    void setClipDepth(int d);
    BlendMode blendMode() const { return m_blendMode; }
    void setBlendMode(BlendMode b);
    const std::vector<uint8_t>& filterBytes() const { return m_filterBytes; }
    void setFilterBytes(std::vector<uint8_t> f);
    bool cacheAsBitmap() const { return m_cacheAsBitmap; }
    void setCacheAsBitmap(bool c) { m_cacheAsBitmap = c; }
    bool visible() const { return m_visible; }
    void setVisible(bool v);
    // The nine-slice grid scripts gave (own space, twips); drawing does not use it yet.
    const std::optional<Rect>& scale9Grid() const { return m_scale9Grid; }
    void setScale9Grid(std::optional<Rect> grid) { m_scale9Grid = grid; }

    // Transform properties as ActionScript sees them (pixels, percent, degrees).
    double x() const { return m_matrix.tx / 20.0; }
    double y() const { return m_matrix.ty / 20.0; }
    void setX(double px);
    void setY(double px);
    double xScale() const;   // percent
    double yScale() const;
    double rotation() const; // degrees
    void setXScale(double percent);
    void setYScale(double percent);
    void setRotation(double degrees);
    double alpha() const { return m_cxform.aMult * 100.0; } // percent
    void setAlpha(double percent);

    // The frame of the parent timeline whose PlaceObject created this object;
    // 0 for objects made by scripts. Going back keeps an object only if the
    // target frame still holds this very placement.
    uint32_t placeFrame() const { return m_placeFrame; }
    void setPlaceFrame(uint32_t f) { m_placeFrame = f; }
    bool createdByScript() const { return m_placeFrame == 0; }
    // Once a script moves an object the timeline stops transforming it.
    bool transformLocked() const { return m_transformLocked; }
    void lockTransform() { m_transformLocked = true; }
    // Removed, waiting for the next frame to be destroyed (its unload event
    // has been queued).
    bool removalPending() const { return m_removalPending; }
    void setRemovalPending() { m_removalPending = true; }

    // A script mask (setMask): `mask` clips this object and is no longer drawn
    // itself; null, this object or one of its parents removes it. A timeline (clip-depth) mask on either side
    // stops masking the depths above it, even after the mask is removed.
    void setMask(DisplayObject* mask);
    DisplayObject* mask() const { return m_rt.find(m_maskSerial); }
    // The object this one masks through setMask, if any.
    DisplayObject* maskOwner() const { return m_rt.find(m_maskOwnerSerial); }
    // Product of the matrices from the root down to this object (root space).
    Matrix concatenatedMatrix() const;

    // Applies the fields a PlaceObject sets (not the character).
    void applyPlacement(const PlaceObject& p);

    // Bounds in the object's own space (twips), children included.
    virtual Rect localBounds() const = 0;
    // Whether a point in the object's own space hits its shape.
    virtual bool hitTest(Point local) const;
    // Appends drawing commands with the accumulated transform and colour.
    virtual void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const = 0;

    // Path of the object, or a parent chain like "_level0.a.b".
    std::string path() const;

protected:
    void markChanged() { m_rt.changed = true; }

private:
    Type m_type;
    Runtime& m_rt;
    uint16_t m_characterId;
    uint64_t m_serial;
    int m_depth = 0;
    int m_nesting = 0;
    MovieClip* m_parent = nullptr;
    DisplayObject* m_ownerButton = nullptr;
    Matrix m_matrix;
    // The rotation a script last set (degrees, -180..180): read back as set
    // rather than recomputed from the matrix, until the matrix is replaced.
    std::optional<double> m_scriptRotation;
    ColorTransform m_cxform;
    std::string m_name;
    uint16_t m_ratio = 0;
    int m_clipDepth = 0;
    BlendMode m_blendMode = BlendMode::Normal;
    std::vector<uint8_t> m_filterBytes;
    bool m_cacheAsBitmap = false;
    std::optional<Rect> m_scale9Grid;
    bool m_visible = true;
    uint32_t m_placeFrame = 0;
    bool m_transformLocked = false;
    bool m_removalPending = false;
    uint64_t m_maskSerial = 0, m_maskOwnerSerial = 0;
};

// The outline of a shape's fills as one path (twips), for hit tests.
QPainterPath shapeOutline(const ShapeDef& shape);
// Bounds of a rectangle after a matrix.
Rect transformRect(const Matrix& m, const Rect& r);
Rect unite(const Rect& a, const Rect& b);
Matrix inverted(const Matrix& m);

class ShapeObject : public DisplayObject {
public:
    ShapeObject(Runtime& rt, std::shared_ptr<const ShapeDef> def);
    const ShapeDef& def() const { return *m_def; }
    void replace(std::shared_ptr<const ShapeDef> def);
    Rect localBounds() const override { return m_def->bounds; }
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<const ShapeDef> m_def;
    mutable std::optional<QPainterPath> m_outline;
};

class MorphShapeObject : public DisplayObject {
public:
    MorphShapeObject(Runtime& rt, std::shared_ptr<const MorphShapeDef> def);
    void setRatio(uint16_t r) override;
    // The shape at the current ratio, built on first use and cached.
    std::shared_ptr<const ShapeDef> currentShape() const;
    Rect localBounds() const override;
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<const MorphShapeDef> m_def;
    mutable std::shared_ptr<const ShapeDef> m_shape;
};

class BitmapObject : public DisplayObject {
public:
    BitmapObject(Runtime& rt, std::shared_ptr<const BitmapDef> def);
    Rect localBounds() const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<const BitmapDef> m_def;
};

// Static text (DefineText 1/2): runs of glyphs from embedded fonts.
class TextObject : public DisplayObject {
public:
    TextObject(Runtime& rt, std::shared_ptr<const TextDef> def);
    const TextDef& def() const { return *m_def; }
    Rect localBounds() const override { return m_def->bounds; }
    bool hitTest(Point local) const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    std::shared_ptr<const TextDef> m_def;
};

} // namespace swf
