#pragma once
// Puts a finished layer onto the surface below it with one of the Flash
// blend modes, in premultiplied ARGB.
#include "engine/swf/types.h"

#include <QImage>
#include <QPoint>

#include <cstdint>

namespace swf::render {

// Composites `layer` (premultiplied ARGB32) onto `dest` (premultiplied ARGB32
// or RGB32, which counts as opaque) with its top-left at `at` in dest's
// pixels. `destIsLayer` says whether dest is an offscreen layer: Alpha and
// Erase act on the layer below them, and with none (the stage itself) the
// object is not drawn.
void blendLayer(QImage& dest, const QImage& layer, QPoint at, BlendMode mode, bool destIsLayer);

// One premultiplied pixel `src` put over `dst` with `mode`.
uint32_t blendPixel(uint32_t src, uint32_t dst, BlendMode mode);

} // namespace swf::render
