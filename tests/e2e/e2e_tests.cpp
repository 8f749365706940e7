// The real program on a desktop with a window manager, driven like a person
// would: pointer, clicks and keys, checked by window facts and screenshots.
#include "desktop.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "e2e_tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

const QString kMainWindow = u"^\\[菜单\\] Swiftreel$"_s;
constexpr int kFrame = 4;
const QSize kClient(649, 496);

// Where to keep screenshots for a person to look at (optional).
QString shotPath(const char* name) {
    const QByteArray dir = qgetenv("SWIFTREEL_E2E_SHOTS");
    return dir.isEmpty() ? QString() : QString::fromLocal8Bit(dir) + u'/' + QString::fromLatin1(name) + u".png"_s;
}

bool near(QRgb a, QRgb b, int tolerance = 24) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("SWIFTREEL_TEST_DESKTOP"))
            GTEST_SKIP() << "needs the test desktop (run through test.sh)";
        desktop = std::make_unique<Desktop>();
        ASSERT_TRUE(desktop->ready()) << "Xvfb and openbox did not start";
    }
    void TearDown() override {
        for (auto& p : programs)
            if (p && p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        programs.clear();
        desktop.reset();
    }
    // Starts the program and waits for its main window.
    QString launch(const QStringList& arguments = {}) {
        programs.push_back(desktop->startProgram(arguments));
        const QString id = desktop->waitForWindow(kMainWindow, 20000);
        if (id.isEmpty()) {
            ADD_FAILURE() << "no main window; program state " << programs.back()->state() << ", exit code "
                          << programs.back()->exitCode();
            return id;
        }
        // Until the first layout has painted the green bar (slow on a busy machine).
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            const QRgb bar = desktop->screenshot().pixel(client(id) + QPoint(300, 28));
            if (qGreen(bar) > qRed(bar) + 20)
                break;
            Desktop::pause(200);
        }
        Desktop::pause(200);
        return id;
    }
    QProcess& program(int i = 0) { return *programs.at(i); }
    QPoint client(const QString& window) { return desktop->geometry(window).topLeft() + QPoint(kFrame, kFrame); }
    bool ended(QProcess& process, int timeoutMs = 5000) {
        QElapsedTimer clock;
        clock.start();
        while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs)
            Desktop::pause(50);
        return process.state() == QProcess::NotRunning;
    }

    // Writes a movie of `frames` frames whose first frame runs `script`.
    QString writeMovie(const char* name, const avm1test::Asm& script, int frames = 1) {
        swf::test::SwfWriter w(8, {0, 200 * 20, 0, 150 * 20}, 12);
        w.doAction(script.bytes()).showFrame();
        for (int i = 1; i < frames; ++i) w.showFrame();
        const QString path = movies.filePath(QString::fromLatin1(name));
        QFile file(path);
        const swf::test::Bytes bytes = w.bytes();
        if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size()))
            ADD_FAILURE() << "cannot write " << path.toStdString();
        return path;
    }
    // The program's windows on screen (its popup menus included).
    int visibleWindows(QProcess& process) {
        return int(desktop->run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(process.processId())})
                       .split(u'\n', Qt::SkipEmptyParts)
                       .size());
    }

    std::unique_ptr<Desktop> desktop;
    std::vector<std::unique_ptr<QProcess>> programs;
    QTemporaryDir movies;
};

TEST_F(EndToEnd, TheWindowIsCaptionlessCentredAndPaintedWithItsSkin) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QRect outer = desktop->geometry(id);
    EXPECT_EQ(outer.size(), kClient + QSize(2 * kFrame, 2 * kFrame));
    EXPECT_LE(std::abs(outer.center().x() - 640), 1);
    EXPECT_LE(std::abs(outer.center().y() - 512), 1);
    EXPECT_TRUE(desktop->property(id, u"_NET_FRAME_EXTENTS"_s).endsWith(u"0, 0, 0, 0"_s))
        << desktop->property(id, u"_NET_FRAME_EXTENTS"_s).toStdString();
    EXPECT_TRUE(desktop->property(id, u"_NET_WM_NAME"_s).contains(u"\"[菜单] Swiftreel\""_s));
    const QImage shot = desktop->screenshot(shotPath("window"));
    const QPoint c = client(id);
    // The green bar, the dark-green caption buttons, the white body.
    const QRgb bar = shot.pixel(c + QPoint(300, 28));
    EXPECT_GT(qGreen(bar), qRed(bar) + 20);
    for (int x : {kClient.width() - 110, kClient.width() - 81, kClient.width() - 52}) {
        const QRgb disc = shot.pixel(c + QPoint(x + 8, 26));  // inside the disc, beside the glyph
        EXPECT_GT(qGreen(disc), qRed(disc)) << x;
        EXPECT_LT(qGreen(disc), 0xB0) << x;
    }
    EXPECT_TRUE(near(shot.pixel(c + QPoint(4, 200)), qRgb(0xD0, 0xD7, 0xD0), 30));
}

