#pragma once
// The handful of Windows user-interface types and calls the program uses,
// carried over to Qt. A window handle names a platform::Form; each window has
// a style word and a window procedure that can be replaced, so a program may
// chain its own procedure in front of the default one as on Windows.
#include <cstddef>
#include <cstdint>

namespace platform {

class Form;

using UINT = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
// Window procedures and style words are pointer-sized: an address must never
// be cut to 32 bits on a 64-bit system.
using LONG_PTR = std::intptr_t;

struct WindowRecord;
using HWND = WindowRecord*;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// What a handle points at: the form, its style word and its current procedure.
struct WindowRecord {
    Form* form = nullptr;
    LONG_PTR style = 0;
    WNDPROC proc = nullptr;
};

struct POINT {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct MINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};
static_assert(sizeof(MINMAXINFO) == 40, "MINMAXINFO is 40 bytes as on Windows");

inline constexpr int GWL_WNDPROC = -4;
inline constexpr int GWL_STYLE = -16;

inline constexpr UINT WM_GETMINMAXINFO = 0x24;
inline constexpr UINT WM_NCLBUTTONDOWN = 0xA1;
inline constexpr WPARAM HTCAPTION = 2;

inline constexpr LONG_PTR WS_POPUP = 0x80000000;
inline constexpr LONG_PTR WS_CLIPSIBLINGS = 0x04000000;
inline constexpr LONG_PTR WS_CLIPCHILDREN = 0x02000000;
inline constexpr LONG_PTR WS_CAPTION = 0x00C00000;
inline constexpr LONG_PTR WS_SYSMENU = 0x00080000;
inline constexpr LONG_PTR WS_THICKFRAME = 0x00040000;
inline constexpr LONG_PTR WS_MINIMIZEBOX = 0x00020000;
inline constexpr LONG_PTR WS_MAXIMIZEBOX = 0x00010000;

inline constexpr UINT SWP_NOSIZE = 0x1;
inline constexpr UINT SWP_NOMOVE = 0x2;
inline constexpr UINT SWP_NOZORDER = 0x4;
inline constexpr UINT SWP_FRAMECHANGED = 0x20;

inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

// Replaces a window's style word (GWL_STYLE) or procedure (GWL_WNDPROC) and
// returns the previous value; 0 for an unknown handle, index or a null procedure.
LONG_PTR SetWindowLongA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
LONG_PTR GetWindowLongA(HWND hWnd, int nIndex);

// Only SWP_FRAMECHANGED has an effect here: the style word is applied to the
// window (caption or none, sizing frame or none). Position and size are kept.
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);

LRESULT CallWindowProcA(LONG_PTR lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// The default procedure: WM_NCLBUTTONDOWN with HTCAPTION starts the window
// manager's own move of the window; everything else is answered with 0 and
// leaves what lParam points at as the system filled it.
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

BOOL ReleaseCapture();
void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length);

// Opens an http, https or mailto address with the desktop's handler. Strings
// come in the local 8-bit encoding. Returns a value above 32 on success.
// Other schemes are refused (a movie or a caller cannot start programs).
std::intptr_t ShellExecuteA(HWND hwnd, const char* lpOperation, const char* lpFile, const char* lpParameters,
                            const char* lpDirectory, int nShowCmd);

}  // namespace platform
