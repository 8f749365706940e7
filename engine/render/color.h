#pragma once
// Colour helpers shared by the backend: colour transforms applied to single
// colours and to whole images, and Qt conversions of the engine's types.
#include "engine/swf/types.h"

#include <QColor>
#include <QImage>
#include <QTransform>

namespace swf::render {

// The colour after a colour transform, each channel clamped to 0..255.
Rgba transformColor(Rgba c, const ColorTransform& cx);
QColor toQColor(Rgba c);
inline QColor toQColor(Rgba c, const ColorTransform& cx) { return toQColor(transformColor(c, cx)); }

// A transform that only scales alpha is drawn with the painter's opacity
// instead of a recoloured copy.
bool isAlphaOnly(const ColorTransform& cx);

// A premultiplied copy of `image` with the colour transform applied to every
// pixel (on straight colours, as the Flash player does).
QImage transformImage(const QImage& image, const ColorTransform& cx);

inline QTransform toQTransform(const Matrix& m) { return QTransform(m.a, m.b, m.c, m.d, m.tx, m.ty); }

} // namespace swf::render
