// Loading: the Player's loader (addresses, timing, failures), variables in
// URLs, movies loaded into levels and clips with their events, and stored
// SharedObjects. Child movies are written in code into a temporary folder.
#include "engine/avm1/net.h"
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/loader.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using avm1test::Asm;
using swf::FetchResult;
using swf::Loader;
using swf::Player;
using swf::test::SwfWriter;
using Lines = std::vector<std::string>;

// ---- Loader ------------------------------------------------------------------------------

struct ResolveCase {
    const char* name;
    const char* base;
    const char* url;
    std::optional<std::string> expected;
};

class LoaderResolve : public testing::TestWithParam<ResolveCase> {};

TEST_P(LoaderResolve, Resolves) {
    const ResolveCase& c = GetParam();
    EXPECT_EQ(Loader::resolve(c.base, c.url), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoaderResolve,
    testing::Values(
        ResolveCase{"RelativeToMoviePath", "/m/dir/movie.swf", "child.swf", "/m/dir/child.swf"},
        ResolveCase{"RelativeWithSpace", "/m/dir/movie.swf", "Shift Jis.txt", "/m/dir/Shift Jis.txt"},
        ResolveCase{"ParentFolder", "/m/dir/movie.swf", "../x/a.txt", "/m/x/a.txt"},
        ResolveCase{"QueryDroppedForFiles", "/m/movie.swf", "vars.txt?x=1", "/m/vars.txt"},
        ResolveCase{"AbsolutePath", "/m/movie.swf", "/other/a.swf", "/other/a.swf"},
        ResolveCase{"FileUrl", "/m/movie.swf", "file:///tmp/a.swf", "/tmp/a.swf"},
        ResolveCase{"RelativeToWebMovie", "http://example.com/a/movie.swf", "b.xml", "http://example.com/a/b.xml"},
        ResolveCase{"AbsoluteHttps", "/m/movie.swf", "https://example.com/x", "https://example.com/x"},
        ResolveCase{"WebMovieCannotReadFiles", "https://example.com/movie.swf", "file:///etc/passwd", std::nullopt},
        ResolveCase{"FtpRefused", "/m/movie.swf", "ftp://example.com/a.swf", std::nullopt},
        ResolveCase{"JavascriptRefused", "/m/movie.swf", "javascript:alert(1)", std::nullopt},
        ResolveCase{"DataRefused", "/m/movie.swf", "data:text/plain,hi", std::nullopt},
        ResolveCase{"EmptyRefused", "/m/movie.swf", "", std::nullopt}),
    [](const testing::TestParamInfo<ResolveCase>& i) { return std::string(i.param.name); });

class TempFolder {
public:
    std::string path(const std::string& name) const { return (m_dir.path() + u'/' + QString::fromStdString(name)).toStdString(); }
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        QFile f(QString::fromStdString(path(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    void write(const std::string& name, const std::string& text) const {
        write(name, std::vector<uint8_t>(text.begin(), text.end()));
    }
    QString root() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

TEST(Loader, CompletesOnALaterPollAndRequestsFromCallbacksWaitAnother) {
    TempFolder dir;
    dir.write("a.txt", std::string("hello"));
    Loader loader;
    Lines events;
    loader.request(dir.path("a.txt"), 100, [&](FetchResult& r) {
        events.push_back("a " + std::string(r.bytes.begin(), r.bytes.end()));
        loader.request(dir.path("a.txt"), 100, [&](FetchResult&) { events.push_back("nested"); });
    });
    EXPECT_TRUE(events.empty());
    loader.poll();
    EXPECT_EQ(events, (Lines{"a hello"}));
    loader.poll();
    EXPECT_EQ(events, (Lines{"a hello", "nested"}));
}

TEST(Loader, FailuresAreReportedNotThrown) {
    TempFolder dir;
    dir.write("big.txt", std::string(200, 'x'));
    Loader loader;
    std::vector<bool> ok;
    auto record = [&](FetchResult& r) { ok.push_back(r.ok); };
    loader.request(dir.path("missing.txt"), 100, record);
    loader.request(dir.path("big.txt"), 100, record);
    loader.request(std::nullopt, 100, record);                 // refused address
    loader.request("http://example.com/a", 100, record);       // no fetch callback
    loader.request(dir.root().toStdString(), 100, record);     // a folder
    loader.poll();
    EXPECT_EQ(ok, (std::vector<bool>{false, false, false, false, false}));
}

TEST(Loader, WebRequestsGoThroughTheFetchCallback) {
    Loader loader;
    swf::FetchDone answer;
    std::string asked;
    loader.setFetch([&](const std::string& url, const std::string& method, const std::vector<uint8_t>&, size_t,
                        swf::FetchDone done) {
        asked = method + " " + url;
        answer = std::move(done);
    });
    std::optional<std::string> got;
    loader.request("https://example.com/v.txt", 100, [&](FetchResult& r) { got = std::string(r.bytes.begin(), r.bytes.end()); });
    EXPECT_EQ(asked, "GET https://example.com/v.txt");
    loader.poll();
    EXPECT_FALSE(got); // still on the network
    answer(FetchResult{true, 200, {'o', 'k'}, {}});
    EXPECT_FALSE(got); // handed over at the next poll only
    loader.poll();
    EXPECT_EQ(got, "ok");
}

TEST(Loader, AnswerAfterTheLoaderIsGoneIsDropped) {
    swf::FetchDone answer;
    {
        Loader loader;
        loader.setFetch([&](const std::string&, const std::string&, const std::vector<uint8_t>&, size_t,
                            swf::FetchDone done) {
            answer = std::move(done);
        });
        loader.request("http://example.com/a", 100, [](FetchResult&) { FAIL() << "delivered after the loader died"; });
    }
    answer(FetchResult{true, 200, {}, {}});
}

// ---- Variables in URLs -----------------------------------------------------------------------

struct EncodeCase {
    const char* name;
    int version;
    const char* text;
    const char* encoded;
};

class UrlEncoding : public testing::TestWithParam<EncodeCase> {};

TEST_P(UrlEncoding, EncodesAndDecodesBack) {
    const EncodeCase& c = GetParam();
    swf::avm1::Vm vm(c.version);
    QString text = QString::fromUtf8(c.text);
    EXPECT_EQ(swf::avm1::urlEncode(vm, text).toStdString(), c.encoded);
    auto vars = swf::avm1::decodeVariables(vm, QStringLiteral("k=") + QString::fromLatin1(c.encoded));
    ASSERT_EQ(vars.size(), 1u);
    EXPECT_EQ(vars[0].second, text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UrlEncoding,
    testing::Values(EncodeCase{"LettersAndDigitsStay", 8, "abcXYZ019", "abcXYZ019"},
                    EncodeCase{"PunctuationEscaped", 8, "a b_c-d.e", "a%20b%5Fc%2Dd%2Ee"},
                    EncodeCase{"Utf8Bytes", 8, "\xc3\xa4\xe7\x89\x87", "%C3%A4%E7%89%87"},
                    EncodeCase{"CodePageForSwf5", 5, "\xc3\xa4\xe2\x82\xac", "%E4%80"}),
    [](const testing::TestParamInfo<EncodeCase>& i) { return std::string(i.param.name); });

TEST(UrlEncoding, DecodeSplitsPairsAndReadsPlusAsSpace) {
    swf::avm1::Vm vm(8);
    auto vars = swf::avm1::decodeVariables(vm, QStringLiteral("a=1&&b=two+words&c&=x&d=%41%42"));
    ASSERT_EQ(vars.size(), 4u);
    EXPECT_EQ(vars[0], (std::pair<QString, QString>{"a", "1"}));
    EXPECT_EQ(vars[1], (std::pair<QString, QString>{"b", "two words"}));
    EXPECT_EQ(vars[2], (std::pair<QString, QString>{"c", ""}));
    EXPECT_EQ(vars[3], (std::pair<QString, QString>{"d", "AB"}));
}

TEST(UrlEncoding, LoadedTextHonoursByteOrderMarks) {
    swf::avm1::Vm vm(8);
    EXPECT_EQ(swf::avm1::decodeLoadedText(vm, QByteArray("\xEF\xBB\xBFz\xC3\xA4")), QStringLiteral("z\u00e4"));
    EXPECT_EQ(swf::avm1::decodeLoadedText(vm, QByteArray("\xFF\xFEh\0i\0", 6)), QStringLiteral("hi"));
    EXPECT_EQ(swf::avm1::decodeLoadedText(vm, QByteArray("\xFE\xFF\0h\0i", 6)), QStringLiteral("hi"));
    swf::avm1::Vm old(5);
    EXPECT_EQ(swf::avm1::decodeLoadedText(old, QByteArray("\xC4\x80")), QStringLiteral("\u00c4\u20ac"));
}

// ---- Movies loaded into levels and clips -------------------------------------------------------

// Runs a movie written in code from a temporary folder, where its children live.
struct MovieRun {
    TempFolder dir;
    std::unique_ptr<Player> player;
    Lines trace;

    void start(const SwfWriter& w) {
        swf::HostCallbacks host;
        host.trace = [this](const std::string& s) { trace.push_back(s); };
        player = std::make_unique<Player>(host);
        player->setScriptHostFactory(swf::avm1ScriptHostFactory());
        ASSERT_TRUE(player->load(w.bytes(), dir.path("main.swf")).ok());
    }
    void frames(int n) {
        for (int i = 0; i < n; ++i) player->runFrame();
    }
};

// obj.name = function(params) { body }
Asm& setMethod(Asm& a, const std::string& obj, const std::string& name, const std::vector<std::string>& params,
               const Asm& body) {
    return a.getVariable(obj).push(name).defineFunction("", params, body).setMember();
}

// trace(prefix + variable)
Asm traceWith(const std::string& prefix, const std::string& variable) {
    return Asm().push(prefix).getVariable(variable).op(0x47).trace();
}

SwfWriter childMovie(const Asm& frame1) {
    SwfWriter w(8, {0, 100 * 20, 0, 100 * 20});
    w.doAction(frame1.bytes()).showFrame();
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    return w;
}

// GetURL2 with a target taken from the stack: loads a movie into a clip (0x40) or variables (0xC0).
Asm getUrl2(const std::string& url, const std::string& target, uint8_t flags) {
    return Asm().push(url).push(target).op(0x9A, {flags});
}

TEST(LoadMovie, IntoALevelOnTheNextFrameThenUnloaded) {
    MovieRun r;
    r.dir.write("child.swf", childMovie(Asm().push("child ").getVariable("this").op(0x47).trace()).bytes());
    SwfWriter w(8);
    w.doAction(Asm().getUrl("child.swf", "_level1").push("asked").trace().bytes()).showFrame();
    w.doAction(Asm().push("parent 2").trace().bytes()).showFrame();
    w.doAction(traceWith("level ", "_level1").getUrl("", "_level1").bytes()).showFrame();
    w.doAction(traceWith("after ", "_level1").op(0x07).bytes()).showFrame();
    r.start(w);
    r.frames(2);
    EXPECT_EQ(r.trace, (Lines{"asked", "parent 2", "child _level1"}));
    ASSERT_NE(r.player->level(1), nullptr);
    r.frames(2);
    EXPECT_EQ(r.trace, (Lines{"asked", "parent 2", "child _level1", "level _level1", "after undefined"}));
    EXPECT_EQ(r.player->level(1), nullptr);
}

TEST(LoadMovie, IntoAClipKeepsItsPlaceAndClearsItsVariables) {
    MovieRun r;
    r.dir.write("child.swf", childMovie(Asm().push("childVar").push("c").setVariable().push("child ").getVariable("this").op(0x47).trace()).bytes());
    SwfWriter sprite(8);
    sprite.showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .matrix = swf::Matrix{1, 0, 0, 1, 200, 0}, .name = "holder"});
    w.doAction(Asm().getVariable("holder").push("v").push(1).setMember().raw(getUrl2("child.swf", "holder", 0x40).body()).bytes())
        .showFrame();
    w.showFrame();
    w.doAction(Asm()
                   .raw(traceWith("v ", "holder.v").body())
                   .raw(traceWith("childVar ", "holder.childVar").body())
                   .raw(traceWith("x ", "holder._x").body())
                   .op(0x07)
                   .bytes())
        .showFrame();
    r.start(w);
    r.frames(3);
    EXPECT_EQ(r.trace, (Lines{"child _level0.holder", "v undefined", "childVar c", "x 10"}));
}

TEST(LoadMovie, IntoLevelZeroReplacesTheRootButKeepsGlobals) {
    MovieRun r;
    SwfWriter child(8, {0, 300 * 20, 0, 200 * 20});
    child.doAction(traceWith("g ", "_global.g").raw(traceWith("r ", "_root.r").body()).op(0x07).bytes()).showFrame();
    r.dir.write("child.swf", child.bytes());
    SwfWriter w(8);
    w.doAction(Asm().getVariable("_global").push("g").push(1).setMember().push("r").push(2).setVariable()
                   .getUrl("child.swf", "_level0").bytes())
        .showFrame();
    r.start(w);
    r.frames(2);
    EXPECT_EQ(r.trace, (Lines{"g 1", "r undefined"}));
    EXPECT_EQ(r.player->movie()->header.frameSize.width(), 300 * 20);
}

TEST(LoadMovie, ALevelGivesTheStageItsColourWhenTheRootHasNone) {
    MovieRun r;
    SwfWriter child(8);
    child.backgroundColor({0, 0, 255, 255}).showFrame();
    r.dir.write("child.swf", child.bytes());
    SwfWriter w(8);
    w.doAction(Asm().getUrl("child.swf", "_level3").bytes()).showFrame();
    r.start(w);
    EXPECT_EQ(r.player->backgroundColor(), (swf::Rgba{255, 255, 255, 255}));
    r.frames(2);
    EXPECT_EQ(r.player->backgroundColor(), (swf::Rgba{0, 0, 255, 255}));
}

TEST(LoadMovie, MissingFileLeavesTheClipAlone) {
    MovieRun r;
    SwfWriter sprite(8);
    sprite.showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = "holder"});
    w.doAction(Asm().getVariable("holder").push("v").push(1).setMember().raw(getUrl2("nothing.swf", "holder", 0x40).body()).bytes())
        .showFrame();
    w.doAction(traceWith("v ", "holder.v").op(0x07).bytes()).showFrame();
    r.start(w);
    r.frames(2);
    EXPECT_EQ(r.trace, (Lines{"v 1"}));
}

// A MovieClipLoader whose own handlers trace every event.
Asm loaderWithHandlers() {
    Asm a;
    a.push("loader").push(0).push("MovieClipLoader").op(0x40).op(0x3C);
    setMethod(a, "loader", "onLoadStart", {"t"}, traceWith("start ", "t"));
    setMethod(a, "loader", "onLoadProgress", {"t", "n"}, traceWith("progress ", "n"));
    setMethod(a, "loader", "onLoadComplete", {"t", "s"}, traceWith("complete ", "s"));
    setMethod(a, "loader", "onLoadInit", {"t"}, traceWith("init ", "t"));
    setMethod(a, "loader", "onLoadError", {"t", "e"}, traceWith("error ", "e"));
    return a;
}

// loader.loadClip(url, target) with the result traced.
Asm loadClip(const std::string& url, const std::string& targetVariable) {
    return Asm().getVariable(targetVariable).push(url).push(2).getVariable("loader").push("loadClip").op(0x52).trace();
}

TEST(MovieClipLoader, EventsInOrderAroundTheFirstFrame) {
    MovieRun r;
    auto child = childMovie(Asm().push("child frame").trace()).bytes();
    r.dir.write("child.swf", child);
    SwfWriter sprite(8);
    sprite.showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = "holder"});
    w.doAction(loaderWithHandlers().raw(loadClip("child.swf", "holder").body()).bytes()).showFrame();
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    r.start(w);
    r.frames(3);
    EXPECT_EQ(r.trace, (Lines{"true", "start _level0.holder", "progress " + std::to_string(child.size()),
                              "complete 0", "child frame", "init _level0.holder"}));
}

