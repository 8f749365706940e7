// Start-up, the stored window definition, the window procedure and unload.
#include "mainwindow/frmMain_definition.h"
#include "program_fixture.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace platform;

namespace {

struct StoredControl {
    const char16_t* name;
    QRectF place;
    bool visible;
    const char16_t* toolTip;
    QSize picture;  // empty: no picture
};

class StoredDefinition : public ProgramTest {};

TEST_F(StoredDefinition, ControlsStandAtTheirStoredPlacesBeforeTheFirstLayout) {
    const StoredControl expected[] = {
        {u"lblCption", {42, 14, 153, 17}, true, u"", {}},
        {u"ImaMain", {170, 76, 367, 304}, false, u"", {367, 304}},
        {u"lblNetFlash", {194, 14, 199, 17}, true, u"Tarnwick动画网 - flash.tarnwick.com", {}},
        {u"ImaMin", {308, 18, 29, 29}, true, u"最小化", {}},
        {u"ImaMax", {340, 18, 29, 29}, true, u"最大化", {}},
        {u"ImaClose", {372, 18, 29, 29}, true, u"关闭", {}},
        {u"ImaClose1", {198, 54, 29, 29}, false, u"", {29, 29}},
        {u"ImaMax1", {156, 58, 29, 29}, false, u"", {29, 29}},
        {u"ImaMin1", {96, 62, 29, 29}, false, u"", {29, 29}},
        {u"ImaIcon", {48, 62, 16, 16}, true, u"", {16, 16}},
        {u"ImaBar", {12, 18, 404, 22}, true, u"", {}},
    };
    frmMain& form = main();
    for (const auto& e : expected) {
        SCOPED_TRACE(QString::fromUtf16(e.name).toStdString());
        WindowlessControl* control = form.controlNamed(QStringView(e.name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->rect(), e.place);
        EXPECT_EQ(control->Visible(), e.visible);
        EXPECT_EQ(control->ToolTipText(), QString::fromUtf16(e.toolTip));
        if (auto* image = dynamic_cast<Image*>(control)) {
            EXPECT_EQ(image->Picture() ? image->Picture()->size() : QSize(), e.picture);
        }
    }
    EXPECT_EQ(form.swf->geometry(), QRect(56, 160, 171, 149));
    EXPECT_EQ(form.size(), QSize(649, 496));  // no frame yet: the client size
    EXPECT_EQ(form.Caption(), u"[菜单] Swiftreel");
    EXPECT_EQ(form.lblCption->Caption(), form.Caption());
    EXPECT_EQ(form.lblCption->ForeColor(), QColor(0, 0, 255));
    EXPECT_EQ(form.lblNetFlash->ForeColor(), QColor(255, 0, 0));
    EXPECT_EQ(form.lblNetFlash->Caption(), u"[更多精彩Flash：Tarnwick动画网]");
    EXPECT_EQ(form.lblNetFlash->Alignment(), Qt::AlignHCenter);
    EXPECT_FALSE(form.windowIcon().isNull());
    // Stacking order: the labels and buttons lie above the bar.
    EXPECT_EQ(form.controlAt(QPointF(50, 20)), form.lblCption);
    EXPECT_EQ(form.controlAt(QPointF(20, 20)), form.ImaBar);
    // The hidden holders never take the pointer, even over the player.
    EXPECT_EQ(form.controlAt(QPointF(200, 200)), nullptr);
}

TEST_F(StoredDefinition, PointersHaveTheirHotSpots) {
    frmMain& form = main();
    ASSERT_TRUE(form.lblCption->MouseIcon());
    ASSERT_TRUE(form.lblNetFlash->MouseIcon());
    ASSERT_TRUE(form.ImaIcon->MouseIcon());
    EXPECT_EQ(form.lblCption->MouseIcon()->hotSpot(), QPoint(12, 1));
    EXPECT_EQ(form.lblNetFlash->MouseIcon()->hotSpot(), QPoint(12, 1));
    EXPECT_EQ(form.ImaIcon->MouseIcon()->hotSpot(), QPoint(12, 9));
    EXPECT_EQ(form.lblCption->MouseIcon()->pixmap().size(), QSize(32, 32));
    EXPECT_FALSE(form.ImaBar->MouseIcon());
}

TEST_F(StoredDefinition, ThePlayerStartsWithTheStoredSettings) {
    const auto& s = main().swf->settings();
    EXPECT_EQ(s.wmode, u"Window");
    EXPECT_TRUE(s.play);
    EXPECT_TRUE(s.loop);
    EXPECT_EQ(s.quality, u"High");
    EXPECT_TRUE(s.menu);
    EXPECT_EQ(s.allowScriptAccess, u"always");
    EXPECT_EQ(s.scale, u"ShowAll");
    EXPECT_EQ(s.allowNetworking, u"all");
    EXPECT_EQ(s.allowFullScreen, u"false");
    EXPECT_TRUE(s.movie.isEmpty());
}

// What the player held when the window first became visible.
struct AtShow : QObject {
    bool seen = false;
    int scaleMode = -1;
    bool playing = false;
    QString movie;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show && !seen) {
            seen = true;
            scaleMode = frmMain::instance().swf->scaleMode();
            playing = frmMain::instance().swf->playing();
            movie = frmMain::instance().swf->movie();
        }
        return false;
    }
};

