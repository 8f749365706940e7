#include "engine/avm1/display_clip.h"

#include "engine/avm1/script_engine.h"
#include "engine/avm1/text_field.h"
#include "engine/display/button.h"
#include "engine/display/edit_text.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"
#include "engine/sound/sound_player.h"

#include <cmath>

namespace swf::avm1 {

DisplayClip::DisplayClip(ScriptEngine& engine, DisplayObject* obj, Object* proto, Kind kind)
    : ClipObject(proto, kind), m_engine(engine), m_obj(obj) {}

MovieClip* DisplayClip::movieClip() const {
    return m_obj && m_obj->type() == DisplayObject::Type::MovieClip ? static_cast<MovieClip*>(m_obj) : nullptr;
}

void DisplayClip::detach() {
    // References to clips and fields stand for what lives at their path later.
    if (m_obj && (kind() == Kind::Clip || kind() == Kind::TextField)) m_pathWhenRemoved = targetPath();
    if (m_obj) m_name = QString::fromStdString(m_obj->name());
    m_obj = nullptr;
}

int DisplayClip::level() const {
    // A level's clip has no parent; its depth is its level number (0 for the root).
    const DisplayObject* top = m_obj;
    for (int guard = 0; top && top->container() && guard < 1000; ++guard) top = top->container();
    return top ? top->depth() : 0;
}

ClipObject* DisplayClip::parentClip() {
    if (!m_obj || !m_obj->container()) return nullptr;
    return m_engine.wrap(m_obj->container());
}

Object* DisplayClip::childByName(const QString& name) {
    if (!m_obj || name.isEmpty()) return nullptr;
    DisplayObject* child = nullptr;
    if (MovieClip* mc = movieClip()) {
        child = mc->childByName(name.toStdString());
    } else if (m_obj->type() == DisplayObject::Type::Button) {
        // A button's shown state holds its children.
        bool caseSensitive = m_engine.movieVersion() >= 7;
        for (const auto& [depth, c] : static_cast<ButtonObject*>(m_obj)->children())
            if (caseSensitive ? QString::fromStdString(c->name()) == name
                              : QString::fromStdString(c->name()).compare(name, Qt::CaseInsensitive) == 0) {
                child = c.get();
                break;
            }
    }
    if (!child) return nullptr;
    // A named shape is no script object: its name reaches the clip holding it.
    DisplayClip* c = m_engine.wrap(child);
    return c ? static_cast<Object*>(c) : static_cast<Object*>(this);
}

QString DisplayClip::instanceName() const {
    return m_obj ? QString::fromStdString(m_obj->name()) : m_name;
}

void DisplayClip::setInstanceName(const QString& n) {
    if (m_obj) m_obj->setName(n.toStdString());
    else m_name = n;
}

void DisplayClip::childNames(std::vector<QString>& out) {
    MovieClip* mc = movieClip();
    if (!mc) return;
    for (const auto& [depth, child] : mc->children())
        if (!child->name().empty() && m_engine.wrap(child.get())) out.push_back(QString::fromStdString(child->name()));
}

int DisplayClip::currentFrame() const {
    MovieClip* mc = movieClip();
    return mc ? int(std::max<uint32_t>(mc->currentFrame(), 1)) : ClipObject::currentFrame();
}

int DisplayClip::totalFrames() const {
    MovieClip* mc = movieClip();
    return mc ? int(mc->totalFrames()) : ClipObject::totalFrames();
}

int DisplayClip::frameOfLabel(const QString& label) {
    MovieClip* mc = movieClip();
    if (!mc) return -1;
    uint32_t f = mc->frameOfLabel(label.toStdString());
    if (f) return int(f) - 1;
    // Scene names address the scene's first frame.
    if (const Timeline* tl = mc->timeline())
        for (const auto& [frame, name] : tl->sceneNames)
            if (QString::fromStdString(name).compare(label, Qt::CaseInsensitive) == 0) return int(frame);
    return -1;
}

void DisplayClip::gotoFrame(int frame0, bool play) {
    if (MovieClip* mc = movieClip()) mc->gotoFrame(uint32_t(std::max(frame0, 0)) + 1, play);
}
void DisplayClip::play() { if (MovieClip* mc = movieClip()) mc->play(); }
void DisplayClip::stop() { if (MovieClip* mc = movieClip()) mc->stop(); }
bool DisplayClip::playing() const { MovieClip* mc = movieClip(); return mc && mc->isPlaying(); }
void DisplayClip::nextFrame() { if (MovieClip* mc = movieClip()) mc->nextFrame(); }
void DisplayClip::prevFrame() { if (MovieClip* mc = movieClip()) mc->prevFrame(); }

std::vector<std::span<const uint8_t>> DisplayClip::frameScripts(int frame0) {
    std::vector<std::span<const uint8_t>> out;
    MovieClip* mc = movieClip();
    const Timeline* tl = mc ? mc->timeline() : nullptr;
    if (!tl || frame0 < 0 || size_t(frame0) >= tl->frames.size()) return out;
    for (const ControlTag& t : tl->frames[size_t(frame0)].tags)
        if (t.code == tag::DoAction) out.push_back(t.body);
    return out;
}

Object* DisplayClip::duplicate(Vm& vm, const QString& name, int depth, Object* init) {
    MovieClip* mc = movieClip();
    if (!mc || !mc->parent()) return nullptr;
    if (!validScriptDepth(depth)) return nullptr;
    MovieClip* copy = mc->duplicate(name.toStdString(), depth + kScriptDepthOffset);
    if (!copy) return nullptr;
    DisplayClip* c = m_engine.wrap(copy);
    if (!c) return nullptr;
    // A duplicate keeps the original's clip events.
    c->handlers = handlers;
    if (init)
        for (const QString& k : vm.enumerableKeys(init)) vm.setMember(c, k, vm.getMember(Value(init), k));
    return c;
}

void DisplayClip::removeClip(Vm&) {
    if (MovieClip* mc = movieClip()) mc->removeSelf();
}

void DisplayClip::startDrag(Vm&, bool lockCenter, const double* rect) { m_engine.setDrag(this, lockCenter, rect); }
void DisplayClip::stopDrag(Vm&) {
    if (DisplayClip* dragged = m_engine.dragged()) dragged->m_dropTarget = dragged->dropTarget();
    m_engine.setDrag(nullptr, false, nullptr);
}

namespace {
// The innermost clip whose own drawing lies under a stage point, topmost
// first, leaving out `skip` and what it holds.
const MovieClip* clipUnder(const MovieClip& clip, Point stagePoint, const DisplayObject* skip) {
    const auto& children = clip.children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const DisplayObject& c = *it->second;
        if (&c == skip || !c.visible() || c.clipDepth() > 0 || c.maskOwner()) continue;
        if (c.type() == DisplayObject::Type::MovieClip) {
            if (const MovieClip* found = clipUnder(static_cast<const MovieClip&>(c), stagePoint, skip)) return found;
        } else if (c.hitTest(inverted(c.concatenatedMatrix()).map(stagePoint))) {
            return &clip;
        }
    }
    Point local = inverted(clip.concatenatedMatrix()).map(stagePoint);
    if (auto shape = clip.drawing().shape(); shape && shapeOutline(*shape).contains(QPointF(local.x, local.y)))
        return &clip;
    return nullptr;
}
} // namespace

