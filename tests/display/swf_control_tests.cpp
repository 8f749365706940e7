// The `swf` control on the offscreen platform: loading, the frame clock,
// drawing off the GUI thread, the playback operations and its own menu.
#include "player/swf_control.h"
#include "tests/support/swf_writer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

using swf::test::SwfWriter;

// Runs the event loop until `done` or the time is up.
bool waitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

class SwfControlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "display_tests";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        // 100 x 100 at 20 fps, ten frames: a red square moving right 5 pixels a frame.
        SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 20);
        swf::test::ShapeBuilder b;
        b.rect(0, 0, 400, 400, b.addSolidFill({255, 0, 0, 255}));
        w.defineShape(1, b);
        w.placeObject2({.depth = 1, .characterId = 1, .matrix = swf::Matrix{1, 0, 0, 1, 0, 0}}).showFrame();
        for (int i = 1; i < 10; ++i)
            w.placeObject2({.depth = 1, .move = true, .matrix = swf::Matrix{1, 0, 0, 1, i * 100.0, 0}}).showFrame();
        write("movie.swf", w.bytes());
        write("garbage.swf", {'C', 'W', 'S', 10, 1, 2, 3, 4, 5});
    }
    void write(const char* name, const std::vector<uint8_t>& bytes) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

TEST_F(SwfControlTest, PlaysAMovieAtItsRateAndDrawsItOffTheGuiThread) {
    SwfControl control;
    control.resize(100, 100);
    control.show();
    control.putMovie(path("movie.swf"));
    ASSERT_TRUE(control.isMovieLoaded());
    EXPECT_EQ(control.totalFrames(), 10);
    ASSERT_TRUE(waitFor([&] { return !control.frameImage().isNull(); }));
    EXPECT_EQ(control.frameImage().size(), QSize(100, 100));
    EXPECT_TRUE(control.playing());
    // 20 fps: about six frames in 300 ms.
    ASSERT_TRUE(waitFor([&] { return control.currentFrame() >= 6; }, 2000));

    control.Stop();
    int stoppedAt = control.currentFrame();
    waitFor([] { return false; }, 200);
    EXPECT_EQ(control.currentFrame(), stoppedAt);
    EXPECT_FALSE(control.playing());

    control.Back();
    EXPECT_EQ(control.currentFrame(), stoppedAt - 1);
    control.Forward();
    control.Forward();
    EXPECT_EQ(control.currentFrame(), stoppedAt + 1);
    ASSERT_TRUE(waitFor([&] { return !control.isRendering() && control.frameImage().pixel((stoppedAt) * 5 + 2, 10) == qRgb(255, 0, 0); }));

    control.putPlaying(true);
    EXPECT_TRUE(control.playing());
}

TEST_F(SwfControlTest, MoviesThatCannotLoadLeaveTheStageEmpty) {
    SwfControl control;
    control.resize(80, 60);
    control.show();
    const QString bad[] = {QString(), path("missing.swf"), path("garbage.swf"), QStringLiteral("   ")};
    for (const QString& movie : bad) {
        control.putMovie(path("movie.swf"));
        ASSERT_TRUE(control.isMovieLoaded());
        control.putMovie(movie);
        EXPECT_FALSE(control.isMovieLoaded()) << movie.toStdString();
        EXPECT_EQ(control.movie(), movie);
        QApplication::processEvents();
    }
    // An address nothing answers on: the download fails quietly.
    control.putMovie(QStringLiteral("http://127.0.0.1:9/none.swf"));
    EXPECT_FALSE(control.isMovieLoaded());
    waitFor([] { return false; }, 300);
    EXPECT_FALSE(control.isMovieLoaded());
}

