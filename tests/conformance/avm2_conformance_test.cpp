// The ActionScript 3 conformance run: every movie of the corpus's avm2 set
// runs through the Player and its trace is judged against the Flash
// player's log. Figures are printed per group (core, display_events,
// rest) with the self-check third apart; avm2_expected_pass.txt lists the
// tests that must pass.
#include "tests/conformance/corpus_run.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

namespace conformance {
namespace {

std::string groupOf(const std::string& dir) {
    QJsonDocument meta = QJsonDocument::fromJson(QByteArray::fromStdString(readText(dir + "/meta.json")));
    std::string g = meta.object().value(QStringLiteral("group")).toString().toStdString();
    return g == "core" || g == "display_events" ? g : "rest";
}

TEST(Conformance, Avm2TraceCorpus) {
    ensureApp();
    QDir().mkpath(QString::fromStdString(kOutDir));
    Ledger ledger("avm2_expected_pass.txt");
    std::map<std::string, SplitTally> groups;
    SplitTally total;
    for (const std::string& name : testDirs("avm2")) {
        const bool check = inCheckSet(name);
        const std::string dir = kCorpus + "/avm2/" + name;
        TomlDoc toml = TomlDoc::parse(readText(dir + "/test.toml"));
        std::string outputFile = dir + "/" + toml.string("output_path").value_or("output.txt");
        const std::string group = groupOf(dir);
        auto spec = specFor(dir, toml);
        spec.captureAtEnd = false;
        // The logs came from two machines: the VM's own acceptance tests ran
        // in US Pacific time (their date checks assume its daylight saving
        // rules), the other movies in UTC.
        spec.avm2DateZone = name.rfind("from_avmplus__", 0) == 0 ? "America/Los_Angeles" : "UTC";
        auto run = swf::harness::runMovie(spec);
        bool ok = run && QFile::exists(QString::fromStdString(outputFile)) && traceMatches(readText(outputFile), run->trace, toml);
        if (!ok && !check) {
            std::ofstream(kOutDir + "/avm2__" + name + ".actual.txt", std::ios::binary)
                << (run ? run->trace : "run failed: " + run.error().message + "\n");
        }
        Verdict v = ok ? Verdict::Pass : Verdict::Fail;
        groups[group].add(name, v);
        total.add(name, v);
        std::printf("%-5s avm2/%s [%s]\n", ok ? "PASS" : "FAIL", shownName(name, ok).c_str(), group.c_str());
        ledger.record("avm2/" + name, ok, run ? "trace differs" : run.error().message);
    }
    ledger.print();
    for (const auto& [group, tally] : groups) tally.print("conformance (avm2 " + group + ")");
    total.print("conformance (avm2 all)");
    std::fflush(stdout);
}

} // namespace
} // namespace conformance