QString DisplayClip::dropTarget() {
    if (m_engine.dragged() != this || !m_obj || !m_engine.player().root()) return m_dropTarget;
    const MovieClip* under = clipUnder(*m_engine.player().root(), m_engine.mouseTwips(), m_obj);
    if (!under || !under->parent()) return QString();
    DisplayClip* c = m_engine.wrap(const_cast<MovieClip*>(under));
    return c ? c->slashPath() : QString();
}

void DisplayClip::unloadMovie() {
    // Unloading empties the clip: its children go and its timeline stops.
    MovieClip* mc = movieClip();
    if (!mc) return;
    std::vector<int> depths;
    for (const auto& [depth, child] : mc->children()) depths.push_back(depth);
    for (int d : depths) mc->removeChild(d);
    mc->stop();
}

void DisplayClip::stopAllSounds() {
    if (SoundPlayer* sp = m_engine.player().soundPlayer()) sp->stopAllSounds();
}

namespace {
double boundsWidth(const DisplayObject& o) {
    Rect r = transformRect(o.matrix(), o.localBounds());
    return r.width() / 20.0;
}
double boundsHeight(const DisplayObject& o) {
    Rect r = transformRect(o.matrix(), o.localBounds());
    return r.height() / 20.0;
}
// Flash keeps display properties in twips and whole percent steps; scripts read rounded values.
double twipRound(double px) { return std::round(px * 20.0) / 20.0; }
} // namespace

Value DisplayClip::getProperty(Vm& vm, int index) {
    DisplayObject* o = m_obj;
    if (!o) {
        if (index == int(ClipProp::Name)) return Value(m_name);
        return Value();
    }
    switch (ClipProp(index)) {
    case ClipProp::X: return Value(twipRound(o->x()));
    case ClipProp::Y: return Value(twipRound(o->y()));
    case ClipProp::XScale: return Value(o->xScale());
    case ClipProp::YScale: return Value(o->yScale());
    case ClipProp::Alpha: return Value(o->alpha());
    case ClipProp::Visible: return Value(o->visible());
    case ClipProp::Width: return Value(twipRound(boundsWidth(*o)));
    case ClipProp::Height: return Value(twipRound(boundsHeight(*o)));
    case ClipProp::Rotation: return Value(o->rotation());
    case ClipProp::Url: {
        const auto& movie = o->runtime().movie;
        return Value(movie ? QString::fromStdString(movie->url) : QString());
    }
    case ClipProp::XMouse:
    case ClipProp::YMouse: {
        // Flash works in window pixels here: the clip's place on screen is
        // rounded to whole pixels (halves to even) before the pointer is
        // mapped back into it.
        const Matrix& toWindow = m_engine.player().stage().matrix();
        Point pointer = toWindow.map(m_engine.mouseTwips());
        Matrix world = toWindow * o->concatenatedMatrix();
        world.tx = std::nearbyint(world.tx);
        world.ty = std::nearbyint(world.ty);
        // A clip scaled to nothing has no inverse: the pointer's window
        // position then comes back twenty times smaller.
        bool flat = std::abs(world.a * world.d - world.b * world.c) < 1e-12;
        // The inverse keeps its offset in whole twips.
        Matrix toLocal = inverted(world);
        toLocal.tx = std::round(toLocal.tx);
        toLocal.ty = std::round(toLocal.ty);
        Point local = flat ? pointer : toLocal.map(pointer);
        // The position is in whole twips.
        return Value(std::round(index == int(ClipProp::XMouse) ? local.x : local.y) / 20.0);
    }
    case ClipProp::DropTarget: return Value(dropTarget());
    case ClipProp::FocusRect: return m_engine.focus().focusRect(*o);
    case ClipProp::CurrentFrame:
    case ClipProp::TotalFrames:
    case ClipProp::FramesLoaded:
        if (!movieClip()) return Value();
        [[fallthrough]];
    default: return ClipObject::getProperty(vm, index);
    }
}

