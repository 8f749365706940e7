#pragma once
// Where drawing commands land on the target, for sizing offscreen layers and
// for redrawing only what changed between two frames.
#include "engine/render/commands.h"

#include <QRect>
#include <QRectF>
#include <QTransform>

#include <vector>

namespace swf::render {

// Where a shape can draw, in its own twips: its declared bounds, grown by
// half its widest stroke (miters further), since shapes drawn by scripts
// declare only their edges.
QRectF shapeExtent(const ShapeDef& shape);

// Device-space bounds of one drawing command, a pixel wider on each side for
// antialiasing and hairlines. Structural commands (masks, layers) are empty.
QRectF commandBounds(const Command& command);

// The whole pixels an axis-aligned box (twips, through `t`, which only
// scales and moves) covers: as in Flash, the origin rounds to the nearest
// pixel and the box's own edges drop to the pixel they fall in.
QRect pixelBox(const Rect& box, const QTransform& t);

// For each PushMask the index of its ActivateMask, for each ActivateMask the
// index of its PopMask, for each BeginLayer the index of its EndLayer; -1
// where the list has no partner (a malformed list draws what it can).
std::vector<int> matchStructure(const std::vector<Command>& commands);

// Device bounds of commands [from, to): a layer's content grows by what its
// filters add.
QRectF rangeBounds(const std::vector<Command>& commands, const std::vector<int>& partners, size_t from,
                   size_t to);

// The part of the target that must be redrawn when `previous` was drawn and
// `current` is to be drawn: the old and new places of everything that moved,
// changed, appeared, disappeared or changed stacking order. Empty when the two
// frames look the same; all of `target` when the background changed.
QRect dirtyRect(const CommandList& previous, const CommandList& current, const QRect& target);

} // namespace swf::render
