// Hostile movies, one table per kind (memory bombs, runaway time, deep
// nesting): each runs in swfrender under a 1 GB address-space limit and must
// end the way the table says: scripts halted with one warning, or the bad
// request refused while the script goes on. Either way the frame is drawn,
// the process stays under 1 GB and ends in seconds.
//
// SWIFTREEL_WRITE_HOSTILE=<folder> also writes the movies there (fuzz seeds).
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using avm1test::Asm;
using swf::test::Bytes;

// ---- Scripts in a few words --------------------------------------------------

Asm str(const std::string& s) { return Asm().push(s); }
Asm num(double d) { return Asm().push(d); }
Asm var(const std::string& name) { return Asm().getVariable(name); }
Asm then(std::initializer_list<Asm> parts) {
    Asm out;
    for (const Asm& p : parts) out.raw(p.body());
    return out;
}
// name = value
Asm set(const std::string& name, const Asm& value) { return then({str(name), value}).setVariable(); }
Asm trace(const std::string& s) { return str(s).trace(); }
// Pushes the arguments last first, then their count.
Asm args(std::vector<Asm> list) {
    Asm out;
    for (auto it = list.rbegin(); it != list.rend(); ++it) out.raw(it->body());
    return out.push(int(list.size()));
}
// object.method(args...), result left on the stack.
Asm call(const Asm& object, const std::string& method, std::vector<Asm> list = {}) {
    return then({args(std::move(list)), object, str(method)}).callMethod();
}
// new Class(args...)
Asm make(const std::string& cls, std::vector<Asm> list = {}) {
    return then({args(std::move(list)), str(cls)}).op(0x40);
}
// name(args...), result left on the stack.
Asm callFunction(const std::string& name, std::vector<Asm> list = {}) {
    return then({args(std::move(list)), str(name)}).callFunction();
}
// new flash.<package>.<cls>(args...)
Asm makeFlash(const std::string& package, const std::string& cls, std::vector<Asm> list = {}) {
    return then({args(std::move(list)), var("flash"), str(package)}).getMember().push(cls).op(0x53);
}
// object.member = value
Asm setMember(const Asm& object, const std::string& member, const Asm& value) {
    return then({object, str(member), value}).setMember();
}
// function name(params) { body }
Asm function(const std::string& name, const std::vector<std::string>& params, const Asm& body) {
    return Asm().defineFunction(name, params, body);
}
// body, again and again.
Asm endlessly(const Asm& body) { return Asm().raw(body.body()).jump(int16_t(-int(body.size() + 5))); }
// for (counter = 0; counter < n && also; counter++) body
Asm repeat(const std::string& counter, double n, const Asm& body, const Asm& also = Asm().pushBool(true)) {
    const Asm step = set(counter, Asm().getVariable(counter).op(0x50));
    Asm test = then({var(counter), num(n)}).op(0x48).raw(also.body()).op(0x10).op(0x12);
    test.ifTrue(int16_t(body.size() + step.size() + 5));
    return then({set(counter, num(0)), test, body, step}).jump(int16_t(-int(test.size() + body.size() + step.size() + 5)));
}
// s = s + s, `times` times: a string of 2^times copies of `unit`.
Asm doubled(const std::string& name, const std::string& unit, int times) {
    return then({set(name, str(unit)), repeat("d", times, set(name, then({var(name), var(name)}).op(0x47)))});
}

// ---- Running swfrender under limits ----------------------------------------------

constexpr rlim_t kAddressSpace = rlim_t(1) << 30;
constexpr long kMaxPeakKb = 1L << 20;
constexpr qint64 kMaxRunMs = 10000;

struct Outcome {
    bool exitedNormally = false;
    int exitCode = -1;
    int signal = 0;
    long peakKb = 0;
    qint64 ms = 0;
    std::string trace, log;
    bool imageWritten = false;
};

