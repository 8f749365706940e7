// The skin layout and the title bar's behaviour.
#include "program_fixture.h"

#include <QStyleHints>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace platform;

namespace {

class LayoutTest : public ProgramTest {
protected:
    // Shows the window without loading it (no size limits), at a client size.
    void showAt(int width, int height) {
        frmMain& form = main();
        form.QWidget::show();
        form.setClientSize(width, height);
        settle();
        ASSERT_EQ(form.ScaleWidth(), width);
        ASSERT_EQ(form.ScaleHeight(), height);
    }
    QRgb skin(int x, int y) { return main().ImaMain->Picture()->pixel(x, y); }
    QRgb surface(int x, int y) { return main().surface().pixel(x, y); }
};

TEST_F(LayoutTest, SixHundredPixelsWidePutsTheButtonsAndTheRightEndAtTheEdge) {
    showAt(600, 450);
    frmMain& form = main();
    EXPECT_FLOAT_EQ(form.ImaMin->Left(), 490);
    EXPECT_FLOAT_EQ(form.ImaMax->Left(), 519);
    EXPECT_FLOAT_EQ(form.ImaClose->Left(), 548);
    EXPECT_FLOAT_EQ(form.ImaMin->Top(), 6);
    EXPECT_FLOAT_EQ(form.ImaIcon->Left(), 20);
    EXPECT_FLOAT_EQ(form.ImaIcon->Top(), 12);
    EXPECT_EQ(form.ImaBar->rect(), QRectF(0, 0, form.Width(), 40));  // the outer width in twips
    // The right end piece is painted 1:1 from column 172 of the skin at x 405.
    for (int x : {405, 450, 490 + 14, 548 + 14, 599})
        for (int y : {0, 8, 20, 39})
            EXPECT_EQ(surface(x, y), skin(x - 405 + 172, y)) << x << "," << y;
    // The left end is drawn at natural size.
    for (int x : {0, 6, 50, 99})
        EXPECT_EQ(surface(x, 20), skin(x, 20)) << x;
    // The player covers the body but a 10-pixel margin.
    EXPECT_EQ(form.swf->geometry(), QRect(10, 40, 580, 400));
}

TEST_F(LayoutTest, TheBodyIsTheSkinsBodyStretchedBelowTheBar) {
    showAt(649, 496);
    // The white area of the skin shows inside the frame; the frame at the left.
    EXPECT_LT(QColor(surface(5, 100)).green(), 0xF0);
    EXPECT_EQ(QColor(surface(100, 100)), QColor(0xFC, 0xFE, 0xFC));
    // Nothing of the window's ground colour is left uncovered at the bottom.
    EXPECT_NE(QColor(surface(300, 495)), main().BackColor());
}

TEST_F(LayoutTest, ATallWindowStillShowsTheFrameAtTheBottom) {
    showAt(640, 590);
    // Below the picture the body repeats its last row: the grey frame, not
    // the window's ground and not the white area.
    EXPECT_NE(QColor(surface(400, 589)), main().BackColor());
    EXPECT_LT(QColor(surface(400, 589)).green(), 0xF0);
}

TEST_F(LayoutTest, AtTheSmallestSizeTheBarEndsDoNotOverlapAndTheButtonsStayRightOfTheLink) {
    start();
    frmMain& form = main();
    form.resize(1, 1);
    settle();
    ASSERT_EQ(form.size(), QSize(611, 458));
    const float rightEnd = form.ScaleWidth() - 195;
    EXPECT_GE(rightEnd, 100);
    EXPECT_GT(form.ImaMin->Left(), form.lblNetFlash->Left() + form.lblNetFlash->Width());
    EXPECT_EQ(form.swf->geometry(), QRect(10, 40, int(form.ScaleWidth()) - 20, int(form.ScaleHeight()) - 50));
}

TEST_F(LayoutTest, WideningMovesTheButtonsWithTheEdgeWhileIconCaptionAndLinkStay) {
    start();
    frmMain& form = main();
    const QRectF caption = form.lblCption->rect(), link = form.lblNetFlash->rect(), icon = form.ImaIcon->rect();
    form.resize(form.width() + 150, form.height());
    settle();
    EXPECT_FLOAT_EQ(form.ImaClose->Left(), form.ScaleWidth() - 52);
    EXPECT_EQ(form.lblCption->rect(), caption);
    EXPECT_EQ(form.lblNetFlash->rect(), link);
    EXPECT_EQ(form.ImaIcon->rect(), icon);
}

TEST_F(LayoutTest, MinimisingEmptiesTheClientAreaAndRestoringLaysOutAgain) {
    start();
    frmMain& form = main();
    const QRect player = form.swf->geometry();
    form.ImaMin_MouseDown(vbLeftButton, 0, 0, 0);
    settle();
    EXPECT_EQ(form.WindowState(), vbMinimized);
    EXPECT_EQ(form.ScaleWidth(), 0);
    EXPECT_FLOAT_EQ(form.ImaMin->Left(), -110);
    EXPECT_FLOAT_EQ(form.ImaMax->Left(), -81);
    EXPECT_FLOAT_EQ(form.ImaClose->Left(), -52);
    EXPECT_EQ(form.swf->geometry().size(), player.size());  // negative sizes refused
    EXPECT_EQ(form.ImaMax->ToolTipText(), u"最大化");
    form.putWindowState(vbNormal);
    settle();
    EXPECT_EQ(form.WindowState(), vbNormal);
    EXPECT_FLOAT_EQ(form.ImaMin->Left(), form.ScaleWidth() - 110);
    EXPECT_EQ(form.swf->geometry(), player);
}

// ---- Title bar ----

class TitleBar : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        start();
    }
    // Which caption buttons show a picture, and whether it is the holder's own object.
    std::string lit() {
        frmMain& f = main();
        std::string state;
        state += f.ImaMin->Picture() ? (f.ImaMin->Picture() == f.ImaMin1->Picture() ? "M" : "?") : "-";
        state += f.ImaMax->Picture() ? (f.ImaMax->Picture() == f.ImaMax1->Picture() ? "X" : "?") : "-";
        state += f.ImaClose->Picture() ? (f.ImaClose->Picture() == f.ImaClose1->Picture() ? "C" : "?") : "-";
        return state;
    }
    void waitPastDoubleClick() { QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 30); }
};

