// The conformance suite: every test movie of the corpus is run in process
// through the Player as the corpus README describes and judged against the
// original player's results. tests/conformance/expected_pass.txt lists the
// tests that must pass; a listed test that fails is a failure, a passing test
// that is not listed yet is printed so the list can grow.
#include "engine/swf/parser.h"
#include "tests/conformance/corpus_run.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace conformance {
namespace {

// Whether a movie carries ActionScript anywhere: frame or init actions,
// clip actions on placements, button actions, or ActionScript 3 code.
bool usesScripts(const swf::Movie& m) {
    if (!m.initActions.empty() || m.isAs3()) return true;
    auto scan = [](const swf::Timeline& tl) {
        for (const auto& f : tl.frames)
            for (const auto& t : f.tags) {
                if (t.code == swf::tag::DoAction || t.code == swf::tag::DoABC) return true;
                if (t.code == swf::tag::PlaceObject2 && !t.body.empty() && (t.body[0] & 0x80)) return true;
                if (t.code == swf::tag::PlaceObject3 && !t.body.empty() && (t.body[0] & 0x80)) return true;
            }
        return false;
    };
    if (scan(m.timeline)) return true;
    for (const auto& [id, c] : m.dictionary) {
        if (auto s = std::get_if<std::shared_ptr<const swf::SpriteDef>>(&c); s && scan((*s)->timeline)) return true;
        if (auto b = std::get_if<std::shared_ptr<const swf::ButtonDef>>(&c); b && !(*b)->actions.empty()) return true;
    }
    return false;
}

TEST(Conformance, VisualCorpus) {
    ensureApp();
    QDir().mkpath(QString::fromStdString(kOutDir));
    Ledger ledger;
    SplitTally all;
    Tally noScript;
    for (const std::string& name : testDirs("visual")) {
        const bool check = inCheckSet(name);
        const std::string dir = kCorpus + "/visual/" + name;
        TomlDoc toml = TomlDoc::parse(readText(dir + "/test.toml"));
        auto spec = specFor(dir, toml);

        struct Comparison {
            std::string name;
            std::optional<uint32_t> frame;
            bool fs = false;
            int tolerance = 0;
            long maxOutliers = 0;
        };
        std::vector<Comparison> comparisons;
        for (const std::string& cmp : toml.children("image_comparisons")) {
            Comparison c{cmp, std::nullopt, false, 0, 0};
            std::string base = "image_comparisons/" + cmp;
            if (auto t = toml.number(base + "/trigger")) c.frame = uint32_t(*t);
            else if (toml.string(base + "/trigger") == std::string("fs_command")) c.fs = true;
            c.tolerance = int(toml.number(base + "/tolerance").value_or(toml.number(base + "/checks/0/tolerance").value_or(0)));
            c.maxOutliers =
                long(toml.number(base + "/max_outliers").value_or(toml.number(base + "/checks/0/max_outliers").value_or(0)));
            comparisons.push_back(c);
        }
        if (comparisons.empty()) comparisons.push_back(Comparison{"output", std::nullopt, false, 0, 0});
        spec.captureAtEnd = false;
        for (const auto& c : comparisons) {
            if (c.frame) spec.captureFrames.push_back(*c.frame);
            else if (c.fs) spec.captureOnFsCommand = true;
            else spec.captureAtEnd = true;
        }

        auto movie = swf::loadMovieFile(spec.path);
        bool scripted = !movie || usesScripts(**movie);
        auto run = swf::harness::runMovie(spec);
        Verdict worst = Verdict::Pass;
        std::string detail;
        int fsSeen = 0;
        for (const auto& c : comparisons) {
            QImage expected(QString::fromStdString(dir + "/" + c.name + ".expected.png"));
            const QImage* actual = nullptr;
            if (run) {
                for (const auto& cap : run->captures) {
                    if (c.frame && !cap.fromFsCommand && cap.frame == *c.frame) { actual = &cap.image; break; }
                    if (!c.frame && !c.fs && !cap.fromFsCommand && &cap == &run->captures.back()) actual = &cap.image;
                }
                if (c.fs) {
                    int k = 0;
                    for (const auto& cap : run->captures)
                        if (cap.fromFsCommand && k++ == fsSeen) actual = &cap.image;
                    ++fsSeen;
                }
            }
            Verdict v = Verdict::Fail;
            char buf[256];
            if (!actual) {
                std::snprintf(buf, sizeof buf, "%s: no image (%s)", c.name.c_str(),
                              run ? "not captured" : run.error().message.c_str());
            } else {
                ImageJudgement j = judgeImages(expected, *actual, c.tolerance);
                v = j.verdict;
                if (j.sizeMismatch)
                    std::snprintf(buf, sizeof buf, "%s: size %dx%d, expected %dx%d", c.name.c_str(), actual->width(),
                                  actual->height(), expected.width(), expected.height());
                else
                    std::snprintf(buf, sizeof buf,
                                  "%s: %s M16 %.2f%% M32 %.2f%% M64 %.2f%% M128 %.2f%% PSNR %.1f max %d, "
                                  "%ld channel values over tolerance %d (strict check %s, %ld allowed)",
                                  c.name.c_str(), verdictName(v), j.m16, j.m32, j.m64, j.m128, j.psnr, j.maxDiff,
                                  j.outliers, c.tolerance, j.outliers <= c.maxOutliers ? "met" : "not met",
                                  c.maxOutliers);
                if (v != Verdict::Pass && !check) {
                    QString stem = QString::fromStdString(kOutDir + "/" + name + "." + c.name);
                    actual->save(stem + QStringLiteral(".actual.png"));
                    differenceImage(expected, *actual).save(stem + QStringLiteral(".diff.png"));
                }
            }
            detail += std::string(detail.empty() ? "" : "; ") + buf;
            if (int(v) > int(worst)) worst = v;
        }
        if (check) detail = "(self-check set: details withheld)";
        std::printf("%-5s visual/%s%s  %s\n", verdictName(worst), shownName(name, worst == Verdict::Pass).c_str(), scripted ? "" : " [no script]",
                    detail.c_str());
        all.add(name, worst);
        if (!scripted) noScript.add(worst);
        ledger.record("visual/" + name, worst == Verdict::Pass, detail);
    }
    ledger.print();
    all.print("conformance (visual)");
    std::printf("%s\n", noScript.line("conformance (visual, no ActionScript)").c_str());
    std::fflush(stdout);
}

// One set of trace tests: each movie run as its test.toml says, its trace
// judged against output.txt and the verdict held against the set's list.
struct TraceSet {
    std::string folder;
    std::string listFile;
    int dateZoneOffsetSeconds;
    bool carriageReturnEndsLine; // the log was written with every lone \r as a line end
    bool validUtf8Log;           // the log was stored as valid UTF-8: half a surrogate pair became U+FFFD
};

// The trace as a log stored as valid UTF-8 holds it: every encoded half of a
// surrogate pair (ED A0..BF xx) turned into the replacement character.
std::string asValidUtf8Log(const std::string& trace) {
    std::string out;
    for (size_t i = 0; i < trace.size(); ++i) {
        const auto b = [&](size_t k) { return static_cast<unsigned char>(trace[k]); };
        if (b(i) == 0xed && i + 2 < trace.size() && b(i + 1) >= 0xa0 && b(i + 1) <= 0xbf) {
            out += "\xef\xbf\xbd";
            i += 2;
        } else {
            out += trace[i];
        }
    }
    return out;
}

void runTraceSet(const TraceSet& set) {
    ensureApp();
    QDir().mkpath(QString::fromStdString(kOutDir));
    Ledger ledger(set.listFile);
    SplitTally tally;
    for (const std::string& name : testDirs(set.folder)) {
        const bool check = inCheckSet(name);
        const std::string dir = kCorpus + "/" + set.folder + "/" + name;
        TomlDoc toml = TomlDoc::parse(readText(dir + "/test.toml"));
        std::string outputFile = dir + "/" + toml.string("output_path").value_or("output.txt");
        if (!QFile::exists(QString::fromStdString(outputFile))) continue; // subtests only
        auto spec = specFor(dir, toml);
        spec.dateZoneOffsetSeconds = set.dateZoneOffsetSeconds;
        spec.captureAtEnd = false;
        auto run = swf::harness::runMovie(spec);
        if (run && set.carriageReturnEndsLine) std::replace(run->trace.begin(), run->trace.end(), '\r', '\n');
        if (run && set.validUtf8Log) run->trace = asValidUtf8Log(run->trace);
        bool ok = run && traceMatches(readText(outputFile), run->trace, toml);
        if (!ok && !check) { // kept beside the images so a failing trace can be diffed against output.txt
            std::ofstream(kOutDir + "/" + name + ".actual.txt", std::ios::binary)
                << (run ? run->trace : "run failed: " + run.error().message + "\n");
        }
        tally.add(name, ok ? Verdict::Pass : Verdict::Fail);
        std::printf("%-5s %s/%s\n", ok ? "PASS" : "FAIL", set.folder.c_str(), shownName(name, ok).c_str());
        ledger.record(set.folder + "/" + name, ok, run ? "trace differs" : run.error().message);
    }
    ledger.print();
    tally.print("conformance (" + set.folder + " traces)");
    std::fflush(stdout);
}

// The avm1 set was recorded in a +05:45 zone, its log breaking lines at
// carriage returns and stored as valid UTF-8.
TEST(Conformance, Avm1TraceCorpus) { runTraceSet({"avm1", "expected_pass.txt", 5 * 3600 + 45 * 60, true, true}); }

// The swfdec set was recorded with the local zone at UTC and keeps the bytes
// traced; its movies end themselves through "FSCommand:quit" URLs, which
// arrive as fscommand quit.
TEST(Conformance, SwfdecTraceCorpus) { runTraceSet({"avm1_swfdec", "expected_pass_swfdec.txt", 0, false, false}); }

} // namespace
} // namespace conformance