TEST_F(EndToEnd, TheFrameResizesDownToTheMinimumAndNoFurther) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QRect outer = desktop->geometry(id);
    desktop->drag(outer.bottomRight() - QPoint(1, 1), outer.topLeft() + QPoint(50, 50));
    const QRect small = desktop->settledGeometry(id);
    EXPECT_EQ(small.size(), QSize(611, 458));
    // Wider: the buttons and the bar's right end follow the edge, the caption stays.
    desktop->drag(small.bottomRight() - QPoint(1, 1), small.bottomRight() + QPoint(200, 0));
    const QRect wide = desktop->settledGeometry(id);
    EXPECT_NEAR(wide.width(), 811, 2);
    const QImage shot = desktop->screenshot(shotPath("widened"));
    const QPoint c = client(id);
    const int clientWidth = wide.width() - 2 * kFrame;
    const QRgb close = shot.pixel(c + QPoint(clientWidth - 52 + 8, 26));
    EXPECT_LT(qGreen(close), 0xB0);  // the close disc sits at the new edge
    EXPECT_TRUE(near(shot.pixel(c + QPoint(50, 22)), qRgb(0, 0, 255), 140));  // caption text still at x 42..
}

TEST_F(EndToEnd, ASecondStartShowsTheRefusalAndEnds) {
    const QString first = launch();
    ASSERT_FALSE(first.isEmpty());
    programs.push_back(desktop->startProgram({u"/tmp/other.swf"_s}));
    const QString box = desktop->waitForWindow(u"^Swiftreel$"_s);
    ASSERT_FALSE(box.isEmpty());
    desktop->screenshot(shotPath("refusal"));
    desktop->run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, box});
    desktop->key(u"Return"_s);
    EXPECT_TRUE(ended(program(1)));
    EXPECT_EQ(program(1).exitCode(), 0);
    EXPECT_EQ(program(0).state(), QProcess::Running);
}

TEST_F(EndToEnd, AKilledInstanceDoesNotBlockTheNextStart) {
    ASSERT_FALSE(launch().isEmpty());
    ::kill(static_cast<pid_t>(program(0).processId()), SIGKILL);
    ASSERT_TRUE(ended(program(0)));
    ASSERT_TRUE(desktop->waitForNoWindow(kMainWindow));
    EXPECT_FALSE(launch().isEmpty());
    EXPECT_TRUE(desktop->run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Swiftreel$"_s})
                    .trimmed()
                    .isEmpty());
}

TEST_F(EndToEnd, HoverLightsExactlyOneButton) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QPoint c = client(id);
    const int w = kClient.width();
    const QImage rest = desktop->screenshot();
    desktop->moveTo(c + QPoint(w - 110 + 14, 20));
    Desktop::pause(300);
    const QImage lit = desktop->screenshot(shotPath("hover"));
    const auto changed = [&](int left) {
        int differing = 0;
        for (int y = 6; y < 35; ++y)
            for (int x = left; x < left + 29; ++x)
                differing += !near(rest.pixel(c + QPoint(x, y)), lit.pixel(c + QPoint(x, y)), 8);
        return differing;
    };
    EXPECT_GT(changed(w - 110), 40);
    EXPECT_EQ(changed(w - 81), 0);
    EXPECT_EQ(changed(w - 52), 0);
}