TEST(MovieClipLoader, MissingFileAndRefusedAddressReportErrors) {
    MovieRun r;
    SwfWriter sprite(8);
    sprite.showFrame();
    SwfWriter w(8);
    w.defineSprite(2, sprite);
    w.placeObject2({.depth = 1, .characterId = 2, .name = "holder"});
    w.doAction(loaderWithHandlers()
                   .raw(loadClip("missing.swf", "holder").body())
                   .raw(loadClip("ftp://example.com/a.swf", "holder").body())
                   .bytes())
        .showFrame();
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    r.start(w);
    r.frames(3);
    EXPECT_EQ(r.trace, (Lines{"true", "true", "error URLNotFound", "error URLNotFound"}));
}

TEST(MovieClipLoader, BadArgumentsAreRefused) {
    MovieRun r;
    SwfWriter w(8);
    w.doAction(loaderWithHandlers()
                   .raw(loadClip("child.swf", "nosuchclip").body())            // undefined target
                   .push("child.swf").push(1).getVariable("loader").push("loadClip").op(0x52).trace() // one argument
                   .op(0x07)
                   .bytes())
        .showFrame();
    r.start(w);
    r.frames(2);
    EXPECT_EQ(r.trace, (Lines{"false", "undefined"}));
}

TEST(LoadVariables, IntoTheRootOnALaterFrame) {
    MovieRun r;
    r.dir.write("vars.txt", std::string("a=1&b=two%20words"));
    SwfWriter w(8);
    w.doAction(getUrl2("vars.txt", "_level0", 0xC0).bytes()).showFrame();
    w.doAction(traceWith("early ", "b").bytes()).showFrame();
    w.doAction(traceWith("a ", "a").raw(traceWith("b ", "b").body()).op(0x07).bytes()).showFrame();
    r.start(w);
    r.frames(3);
    EXPECT_EQ(r.trace, (Lines{"early two words", "a 1", "b two words"}));
}

