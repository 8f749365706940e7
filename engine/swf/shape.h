#pragma once
// Shape definitions: fill and line styles, shape records, and the building
// of records into per-style paths (closed contours for fills, drawing-order
// strokes for lines). Morph shapes are interpolated here too.
#include "engine/swf/movie.h"
#include "engine/swf/records.h"

#include <memory>

namespace swf {

// DefineShape 1..4 (t.code tells which).
Result<std::shared_ptr<ShapeDef>> parseDefineShape(const TagContext& t);
// DefineMorphShape 1..2.
Result<std::shared_ptr<MorphShapeDef>> parseDefineMorphShape(const TagContext& t);

// A glyph: a SHAPE record stream without style arrays, read from `r` up to
// its end marker. Fill style 1 is the glyph's ink; the result has one layer
// with a single black solid fill. Returns false when the records are broken.
bool readGlyphShape(Reader& r, ShapeDef& out);

// Turns a record stream into layers of styled paths. `fills`/`lines` are the
// style arrays in force before the first record.
std::vector<ShapeLayer> buildShapeLayers(const std::vector<FillStyle>& fills,
                                         const std::vector<LineStyle>& lines,
                                         const std::vector<ShapeRecord>& records);

// The morph shape at `ratio01` (0 = start shape, 1 = end shape): records,
// styles and gradients interpolated. Edges pair up one for one; a straight
// edge paired with a curve becomes a curve with its control at the midpoint.
ShapeDef morphAt(const MorphShapeDef& morph, double ratio01);

} // namespace swf
