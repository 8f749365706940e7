#include "platform/win32.h"

#include "platform/form.h"

#include <QWidget>

#include <cstring>

namespace platform {

LONG_PTR SetWindowLongA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    if (!hWnd)
        return 0;
    switch (nIndex) {
    case GWL_STYLE: {
        const LONG_PTR previous = hWnd->style;
        hWnd->style = dwNewLong;
        return previous;
    }
    case GWL_WNDPROC: {
        if (dwNewLong == 0)
            return 0;
        const LONG_PTR previous = reinterpret_cast<LONG_PTR>(hWnd->proc);
        hWnd->proc = reinterpret_cast<WNDPROC>(dwNewLong);
        return previous;
    }
    default:
        return 0;
    }
}

LONG_PTR GetWindowLongA(HWND hWnd, int nIndex) {
    if (!hWnd)
        return 0;
    if (nIndex == GWL_STYLE)
        return hWnd->style;
    if (nIndex == GWL_WNDPROC)
        return reinterpret_cast<LONG_PTR>(hWnd->proc);
    return 0;
}

BOOL SetWindowPos(HWND hWnd, HWND, int, int, int, int, UINT uFlags) {
    if (!hWnd || !hWnd->form)
        return 0;
    if (uFlags & SWP_FRAMECHANGED)
        hWnd->form->applyStyle();
    return 1;
}

LRESULT CallWindowProcA(LONG_PTR lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    const auto proc = reinterpret_cast<WNDPROC>(lpPrevWndFunc);
    return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!hWnd || !hWnd->proc)
        return 0;
    return hWnd->proc(hWnd, Msg, wParam, lParam);
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM) {
    if (Msg == WM_NCLBUTTONDOWN && wParam == HTCAPTION && hWnd && hWnd->form)
        hWnd->form->beginCaptionMove();
    return 0;
}

BOOL ReleaseCapture() {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    return 1;
}

void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
    std::memmove(Destination, Source, Length);
}

}  // namespace platform