// Serves one body over HTTP on 127.0.0.1 for every request, and a
// cross-domain policy that lets every movie in.
class TinyHttpServer {
public:
    explicit TinyHttpServer(QByteArray body) : m_body(std::move(body)) {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            QTcpSocket* s = m_server.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                const QByteArray request = s->readAll();
                if (!request.contains("\r\n\r\n")) return;
                ++m_requests;
                const QByteArray body = request.startsWith("GET /crossdomain.xml ")
                                            ? QByteArray("<cross-domain-policy><allow-access-from domain=\"*\"/></cross-domain-policy>")
                                            : m_body;
                s->write("HTTP/1.0 200 OK\r\nContent-Type: application/x-shockwave-flash\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body);
                s->disconnectFromHost();
            });
        });
    }
    QString url(const char* name) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(QLatin1String(name));
    }

    int requests() const { return m_requests; }

private:
    QByteArray m_body;
    QTcpServer m_server;
    int m_requests = 0;
};

TEST_F(SwfControlTest, LoadsMoviesOverHttp) {
    QFile f(path("movie.swf"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    TinyHttpServer server(f.readAll());
    SwfControl control;
    control.resize(100, 100);
    control.putMovie(server.url("movie.swf"));
    ASSERT_TRUE(waitFor([&] { return control.isMovieLoaded(); }, 5000));
    EXPECT_EQ(control.totalFrames(), 10);

    TinyHttpServer junk(QByteArray("<html>not a movie</html>"));
    control.putMovie(junk.url("page.swf"));
    // The old movie plays on while the new one downloads; one that cannot load leaves the stage empty.
    EXPECT_TRUE(waitFor([&] { return !control.isMovieLoaded(); }, 5000));
}

// FileAttributes: a local movie that talks to the network (and reads no files).
constexpr uint8_t kUseNetwork = 0x01;

// Push of one string, as a DoAction body fragment.
void pushString(swf::test::ByteWriter& a, const std::string& s) {
    a.u8(0x96).u16(uint16_t(s.size() + 2)).u8(0).cstring(s);
}

TEST_F(SwfControlTest, MoviesLoadVariablesOverHttpUnlessNetworkingIsNone) {
    TinyHttpServer server(QByteArray("v=hello"));
    // Frame 1: loadVariablesNum(server, 0); frame 2: once v is there,
    // getURL("http://got/" + v, "_blank") (pages open a few at a time).
    swf::test::ByteWriter load, report, ifLoaded;
    pushString(load, server.url("vars.txt").toStdString());
    pushString(load, "_level0");
    load.u8(0x9A).u16(1).u8(0x80).u8(0);
    pushString(report, "http://got/");
    pushString(report, "v");
    report.u8(0x1C).u8(0x47);
    pushString(report, "_blank");
    report.u8(0x9A).u16(1).u8(0).u8(0);
    pushString(ifLoaded, "v");
    ifLoaded.u8(0x1C).u8(0x12).u8(0x9D).u16(2).u16(uint16_t(report.data().size() - 1)); // to its End
    SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 30);
    w.tag(swf::tag::FileAttributes, {kUseNetwork, 0, 0, 0});
    w.doAction(load.data()).showFrame();
    swf::test::Bytes reportOnce = ifLoaded.data();
    reportOnce.insert(reportOnce.end(), report.data().begin(), report.data().end());
    w.doAction(reportOnce).showFrame();
    w.showFrame();
    write("loadvars.swf", w.bytes());

    {
        SwfControl control;
        QStringList asked;
        control.setUrlHandler([&asked](const QString& u, const QString&) { asked << u; });
        control.putMovie(path("loadvars.swf"));
        EXPECT_TRUE(waitFor([&] { return asked.contains(QStringLiteral("http://got/hello")); }, 5000))
            << asked.join(' ').toStdString();
    }

    SwfControl::Settings settings;
    settings.allowNetworking = QStringLiteral("none");
    SwfControl offline(nullptr, settings);
    int before = server.requests();
    offline.putMovie(path("loadvars.swf"));
    ASSERT_TRUE(offline.isMovieLoaded());
    waitFor([] { return false; }, 400);
    EXPECT_GT(offline.currentFrame(), 0);
    EXPECT_EQ(server.requests(), before);
}

TEST_F(SwfControlTest, TypedTextGoesToTheFocusedInputField) {
    SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 30);
    w.tag(swf::tag::FileAttributes, {kUseNetwork, 0, 0, 0});
    // An input field bound to the variable v, focused on frame 1.
    swf::test::ByteWriter field;
    field.u16(1).rect({0, 2000, 0, 400}).u8(0).u8(0).cstring("v");
    w.tag(37, field.data());
    w.placeObject2({.depth = 1, .characterId = 1, .name = "fld"});
    swf::test::ByteWriter focus, report, loop;
    pushString(focus, "fld");
    focus.u8(0x1C).u8(0x96).u16(5).u8(7).u32(1);
    pushString(focus, "Selection");
    focus.u8(0x1C);
    pushString(focus, "setFocus");
    focus.u8(0x52).u8(0x17).u8(0);
    w.doAction(focus.data()).showFrame();
    // Frames 2 and 3 report getURL("http://got/" + v) over and over.
    pushString(report, "http://got/");
    pushString(report, "v");
    report.u8(0x1C).u8(0x47);
    pushString(report, "_blank");
    report.u8(0x9A).u16(1).u8(0).u8(0);
    w.doAction(report.data()).showFrame();
    loop.u8(0x81).u16(2).u16(1).u8(0x06).u8(0);
    w.doAction(loop.data()).showFrame();
    write("typing.swf", w.bytes());

    SwfControl control;
    QStringList asked;
    control.setUrlHandler([&asked](const QString& u, const QString&) { asked << u; });
    control.putMovie(path("typing.swf"));
    ASSERT_TRUE(waitFor([&] { return control.currentFrame() >= 2; }));
    for (auto [key, text] : {std::pair{Qt::Key_H, "h"}, std::pair{Qt::Key_I, "i"}}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString::fromLatin1(text));
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString::fromLatin1(text));
        QApplication::sendEvent(&control, &press);
        QApplication::sendEvent(&control, &release);
    }
    EXPECT_TRUE(waitFor([&] { return asked.contains(QStringLiteral("http://got/hi")); }))
        << asked.join(' ').toStdString();
}