std::string readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// swfrender on `movie` for `frames` frames, in a child with a 1 GB address
// space (a memory bomb that gets through ends in bad_alloc, not in swapping)
// and an alarm as a last resort against a hang.
Outcome render(const QTemporaryDir& dir, const QString& movie, int frames) {
    const std::string out = dir.filePath(QStringLiteral("out.png")).toStdString();
    const std::string tracePath = dir.filePath(QStringLiteral("trace.txt")).toStdString();
    const std::string logPath = dir.filePath(QStringLiteral("log.txt")).toStdString();
    QFile::remove(QString::fromStdString(out));
    const std::string in = movie.toStdString(), frameCount = std::to_string(frames);
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit as{kAddressSpace, kAddressSpace};
        setrlimit(RLIMIT_AS, &as);
        alarm(60);
        int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 2);
        setenv("SWIFTREEL_DEBUG", "1", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(SWFRENDER_PATH, SWFRENDER_PATH, in.c_str(), "-o", out.c_str(), "--frames", frameCount.c_str(),
              "--trace", tracePath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Outcome o;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        o.exitedNormally = WIFEXITED(status);
        o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        o.peakKb = usage.ru_maxrss;
    }
    o.ms = clock.elapsed();
    o.trace = readAll(QString::fromStdString(tracePath));
    o.log = readAll(QString::fromStdString(logPath));
    o.imageWritten = !QImage(QString::fromStdString(out)).isNull();
    return o;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// ---- The tables ----------------------------------------------------------------------

enum class Expect {
    HaltedInScript, // halted with one warning: "after" and later frames never trace
    HaltedLater,    // the script ends ("after"), what it left running is halted with one warning
    Refused,        // the bad request is refused: no warning, "after" and "frame 2" trace
};

struct HostileMovie {
    const char* name;
    Asm script;     // frame 1, between trace("start") and trace("after")
    Expect expect;
    Asm setup = {}; // frame 1, before trace("start")
};

// Frame 1 runs the script; frame 2 traces "frame 2", so a halted movie's
// later frames show they stay halted.
Bytes movieOf(const HostileMovie& m) {
    swf::test::SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 24);
    w.doAction(then({m.setup, trace("start"), m.script, trace("after")}).bytes()).showFrame();
    w.doAction(trace("frame 2").bytes()).showFrame();
    return w.bytes();
}

void writeSeed(const HostileMovie& m, const Bytes& bytes) {
    const char* folder = std::getenv("SWIFTREEL_WRITE_HOSTILE");
    if (!folder) return;
    QFile f(QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("hostile-%1.swf").arg(QLatin1String(m.name))));
    if (f.open(QIODevice::WriteOnly)) f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

class HostileMovieTest : public ::testing::TestWithParam<HostileMovie> {};

TEST_P(HostileMovieTest, EndsAsExpectedWithinMemoryAndTime) {
    const HostileMovie& m = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("movie.swf"));
    const Bytes bytes = movieOf(m);
    writeSeed(m, bytes);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    const Outcome o = render(dir, path, 2);
    SCOPED_TRACE("log:\n" + o.log.substr(0, 2000) + "\ntrace:\n" + o.trace.substr(0, 500));
    EXPECT_TRUE(o.exitedNormally) << "signal " << o.signal;
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.imageWritten) << "rendering goes on";
    EXPECT_LT(o.peakKb, kMaxPeakKb);
    EXPECT_LT(o.ms, kMaxRunMs);
    EXPECT_EQ(count(o.trace, "start\n"), 1);
    if (m.expect == Expect::HaltedInScript) {
        EXPECT_EQ(count(o.log, "Scripts halted"), 1);
        EXPECT_EQ(count(o.trace, "after\n"), 0);
        EXPECT_EQ(count(o.trace, "frame 2\n"), 0);
    } else if (m.expect == Expect::HaltedLater) {
        EXPECT_EQ(count(o.log, "Scripts halted"), 1);
        EXPECT_EQ(count(o.trace, "after\n"), 1);
    } else {
        EXPECT_EQ(count(o.log, "Scripts halted"), 0);
        EXPECT_EQ(count(o.trace, "after\n"), 1);
        EXPECT_EQ(count(o.trace, "frame 2\n"), 1);
    }
}