TEST(LoadVars, LoadCallsOnLoadWithSuccess) {
    MovieRun r;
    r.dir.write("v.txt", std::string("name=x%26y"));
    SwfWriter w(8);
    Asm a;
    a.push("lv").push(0).push("LoadVars").op(0x40).op(0x3C);
    setMethod(a, "lv", "onLoad", {"ok"}, traceWith("ok ", "ok").raw(traceWith("name ", "this.name").body()));
    a.push("bad").push(0).push("LoadVars").op(0x40).op(0x3C);
    setMethod(a, "bad", "onLoad", {"ok"}, traceWith("bad ", "ok"));
    a.push("v.txt").push(1).getVariable("lv").push("load").op(0x52).pop();
    a.push("none.txt").push(1).getVariable("bad").push("load").op(0x52).pop();
    w.doAction(a.bytes()).showFrame();
    w.doAction(Asm().op(0x07).bytes()).showFrame();
    r.start(w);
    r.frames(2);
    EXPECT_EQ(r.trace, (Lines{"ok true", "name x&y", "bad false"}));
}

// ---- SharedObject ---------------------------------------------------------------------------

// so = SharedObject.getLocal(name)
Asm getLocal(const std::string& name) {
    return Asm().push("so").push(name).push(1).getVariable("SharedObject").push("getLocal").op(0x52).op(0x3C);
}