TEST_F(TitleBar, HoverLightsExactlyOneButtonAndTheBarOrSurfaceRestoresThem) {
    frmMain& f = main();
    EXPECT_EQ(lit(), "---");
    moveTo(centreOf(*f.ImaMin));
    EXPECT_EQ(lit(), "M--");
    moveTo(centreOf(*f.ImaMax));  // straight from one button onto the next
    EXPECT_EQ(lit(), "-X-");
    moveTo(centreOf(*f.ImaClose));
    EXPECT_EQ(lit(), "--C");
    moveTo(QPointF(450, 20));  // the bar
    EXPECT_EQ(lit(), "---");
    moveTo(centreOf(*f.ImaMax));
    moveTo(QPointF(5, 200));  // bare surface beside the player
    EXPECT_EQ(lit(), "---");
}

TEST_F(TitleBar, LeavingALitButtonOntoAControlWithoutMoveHandlingKeepsItLit) {
    frmMain& f = main();
    moveTo(centreOf(*f.ImaClose));
    moveTo(centreOf(*f.lblCption));
    moveTo(centreOf(*f.ImaIcon));
    EXPECT_EQ(lit(), "--C");
    QMouseEvent overPlayer(QEvent::MouseMove, QPointF(50, 50), f.swf->mapToGlobal(QPointF(50, 50)), Qt::NoButton,
                           Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(f.swf.widget(), &overPlayer);
    EXPECT_EQ(lit(), "--C");
}

TEST_F(TitleBar, ShowHoverImageIgnoresUnknownModes) {
    frmMain& f = main();
    modMain::ShowHoverImage(f, *f.ImaMax, 2);
    for (std::int16_t mode : {0, 5, -1}) {
        modMain::ShowHoverImage(f, *f.ImaMin, mode);
        EXPECT_EQ(lit(), "-X-") << mode;
    }
}

TEST_F(TitleBar, RightAndMiddlePressesOnTheButtonsDoNothing) {
    frmMain& f = main();
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        for (auto* control : {f.ImaMin, f.ImaMax, f.ImaClose}) {
            waitPastDoubleClick();
            EXPECT_NO_THROW(press(centreOf(*control), button));
            settle();
            EXPECT_EQ(f.WindowState(), vbNormal);
            EXPECT_TRUE(f.isLoaded());
        }
    }
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
}

