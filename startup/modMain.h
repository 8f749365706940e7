#pragma once
// The program's module: start-up, the notifier call, the main window's
// procedure and screen-size functions, the title-bar routines and the
// program-wide values.
#include "platform/controls.h"
#include "platform/win32.h"

#include <cstdint>
#include <optional>

class frmMain;

namespace modMain {

// The main window's previous procedure; 0 until the load installs ours.
inline platform::LONG_PTR lpPrevWndProc = 0;
// Button code of the latest press on the title bar.
inline std::int16_t LastBarButton = 0;

void Main();
void SendNotify();

platform::LRESULT WindowProc(platform::HWND hw, platform::UINT uMsg, platform::WPARAM wParam,
                             platform::LPARAM lParam);
// The primary screen's size in pixels as a signed 16-bit number; nullopt
// when it does not fit.
std::optional<std::int16_t> ScreenWidthPixels();
std::optional<std::int16_t> ScreenHeightPixels();

void ShowHoverImage(frmMain& window, platform::Image& button, std::int16_t mode);
void ToggleMaxRestore(frmMain& window);

}  // namespace modMain