TEST_F(EndToEnd, TheCaptionButtonsMinimiseMaximiseRestoreAndClose) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QRect normal = desktop->geometry(id);
    const QPoint c = client(id);
    const int w = kClient.width();
    desktop->click(c + QPoint(w - 81 + 14, 20));
    Desktop::pause(600);
    const QRect maximised = desktop->geometry(id);
    EXPECT_EQ(maximised.size(), QSize(1280, 1024));
    desktop->click(maximised.topLeft() + QPoint(1280 - 81 + 14, 20));
    Desktop::pause(600);
    EXPECT_EQ(desktop->geometry(id), normal);
    desktop->moveTo(c + QPoint(300, 200));
    Desktop::pause(600);  // outside the double-click time
    desktop->click(c + QPoint(w - 110 + 14, 20));
    Desktop::pause(600);
    EXPECT_TRUE(desktop->property(id, u"WM_STATE"_s).contains(u"Iconic"_s))
        << desktop->property(id, u"WM_STATE"_s).toStdString();
    desktop->run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, id});
    Desktop::pause(500);
    desktop->click(client(id) + QPoint(w - 52 + 14, 20));
    EXPECT_TRUE(ended(program()));
}

TEST_F(EndToEnd, DraggingTheBarMovesTheWindow) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QRect before = desktop->geometry(id);
    const QPoint bar = client(id) + QPoint(450, 20);
    desktop->drag(bar, bar + QPoint(-120, 90));
    Desktop::pause(300);
    // The move follows the pointer from where it left the drag distance.
    const QPoint moved = desktop->geometry(id).topLeft() - before.topLeft();
    EXPECT_NEAR(moved.x(), -120, 12);
    EXPECT_NEAR(moved.y(), 90, 12);
}

TEST_F(EndToEnd, ADoubleClickOnTheBarMaximisesAndASecondRestores) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QRect normal = desktop->geometry(id);
    desktop->moveTo(client(id) + QPoint(450, 20));
    desktop->run(u"xdotool"_s, {u"click"_s, u"--repeat"_s, u"2"_s, u"--delay"_s, u"80"_s, u"1"_s});
    Desktop::pause(800);
    EXPECT_EQ(desktop->geometry(id).size(), QSize(1280, 1024));
    desktop->moveTo(QPoint(450, 20));
    desktop->run(u"xdotool"_s, {u"click"_s, u"--repeat"_s, u"2"_s, u"--delay"_s, u"80"_s, u"1"_s});
    Desktop::pause(800);
    EXPECT_EQ(desktop->geometry(id), normal);
}

TEST_F(EndToEnd, ClosingThroughTheWindowManagerEndsTheProcess) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    desktop->click(client(id) + QPoint(60, 22));  // the menu window gets loaded too
    Desktop::pause(400);
    desktop->key(u"Escape"_s);
    desktop->run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, id});
    desktop->key(u"alt+F4"_s);
    EXPECT_TRUE(ended(program()));
}

