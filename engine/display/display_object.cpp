#include "engine/display/display_object.h"

#include "engine/core/limits.h"
#include "engine/display/movie_clip.h"
#include "engine/render/commands.h"
#include "engine/swf/shape.h"
#include "engine/video/decode_worker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace swf {

video::DecodeWorker& Runtime::videoWorker() {
    if (!decodeWorker) decodeWorker = std::make_shared<video::DecodeWorker>();
    return *decodeWorker;
}

namespace {
constexpr double kPi = 3.14159265358979323846;
}

DisplayObject::DisplayObject(Type type, Runtime& rt, uint16_t characterId)
    : m_type(type), m_rt(rt), m_characterId(characterId), m_serial(rt.nextSerial++) {
    ++m_rt.objectCount;
    m_rt.objects[m_serial] = this;
}

DisplayObject::~DisplayObject() {
    if (m_rt.destroyed) m_rt.destroyed(this);
    m_rt.objects.erase(m_serial);
    --m_rt.objectCount;
    m_rt.changed = true;
}

void DisplayObject::setMatrix(const Matrix& m) {
    if (m == m_matrix) return;
    m_matrix = m;
    m_scriptRotation.reset();
    markChanged();
}

void DisplayObject::setColorTransform(const ColorTransform& c) {
    if (c == m_cxform) return;
    m_cxform = c;
    markChanged();
}

void DisplayObject::setRatio(uint16_t r) {
    if (r == m_ratio) return;
    m_ratio = r;
    markChanged();
}

void DisplayObject::setClipDepth(int d) {
    if (d == m_clipDepth) return;
    m_clipDepth = d;
    markChanged();
}

void DisplayObject::setBlendMode(BlendMode b) {
    if (b == m_blendMode) return;
    m_blendMode = b;
    markChanged();
}

void DisplayObject::setFilterBytes(std::vector<uint8_t> f) {
    if (f == m_filterBytes) return;
    m_filterBytes = std::move(f);
    markChanged();
}

void DisplayObject::setVisible(bool v) {
    if (v == m_visible) return;
    m_visible = v;
    markChanged();
}

void DisplayObject::setX(double px) {
    Matrix m = m_matrix;
    m.tx = std::round(px * 20.0);
    std::optional<double> rotation = m_scriptRotation;
    setMatrix(m);
    m_scriptRotation = rotation;
}

void DisplayObject::setY(double px) {
    Matrix m = m_matrix;
    m.ty = std::round(px * 20.0);
    std::optional<double> rotation = m_scriptRotation;
    setMatrix(m);
    m_scriptRotation = rotation;
}

double DisplayObject::xScale() const { return std::hypot(m_matrix.a, m_matrix.b) * 100.0; }
double DisplayObject::yScale() const { return std::hypot(m_matrix.c, m_matrix.d) * 100.0; }

double DisplayObject::rotation() const {
    return m_scriptRotation ? *m_scriptRotation : std::atan2(m_matrix.b, m_matrix.a) * 180.0 / kPi;
}

void DisplayObject::setXScale(double percent) {
    Matrix m = m_matrix;
    double angle = std::atan2(m.b, m.a);
    double s = percent / 100.0;
    m.a = s * std::cos(angle);
    m.b = s * std::sin(angle);
    std::optional<double> rotation = m_scriptRotation;
    setMatrix(m);
    m_scriptRotation = rotation;
}

void DisplayObject::setYScale(double percent) {
    Matrix m = m_matrix;
    double angle = std::atan2(-m.c, m.d);
    double s = percent / 100.0;
    m.c = -s * std::sin(angle);
    m.d = s * std::cos(angle);
    std::optional<double> rotation = m_scriptRotation;
    setMatrix(m);
    m_scriptRotation = rotation;
}

