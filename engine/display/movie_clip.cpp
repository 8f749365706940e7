#include "engine/display/movie_clip.h"

#include "engine/core/limits.h"
#include "engine/display/button.h"
#include "engine/display/edit_text.h"
#include "engine/display/script_host.h"
#include "engine/display/video_object.h"

#include <algorithm>
#include <utility>
#include <cctype>

namespace swf {

namespace {

bool isGraphic(DisplayObject::Type t) {
    using T = DisplayObject::Type;
    return t == T::Shape || t == T::MorphShape || t == T::Text || t == T::Bitmap || t == T::Video;
}

// Copies what a PlaceObject can set from one object to its replacement.
void copyPlacementFields(const DisplayObject& from, DisplayObject& to) {
    to.setMatrix(from.matrix());
    to.setColorTransform(from.colorTransform());
    to.setName(from.name());
    to.setRatio(from.ratio());
    to.setClipDepth(from.clipDepth());
    to.setBlendMode(from.blendMode());
    to.setFilterBytes(from.filterBytes());
    to.setCacheAsBitmap(from.cacheAsBitmap());
    to.setVisible(from.visible());
    to.setPlaceFrame(from.placeFrame());
}

bool sameName(const std::string& a, const std::string& b, bool caseSensitive) {
    if (caseSensitive) return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

} // namespace

std::unique_ptr<DisplayObject> createDisplayObject(Runtime& rt, uint16_t id, int nestingLevel) {
    if (!rt.movie) return nullptr;
    if (auto imported = rt.imports.find(id); imported != rt.imports.end())
        return createDisplayObject(*imported->second.from, imported->second.id, nestingLevel);
    if (rt.objectCount >= limits::kMaxDisplayObjects) {
        rt.warn("display objects over the limit; character " + std::to_string(id) + " not placed");
        return nullptr;
    }
    auto it = rt.movie->dictionary.find(id);
    if (it == rt.movie->dictionary.end()) return nullptr;
    const Character& c = it->second;
    std::unique_ptr<DisplayObject> obj;
    if (auto p = std::get_if<std::shared_ptr<const ShapeDef>>(&c)) obj = std::make_unique<ShapeObject>(rt, *p);
    else if (auto p = std::get_if<std::shared_ptr<const MorphShapeDef>>(&c)) obj = std::make_unique<MorphShapeObject>(rt, *p);
    else if (auto p = std::get_if<std::shared_ptr<const BitmapDef>>(&c)) obj = std::make_unique<BitmapObject>(rt, *p);
    else if (auto p = std::get_if<std::shared_ptr<const TextDef>>(&c)) obj = std::make_unique<TextObject>(rt, *p);
    else if (auto p = std::get_if<std::shared_ptr<const EditTextDef>>(&c)) obj = std::make_unique<EditTextObject>(rt, *p);
    else if (auto p = std::get_if<std::shared_ptr<const VideoStreamDef>>(&c)) obj = std::make_unique<VideoObject>(rt, *p);
    if (obj) {
        obj->setNesting(nestingLevel);
        return obj;
    }
    if (nestingLevel >= limits::kMaxClipNesting) {
        rt.warn("clips nested deeper than " + std::to_string(limits::kMaxClipNesting) + "; character " +
                std::to_string(id) + " not placed");
        return nullptr;
    }
    if (auto p = std::get_if<std::shared_ptr<const ButtonDef>>(&c)) {
        if (std::find(rt.buttonsBuilding.begin(), rt.buttonsBuilding.end(), id) != rt.buttonsBuilding.end()) {
            rt.warn("button " + std::to_string(id) + " contains itself; the inner copy is not placed");
            return nullptr;
        }
        return std::make_unique<ButtonObject>(rt, *p, nestingLevel);
    }
    if (auto p = std::get_if<std::shared_ptr<const SpriteDef>>(&c)) {
        obj = std::make_unique<MovieClip>(rt, id, &(*p)->timeline);
        obj->setNesting(nestingLevel);
    }
    return obj;
}

MovieClip::MovieClip(Runtime& rt, uint16_t characterId, const Timeline* timeline)
    : DisplayObject(Type::MovieClip, rt, characterId), m_timeline(timeline) {}

MovieClip::~MovieClip() {
    if (runtime().stopStream) runtime().stopStream(*this);
}

void MovieClip::stop() {
    if (m_playing && runtime().stopStream) runtime().stopStream(*this);
    m_playing = false;
}

std::optional<PlaceObject> MovieClip::decodePlace(const ControlTag& t) const {
    int version = runtime().movie ? runtime().movie->header.version : 10;
    auto p = parsePlaceObject(t, version);
    if (!p) {
        runtime().warn(p.error().message);
        return std::nullopt;
    }
    if (!p->move && !p->characterId) return std::nullopt;
    return std::move(*p);
}

namespace {
std::optional<uint16_t> removedDepth(const ControlTag& t) {
    auto r = parseRemoveObject(t);
    if (!r) return std::nullopt;
    return r->depth;
}
} // namespace

uint32_t MovieClip::totalFrames() const {
    return std::max<uint32_t>(1, uint32_t(m_timeline ? m_timeline->frames.size() : 0));
}

int MovieClip::nestingLevel() const { return nesting(); }

bool MovieClip::mayAddScriptChild(bool clip) const {
    Runtime& rt = runtime();
    const bool tooMany = rt.objectCount >= limits::kMaxDisplayObjects;
    if (!tooMany && !(clip && nestingLevel() + 1 >= limits::kMaxClipNesting)) return true;
    if (!std::exchange(rt.warnedScriptObjectLimit, true))
        rt.warn(tooMany ? "display objects over the limit; scripts make no more"
                        : "clips nested deeper than " + std::to_string(limits::kMaxClipNesting) +
                              "; scripts make no deeper ones");
    return false;
}

std::unique_ptr<DisplayObject> MovieClip::instantiate(uint16_t characterId) {
    return createDisplayObject(runtime(), characterId, nestingLevel() + 1);
}

// ---- timeline -----------------------------------------------------------

uint32_t MovieClip::frameOfLabel(const std::string& label) const {
    if (!m_timeline) return 0;
    for (const auto& [name, frame] : m_timeline->labels)
        if (sameName(name, label, false)) return frame + 1;
    return 0;
}

std::string MovieClip::currentLabel() const {
    if (!m_timeline) return {};
    std::string best;
    uint32_t bestFrame = 0;
    for (const auto& [name, frame] : m_timeline->labels)
        if (frame + 1 <= m_currentFrame && frame + 1 >= bestFrame) {
            best = name;
            bestFrame = frame + 1;
        }
    return best;
}

void MovieClip::enterFirstFrame() {
    m_currentFrame = 1;
    runFrameTags(1, true);
}

void MovieClip::tick() {
    // Clips present before this tick step after it; those placed during it
    // show their first frame and wait for the next tick.
    std::vector<std::pair<int, const DisplayObject*>> before;
    for (const auto& [depth, child] : m_children)
        if (child->type() == Type::MovieClip || child->type() == Type::Button) before.emplace_back(depth, child.get());

    // Children step before their parent (their frame scripts run first), highest depth first,
    // as Flash runs its display list.
    for (auto child = before.rbegin(); child != before.rend(); ++child) {
        const auto& [depth, ptr] = *child;
        auto it = m_children.find(depth);
        if (it == m_children.end() || it->second.get() != ptr) continue;
        if (ptr->type() == Type::MovieClip)
            static_cast<MovieClip*>(it->second.get())->tick();
        else
            static_cast<ButtonObject*>(it->second.get())->tick();
    }

    if (m_currentFrame == 0) {
        enterFirstFrame(); // the first frame shows even when not playing
    } else if (m_playing) {
        uint32_t total = totalFrames();
        if (m_currentFrame < total) {
            ++m_currentFrame;
            runFrameTags(m_currentFrame, true);
        } else if (!m_loops) {
            m_playing = false;
        } else if (total > 1) {
            // The loop is a full visit of frame 1: its actions run and its
            // sounds start again (the stream from its first block).
            if (runtime().stopStream) runtime().stopStream(*this);
            rebuildTo(1);
            m_currentFrame = 1;
            runFrameEffects(1, true);
        }
    }
    runtime().scripts->clipEvent(*this, ClipEvent::EnterFrame);

}

void MovieClip::gotoFrame(uint32_t frame, bool andPlay) {
    frame = std::clamp<uint32_t>(frame, 1, totalFrames());
    if (runtime().stopStream && (frame != m_currentFrame || !andPlay)) runtime().stopStream(*this);
    m_playing = andPlay;
    if (frame == m_currentFrame) return;
    if (frame > m_currentFrame) {
        // Skipped frames update the display list only; the target runs fully.
        for (uint32_t f = m_currentFrame + 1; f <= frame; ++f) {
            m_currentFrame = f;
            runFrameTags(f, f == frame);
        }
    } else {
        // Going back plays no sound: the stream restarts with the next frame played.
        rebuildTo(frame);
        m_currentFrame = frame;
        runFrameEffects(frame, false);
    }
}

void MovieClip::runFrameTags(uint32_t frame, bool runActions) {
    if (!m_timeline || frame == 0 || frame > m_timeline->frames.size()) return;
    for (const ControlTag& t : m_timeline->frames[frame - 1].tags) {
        switch (t.code) {
        case tag::PlaceObject:
        case tag::PlaceObject2:
        case tag::PlaceObject3:
            if (auto p = decodePlace(t)) place(*p, frame);
            break;
        case tag::RemoveObject:
        case tag::RemoveObject2:
            if (auto d = removedDepth(t)) removeChild(*d);
            break;
        default:
            if (runActions) runEffect(t, frame, true);
            break;
        }
    }
}

void MovieClip::runFrameEffects(uint32_t frame, bool withSounds) {
    if (!m_timeline || frame == 0 || frame > m_timeline->frames.size()) return;
    for (const ControlTag& t : m_timeline->frames[frame - 1].tags) runEffect(t, frame, withSounds);
}

void MovieClip::runEffect(const ControlTag& t, uint32_t frame, bool withSounds) {
    Runtime& rt = runtime();
    switch (t.code) {
    case tag::DoAction:
        rt.scripts->frameActions(*this, t.body);
        break;
    case tag::StartSound:
    case tag::StartSound2:
    case tag::SoundStreamHead:
    case tag::SoundStreamHead2:
    case tag::SoundStreamBlock:
        if (withSounds && !rt.silent && rt.soundTag) rt.soundTag(*this, *m_timeline, frame - 1, t);
        break;
    default:
        break;
    }
}

namespace {
constexpr int kPlaceWarningVersion = 8;
}

void MovieClip::place(const PlaceObject& p, uint32_t frame) {
    DisplayObject* existing = childAtDepth(p.depth);
    bool newObject = p.version == 1 || (!p.move && p.characterId);
    if (!newObject) {
        if (!existing) return; // a move on an empty depth does nothing
        if (p.characterId && *p.characterId != existing->characterId() && isGraphic(existing->type())) {
            // Replacing a character keeps the instance's placement; only
            // graphics can be swapped, clips and buttons stay as they are.
            auto repl = instantiate(*p.characterId);
            if (repl && isGraphic(repl->type())) {
                copyPlacementFields(*existing, *repl);
                repl->setDepth(p.depth);
                existing = addChild(std::move(repl), p.depth);
            }
        }
        existing->applyPlacement(p);
        return;
    }
    if (existing) {
        // Flash never places over an occupied depth; for movies of version 8
        // and later it says so in the trace output.
        if (runtime().trace && runtime().movie && runtime().movie->header.version >= kPlaceWarningVersion)
            runtime().trace("Warning: Failed to place object at depth " + std::to_string(p.depth) + ".");
        return;
    }
    // An unnamed button takes its instance number before the clips of its states.
    std::string buttonName;
    if (!p.name && runtime().movie) {
        auto it = runtime().movie->dictionary.find(*p.characterId);
        if (it != runtime().movie->dictionary.end() && std::holds_alternative<std::shared_ptr<const ButtonDef>>(it->second))
            buttonName = "instance" + std::to_string(++runtime().instanceCounter);
    }
    auto child = instantiate(*p.characterId);
    if (!child) {
        runtime().warn("PlaceObject: character " + std::to_string(*p.characterId) + " cannot be placed");
        return;
    }
    if (!buttonName.empty()) child->setName(buttonName);
    child->setPlaceFrame(frame);
    child->applyPlacement(p);
    DisplayObject* obj = addChild(std::move(child), p.depth);
    if (obj->type() == Type::MovieClip && obj->name().empty())
        obj->setName("instance" + std::to_string(++runtime().instanceCounter));
    runtime().scripts->objectPlaced(*obj, p.clipActions);
    if (obj->type() == Type::MovieClip) static_cast<MovieClip*>(obj)->enterFirstFrame();
}

// The state of one depth after running frames 1..N of a timeline.
struct MovieClip::DepthState {
    PlaceObject placement; // all fields merged
    uint16_t characterId = 0;
    uint32_t placeFrame = 0;
};

void MovieClip::rebuildTo(uint32_t target) {
    if (!m_timeline) return;
    std::map<int, DepthState> states;
    for (uint32_t f = 1; f <= target && f <= m_timeline->frames.size(); ++f) {
        for (const ControlTag& t : m_timeline->frames[f - 1].tags) {
            if (t.code == tag::RemoveObject || t.code == tag::RemoveObject2) {
                if (auto d = removedDepth(t)) states.erase(*d);
                continue;
            }
            if (t.code != tag::PlaceObject && t.code != tag::PlaceObject2 && t.code != tag::PlaceObject3) continue;
            auto p = decodePlace(t);
            if (!p) continue;
            auto it = states.find(p->depth);
            if (p->version == 1 || (!p->move && p->characterId)) {
                DepthState s;
                s.placement = *p;
                s.characterId = *p->characterId;
                s.placeFrame = f;
                states[p->depth] = std::move(s);
            } else if (it != states.end()) {
                PlaceObject& m = it->second.placement;
                if (p->characterId) it->second.characterId = *p->characterId;
                if (p->matrix) m.matrix = p->matrix;
                if (p->colorTransform) m.colorTransform = p->colorTransform;
                if (p->ratio) m.ratio = p->ratio;
                if (p->name) m.name = p->name;
                if (p->clipDepth) m.clipDepth = p->clipDepth;
                if (p->blendMode) m.blendMode = p->blendMode;
                if (p->filterBytes) m.filterBytes = p->filterBytes;
                if (p->cacheAsBitmap) m.cacheAsBitmap = p->cacheAsBitmap;
                if (p->visible) m.visible = p->visible;
            }
        }
    }

    // Objects of the same placement survive with their state; the rest of
    // the timeline's objects go. Objects made by scripts are left alone.
    std::vector<int> gone;
    for (const auto& [depth, child] : m_children) {
        if (child->createdByScript()) continue;
        auto it = states.find(depth);
        bool keep = it != states.end() && it->second.placeFrame == child->placeFrame() &&
                    (it->second.characterId == child->characterId() || !isGraphic(child->type()));
        if (!keep) gone.push_back(depth);
    }
    for (int d : gone) removeChild(d);

    for (auto& [depth, s] : states) {
        PlaceObject full = s.placement;
        full.move = false;
        full.characterId = s.characterId;
        if (!full.matrix) full.matrix = Matrix{};
        if (!full.colorTransform) full.colorTransform = ColorTransform{};
        if (!full.ratio) full.ratio = 0;
        if (!full.clipDepth) full.clipDepth = 0;
        if (!full.blendMode) full.blendMode = BlendMode::Normal;
        if (!full.filterBytes) full.filterBytes = std::span<const uint8_t>{};
        if (!full.visible) full.visible = true;
        DisplayObject* existing = childAtDepth(depth);
        // A clip swapped here from another depth of the same frame is left as it is.
        if (existing && !isGraphic(existing->type()) && existing->characterId() != s.characterId) continue;
        if (existing && !existing->createdByScript()) {
            if (existing->characterId() != s.characterId && isGraphic(existing->type())) {
                auto repl = instantiate(s.characterId);
                if (repl) {
                    copyPlacementFields(*existing, *repl);
                    existing = addChild(std::move(repl), depth);
                }
            }
            existing->applyPlacement(full);
            continue;
        }
        if (existing) continue; // a script object holds the depth
        place(full, s.placeFrame);
    }
}

// ---- display list ---------------------------------------------------------

DisplayObject* MovieClip::childAtDepth(int depth) const {
    auto it = m_children.find(depth);
    return it == m_children.end() ? nullptr : it->second.get();
}

DisplayObject* MovieClip::childByName(const std::string& name) const {
    const Movie* movie = runtime().movie.get();
    bool caseSensitive = movie && movie->header.version >= 7;
    for (const auto& [depth, child] : m_children)
        if (sameName(child->name(), name, caseSensitive)) return child.get();
    return nullptr;
}

DisplayObject* MovieClip::addChild(std::unique_ptr<DisplayObject> child, int depth) {
    child->setDepth(depth);
    child->setParent(this);
    auto& slot = m_children[depth];
    if (slot) runtime().scripts->objectRemoved(*slot);
    slot = std::move(child);
    runtime().changed = true;
    return slot.get();
}

void MovieClip::removeChild(int depth) {
    auto it = m_children.find(depth);
    if (it == m_children.end()) return;
    DisplayObject* obj = it->second.get();
    int parked = -depth - 1;
    if (!obj->removalPending() && depth >= 0 && !m_children.count(parked) && runtime().scripts->unloadFirst(*obj)) {
        // Kept below every other depth until the next frame, as Flash does
        // for objects whose unload event has yet to run.
        auto node = m_children.extract(depth);
        node.key() = parked;
        obj->setDepth(parked);
        obj->setRemovalPending();
        m_children.insert(std::move(node));
        runtime().pendingRemovals.push_back(obj->serial());
        runtime().changed = true;
        return;
    }
    runtime().scripts->objectRemoved(*it->second);
    // The script host may have removed it meanwhile.
    it = m_children.find(depth);
    if (it != m_children.end()) m_children.erase(it);
    runtime().changed = true;
}

void MovieClip::swapDepths(int fromDepth, int toDepth) {
    if (fromDepth == toDepth) return;
    auto a = m_children.extract(fromDepth);
    auto b = m_children.extract(toDepth);
    if (!a.empty()) {
        a.mapped()->setDepth(toDepth);
        a.key() = toDepth;
        m_children.insert(std::move(a));
    }
    if (!b.empty()) {
        b.mapped()->setDepth(fromDepth);
        b.key() = fromDepth;
        m_children.insert(std::move(b));
    }
    runtime().changed = true;
}

MovieClip* MovieClip::duplicate(const std::string& newName, int depth) {
    MovieClip* p = parent();
    if (!p) return nullptr;
    // A clip made empty by a script has no character: its copy is empty too.
    std::unique_ptr<DisplayObject> copy;
    if (characterId() == 0 && !m_timeline) {
        if (!p->mayAddScriptChild(true)) return nullptr;
        copy = std::make_unique<MovieClip>(runtime(), 0, nullptr);
        copy->setNesting(nesting());
    } else {
        copy = p->instantiate(characterId());
    }
    if (!copy || copy->type() != Type::MovieClip) return nullptr;
    copyPlacementFields(*this, *copy);
    // The copy shows what scripts drew into the original, as in Flash.
    static_cast<MovieClip*>(copy.get())->m_drawing = m_drawing;
    copy->setName(newName);
    copy->setPlaceFrame(0);
    // The copy may take this clip's own depth: then this clip is gone
    // below, and only the parent and the runtime may be used.
    Runtime& rt = runtime();
    if (p->childAtDepth(depth)) p->removeChild(depth);
    auto* clip = static_cast<MovieClip*>(p->addChild(std::move(copy), depth));
    rt.scripts->objectPlaced(*clip, {});
    clip->enterFirstFrame();
    return clip;
}

bool MovieClip::removeSelf() {
    MovieClip* p = parent();
    // Flash removes only clips in the scripts' depth range (0..1048575 above the timeline's).
    if (!p || depth() < kScriptDepthOffset || depth() >= kScriptDepthOffset + 1048576) return false;
    p->removeChild(depth());
    return true;
}

void MovieClip::forEachClip(const std::function<void(MovieClip&)>& f) {
    f(*this);
    for (auto& [depth, child] : m_children)
        if (child->type() == Type::MovieClip) static_cast<MovieClip*>(child.get())->forEachClip(f);
}

// ---- bounds, hits, drawing ------------------------------------------------

Rect MovieClip::localBounds() const {
    Rect r = m_drawing.empty() ? Rect{} : m_drawing.bounds();
    for (const auto& [depth, child] : m_children)
        if (child->clipDepth() == 0) r = unite(r, transformRect(child->matrix(), child->localBounds()));
    return r;
}

bool MovieClip::hitTest(Point local) const {
    if (auto shape = m_drawing.shape();
        shape && shapeOutline(*shape).contains(QPointF(local.x, local.y)))
        return true;
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
        const DisplayObject& c = *it->second;
        if (!c.visible() || c.clipDepth() > 0) continue;
        if (c.hitTest(inverted(c.matrix()).map(local))) return true;
    }
    return false;
}

void MovieClip::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    if (auto shape = m_drawing.shape()) out.commands.push_back(render::DrawShape{shape, world, cx, m_drawing.bitmaps()});
    drawChildren(m_children, out, world, cx);
}