TEST(SharedObject, DataSurvivesTheMovieInTheUsersDataFolder) {
    TempFolder data;
    QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.root().toUtf8());
    TempFolder movies;
    auto runMovie = [&](const Asm& code) {
        Lines trace;
        swf::HostCallbacks host;
        host.trace = [&](const std::string& s) { trace.push_back(s); };
        Player p(host);
        p.setScriptHostFactory(swf::avm1ScriptHostFactory());
        SwfWriter w(8);
        w.doAction(code.bytes()).showFrame();
        EXPECT_TRUE(p.load(w.bytes(), movies.path("game.swf")).ok());
        p.runFrame();
        return trace;
    };
    Asm write = getLocal("prefs");
    write.getVariable("so.data").push("n").push(5).setMember();
    write.getVariable("so.data").push("s").push("text").setMember();
    write.getVariable("so.data").push("list").push("b").push("a").push(2).op(0x42).setMember();
    write.push(0).getVariable("so").push("flush").op(0x52).trace();
    EXPECT_EQ(runMovie(write), (Lines{"true"}));

    Asm read = getLocal("prefs");
    read.getVariable("so.data.n").trace().getVariable("so.data.s").trace().getVariable("so.data.list").trace();
    // Written without flush: the data goes to disk when the movie closes.
    read.getVariable("so.data").push("late").push("yes").setMember();
    EXPECT_EQ(runMovie(read), (Lines{"5", "text", "a,b"}));
    EXPECT_EQ(runMovie(getLocal("prefs").getVariable("so.data.late").trace()), (Lines{"yes"}));
    // A name that cannot be a file name gives null.
    EXPECT_EQ(runMovie(getLocal("a:b").getVariable("so").trace()), (Lines{"null"}));

    // Everything stays inside the data folder, one file per object.
    int files = 0;
    for (QDirIterator it(data.root(), QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next()) ++files;
    EXPECT_EQ(files, 1);

    // A shared local path must be a folder of the movie's own path.
    auto getLocalAt = [](const std::string& localPath) {
        return Asm().push("so").push(localPath).push("shared").push(2).getVariable("SharedObject")
            .push("getLocal").op(0x52).op(0x3C).getVariable("so").push("data").getMember().op(0x44).trace();
    };
    EXPECT_EQ(runMovie(getLocalAt("/")), (Lines{"object"}));
    EXPECT_EQ(runMovie(getLocalAt(movies.root().toStdString())), (Lines{"object"}));
    EXPECT_EQ(runMovie(getLocalAt("/elsewhere/nobody")), (Lines{"undefined"}));


    // Many large objects: the movie's folder stops taking them at its allowance.
    const std::string big(60000, 'x');
    Asm many;
    for (int i = 0; i < 20; ++i) {
        many.raw(getLocal("big" + std::to_string(i)).body());
        many.getVariable("so").push("data").getMember().push("s").push(big).setMember();
        many.push(0).getVariable("so").push("flush").op(0x52).trace();
    }
    Lines flushed = runMovie(many);
    const auto stored = size_t(std::count(flushed.begin(), flushed.end(), "true"));
    EXPECT_EQ(stored, swf::limits::kMaxSharedObjectFolderBytes / 60000);
    EXPECT_EQ(flushed.back(), "false");
    if (oldHome.isEmpty()) qunsetenv("XDG_DATA_HOME");
    else qputenv("XDG_DATA_HOME", oldHome);
}