std::string nameOf(const ::testing::TestParamInfo<HostileMovie>& info) {
    std::string n = info.param.name;
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

const std::string kThousandChars(1000, 'x');

// Each allocates gigabytes unless refused before the allocation.
INSTANTIATE_TEST_SUITE_P(
    MemoryBombs, HostileMovieTest,
    ::testing::Values(
        HostileMovie{"stack-of-strings", endlessly(str(kThousandChars)), Expect::HaltedInScript},
        HostileMovie{"array-16m", make("Array", {num(16777216)}).pop(), Expect::HaltedInScript},
        HostileMovie{"string-doubling", endlessly(set("s", then({var("s"), var("s")}).op(0x47))), Expect::HaltedInScript,
                     set("s", str(kThousandChars))},
        HostileMovie{"strings-kept", endlessly(call(var("a"), "push", {then({var("s"), var("s")}).op(0x47)}).pop()),
                     Expect::HaltedInScript, then({doubled("s", kThousandChars, 10), set("a", make("Array"))})},
        HostileMovie{"split-every-char", call(var("s"), "split", {str("")}).pop(), Expect::HaltedInScript,
                     doubled("s", "xy", 24)},
        HostileMovie{"escape", callFunction("escape", {var("s")}).pop(), Expect::HaltedInScript,
                     doubled("s", "%%%%", 23)},
        HostileMovie{"apply", call(var("f"), "apply", {Asm().pushNull(), var("a")}).pop(), Expect::HaltedInScript,
                     then({function("f", {}, Asm()), set("a", make("Array", {num(4000000)}))})},
        HostileMovie{"for-in", Asm().getVariable("a").op(0x55).pop(), Expect::HaltedInScript,
                     then({set("a", make("Array")), setMember(var("a"), "length", num(5000000))})},
        HostileMovie{"object-chain", endlessly(set("o", then({str("next"), var("o"), num(1)}).op(0x43))),
                     Expect::HaltedInScript},
        HostileMovie{"members",
                     endlessly(then({then({var("o"), var("i"), var("i")}).setMember(),
                                   set("i", Asm().getVariable("i").op(0x50))})),
                     Expect::HaltedInScript, then({set("o", make("Object")), set("i", num(0))})},
        HostileMovie{"html-text",
                     setMember(var("t"), "htmlText", var("s")), Expect::Refused,
                     then({call(Asm().getVariable("_root"), "createTextField",
                                {str("t"), num(1), num(0), num(0), num(100), num(100)})
                               .pop(),
                           set("t", Asm().getVariable("_root").push("t").getMember()),
                           setMember(var("t"), "html", Asm().pushBool(true)), doubled("s", "<b>x", 22)})}),
    nameOf);

// Each runs forever unless the tick's budget stops it.
INSTANTIATE_TEST_SUITE_P(
    RunawayTime, HostileMovieTest,
    ::testing::Values(
        HostileMovie{"endless-loop", endlessly(Asm()), Expect::HaltedInScript},
        HostileMovie{"recursion", callFunction("f").pop(), Expect::HaltedInScript,
                     function("f", {}, callFunction("f").pop())},
        HostileMovie{"join-forever", endlessly(call(var("a"), "join").pop()), Expect::HaltedInScript,
                     set("a", make("Array", {num(1000000)}))},
        HostileMovie{"sort-forever", endlessly(call(var("a"), "sort").pop()), Expect::HaltedInScript,
                     then({doubled("s", "ba", 16), set("a", call(var("s"), "split", {str("")}))})},
        HostileMovie{"bitmap-fill-forever", endlessly(call(var("b"), "fillRect", {var("r"), num(0)}).pop()),
                     Expect::HaltedInScript,
                     then({set("b", makeFlash("display", "BitmapData", {num(2880), num(2880)})),
                           set("r", makeFlash("geom", "Rectangle", {num(0), num(0), num(2880), num(2880)}))})},
        HostileMovie{"timer-storm",
                     callFunction("setInterval", {var("f"), num(1)}).pop(), Expect::HaltedLater,
                     function("f", {}, repeat("k", 200000, Asm()))},
        HostileMovie{"enter-frame-loop", setMember(Asm().getVariable("_root"), "onEnterFrame", var("f")),
                     Expect::HaltedLater, function("f", {}, endlessly(Asm()))}),
    nameOf);

// Each nests natively without end unless depth is bounded.
INSTANTIATE_TEST_SUITE_P(
    DeepNesting, HostileMovieTest,
    ::testing::Values(
        HostileMovie{"mask-is-root", call(var("m"), "setMask", {Asm().getVariable("_root")}).pop(), Expect::Refused,
                     set("m", call(Asm().getVariable("_root"), "createEmptyMovieClip", {str("m"), num(1)}))},
        HostileMovie{"draw-masked-parent",
                     then({call(var("c"), "setMask", {var("p")}).pop(), call(var("p"), "setMask", {var("c")}).pop(),
                           call(var("b"), "draw", {var("p")}).pop(), call(var("b"), "draw", {var("c")}).pop()}),
                     Expect::Refused,
                     then({set("p", call(Asm().getVariable("_root"), "createEmptyMovieClip", {str("p"), num(1)})),
                           set("c", call(var("p"), "createEmptyMovieClip", {str("c"), num(1)})),
                           set("b", makeFlash("display", "BitmapData", {num(20), num(20)}))})},
        HostileMovie{"clip-chain",
                     // Until a clip is refused.
                     repeat("i", 300000, set("c", call(var("c"), "createEmptyMovieClip", {str("c"), num(1)})),
                            then({var("c"), Asm().pushUndefined()}).op(0x49).op(0x12)),
                     Expect::Refused, set("c", Asm().getVariable("_root"))},
        HostileMovie{"with-chain", endlessly(Asm().getVariable("o").op(0x94, Bytes{5, 0})), Expect::HaltedInScript,
                     set("o", make("Object"))},
        HostileMovie{"xml-deep",
                     then({set("x", make("XML", {var("s")})), call(var("x"), "toString").pop(),
                           call(var("x"), "cloneNode", {Asm().pushBool(true)}).pop()}),
                     Expect::Refused, doubled("s", "<a>", 17)},
        HostileMovie{"xml-built-deep",
                     then({repeat("i", 20000, then({set("n", call(var("x"), "createElement", {str("a")})),
                                                     call(var("n"), "appendChild", {var("top")}).pop(),
                                                     set("top", var("n"))})),
                           call(var("top"), "toString").pop(),
                           call(var("top"), "cloneNode", {Asm().pushBool(true)}).pop()}),
                     Expect::Refused,
                     then({set("x", make("XML")), set("top", call(var("x"), "createElement", {str("a")}))})},
        HostileMovie{"proto-chain",
                     then({repeat("i", 100000, set("o", then({str("__proto__"), var("o"), num(1)}).op(0x43))),
                           Asm().getVariable("o").push("missing").getMember().pop()}),
                     Expect::Refused, set("o", make("Object"))}),
    nameOf);

// A 200 MB movie loaded into 40 levels: loads past the movie's allowance
// are refused, so the process stays under 1 GB and ends in seconds.
TEST(HostileLoads, BigMovieIntoFortyLevels) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    constexpr uint32_t kDataBytes = 200u << 20;
    {
        // One DefineBinaryData of zeros, written sparse: the file costs no disk.
        swf::test::SwfWriter big(8, swf::Rect{0, 2000, 0, 2000}, 24);
        big.showFrame();
        Bytes head = big.bytes();
        head.resize(head.size() - 2); // without its End tag
        const uint32_t tagBytes = 6 + kDataBytes, total = uint32_t(head.size()) + 6 + tagBytes + 2;
        for (int i = 0; i < 4; ++i) head[4 + i] = uint8_t(total >> (8 * i));
        swf::test::ByteWriter tag; // long header, character 1, reserved word
        tag.u16(87 << 6 | 63).u32(tagBytes).u16(1).u32(0);
        head.insert(head.end(), tag.data().begin(), tag.data().end());
        QFile f(dir.filePath(QStringLiteral("big.swf")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(head.data()), qint64(head.size()));
        ASSERT_TRUE(f.resize(total - 2) && f.seek(total - 2));
        f.write("\0\0", 2);
    }
    Asm loads;
    for (int level = 1; level <= 40; ++level) loads.getUrl("big.swf", QStringLiteral("_level%1").arg(level).toStdString());
    swf::test::SwfWriter w(8, swf::Rect{0, 2000, 0, 2000}, 24);
    w.doAction(loads.bytes()).showFrame().showFrame().showFrame();
    w.doAction(then({var("_level1"), Asm().op(0x44), var("_level40"), Asm().op(0x44)}).op(0x47).trace().bytes());
    w.showFrame();
    const Bytes bytes = w.bytes();
    const QString path = dir.filePath(QStringLiteral("main.swf"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    f.close();
    const Outcome o = render(dir, path, 4);
    SCOPED_TRACE("log:\n" + o.log.substr(0, 2000));
    EXPECT_TRUE(o.exitedNormally) << "signal " << o.signal;
    EXPECT_EQ(o.trace, "movieclipundefined\n") << "the first level loads, the last is past the allowance";
    EXPECT_LT(o.peakKb, kMaxPeakKb);
    EXPECT_LT(o.ms, kMaxRunMs);
}

} // namespace
