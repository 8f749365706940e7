#pragma once
// What executes a frame's CommandList. The runtime only ever talks to this
// interface; the scanline rasterizer is the default, QPainter the other.
#include "engine/render/commands.h"
#include "engine/render/quality.h"

#include <QImage>
#include <QRect>

#include <memory>

class QThreadPool;

namespace swf::render {

class RenderBackend {
public:
    virtual ~RenderBackend() = default;

    // Draws the frame into `target` (premultiplied ARGB32 or RGB32). With a
    // non-empty `clip`, only that part of the target is cleared and redrawn
    // (see dirtyRect()); the rest keeps the previous frame.
    virtual void draw(const CommandList& list, QImage& target, Quality quality, const QRect& clip = QRect()) = 0;

    // Forgets every cached path and bitmap.
    virtual void clearCaches() = 0;

    // Where bands of a frame may be drawn in parallel; null (the default)
    // draws on the calling thread only. The pool must outlive the backend's
    // use of it; a backend that cannot draw bands ignores it.
    void setThreadPool(QThreadPool* pool) { m_pool = pool; }
    QThreadPool* threadPool() const { return m_pool; }

private:
    QThreadPool* m_pool = nullptr;
};

enum class BackendKind { Raster, QPainter };

// The scanline rasterizer, unless SWIFTREEL_RENDERER=qpainter is set (for
// comparing the two on a movie).
BackendKind defaultBackendKind();
std::unique_ptr<RenderBackend> makeBackend(BackendKind kind = defaultBackendKind());

} // namespace swf::render