// ---- Imported characters -----------------------------------------------------------------------

// A library whose exported clip (id 7) traces where it was placed; it also
// exports a name for a character it does not have.
SwfWriter libraryMovie() {
    SwfWriter sprite(6);
    sprite.doAction(Asm().push("placed ").getVariable("this").op(0x47).trace().bytes()).showFrame();
    SwfWriter lib(6);
    lib.defineSprite(7, sprite);
    lib.exportAssets({{7, "widget"}, {8, "ghost"}});
    lib.doAction(Asm().push("library frame").trace().bytes()).showFrame();
    return lib;
}

struct ImportCase {
    const char* url;
    const char* name;
    std::vector<std::string> trace;
};
class ImportedCharacter : public ::testing::TestWithParam<ImportCase> {};
TEST_P(ImportedCharacter, IsPlacedFromItsOwnMovie) {
    MovieRun r;
    r.dir.write("lib.swf", libraryMovie().bytes());
    r.dir.write("broken.swf", swf::test::Bytes{'F', 'W', 'S', 6, 1, 2, 3});
    SwfWriter w(6);
    w.importAssets(GetParam().url, {{3, GetParam().name}});
    w.placeObject2({.depth = 1, .characterId = 3, .name = "w"});
    w.showFrame();
    r.start(w);
    r.frames(1);
    EXPECT_EQ(r.trace, GetParam().trace);
}
INSTANTIATE_TEST_SUITE_P(
    Net, ImportedCharacter,
    ::testing::Values(ImportCase{"lib.swf", "widget", {"placed _level0.w"}}, ImportCase{"lib.swf", "ghost", {}},
                      ImportCase{"lib.swf", "nothing", {}}, ImportCase{"missing.swf", "widget", {}},
                      ImportCase{"broken.swf", "widget", {}}, ImportCase{"ftp://host/lib.swf", "widget", {}}));

} // namespace