TEST_F(EndToEnd, TheMenuOpensAtThePointerAndItsCommandsWork) {
    const QString id = launch();
    ASSERT_FALSE(id.isEmpty());
    const QPoint caption = client(id) + QPoint(60, 22);
    // Black item texts just below and right of the pointer.
    const auto textBelowRight = [&](const QImage& shot) {
        int dark = 0;
        for (int y = 5; y < 300; ++y)
            for (int x = 5; x < 150; ++x) {
                const QRgb p = shot.pixel(caption + QPoint(x, y));
                dark += qRed(p) < 80 && qGreen(p) < 80 && qBlue(p) < 80;
            }
        return dark;
    };
    EXPECT_LT(textBelowRight(desktop->screenshot()), 20);
    desktop->click(caption);
    Desktop::pause(500);
    EXPECT_GT(textBelowRight(desktop->screenshot(shotPath("menu_caption"))), 500);
    desktop->key(u"Escape"_s);
    Desktop::pause(300);

    // About, chosen by its access key from the icon's menu.
    desktop->click(client(id) + QPoint(27, 19));
    Desktop::pause(400);
    desktop->screenshot(shotPath("menu_icon"));
    desktop->key(u"a"_s);
    const QString about = desktop->waitForWindow(u"^KorrinFlash播放器$"_s);
    ASSERT_FALSE(about.isEmpty());
    desktop->screenshot(shotPath("about"));
    desktop->run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, about});
    desktop->key(u"Return"_s);
    EXPECT_TRUE(desktop->waitForNoWindow(u"^KorrinFlash播放器$"_s));

    // Open: the dialog, filtered to *.swf; a movie typed in and confirmed.
    const QString movie =
        QDir(QStringLiteral(SWIFTREEL_CORPUS_DIR)).absoluteFilePath(u"visual/swfdec__image__definebits-palette-8/test.swf"_s);
    desktop->click(caption);
    Desktop::pause(400);
    desktop->key(u"o"_s);
    const QString dialog = desktop->waitForWindow(u"^打开$"_s, 4000);
    ASSERT_FALSE(dialog.isEmpty());
    Desktop::pause(500);
    desktop->screenshot(shotPath("open_dialog"));
    // Into the movie's folder first, then the name, as a person would type.
    desktop->run(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"5"_s, QFileInfo(movie).absolutePath() + u'/'});
    desktop->key(u"Return"_s);
    Desktop::pause(500);
    desktop->run(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"5"_s, QFileInfo(movie).fileName()});
    Desktop::pause(300);
    desktop->key(u"Return"_s);
    if (!desktop->waitForNoWindow(u"^打开$"_s, 1500))
        desktop->key(u"Return"_s);  // the first one closed the name completer
    EXPECT_TRUE(desktop->waitForNoWindow(u"^打开$"_s));
    Desktop::pause(1000);
    desktop->screenshot(shotPath("playing"));
    EXPECT_EQ(program().state(), QProcess::Running);

    // Exit ends the program at once.
    desktop->click(caption);
    Desktop::pause(400);
    desktop->key(u"x"_s);
    EXPECT_TRUE(ended(program()));
}

// Every frame of this movie runs its script for three seconds: the window
// still answers at once.
TEST_F(EndToEnd, TheMenuAnswersAClickWhileAScriptRunsAway) {
    // t = getTimer(); do {} while (getTimer() - t < 3000);
    avm1test::Asm loop;
    loop.push(0).push("getTimer").callFunction().getVariable("t").op(0x0B).push(3000).op(0x48);
    avm1test::Asm script;
    script.push("t").push(0).push("getTimer").callFunction().setVariable();
    script.raw(loop.body()).ifTrue(int16_t(-(int(loop.size()) + 5)));
    const QString movie = writeMovie("runaway.swf", script, 2);

    const QString id = launch({movie});
    ASSERT_FALSE(id.isEmpty());
    Desktop::pause(500);
    const int before = visibleWindows(program());
    desktop->click(client(id) + QPoint(27, 19));
    // From the moment the click is with the X server.
    QElapsedTimer clock;
    clock.start();
    qint64 answered = -1;
    while (clock.elapsed() < 5000) {
        if (visibleWindows(program()) > before) {
            answered = clock.elapsed();
            break;
        }
    }
    desktop->screenshot(shotPath("runaway_menu"));
    EXPECT_GE(answered, 0) << "the menu never opened";
    EXPECT_LT(answered, 500) << "the menu opened after " << answered << " ms";
    desktop->key(u"Escape"_s);
    EXPECT_EQ(program().state(), QProcess::Running);
}

// What a movie stored without flushing is written when the program ends,
// by the close button or by Exit in the menu.
TEST_F(EndToEnd, ClosingAndExitKeepWhatTheMovieStored) {
    // so = SharedObject.getLocal("kept"); so.data.v = "stored-at-exit"; (no flush)
    avm1test::Asm script;
    script.push("so").push("kept").push(1).getVariable("SharedObject").push("getLocal").callMethod().setVariable();
    script.getVariable("so").push("data").getMember().push("v").push("stored-at-exit").setMember();
    const QString movie = writeMovie("stores.swf", script, 2);
    const auto stored = [&] {
        QDirIterator files(desktop->dataHome(), {u"*.sol.json"_s}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile f(files.next());
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains("stored-at-exit"))
                return true;
        }
        return false;
    };
    const QPoint closeButton(kClient.width() - 52 + 14, 20);
    for (const char* way : {"close button", "Exit"}) {
        SCOPED_TRACE(way);
        QDir(desktop->dataHome()).removeRecursively();
        const QString id = launch({movie});
        ASSERT_FALSE(id.isEmpty());
        Desktop::pause(500);
        if (std::string(way) == "Exit") {
            desktop->click(client(id) + QPoint(27, 19));
            Desktop::pause(400);
            desktop->key(u"x"_s);
        } else {
            desktop->click(client(id) + closeButton);
        }
        EXPECT_TRUE(ended(program(int(programs.size()) - 1)));
        EXPECT_TRUE(stored());
    }
}