void DisplayObject::setRotation(double degrees) {
    // A rotation that is no number reads back as NaN and leaves the matrix alone.
    if (!std::isfinite(degrees)) {
        m_scriptRotation = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    double sx = xScale() / 100.0, sy = yScale() / 100.0;
    // A mirrored object keeps its mirroring through rotation.
    if (m_matrix.a * m_matrix.d - m_matrix.b * m_matrix.c < 0) sy = -sy;
    double r = degrees * kPi / 180.0;
    Matrix m = m_matrix;
    m.a = sx * std::cos(r);
    m.b = sx * std::sin(r);
    m.c = -sy * std::sin(r);
    m.d = sy * std::cos(r);
    setMatrix(m);
    double normalized = std::fmod(degrees, 360.0);
    if (normalized > 180.0) normalized -= 360.0;
    else if (normalized < -180.0) normalized += 360.0;
    m_scriptRotation = normalized;
}

void DisplayObject::setAlpha(double percent) {
    ColorTransform c = m_cxform;
    c.aMult = percent / 100.0;
    setColorTransform(c);
}

void DisplayObject::applyPlacement(const PlaceObject& p) {
    if (!m_transformLocked) {
        if (p.matrix) setMatrix(*p.matrix);
        if (p.colorTransform) setColorTransform(*p.colorTransform);
    }
    if (p.ratio) setRatio(*p.ratio);
    if (p.name) m_name = *p.name;
    if (p.clipDepth) setClipDepth(*p.clipDepth);
    if (p.blendMode) setBlendMode(*p.blendMode);
    if (p.filterBytes) setFilterBytes(std::vector<uint8_t>(p.filterBytes->begin(), p.filterBytes->end()));
    if (p.cacheAsBitmap) m_cacheAsBitmap = *p.cacheAsBitmap;
    if (p.visible) setVisible(*p.visible);
}

void DisplayObject::setMask(DisplayObject* mask) {
    if (DisplayObject* old = this->mask()) old->m_maskOwnerSerial = 0;
    m_maskSerial = 0;
    // Either side of a script mask stops being a timeline mask, for good.
    m_clipDepth = 0;
    // A mask that contains what it masks would draw itself inside itself.
    bool contains = false;
    for (const DisplayObject* p = this; p && mask && !contains; p = p->parent()) contains = p == mask;
    if (mask && !contains) {
        mask->m_clipDepth = 0;
        if (DisplayObject* prevOwner = mask->maskOwner()) prevOwner->m_maskSerial = 0;
        m_maskSerial = mask->serial();
        mask->m_maskOwnerSerial = m_serial;
    }
    markChanged();
}

Matrix DisplayObject::concatenatedMatrix() const {
    Matrix m = m_matrix;
    for (const DisplayObject* p = container(); p; p = p->container()) m = p->matrix() * m;
    return m;
}

DisplayObject* DisplayObject::container() const {
    return m_ownerButton ? m_ownerButton : static_cast<DisplayObject*>(m_parent);
}

bool DisplayObject::hitTest(Point local) const {
    Rect b = localBounds();
    return !b.empty() && local.x >= b.xMin && local.x <= b.xMax && local.y >= b.yMin && local.y <= b.yMax;
}

std::string DisplayObject::path() const {
    if (!m_parent) return "_level0";
    return m_parent->path() + "." + m_name;
}

// ---- geometry helpers ---------------------------------------------------

QPainterPath shapeOutline(const ShapeDef& shape) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (const ShapeLayer& layer : shape.layers) {
        for (const StyledPath& sp : layer.fills) {
            bool open = false;
            Point last;
            for (const Edge& e : sp.edges) {
                if (!open || !(e.from == last)) {
                    path.moveTo(e.from.x, e.from.y);
                    open = true;
                }
                if (e.curved)
                    path.quadTo(e.control.x, e.control.y, e.to.x, e.to.y);
                else
                    path.lineTo(e.to.x, e.to.y);
                last = e.to;
            }
        }
    }
    return path;
}

Rect transformRect(const Matrix& m, const Rect& r) {
    if (r.empty()) return {};
    Point pts[4] = {m.map({double(r.xMin), double(r.yMin)}), m.map({double(r.xMax), double(r.yMin)}),
                    m.map({double(r.xMin), double(r.yMax)}), m.map({double(r.xMax), double(r.yMax)})};
    double x0 = pts[0].x, x1 = pts[0].x, y0 = pts[0].y, y1 = pts[0].y;
    for (const Point& p : pts) {
        x0 = std::min(x0, p.x); x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y); y1 = std::max(y1, p.y);
    }
    auto clampI = [](double v) {
        return int32_t(std::clamp(v, -1e9, 1e9));
    };
    return {clampI(std::floor(x0)), clampI(std::ceil(x1)), clampI(std::floor(y0)), clampI(std::ceil(y1))};
}

Rect unite(const Rect& a, const Rect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.xMin, b.xMin), std::max(a.xMax, b.xMax), std::min(a.yMin, b.yMin),
            std::max(a.yMax, b.yMax)};
}

