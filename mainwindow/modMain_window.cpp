// The main window's procedure, the screen-size functions and the title-bar
// routines of modMain.
#include "mainwindow/frmMain.h"
#include "platform/app.h"
#include "startup/modMain.h"

#include <cmath>

using namespace Qt::StringLiterals;
using namespace platform;

namespace modMain {
namespace {

constexpr POINT kMinTrackSize{611, 458};
// The largest window is the screen plus these many pixels.
constexpr std::int16_t kMaxTrackExtraWidth = 30;
constexpr std::int16_t kMaxTrackExtraHeight = 3;

// Rounds to the nearest signed 16-bit integer, halves to even; nullopt on overflow.
std::optional<std::int16_t> toInt16(double value) {
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

std::optional<std::int16_t> add16(std::optional<std::int16_t> a, std::int16_t b) {
    if (!a)
        return std::nullopt;
    const int sum = int(*a) + int(b);
    if (sum < -32768 || sum > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(sum);
}

}  // namespace

LRESULT WindowProc(HWND hw, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_GETMINMAXINFO) {
        MINMAXINFO MinMax;
        RtlMoveMemory(&MinMax, reinterpret_cast<const void*>(lParam), sizeof MinMax);
        MinMax.ptMinTrackSize = kMinTrackSize;
        const auto maxX = add16(ScreenWidthPixels(), kMaxTrackExtraWidth);
        const auto maxY = maxX ? add16(ScreenHeightPixels(), kMaxTrackExtraHeight) : std::nullopt;
        if (!maxX || !maxY) {
            // A screen too large for 16 bits: the structure stays as the
            // system filled it, and the system's own answer stands.
            return CallWindowProcA(lpPrevWndProc, hw, uMsg, wParam, lParam);
        }
        MinMax.ptMaxTrackSize = {*maxX, *maxY};
        RtlMoveMemory(reinterpret_cast<void*>(lParam), &MinMax, sizeof MinMax);
        return 1;
    }
    return CallWindowProcA(lpPrevWndProc, hw, uMsg, wParam, lParam);
}

std::optional<std::int16_t> ScreenWidthPixels() {
    const float twipsPerPixel = Screen::TwipsPerPixelX();
    const float width = Screen::Width();
    return toInt16(double(width) / double(twipsPerPixel));
}

std::optional<std::int16_t> ScreenHeightPixels() {
    const float twipsPerPixel = Screen::TwipsPerPixelY();
    const float height = Screen::Height();
    return toInt16(double(height) / double(twipsPerPixel));
}

void ShowHoverImage(frmMain& window, Image& button, std::int16_t mode) {
    switch (mode) {
    case 1: button.putPicture(window.ImaMin1->Picture()); break;
    case 2: button.putPicture(window.ImaMax1->Picture()); break;
    case 3: button.putPicture(window.ImaClose1->Picture()); break;
    case 4:
        window.ImaMin->putPicture(nullptr);
        window.ImaMax->putPicture(nullptr);
        window.ImaClose->putPicture(nullptr);
        break;
    default: break;
    }
}

void ToggleMaxRestore(frmMain& window) {
    if (window.WindowState() == vbNormal) {
        window.putWindowState(vbMaximized);
        window.ImaMax->putToolTipText(u"还原"_s);
    } else {
        window.putWindowState(vbNormal);
        window.ImaMax->putToolTipText(u"最大化"_s);
    }
}

}  // namespace modMain