TEST_F(TitleBar, LeftPressesMinimiseAndToggleMaximise) {
    frmMain& f = main();
    press(centreOf(*f.ImaMax), Qt::LeftButton);
    settle();
    EXPECT_EQ(f.WindowState(), vbMaximized);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"还原");
    waitPastDoubleClick();
    press(centreOf(*f.ImaMax), Qt::LeftButton);  // the button has moved with the edge
    settle();
    EXPECT_EQ(f.WindowState(), vbNormal);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
    waitPastDoubleClick();
    press(centreOf(*f.ImaMin), Qt::LeftButton);
    settle();
    EXPECT_EQ(f.WindowState(), vbMinimized);
}

TEST_F(TitleBar, MinimisingAMaximisedWindowThenTheMaximiseButtonRestoresIt) {
    frmMain& f = main();
    f.ImaMax_MouseDown(vbLeftButton, 0, 0, 0);
    f.ImaMin_MouseDown(vbLeftButton, 0, 0, 0);
    settle();
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"还原");  // left alone by minimise
    f.putWindowState(vbMaximized);             // back from the taskbar
    settle();
    f.ImaMax_MouseDown(vbLeftButton, 0, 0, 0);
    settle();
    EXPECT_EQ(f.WindowState(), vbNormal);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
}

TEST_F(TitleBar, TheToggleReadsTheWindowStateNotTheTooltip) {
    frmMain& f = main();
    // Maximised by other means: the desktop.
    f.setWindowState(Qt::WindowMaximized);
    settle();
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
    press(centreOf(*f.ImaMax), Qt::LeftButton);
    settle();
    EXPECT_EQ(f.WindowState(), vbNormal);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
}

TEST_F(TitleBar, ADoubleClickOnTheBarMaximisesAndRestores) {
    frmMain& f = main();
    const QPointF bar(450, 20);  // between the link and the buttons
    press(bar, Qt::LeftButton);
    press(bar, Qt::LeftButton);
    settle();
    EXPECT_EQ(modMain::LastBarButton, 1);
    EXPECT_EQ(f.WindowState(), vbMaximized);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"还原");
    waitPastDoubleClick();
    press(bar, Qt::LeftButton);
    press(bar, Qt::LeftButton);
    settle();
    EXPECT_EQ(f.WindowState(), vbNormal);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
}

TEST_F(TitleBar, ARightPressOnTheBarRecordsTwoAndTheDoubleClickThatFollowsDoesNothing) {
    frmMain& f = main();
    const QPointF bar(450, 20);  // between the link and the buttons
    const QPoint before = f.pos();
    press(bar, Qt::RightButton);
    EXPECT_EQ(modMain::LastBarButton, 2);
    f.ImaBar_DblClick();
    settle();
    EXPECT_EQ(f.WindowState(), vbNormal);
    // A right press never starts a drag.
    mouse(QEvent::MouseButtonPress, bar, Qt::RightButton, Qt::RightButton);
    mouse(QEvent::MouseMove, bar + QPointF(40, 40), Qt::NoButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, bar + QPointF(40, 40), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(f.pos(), before);
    waitPastDoubleClick();
    press(bar, Qt::LeftButton);
    EXPECT_EQ(modMain::LastBarButton, 1);
}

TEST_F(TitleBar, ALeftDragOnTheBarMovesTheWindow) {
    frmMain& f = main();
    const QPoint before = f.pos();
    const QPointF bar(450, 20);  // between the link and the buttons
    QCursor::setPos(f.clientArea()->mapToGlobal(bar.toPoint()));
    mouse(QEvent::MouseButtonPress, bar, Qt::LeftButton, Qt::LeftButton);
    const QPoint global = f.clientArea()->mapToGlobal(bar.toPoint());
    for (QPoint step : {QPoint(10, 5), QPoint(30, 25)}) {
        QMouseEvent move(QEvent::MouseMove, bar + QPointF(step), QPointF(global + step), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.clientArea(), &move);
    }
    mouse(QEvent::MouseButtonRelease, bar, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(f.pos(), before + QPoint(30, 25));
    EXPECT_EQ(modMain::LastBarButton, 1);
}

}  // namespace