// No X server: the program says so and ends with an error, rather than
// Qt's silent abort. Needs no desktop.
TEST(WithoutADisplay, TheProgramSaysSoAndEndsWithAnError) {
    for (const char* display : {":97", ""}) {
        SCOPED_TRACE(display);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"QT_QPA_PLATFORM"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        if (*display)
            env.insert(u"DISPLAY"_s, QString::fromLatin1(display));
        else
            env.remove(u"DISPLAY"_s);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(SWIFTREEL_BINARY_DIR "/startup/swiftreel"), {});
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 1);
        EXPECT_TRUE(program.readAllStandardError().contains("cannot open the display"));
    }
}

}  // namespace

// A movie that stops on its red first frame behind a black play button; its
// second frame is green. Clicking the button in the real window plays it.
TEST_F(EndToEnd, AMovieStoppedOnItsFirstFramePlaysWhenItsButtonIsClicked) {
    using namespace swf::test;
    constexpr int kW = 200, kH = 150, kButton = 40;
    const auto solid = [](int w, int h, swf::Rgba colour) {
        ShapeBuilder s;
        s.rect(0, 0, w * 20, h * 20, s.addSolidFill(colour));
        return s;
    };
    SwfWriter w(6, {0, kW * 20, 0, kH * 20}, 12);
    w.defineShape(1, solid(kW, kH, {255, 0, 0, 255}));
    w.defineShape(2, solid(kButton, kButton, {0, 0, 0, 255}));
    w.defineShape(3, solid(kW, kH, {0, 200, 0, 255}));
    // Condition 0x0008 is a release over the button; action 0x06 is Play, 0x07 Stop.
    w.defineButton2(4, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 2, .depth = 1}},
                    {{0x0008, {0x06, 0x00}}});
    w.placeObject2({.depth = 1, .characterId = 1});
    swf::Matrix centred;
    centred.tx = (kW - kButton) / 2 * 20;
    centred.ty = (kH - kButton) / 2 * 20;
    w.placeObject2({.depth = 2, .characterId = 4, .matrix = centred});
    w.doAction({0x07, 0x00}).showFrame();
    w.removeObject2(2);
    w.placeObject2({.depth = 1, .move = true, .characterId = 3});
    w.doAction({0x07, 0x00}).showFrame();
    QTemporaryDir dir;
    const QString path = dir.filePath(u"play_button.swf"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const swf::test::Bytes bytes = w.bytes();
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    file.close();

    const QString id = launch({path});
    ASSERT_FALSE(id.isEmpty());
    // The control fills the client area below the 40-pixel bar, 10 pixels in
    // from the sides and the bottom; the movie is shown whole, centred in it.
    const QPoint centre = client(id) + QPoint(kClient.width() / 2, 40 + (kClient.height() - 50) / 2);
    const QPoint beside = centre + QPoint(200, 0);
    const auto colourAt = [&](QPoint at, QRgb want, const char* shot) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            if (near(desktop->screenshot().pixel(at), want, 40)) return true;
            Desktop::pause(100);
        }
        desktop->screenshot(shotPath(shot));
        return false;
    };
    EXPECT_TRUE(colourAt(beside, qRgb(255, 0, 0), "button_red"));
    EXPECT_TRUE(colourAt(centre, qRgb(0, 0, 0), "button_black"));
    Desktop::pause(500); // stopped: still red a few frames later
    EXPECT_TRUE(near(desktop->screenshot().pixel(beside), qRgb(255, 0, 0), 40));

    desktop->click(centre);
    EXPECT_TRUE(colourAt(beside, qRgb(0, 200, 0), "button_green"));
    EXPECT_TRUE(colourAt(centre, qRgb(0, 200, 0), "button_gone"));
}