Matrix inverted(const Matrix& m) {
    double det = m.a * m.d - m.b * m.c;
    if (std::abs(det) < 1e-12) return {0, 0, 0, 0, -m.tx, -m.ty};
    Matrix r;
    r.a = m.d / det;
    r.b = -m.b / det;
    r.c = -m.c / det;
    r.d = m.a / det;
    r.tx = -(r.a * m.tx + r.c * m.ty);
    r.ty = -(r.b * m.tx + r.d * m.ty);
    return r;
}

// ---- shapes -------------------------------------------------------------

ShapeObject::ShapeObject(Runtime& rt, std::shared_ptr<const ShapeDef> def)
    : DisplayObject(Type::Shape, rt, def->id), m_def(std::move(def)) {}

void ShapeObject::replace(std::shared_ptr<const ShapeDef> def) {
    if (def == m_def) return;
    m_def = std::move(def);
    m_outline.reset();
    markChanged();
}

bool ShapeObject::hitTest(Point local) const {
    if (!DisplayObject::hitTest(local)) return false;
    if (!m_outline) m_outline = shapeOutline(*m_def);
    return m_outline->contains(QPointF(local.x, local.y));
}

void ShapeObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    out.commands.push_back(render::DrawShape{m_def, world, cx, runtime().bitmaps});
}

MorphShapeObject::MorphShapeObject(Runtime& rt, std::shared_ptr<const MorphShapeDef> def)
    : DisplayObject(Type::MorphShape, rt, def->id), m_def(std::move(def)) {}

void MorphShapeObject::setRatio(uint16_t r) {
    if (r != ratio()) m_shape.reset();
    DisplayObject::setRatio(r);
}

std::shared_ptr<const ShapeDef> MorphShapeObject::currentShape() const {
    if (!m_shape) m_shape = std::make_shared<const ShapeDef>(morphAt(*m_def, ratio() / 65535.0));
    return m_shape;
}

Rect MorphShapeObject::localBounds() const { return currentShape()->bounds; }

bool MorphShapeObject::hitTest(Point local) const {
    if (!DisplayObject::hitTest(local)) return false;
    return shapeOutline(*currentShape()).contains(QPointF(local.x, local.y));
}

void MorphShapeObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    out.commands.push_back(render::DrawShape{currentShape(), world, cx, runtime().bitmaps});
}

// ---- bitmaps ------------------------------------------------------------

BitmapObject::BitmapObject(Runtime& rt, std::shared_ptr<const BitmapDef> def)
    : DisplayObject(Type::Bitmap, rt, def->id), m_def(std::move(def)) {}

Rect BitmapObject::localBounds() const {
    return {0, m_def->image.width() * 20, 0, m_def->image.height() * 20};
}

void BitmapObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    render::DrawBitmap cmd;
    cmd.bitmap = m_def;
    cmd.matrix = world * Matrix{20, 0, 0, 20, 0, 0}; // bitmap pixels are 20 twips wide
    cmd.colorTransform = cx;
    cmd.smoothed = runtime().quality >= Quality::High;
    out.commands.push_back(std::move(cmd));
}

// ---- static text --------------------------------------------------------

TextObject::TextObject(Runtime& rt, std::shared_ptr<const TextDef> def)
    : DisplayObject(Type::Text, rt, def->id), m_def(std::move(def)) {}

bool TextObject::hitTest(Point local) const {
    Point p = inverted(m_def->matrix).map(local);
    return DisplayObject::hitTest(p);
}

void TextObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    const Movie& movie = *runtime().movie;
    Matrix textToDevice = world * m_def->matrix;
    for (const TextRecord& rec : m_def->records) {
        auto font = movie.get<FontDef>(rec.fontId);
        if (!font || rec.glyphs.empty()) continue;
        render::DrawGlyphs cmd;
        cmd.font = font;
        cmd.height = rec.height;
        cmd.color = rec.color;
        cmd.matrix = textToDevice;
        cmd.colorTransform = cx;
        cmd.glyphs.reserve(rec.glyphs.size());
        double x = rec.x;
        for (const TextGlyph& g : rec.glyphs) {
            cmd.glyphs.emplace_back(g.index, Point{x, rec.y});
            x += g.advance;
        }
        out.commands.push_back(std::move(cmd));
    }
}

} // namespace swf
