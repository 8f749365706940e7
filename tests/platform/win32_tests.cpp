// The window-procedure chain, the style word and the caption move.
#include "platform/form.h"
#include "platform/win32.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace platform;

namespace {

struct Recorded {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    int calls = 0;
};
Recorded g_recorded;

LRESULT recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_recorded = {hwnd, msg, wParam, lParam, g_recorded.calls + 1};
    return 0x1234;
}

TEST(WindowProcedureChain, SetWindowLongReturnsThePreviousProcedureWithItsFullAddress) {
    Form form;
    const LONG_PTR previous = SetWindowLongA(form.hWnd(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
    EXPECT_EQ(previous, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&recordingProc));
    // Code addresses of a position-independent 64-bit program lie above 4 GiB:
    // a 32-bit copy would lose them.
    if constexpr (sizeof(void*) == 8) {
        EXPECT_GT(static_cast<std::uint64_t>(previous), 0xFFFFFFFFull);
    }
    EXPECT_EQ(SetWindowLongA(form.hWnd(), GWL_WNDPROC, previous), reinterpret_cast<LONG_PTR>(&recordingProc));
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
}

TEST(WindowProcedureChain, ANullProcedureIsRefused) {
    Form form;
    EXPECT_EQ(SetWindowLongA(form.hWnd(), GWL_WNDPROC, 0), 0);
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
}

TEST(WindowProcedureChain, SendMessageAndCallWindowProcPassAllFourArgumentsAndTheResult) {
    Form form;
    SetWindowLongA(form.hWnd(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
    g_recorded = {};
    EXPECT_EQ(SendMessageA(form.hWnd(), 0x400, 7, -9), 0x1234);
    EXPECT_EQ(g_recorded.hwnd, form.hWnd());
    EXPECT_EQ(g_recorded.msg, 0x400u);
    EXPECT_EQ(g_recorded.wParam, 7u);
    EXPECT_EQ(g_recorded.lParam, -9);
    EXPECT_EQ(CallWindowProcA(reinterpret_cast<LONG_PTR>(&recordingProc), form.hWnd(), 0x401, 1, 2), 0x1234);
    EXPECT_EQ(g_recorded.calls, 2);
    EXPECT_EQ(g_recorded.msg, 0x401u);
}

TEST(WindowStyle, ACaptionlessSizingStyleMakesAFramelessWindowWithItsOwnFrameAroundTheSameClient) {
    Form form;
    form.setClientSize(300, 200);
    EXPECT_EQ(form.size(), QSize(300, 200));
    const LONG_PTR old = SetWindowLongA(form.hWnd(), GWL_STYLE, WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX);
    EXPECT_EQ(old, Form::kBorderlessStyle);
    // The style takes effect only with the frame change.
    EXPECT_EQ(form.size(), QSize(300, 200));
    EXPECT_EQ(SetWindowPos(form.hWnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED), 1);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form.frameWidth(), Form::kSizingFrame);
    EXPECT_EQ(form.size(), QSize(300 + 2 * Form::kSizingFrame, 200 + 2 * Form::kSizingFrame));
}

LRESULT limitsProc(HWND, UINT msg, WPARAM, LPARAM lParam) {
    if (msg == WM_GETMINMAXINFO) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {320, 240};
        info->ptMaxTrackSize = {700, 500};
        return 1;
    }
    return 0;
}

TEST(WindowStyle, TheSizeLimitsComeFromTheWindowProcedure) {
    Form form;
    SetWindowLongA(form.hWnd(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&limitsProc));
    form.queryMinMaxInfo();
    EXPECT_EQ(form.minimumSize(), QSize(320, 240));
    EXPECT_EQ(form.maximumSize(), QSize(700, 500));
    form.resize(100, 100);
    EXPECT_EQ(form.size(), QSize(320, 240));
}

TEST(CaptionMove, WithoutAWindowManagerTheWindowFollowsThePointerUntilRelease) {
    Form form;
    form.setClientSize(300, 200);
    form.move(100, 100);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QWidget* client = form.clientArea();
    QCursor::setPos(form.mapToGlobal(QPoint(50, 10)));
    SendMessageA(form.hWnd(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
    const QPoint start = form.pos();
    const auto moveTo = [&](QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent move(QEvent::MouseMove, client->mapFromGlobal(QPointF(global)), QPointF(global), Qt::NoButton,
                         buttons, Qt::NoModifier);
        QApplication::sendEvent(client, &move);
    };
    const QPoint pressed = form.mapToGlobal(QPoint(50, 10));
    moveTo(pressed + QPoint(30, 20), Qt::LeftButton);
    moveTo(pressed + QPoint(60, 40), Qt::LeftButton);
    EXPECT_EQ(form.pos(), start + QPoint(60, 40));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), QPointF(pressed + QPoint(60, 40)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(client, &release);
    moveTo(pressed + QPoint(200, 200), Qt::NoButton);
    EXPECT_EQ(form.pos(), start + QPoint(60, 40));
}

TEST(CaptionMove, AClickWithoutMovementMovesNothing) {
    Form form;
    form.setClientSize(300, 200);
    form.move(100, 100);
    form.show();
    SendMessageA(form.hWnd(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), QPointF(110, 110), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form.clientArea(), &release);
    EXPECT_EQ(form.pos(), QPoint(100, 100));
}

TEST(Memory, RtlMoveMemoryCopiesTheWholeStructure) {
    MINMAXINFO from{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}};
    MINMAXINFO to{};
    RtlMoveMemory(&to, &from, sizeof to);
    EXPECT_EQ(to.ptReserved.y, 2);
    EXPECT_EQ(to.ptMaxTrackSize.x, 9);
    EXPECT_EQ(to.ptMaxTrackSize.y, 10);
}

}  // namespace
