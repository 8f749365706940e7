// swfrender as other tooling sees it: exit codes, messages, images, sound
// (--audio) and --info.
#include "tests/support/swf_writer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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
        // Two frames, a 0.1 s tone (16-bit mono at 44.1 kHz) started on frame 1.
        swf::test::SwfWriter s(8, swf::Rect{0, 2000, 0, 1000}, 10);
        swf::test::Bytes tone;
        for (int i = 0; i < 4410; ++i) tone.insert(tone.end(), {uint8_t(kToneLevel & 0xff), uint8_t(kToneLevel >> 8)});
        s.defineSound(1, 3, 3, true, false, 4410, tone).startSound(1).showFrame().showFrame();
        write(path("sound.swf"), s.bytes());
        write(path("garbage.swf"), {'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'v', 'i', 'e'});
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString movie() const { return path("movie.swf"); }
    static void write(const QString& file, const std::vector<uint8_t>& bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    static constexpr int16_t kToneLevel = 8000;
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
        BadCall{"audio without a file",
                {QStringLiteral("%movie"), QStringLiteral("-o"), QStringLiteral("%out"), QStringLiteral("--audio")},
                "--audio"},
        BadCall{"bad quality",
                {QStringLiteral("%movie"), QStringLiteral("-o"), QStringLiteral("%out"), QStringLiteral("--quality"),
                 QStringLiteral("ultra")},
                "--quality"}));

// A WAV as swfrender writes it: 16-bit stereo PCM, samples as read.
struct Wav {
    int channels = 0, rate = 0, bits = 0;
    std::vector<int16_t> samples;
};
Wav readWav(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray b = f.readAll();
    auto u16 = [&b](int at) { return int(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); };
    auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt " || b.mid(36, 4) != "data") return {};
    Wav w{u16(22), u32(24), u16(34), {}};
    int bytes = u32(40);
    if (44 + bytes != b.size()) return {};
    for (int i = 44; i + 1 < b.size(); i += 2) w.samples.push_back(int16_t(u16(i)));
    return w;
}

struct AudioCase {
    const char* movie;
    int frames;
    bool sound; // a tone on frame 1 that lasts one frame
};
class SwfrenderAudioTest : public SwfrenderTest, public ::testing::WithParamInterface<AudioCase> {};

TEST_P(SwfrenderAudioTest, WritesTheSoundOfTheFramesRun) {
    const AudioCase& c = GetParam();
    const QStringList args = {path(c.movie), QStringLiteral("-o"), path("a.png"), QStringLiteral("--frames"),
                              QString::number(c.frames), QStringLiteral("--audio"), path("a.wav")};
    ToolRun r = swfrender(args);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    Wav w = readWav(path("a.wav"));
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 44100);
    EXPECT_EQ(w.bits, 16);
    // 10 frames per second: one tenth of a second per frame run.
    const size_t perFrame = 4410 * 2;
    ASSERT_EQ(w.samples.size(), size_t(c.frames) * perFrame);
    // The two-frame movie loops, so the tone sounds on every other frame.
    for (int f = 0; f < c.frames; ++f) {
        int loudest = 0;
        for (size_t i = f * perFrame; i < (f + 1) * perFrame; ++i) loudest = std::max(loudest, std::abs(int(w.samples[i])));
        EXPECT_EQ(loudest, c.sound && f % 2 == 0 ? kToneLevel : 0) << "frame " << f + 1;
    }

    // The same run writes the same file.
    QFile first(path("a.wav"));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    QStringList again = args;
    again.last() = path("b.wav");
    ASSERT_EQ(swfrender(again).exitCode, 0);
    QFile second(path("b.wav"));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_TRUE(first.readAll() == second.readAll());
}

INSTANTIATE_TEST_SUITE_P(Movies, SwfrenderAudioTest,
                         ::testing::Values(AudioCase{"sound.swf", 5, true}, AudioCase{"movie.swf", 3, false}));

TEST_F(SwfrenderTest, UsageMentionsTheSoundFile) {
    ToolRun r = swfrender({QStringLiteral("--help")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("--audio OUT.wav")));
}

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
