#include "engine/display/stage.h"

#include "engine/core/limits.h"

#include <algorithm>
#include <cctype>

namespace swf {

namespace {

// The whole movie as the view shows it: the frame counts in whole pixels (at
// least one), so a movie a fraction of a pixel wider than its window still
// shows at scale 1.
ViewRect wholeMovie(const Rect& movie) {
    auto whole = [](int32_t twips) { return double(std::max<int64_t>(1, (int64_t(twips) + 10) / 20) * 20); };
    return {double(movie.xMin), double(movie.yMin), whole(movie.width()), whole(movie.height())};
}

} // namespace

void Stage::setMovieRect(const Rect& twips) {
    m_movie = twips;
    m_view = wholeMovie(twips);
}

bool Stage::zoom(int percent) {
    const ViewRect whole = wholeMovie(m_movie);
    ViewRect next = whole;
    if (percent > 0) {
        double f = percent / 100.0;
        // The view stays between 1/kMaxZoom and kMaxZoom times the whole movie.
        double scale = std::clamp(m_view.w * f / whole.w, 1.0 / limits::kMaxZoom, double(limits::kMaxZoom));
        double cx = m_view.x + m_view.w / 2, cy = m_view.y + m_view.h / 2;
        next.w = whole.w * scale;
        next.h = whole.h * scale;
        next.x = cx - next.w / 2;
        next.y = cy - next.h / 2;
    } else if (percent < 0) {
        return false;
    }
    bool changed = next.x != m_view.x || next.y != m_view.y || next.w != m_view.w || next.h != m_view.h;
    m_view = next;
    return changed;
}

bool Stage::zoomed() const {
    const ViewRect whole = wholeMovie(m_movie);
    return m_view.w != whole.w || m_view.h != whole.h || m_view.x != whole.x || m_view.y != whole.y;
}

Matrix Stage::matrix() const {
    if (m_width <= 0 || m_height <= 0 || m_view.w <= 0 || m_view.h <= 0) return Matrix{0.05, 0, 0, 0.05, 0, 0};
    double sx = m_width / m_view.w, sy = m_height / m_view.h; // pixels per twip
    switch (m_mode) {
    case ScaleMode::ShowAll: sx = sy = std::min(sx, sy); break;
    case ScaleMode::NoBorder: sx = sy = std::max(sx, sy); break;
    case ScaleMode::ExactFit: break;
    case ScaleMode::NoScale: {
        // One movie pixel per screen pixel at the whole view; zoom still scales.
        double z = wholeMovie(m_movie).w / m_view.w;
        sx = sy = z / 20.0;
        break;
    }
    }
    double spareX = m_width - m_view.w * sx, spareY = m_height - m_view.h * sy;
    double fx = (m_align & align::Left) ? 0 : (m_align & align::Right) ? 1 : 0.5;
    double fy = (m_align & align::Top) ? 0 : (m_align & align::Bottom) ? 1 : 0.5;
    double ox = spareX * fx, oy = spareY * fy;
    return Matrix{sx, 0, 0, sy, ox - m_view.x * sx, oy - m_view.y * sy};
}

uint8_t parseAlign(const char* text) {
    uint8_t flags = 0;
    for (const char* p = text; p && *p; ++p) {
        switch (std::toupper(uint8_t(*p))) {
        case 'L': flags |= align::Left; break;
        case 'R': flags |= align::Right; break;
        case 'T': flags |= align::Top; break;
        case 'B': flags |= align::Bottom; break;
        default: break;
        }
    }
    return flags;
}

} // namespace swf
