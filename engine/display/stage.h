#pragma once
// The stage: where the movie's frame lands in the viewport. It holds the
// movie size, the scale mode, the alignment and the zoom view, and gives the
// matrix from movie twips to viewport pixels.
#include "engine/swf/types.h"

#include <cstdint>

namespace swf {

enum class ScaleMode { ShowAll = 0, NoBorder = 1, ExactFit = 2, NoScale = 3 };

// Alignment flags (SAlign letters L, R, T, B); none = centred.
namespace align {
enum : uint8_t { Left = 1, Right = 2, Top = 4, Bottom = 8 };
}

struct ViewRect {
    double x = 0, y = 0, w = 0, h = 0; // twips
};

class Stage {
public:
    void setMovieRect(const Rect& twips);
    void setViewport(int width, int height) { m_width = width; m_height = height; }
    int viewportWidth() const { return m_width; }
    int viewportHeight() const { return m_height; }
    void setScaleMode(ScaleMode m) { m_mode = m; }
    ScaleMode scaleMode() const { return m_mode; }
    void setAlign(uint8_t flags) { m_align = flags; }
    uint8_t alignFlags() const { return m_align; }

    // The view becomes `percent` % of the current view, about its centre;
    // 0 returns to the whole movie. Returns false when the view did not change.
    bool zoom(int percent);
    const ViewRect& view() const { return m_view; }
    bool zoomed() const;

    // Movie twips -> viewport pixels.
    Matrix matrix() const;

private:
    Rect m_movie;
    ViewRect m_view;
    int m_width = 0, m_height = 0;
    ScaleMode m_mode = ScaleMode::ShowAll;
    uint8_t m_align = 0;
};

// Parses an SAlign string ("", "L", "TR", "BL", ...) into flags.
uint8_t parseAlign(const char* text);

} // namespace swf