void DisplayClip::setProperty(Vm& vm, int index, const Value& v) {
    DisplayObject* o = m_obj;
    if (!o) return;
    if (index == int(ClipProp::Name)) { setInstanceName(vm.toString(v)); return; }
    if (index == int(ClipProp::FocusRect)) { m_engine.focus().setFocusRect(*o, v); return; }
    // undefined, null, an object without a number and NaN leave the property as it is.
    if (v.isUndefined() || v.isNull()) return;
    Value primitive = v.isObject() ? vm.toPrimitive(v, Vm::Hint::Number) : v;
    if (primitive.isObject()) return;
    double d = vm.toNumber(primitive);
    // valueOf may have removed the object.
    if (!(o = m_obj)) return;
    // An infinite rotation reads back as NaN (NaN itself is ignored below).
    if (index == int(ClipProp::Rotation) && std::isinf(d)) {
        o->setRotation(d);
        return;
    }
    if (std::isnan(d)) return;
    if (index == int(ClipProp::Visible)) { o->setVisible(d != 0); return; }
    // Positions are whole twips in 32 bits: anything beyond reads as the lowest.
    if (index == int(ClipProp::X) || index == int(ClipProp::Y)) {
        double twips = std::trunc(d * 20);
        if (!(std::fabs(twips) < 2147483648.0)) d = -2147483648.0 / 20;
    }
    // Alpha is kept in 256ths: 2 reads back as 1.953125; infinities as 0.
    if (index == int(ClipProp::Alpha)) {
        o->setAlpha(vm.toInt32(Value(d * 2.56)) * 100.0 / 256.0);
        o->lockTransform();
        return;
    }
    if (!std::isfinite(d)) return; // Flash ignores infinities for the rest
    switch (ClipProp(index)) {
    case ClipProp::X: o->setX(d); break;
    case ClipProp::Y: o->setY(d); break;
    case ClipProp::XScale: o->setXScale(d); break;
    case ClipProp::YScale: o->setYScale(d); break;
    case ClipProp::Alpha: o->setAlpha(d); break;
    case ClipProp::Rotation: o->setRotation(d); break;
    case ClipProp::Width: {
        double w = boundsWidth(*o);
        if (w > 0 && d >= 0) o->setXScale(o->xScale() * d / w);
        break;
    }
    case ClipProp::Height: {
        double h = boundsHeight(*o);
        if (h > 0 && d >= 0) o->setYScale(o->yScale() * d / h);
        break;
    }
    default: return;
    }
    o->lockTransform();
}

bool DisplayClip::getSpecial(Vm& vm, const QString& name, Value& out) {
    // A removed field's reference with nothing at its path reads nothing, its own variables neither.
    if (kind() == Kind::TextField && removed()) {
        out = Value();
        return true;
    }
    if (kind() == Kind::TextField && m_obj && m_obj->type() == DisplayObject::Type::EditText)
        if (builtins::textFieldGet(vm, *this, *static_cast<EditTextObject*>(m_obj), name, out)) return true;
    return ClipObject::getSpecial(vm, name, out);
}

bool DisplayClip::setSpecial(Vm& vm, const QString& name, const Value& v) {
    if (kind() == Kind::TextField && m_obj && m_obj->type() == DisplayObject::Type::EditText)
        if (builtins::textFieldSet(vm, *this, *static_cast<EditTextObject*>(m_obj), name, v)) return true;
    if (kind() == Kind::Button && m_obj && m_obj->type() == DisplayObject::Type::Button) {
        auto* b = static_cast<ButtonObject*>(m_obj);
        // enabled is a plain member (the prototype's is true); the button
        // follows it, and only a false value turns it off.
        if (vm.namesEqual(name, QStringLiteral("enabled"))) b->setEnabled(v.isUndefined() || vm.toBool(v));
    }
    return ClipObject::setSpecial(vm, name, v);
}

} // namespace swf::avm1
