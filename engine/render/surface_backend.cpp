#include "engine/render/surface_backend.h"

#include "engine/core/limits.h"
#include "engine/render/blend.h"
#include "engine/render/bounds.h"
#include "engine/render/color.h"
#include "engine/render/qpainter_backend.h"
#include "engine/render/raster_backend.h"

#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>

namespace swf::render {

namespace {

// Recoloured bitmap copies kept across frames, in bytes, and how many frames
// an unused copy survives.
constexpr qsizetype kBitmapCacheBytes = 64 << 20;
constexpr uint64_t kBitmapCacheFrames = 120;

// Runs work(0..n-1), each index once: on the calling thread and on up to
// pool->maxThreadCount() - 1 pool threads. Returns when every index is done.
// Pool tasks that start late find nothing left and end at once, so a caller
// that is itself a thread of a busy pool never waits on a task still queued.
void runEach(QThreadPool* pool, int n, const std::function<void(int)>& work) {
    if (!pool || n <= 1) {
        for (int i = 0; i < n; ++i) work(i);
        return;
    }
    struct State {
        std::atomic<int> next{0};
        std::mutex mutex;
        std::condition_variable finished;
        int done = 0;
        int n = 0;
        const std::function<void(int)>* work = nullptr;
    };
    auto state = std::make_shared<State>();
    state->n = n;
    state->work = &work;
    auto run = [state] {
        for (int i; (i = state->next.fetch_add(1)) < state->n;) {
            (*state->work)(i);
            std::lock_guard lock(state->mutex);
            if (++state->done == state->n) state->finished.notify_all();
        }
    };
    for (int k = 1; k < std::min(n, pool->maxThreadCount()); ++k) pool->start(run);
    run();
    std::unique_lock lock(state->mutex);
    state->finished.wait(lock, [&] { return state->done == state->n; });
}

} // namespace

BackendKind defaultBackendKind() {
    static const bool qpainter = qEnvironmentVariable("SWIFTREEL_RENDERER") == QLatin1String("qpainter");
    return qpainter ? BackendKind::QPainter : BackendKind::Raster;
}

std::unique_ptr<RenderBackend> makeBackend(BackendKind kind) {
    if (kind == BackendKind::QPainter) return std::make_unique<QPainterBackend>();
    return std::make_unique<RasterBackend>();
}

QPainter& SurfaceBackend::Surface::painter(bool antialias) {
    if (!m_painter) {
        m_painter = std::make_unique<QPainter>(image);
        m_painter->setRenderHint(QPainter::Antialiasing, antialias);
        m_painter->setClipRect(clip.translated(-origin));
    }
    return *m_painter;
}

bool SurfaceBackend::Frame::roomFor(const QRect& rect) const {
    return int(stack.size()) <= limits::kMaxNestedLayers &&
           livePixels + int64_t(rect.width()) * rect.height() <= limits::kMaxLiveLayerPixels;
}

SurfaceBackend::SurfaceBackend() = default;
SurfaceBackend::~SurfaceBackend() = default;

void SurfaceBackend::clearCaches() {
    std::lock_guard lock(m_bitmapsMutex);
    m_bitmaps.clear();
}

int SurfaceBackend::bandCount(int) const { return 1; }

void SurfaceBackend::draw(const CommandList& list, QImage& target, Quality quality, const QRect& clip) {
    if (target.isNull()) return;
    if (target.format() != QImage::Format_ARGB32_Premultiplied && target.format() != QImage::Format_RGB32)
        target = target.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRect area = clip.isEmpty() ? target.rect() : clip & target.rect();
    if (area.isEmpty()) return;
    ++m_frameNumber;
    const std::vector<int> partners = matchStructure(list.commands);

    // Bands are views of the target's rows (detached once here, so that no
    // band copies a shared image).
    uchar* bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    const int bands = std::clamp(bandCount(area.height()), 1, std::max(1, area.height()));
    runEach(bands > 1 ? threadPool() : nullptr, bands, [&](int i) {
        int y0 = area.top() + area.height() * i / bands, y1 = area.top() + area.height() * (i + 1) / bands;
        QImage band(bits + y0 * stride, target.width(), y1 - y0, stride, target.format());
        drawBand(list, partners, band, QPoint(0, y0), quality, QRect(area.left(), y0, area.width(), y1 - y0));
    });
    frameDone();
    trimBitmapCache();
}

void SurfaceBackend::drawBand(const CommandList& list, const std::vector<int>& partners, QImage& band,
                              QPoint origin, Quality quality, const QRect& clip) {
    Frame f{list, partners, quality, clip, {}, std::vector<bool>(list.commands.size(), false), 0};

    auto root = std::make_unique<Surface>();
    root->image = &band;
    root->origin = origin;
    root->clip = clip;
    const QRgb background = qPremultiply(toQColor(list.background).rgba());
    for (int y = clip.top(); y <= clip.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(band.scanLine(y - origin.y()));
        std::fill(row + clip.left(), row + clip.left() + clip.width(), background);
    }
    f.stack.push_back(std::move(root));

    const auto& cmds = list.commands;
    for (size_t i = 0; i < cmds.size(); ++i) {
        const Command& cmd = cmds[i];
        if (auto* c = std::get_if<DrawShape>(&cmd)) {
            // Shapes wholly outside the part being drawn are skipped.
            if (!commandBounds(cmd).intersects(QRectF(f.top().rect() & f.clip))) continue;
            drawShape(f, *c);
        } else if (auto* c = std::get_if<DrawBitmap>(&cmd)) {
            drawBitmap(f, *c);
        } else if (auto* c = std::get_if<DrawGlyphs>(&cmd)) {
            drawGlyphs(f, *c);
        } else if (auto* c = std::get_if<DrawDeviceText>(&cmd)) {
            drawDeviceText(f, *c);
        } else if (auto* c = std::get_if<DrawRect>(&cmd)) {
            drawRect(f, *c);
        } else if (std::holds_alternative<PushMask>(cmd)) {
            if (f.partners[i] < 0) continue;
            QRect rect = rangeBounds(cmds, f.partners, i + 1, size_t(f.partners[i])).toAlignedRect() &
                         f.top().rect() & f.clip;
            if (rect.isEmpty() || !f.roomFor(rect)) {
                // Nothing of the mask is visible, so nothing it masks is either
                // (or masks nest too deep to draw: what they mask is left out).
                int pop = f.partners[size_t(f.partners[i])];
                i = pop >= 0 ? size_t(pop) : cmds.size();
                continue;
            }
            pushSurface(f, rect, MaskShape);
        } else if (std::holds_alternative<ActivateMask>(cmd)) {
            if (f.top().kind != MaskShape) continue;
            f.top().m_painter.reset();
            QImage mask = std::move(f.top().own);
            QRect rect(f.top().origin, mask.size()); // the mask stays alive (counted) until PopMask
            f.stack.pop_back();
            pushSurface(f, rect, MaskContent);
            f.top().mask = std::move(mask);
        } else if (std::holds_alternative<PopMask>(cmd)) {
            if (f.top().kind == MaskContent) popMask(f);
        } else if (auto* c = std::get_if<BeginLayer>(&cmd)) {
            if (f.partners[i] < 0) continue;
            std::vector<FilterDef> filters = parseFilters(c->filterBytes);
            double sx = 20 * std::hypot(c->filterMatrix.a, c->filterMatrix.b);
            double sy = 20 * std::hypot(c->filterMatrix.c, c->filterMatrix.d);
            QMargins extent = filterExtent(filters, sx, sy);
            QRect content = rangeBounds(cmds, f.partners, i + 1, size_t(f.partners[i])).toAlignedRect();
            QRect rect = content.marginsAdded(extent) & f.top().rect().marginsAdded(extent) &
                         f.clip.marginsAdded(extent);
            // Layers bigger than this are clipped to the visible part.
            if (qint64(rect.width()) * rect.height() > limits::kMaxLayerPixels)
                rect = f.top().rect() & f.clip;
            if (rect.isEmpty()) {
                i = size_t(f.partners[i]);
                continue;
            }
            if (!f.roomFor(rect)) {
                // Too many or too large layers at once: draw this one's content
                // straight onto the surface below, without its blend or filters.
                f.ignoredEnd[size_t(f.partners[i])] = true;
                continue;
            }
            pushSurface(f, rect, Layer);
            f.top().layer = c;
            f.top().filters = std::move(filters);
        } else if (std::holds_alternative<EndLayer>(cmd)) {
            if (!f.ignoredEnd[i] && f.top().kind == Layer) endLayer(f);
        }
    }
    // A malformed list may leave masks or layers open: close them as if it ended them.
    while (f.stack.size() > 1) {
        switch (f.top().kind) {
        case MaskShape: f.stack.pop_back(); break;
        case MaskContent: popMask(f); break;
        default: endLayer(f); break;
        }
    }
    f.stack.back()->m_painter.reset();
}

void SurfaceBackend::pushSurface(Frame& f, const QRect& rect, int kind) {
    auto s = std::make_unique<Surface>();
    s->kind = kind;
    s->own = QImage(rect.size(), QImage::Format_ARGB32_Premultiplied);
    s->own.fill(Qt::transparent);
    s->image = &s->own;
    s->origin = rect.topLeft();
    s->clip = rect;
    s->maskMode = kind == MaskShape || f.maskMode();
    f.livePixels += int64_t(rect.width()) * rect.height();
    f.stack.push_back(std::move(s));
}

void SurfaceBackend::popMask(Frame& f) {
    std::unique_ptr<Surface> content = std::move(f.stack.back());
    f.stack.pop_back();
    f.livePixels -= int64_t(content->own.width()) * content->own.height() * 2; // with its mask
    QPainter& p = content->painter(f.antialias());
    p.resetTransform();
    p.setOpacity(1);
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.drawImage(0, 0, content->mask);
    content->m_painter.reset();
    QPainter& parent = f.painter();
    parent.resetTransform();
    parent.setOpacity(1);
    parent.setCompositionMode(QPainter::CompositionMode_SourceOver);
    parent.drawImage(content->origin - f.top().origin, content->own);
}

void SurfaceBackend::endLayer(Frame& f) {
    std::unique_ptr<Surface> layer = std::move(f.stack.back());
    f.stack.pop_back();
    f.livePixels -= int64_t(layer->own.width()) * layer->own.height();
    layer->m_painter.reset();
    const BeginLayer& def = *layer->layer;
    if (!layer->filters.empty()) {
        double sx = 20 * std::hypot(def.filterMatrix.a, def.filterMatrix.b);
        double sy = 20 * std::hypot(def.filterMatrix.c, def.filterMatrix.d);
        applyFilters(layer->own, layer->filters, sx, sy, f.quality);
    }
    Surface& parent = f.top();
    // Inside a mask, a layer only adds to the mask's coverage.
    BlendMode mode = parent.maskMode ? BlendMode::Normal : def.blendMode;
    blendLayer(*parent.image, layer->own, layer->origin - parent.origin, mode, parent.kind != Root);
}

void SurfaceBackend::drawDeviceText(Frame& f, const DrawDeviceText& c) {
    if (c.text.isEmpty()) return;
    QPainter& p = f.painter();
    p.setOpacity(1);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setTransform(QTransform::fromScale(20, 20) * toQTransform(c.matrix) * f.top().offset());
    QFont font = c.font;
    font.setUnderline(c.underline);
    p.setFont(font);
    p.setPen(f.maskMode() ? QColor(Qt::black) : toQColor(c.color, c.colorTransform));
    p.drawText(QPointF(c.origin.x / 20, c.origin.y / 20), c.text);
}

QImage SurfaceBackend::recoloured(const std::shared_ptr<const BitmapDef>& bitmap, const QImage& image,
                                  const ColorTransform& cx) {
    if (cx.isIdentity()) return image;
    BitmapKey key{image.cacheKey(), cx.rMult, cx.gMult, cx.bMult, cx.aMult, cx.rAdd, cx.gAdd, cx.bAdd, cx.aAdd};
    std::lock_guard lock(m_bitmapsMutex);
    auto it = m_bitmaps.find(key);
    if (it != m_bitmaps.end()) {
        it->second.lastFrame = m_frameNumber;
        return it->second.image;
    }
    QImage copy = transformImage(image, cx);
    m_bitmaps[key] = CachedBitmap{bitmap, copy, m_frameNumber};
    return copy;
}

void SurfaceBackend::trimBitmapCache() {
    std::lock_guard lock(m_bitmapsMutex);
    qsizetype bytes = 0;
    for (auto it = m_bitmaps.begin(); it != m_bitmaps.end();) {
        bool unused = m_frameNumber - it->second.lastFrame > kBitmapCacheFrames;
        bool orphan = it->second.owner.expired();
        if (unused || orphan) {
            it = m_bitmaps.erase(it);
        } else {
            bytes += it->second.image.sizeInBytes();
            ++it;
        }
    }
    if (bytes > kBitmapCacheBytes) m_bitmaps.clear();
}

} // namespace swf::render