TEST_F(ProgramTest, LoadPutsScaleModeAndPlayingBeforeTheWindowShowsAndTheMovieAfter) {
    frmMain& form = main();
    form.swf->putScaleMode(3);  // so that the load's own values can be seen
    form.swf->putPlaying(false);
    AtShow atShow;
    form.installEventFilter(&atShow);
    const QStringList arguments{u"\"my movie.swf\""_s, u""_s, u"x "_s};
    start(arguments);
    ASSERT_TRUE(atShow.seen);
    EXPECT_EQ(atShow.scaleMode, 0);
    EXPECT_TRUE(atShow.playing);
    EXPECT_EQ(atShow.movie, u"");
    EXPECT_EQ(form.swf->movie(), u"\"my movie.swf\"  x ");  // unchanged: quotes, blanks and all
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.cdg.Filter, u"*.swf|*.swf");
}

TEST_F(ProgramTest, WithoutArgumentsThePlayerStaysEmpty) {
    start();
    EXPECT_TRUE(main().isVisible());
    EXPECT_EQ(main().swf->movie(), u"");
    EXPECT_EQ(main().swf->scaleMode(), 0);
}

TEST_F(ProgramTest, TheWindowIsCentredCaptionlessWithItsOwnSizingFrame) {
    start();
    frmMain& form = main();
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_STYLE), 0xE0000);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form.clientArea()->size(), QSize(649, 496));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(form.geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(form.geometry().center().y() - screen.center().y()), 1);
    // The player is the only control that takes the focus.
    EXPECT_EQ(form.swf->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(form.clientArea()->focusProxy(), form.swf.widget());
    EXPECT_EQ(form.focusProxy(), form.swf.widget());
}

TEST_F(ProgramTest, ASecondInstanceShowsItsMessageAndEndsBeforeAnythingElse) {
    const QString lockPath = App::instanceLockPath();
    QProcess holder;
    holder.start(u"flock"_s, {u"-o"_s, lockPath, u"sleep"_s, u"20"_s});
    ASSERT_TRUE(holder.waitForStarted());
    for (int i = 0; i < 200; ++i) {  // until the other "instance" holds the lock
        const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        if (held)
            break;
        QTest::qWait(10);
    }
    frmMain& form = main();
    form.swf->putScaleMode(3);
    const auto box = captureNextMessageBox();
    platform::App::setArguments({u"/tmp/other.swf"_s});
    EXPECT_THROW(modMain::Main(), ProgramEnded);
    holder.kill();
    holder.waitForFinished();
    EXPECT_EQ(box->text, u"程序已经运行！");
    EXPECT_EQ(box->title, u"Swiftreel");
    EXPECT_EQ(box->icon, QMessageBox::Information);
    EXPECT_EQ(box->buttons, QMessageBox::Ok);
    // Nothing else of the load ran and the window never showed.
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_STYLE), platform::Form::kBorderlessStyle);
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_EQ(modMain::lpPrevWndProc, 0);
    EXPECT_EQ(form.swf->scaleMode(), 3);
    EXPECT_EQ(form.swf->movie(), u"");
    EXPECT_EQ(form.cdg.Filter, u"");
}

TEST_F(ProgramTest, UnloadPutsThePreviousProcedureBack) {
    start();
    frmMain& form = main();
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&modMain::WindowProc));
    EXPECT_EQ(modMain::lpPrevWndProc, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_TRUE(form.Unload());
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_FALSE(form.isVisible());
}