void MovieClip::drawChildren(const std::map<int, std::unique_ptr<DisplayObject>>& children,
                             render::CommandList& out, const Matrix& world, const ColorTransform& cx) {
    std::vector<int> masks; // clip depths of the masks in force, innermost last
    for (const auto& [depth, child] : children) {
        if (out.commands.size() >= limits::kMaxDrawCommands) break;
        while (!masks.empty() && depth > masks.back()) {
            out.commands.emplace_back(render::PopMask{});
            masks.pop_back();
        }
        Matrix m = world * child->matrix();
        // Stage -> device, whatever the clip's place in the tree.
        auto stageMatrix = [&, clip = child.get()] { return m * inverted(clip->concatenatedMatrix()); };
        // A script mask is drawn only as its owner's mask.
        if (child->maskOwner()) continue;
        if (child->clipDepth() > 0) {
            // A mask draws its shape as coverage; its colour and visibility do not matter.
            out.commands.emplace_back(render::PushMask{});
            child->draw(out, m, ColorTransform{});
            out.commands.emplace_back(render::ActivateMask{});
            masks.push_back(child->clipDepth());
            continue;
        }
        if (!child->visible()) continue;
        ColorTransform c = cx * child->colorTransform();
        DisplayObject* scriptMask = child->mask();
        // Masks inside masks can loop back to what they mask: beyond the limit, nothing is drawn.
        if (scriptMask && out.maskDepth >= limits::kMaxMaskNesting) continue;
        if (scriptMask) {
            ++out.maskDepth;
            // The mask sits wherever it is in the tree: device = stage * its root-space matrix.
            out.commands.emplace_back(render::PushMask{});
            scriptMask->draw(out, stageMatrix() * scriptMask->concatenatedMatrix(), ColorTransform{});
            out.commands.emplace_back(render::ActivateMask{});
        }
        bool layer = child->blendMode() > BlendMode::Normal || !child->filterBytes().empty();
        // Filters grow with the stage's zoom only, never with the clip's own
        // scale or its parents'.
        if (layer)
            out.commands.emplace_back(render::BeginLayer{child->blendMode(), child->filterBytes(), stageMatrix()});
        child->draw(out, m, c);
        if (layer) out.commands.emplace_back(render::EndLayer{});
        if (scriptMask) {
            out.commands.emplace_back(render::PopMask{});
            --out.maskDepth;
        }
    }
    for (size_t i = 0; i < masks.size(); ++i) out.commands.emplace_back(render::PopMask{});
}

} // namespace swf