TEST_F(SwfControlTest, MovieUrlRequestsGoToTheUrlHandler) {
    // Frame 1: getURL("http://example.org/x", "_blank").
    swf::test::ByteWriter action;
    std::string url = "http://example.org/x", target = "_blank";
    action.u8(0x83).u16(uint16_t(url.size() + target.size() + 2)).cstring(url).cstring(target).u8(0);
    SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 20);
    w.tag(swf::tag::FileAttributes, {kUseNetwork, 0, 0, 0});
    w.doAction(action.data()).showFrame();
    write("geturl.swf", w.bytes());
    SwfControl control;
    std::vector<std::pair<QString, QString>> asked;
    control.setUrlHandler([&asked](const QString& u, const QString& t) { asked.emplace_back(u, t); });
    control.putMovie(path("geturl.swf"));
    ASSERT_TRUE(waitFor([&] { return !asked.empty(); }));
    EXPECT_EQ(asked.front().first, QString::fromStdString(url));
    EXPECT_EQ(asked.front().second, QString::fromStdString(target));
}

TEST_F(SwfControlTest, AllowNetworkingDecidesWhetherMoviesOpenPages) {
    using Use = SwfControl::NetworkUse;
    struct Case { const char* setting; bool page, data; } cases[] = {
        {"all", true, true}, {"ALL", true, true}, {"internal", false, true}, {"Internal", false, true},
        {"none", false, false}, {"", true, true}, {"bogus", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SwfControl::networkingAllows(QString::fromLatin1(c.setting), Use::OpenPage), c.page) << c.setting;
        EXPECT_EQ(SwfControl::networkingAllows(QString::fromLatin1(c.setting), Use::LoadData), c.data) << c.setting;
    }

    // A movie asking for a page on frame 1 under "internal": the request is
    // dropped while the movie plays on through its three frames.
    swf::test::ByteWriter action;
    std::string url = "http://example.org/x", target = "_blank";
    action.u8(0x83).u16(uint16_t(url.size() + target.size() + 2)).cstring(url).cstring(target).u8(0);
    SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 30);
    w.doAction(action.data()).showFrame();
    w.showFrame();
    w.showFrame();
    write("geturl_internal.swf", w.bytes());
    SwfControl::Settings settings;
    settings.allowNetworking = QStringLiteral("internal");
    settings.loop = false;
    SwfControl control(nullptr, settings);
    int asked = 0;
    control.setUrlHandler([&asked](const QString&, const QString&) { ++asked; });
    control.putMovie(path("geturl_internal.swf"));
    ASSERT_TRUE(waitFor([&] { return control.currentFrame() == 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, 0);
}

TEST_F(SwfControlTest, MoviesWithSoundPlayWithOrWithoutASoundDevice) {
    // 0.1 s of 8-bit mono silence at 5.5 kHz, started on frame 1; five frames.
    SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 20);
    w.defineSound(1, 0, 0, false, false, 551, std::vector<uint8_t>(551, 128));
    w.startSound(1).showFrame();
    for (int i = 0; i < 4; ++i) w.showFrame();
    write("sound.swf", w.bytes());
    SwfControl control;
    control.putMovie(path("sound.swf"));
    ASSERT_TRUE(control.isMovieLoaded());
    EXPECT_TRUE(waitFor([&] { return control.currentFrame() >= 4; }, 3000)) << "the clock runs on";
}