TEST_F(ProgramTest, ClosingThroughTheDesktopUnloadsTheWindowAndEndsTheProgram) {
    start();
    frmMain& form = main();
    frmMenu::instance().mnuFile();  // the menu window is loaded too
    bool unloaded = false;
    QObject::connect(&form, &platform::Form::unloaded, [&] { unloaded = true; });
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(unloaded);  // the entry point quits its loop on this signal
    EXPECT_FALSE(form.isLoaded());
    EXPECT_EQ(GetWindowLongA(form.hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
}

TEST_F(ProgramTest, TheWindowAppliesTheProceduresSizeLimits) {
    start();
    const auto width = modMain::ScreenWidthPixels();
    const auto height = modMain::ScreenHeightPixels();
    ASSERT_TRUE(width && height);
    EXPECT_EQ(main().minimumSize(), QSize(611, 458));
    EXPECT_EQ(main().maximumSize(), QSize(*width + 30, *height + 3));
    main().resize(100, 100);
    EXPECT_EQ(main().size(), QSize(611, 458));
}

// ---- WindowProc ----

struct Passed {
    int calls = 0;
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
Passed g_passed;
LRESULT previousProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_passed = {g_passed.calls + 1, hwnd, msg, wParam, lParam};
    return -77;
}

MINMAXINFO systemFilled() {
    return MINMAXINFO{{101, 102}, {103, 104}, {-8, -9}, {105, 106}, {107, 108}};
}

struct ScreenCase {
    const char* name;
    int width, height;
    double dpi;
    bool answered;
    POINT maxTrack;
};

class WindowProcLimits : public ProgramTest, public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(WindowProcLimits, AnswersTheSizeQueryItself) {
    const auto& c = GetParam();
    Screen::overrideForTests(Screen::Metrics{c.width, c.height, c.dpi, c.dpi});
    modMain::lpPrevWndProc = reinterpret_cast<LONG_PTR>(&previousProc);
    g_passed = {};
    MINMAXINFO info = systemFilled();
    const LRESULT result = modMain::WindowProc(main().hWnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    const MINMAXINFO before = systemFilled();
    EXPECT_EQ(info.ptReserved.x, before.ptReserved.x);
    EXPECT_EQ(info.ptReserved.y, before.ptReserved.y);
    EXPECT_EQ(info.ptMaxSize.x, before.ptMaxSize.x);
    EXPECT_EQ(info.ptMaxSize.y, before.ptMaxSize.y);
    EXPECT_EQ(info.ptMaxPosition.x, before.ptMaxPosition.x);
    EXPECT_EQ(info.ptMaxPosition.y, before.ptMaxPosition.y);
    if (c.answered) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(g_passed.calls, 0);  // never passed on
        EXPECT_EQ(info.ptMinTrackSize.x, 611);
        EXPECT_EQ(info.ptMinTrackSize.y, 458);
        EXPECT_EQ(info.ptMaxTrackSize.x, c.maxTrack.x);
        EXPECT_EQ(info.ptMaxTrackSize.y, c.maxTrack.y);
    } else {
        // Too large for 16 bits: the structure stays as the system filled it.
        EXPECT_EQ(info.ptMinTrackSize.x, before.ptMinTrackSize.x);
        EXPECT_EQ(info.ptMinTrackSize.y, before.ptMinTrackSize.y);
        EXPECT_EQ(info.ptMaxTrackSize.x, before.ptMaxTrackSize.x);
        EXPECT_EQ(info.ptMaxTrackSize.y, before.ptMaxTrackSize.y);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Screens, WindowProcLimits,
    ::testing::Values(ScreenCase{"xga_96dpi", 1024, 768, 96, true, {1054, 771}},
                      ScreenCase{"xga_120dpi", 1024, 768, 120, true, {1054, 771}},
                      ScreenCase{"full_hd_144dpi", 1920, 1080, 144, true, {1950, 1083}},
                      ScreenCase{"widest_that_fits", 32737, 768, 96, true, {32767, 771}},
                      ScreenCase{"tallest_that_fits", 1024, 32764, 96, true, {1054, 32767}},
                      ScreenCase{"width_overflows", 32738, 768, 96, false, {}},
                      ScreenCase{"height_overflows", 1024, 32765, 96, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, WindowProcPassesEveryOtherMessageOnUnchanged) {
    modMain::lpPrevWndProc = reinterpret_cast<LONG_PTR>(&previousProc);
    const std::pair<UINT, WPARAM> messages[] = {{WM_NCLBUTTONDOWN, HTCAPTION}, {0x0005, 0x12}, {0x0214, 8}};
    for (const auto& [msg, wParam] : messages) {
        g_passed = {};
        const LRESULT result = modMain::WindowProc(main().hWnd(), msg, wParam, -123456789);
        EXPECT_EQ(result, -77);
        EXPECT_EQ(g_passed.calls, 1);
        EXPECT_EQ(g_passed.hwnd, main().hWnd());
        EXPECT_EQ(g_passed.msg, msg);
        EXPECT_EQ(g_passed.wParam, wParam);
        EXPECT_EQ(g_passed.lParam, -123456789);
    }
}

TEST_F(ProgramTest, ScreenSizeInPixelsIsTheSameAtAnyDpi) {
    for (double dpi : {96.0, 120.0, 144.0}) {
        Screen::overrideForTests(Screen::Metrics{1366, 768, dpi, dpi});
        EXPECT_EQ(modMain::ScreenWidthPixels(), std::optional<std::int16_t>(1366)) << dpi;
        EXPECT_EQ(modMain::ScreenHeightPixels(), std::optional<std::int16_t>(768)) << dpi;
    }
}

}  // namespace
