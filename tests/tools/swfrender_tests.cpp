// swfrender as other tooling sees it: exit codes, messages, images and --info.
#include "tests/support/swf_writer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out, err;
};

ToolRun swfrender(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SWIFTREEL_DEBUG"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SWFRENDER_PATH), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class SwfrenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        // A 100 x 50 movie: blue background, a red square at (10, 10), two frames.
        swf::test::SwfWriter w(8, swf::Rect{0, 2000, 0, 1000}, 10);
        swf::test::ShapeBuilder b;
        b.rect(0, 0, 400, 400, b.addSolidFill({255, 0, 0, 255}));
        w.backgroundColor({0, 0, 255, 255}).defineShape(1, b);
        w.placeObject2({.depth = 1, .characterId = 1, .matrix = swf::Matrix{1, 0, 0, 1, 200, 200}}).showFrame();
        w.showFrame();
        write(movie(), w.bytes());
        write(path("garbage.swf"), {'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'v', 'i', 'e'});
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString movie() const { return path("movie.swf"); }
    static void write(const QString& file, const std::vector<uint8_t>& bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    QTemporaryDir m_dir;
};

TEST_F(SwfrenderTest, RendersTheStageAtTheMoviesSizeOrTheGivenOne) {
    ToolRun r = swfrender({movie(), QStringLiteral("-o"), path("a.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QImage a(path("a.png"));
    ASSERT_EQ(a.size(), QSize(100, 50));
    EXPECT_EQ(a.pixel(15, 15), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(50, 40), qRgb(0, 0, 255));

    r = swfrender({movie(), QStringLiteral("-o"), path("b.png"), QStringLiteral("--size"), QStringLiteral("200x100"),
                   QStringLiteral("--frames"), QStringLiteral("2"), QStringLiteral("--quality"), QStringLiteral("low"),
                   QStringLiteral("--trace"), path("trace.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QImage b(path("b.png"));
    ASSERT_EQ(b.size(), QSize(200, 100));
    EXPECT_EQ(b.pixel(30, 30), qRgb(255, 0, 0));
    EXPECT_TRUE(QFile::exists(path("trace.txt")));
}

struct BadCall {
    const char* what;
    QStringList args; // "%movie", "%garbage", "%missing" and "%out" are replaced
    const char* message;
};

class SwfrenderBadCallTest : public SwfrenderTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(SwfrenderBadCallTest, FailsWithExitOneAndOneLine) {
    QStringList args;
    for (QString a : GetParam().args) {
        a.replace(QStringLiteral("%movie"), movie());
        a.replace(QStringLiteral("%garbage"), path("garbage.swf"));
        a.replace(QStringLiteral("%missing"), path("missing.swf"));
        a.replace(QStringLiteral("%out"), path("out.png"));
        args << a;
    }
    ToolRun r = swfrender(args);
    EXPECT_EQ(r.exitCode, 1) << GetParam().what;
    QStringList lines = r.err.trimmed().split(u'\n');
    EXPECT_EQ(lines.size(), 1) << GetParam().what << ": " << r.err.toStdString();
    EXPECT_TRUE(lines.last().contains(QString::fromUtf8(GetParam().message))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("out.png"))) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SwfrenderBadCallTest,
    ::testing::Values(
        BadCall{"missing movie", {QStringLiteral("%missing"), QStringLiteral("-o"), QStringLiteral("%out")}, "cannot load"},
        BadCall{"not a movie", {QStringLiteral("%garbage"), QStringLiteral("-o"), QStringLiteral("%out")}, "cannot load"},
        BadCall{"info of a missing movie", {QStringLiteral("--info"), QStringLiteral("%missing")}, "cannot load"},
        BadCall{"no output", {QStringLiteral("%movie")}, "-o OUT.png"},
        BadCall{"zero frames",
                {QStringLiteral("%movie"), QStringLiteral("-o"), QStringLiteral("%out"), QStringLiteral("--frames"),
                 QStringLiteral("0")},
                "--frames"},
        BadCall{"bad size",
                {QStringLiteral("%movie"), QStringLiteral("-o"), QStringLiteral("%out"), QStringLiteral("--size"),
                 QStringLiteral("0x10")},
                "--size"},
        BadCall{"bad quality",
                {QStringLiteral("%movie"), QStringLiteral("-o"), QStringLiteral("%out"), QStringLiteral("--quality"),
                 QStringLiteral("ultra")},
                "--quality"}));

TEST_F(SwfrenderTest, InfoDescribesTheMovie) {
    ToolRun r = swfrender({QStringLiteral("--info"), movie()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList expected = {QStringLiteral("version: 8"), QStringLiteral("stage: 100x50 px"),
                                  QStringLiteral("frame rate: 10 fps"), QStringLiteral("frames: 2")};
    for (const QString& line : expected) EXPECT_TRUE(r.out.contains(line)) << line.toStdString() << "\n" << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("DefineShape3 x1")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("ShowFrame x2")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("SetBackgroundColor x1")));
}

} // namespace