TEST_F(SwfControlTest, ScaleModeRefusesUnknownValues) {
    SwfControl control;
    control.putScaleMode(2);
    EXPECT_EQ(control.scaleMode(), 2);
    control.putScaleMode(7);
    EXPECT_EQ(control.scaleMode(), 2);
    control.putScaleMode(-1);
    EXPECT_EQ(control.scaleMode(), 2);
}

QStringList menuTexts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        out << a->text() + (a->isCheckable() && a->isChecked() ? QStringLiteral(" [x]") : QString());
    }
    return out;
}

TEST_F(SwfControlTest, OwnMenuIsInChineseAndShowsThePlayerState) {
    SwfControl control;
    control.resize(100, 100);
    control.putMovie(path("movie.swf"));
    std::unique_ptr<QMenu> menu(control.createContextMenu(nullptr));
    QStringList expected = {QStringLiteral("放大"), QStringLiteral("缩小"), QStringLiteral("全部显示"),
                            QStringLiteral("品质"), QStringLiteral("播放 [x]"), QStringLiteral("循环 [x]"),
                            QStringLiteral("倒带"), QStringLiteral("前进"), QStringLiteral("后退"),
                            QStringLiteral("关于 Swiftreel SWF 引擎 1.00")};
    EXPECT_EQ(menuTexts(menu.get()), expected);
    QMenu* quality = menu->actions()[4]->menu();
    ASSERT_NE(quality, nullptr);
    EXPECT_EQ(menuTexts(quality), (QStringList{QStringLiteral("低"), QStringLiteral("中"), QStringLiteral("高 [x]")}));

    control.Stop();
    menu.reset(control.createContextMenu(nullptr));
    EXPECT_TRUE(menuTexts(menu.get()).contains(QStringLiteral("播放")));

    SwfControl::Settings noMenu;
    noMenu.menu = false;
    SwfControl plain(nullptr, noMenu);
    menu.reset(plain.createContextMenu(nullptr));
    EXPECT_EQ(menuTexts(menu.get()), QStringList{QStringLiteral("关于 Swiftreel SWF 引擎 1.00")});
}

} // namespace
