#pragma once
// Puts a finished layer onto the surface below it with one of the Flash
// blend modes.
#include "engine/swf/types.h"

#include <QImage>
#include <QPainter>
#include <QPoint>

namespace swf::render {

// Composites `layer` (premultiplied ARGB32) onto `dest` (premultiplied ARGB32
// or RGB32) with its top-left at `at` in dest's pixels. `painter` is the
// painter active on dest, with no transform. `destIsLayer` says
// whether dest is an offscreen layer: Alpha and Erase act on the layer below
// them, and with none (the stage itself) the object is not drawn.
void blendLayer(QPainter& painter, QImage& dest, const QImage& layer, QPoint at, BlendMode mode, bool destIsLayer);

} // namespace swf::render
