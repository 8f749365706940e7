#pragma once
// Process set-up shared by the fuzz targets.

namespace fuzzing {

// A QGuiApplication on the offscreen platform (text layout needs one), Qt's
// warnings silenced, and stored objects kept in a temporary folder rather
// than the user's own.
void initialise(int* argc, char*** argv);

} // namespace fuzzing
