#include "tests/conformance/corpus_run.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace conformance {

const std::string kCorpus = SWIFTREEL_CORPUS_DIR;
const std::string kOutDir = std::string(SWIFTREEL_BINARY_DIR) + "/conformance-out";

void ensureApp() {
    static int argc = 1;
    static char arg0[] = "conformance_tests";
    static char* argv[] = {arg0, nullptr};
    static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
    (void)app;
}

std::string readText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::set<std::string> expectedPasses(const std::string& listFile) {
    std::set<std::string> out;
    std::istringstream in(readText(std::string(SWIFTREEL_SOURCE_DIR) + "/tests/conformance/" + listFile));
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty() && line[0] != '#') out.insert(line);
    }
    return out;
}

std::vector<std::string> testDirs(const std::string& folder) {
    QDir dir(QString::fromStdString(kCorpus + "/" + folder));
    std::vector<std::string> out;
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (QFile::exists(dir.filePath(name + QStringLiteral("/test.swf")))) out.push_back(name.toStdString());
    return out;
}

swf::harness::RunSpec specFor(const std::string& dir, const TomlDoc& toml) {
    swf::harness::RunSpec spec;
    spec.path = dir + "/test.swf";
    // The corpus was recorded with Date reading 2001-02-03 04:05:06 in a +05:45 zone.
    spec.dateNowMs = 981152406000.0;
    spec.dateZoneOffsetSeconds = 5 * 3600 + 45 * 60;
    if (auto n = toml.number("num_ticks")) {
        spec.ticks = true;
        spec.frames = uint32_t(std::max(1.0, *n));
    } else if (auto f = toml.number("num_frames")) {
        spec.frames = uint32_t(std::max(1.0, *f));
    }
    std::string q = toml.string("player_options/with_renderer/quality").value_or("high");
    spec.quality = q == "low" ? swf::Quality::Low : q == "medium" ? swf::Quality::Medium
                 : q == "best" ? swf::Quality::Best : swf::Quality::High;
    auto w = toml.number("player_options/viewport_dimensions/width");
    auto h = toml.number("player_options/viewport_dimensions/height");
    if (w && h) spec.size = QSize(int(*w), int(*h));
    // A movie recorded with sound mixes it (sounds end, and say so, as they play).
    spec.mixAudio = toml.boolean("player_options/with_audio").value_or(false);
    if (QFile::exists(QString::fromStdString(dir + "/input.json"))) {
        auto batches = swf::harness::readInputFile(dir + "/input.json");
        if (batches) spec.input = std::move(*batches);
    }
    return spec;
}

std::string Tally::line(const std::string& what) const {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s: %d pass, %d close, %d fail of %d", what.c_str(), pass, close, fail,
                  pass + close + fail);
    return buf;
}

void SplitTally::print(const std::string& what) const {
    std::printf("%s\n", all.line(what).c_str());
    std::printf("%s (%.1f %%)\n", rest.line(what + ", diffs read").c_str(), rest.rate());
    std::printf("%s (%.1f %%)\n", check.line(what + ", self-check third").c_str(), check.rate());
}

void Ledger::record(const std::string& id, bool passed, const std::string& detail) {
    bool listed = expected.count(id) != 0;
    if (listed && !passed) ADD_FAILURE() << id << " is listed as passing but now fails: " << detail;
    if (!listed && passed) newlyPassing.push_back(id);
}

void Ledger::print() const {
    for (const auto& id : newlyPassing) std::printf("newly passing (add to %s): %s\n", file.c_str(), id.c_str());
}

bool traceMatches(const std::string& expectedIn, const std::string& actual, const TomlDoc& toml) {
    std::string expected = expectedIn;
    for (size_t p; (p = expected.find("\r\n")) != std::string::npos;) expected.replace(p, 2, "\n");
    if (expected == actual) return true;
    auto epsilon = toml.number("approximations/epsilon");
    if (!epsilon) return false;
    static const QRegularExpression number(QStringLiteral("-?\\d+(\\.\\d+)?([eE][-+]?\\d+)?"));
    QStringList el = QString::fromStdString(expected).split(u'\n'), al = QString::fromStdString(actual).split(u'\n');
    if (el.size() != al.size()) return false;
    for (qsizetype i = 0; i < el.size(); ++i) {
        if (el[i] == al[i]) continue;
        QString es = el[i], as = al[i];
        QList<double> en, an;
        for (auto it = number.globalMatch(es); it.hasNext();) en.push_back(it.next().captured().toDouble());
        for (auto it = number.globalMatch(as); it.hasNext();) an.push_back(it.next().captured().toDouble());
        es.replace(number, QStringLiteral("#"));
        as.replace(number, QStringLiteral("#"));
        if (es != as || en.size() != an.size()) return false;
        for (qsizetype k = 0; k < en.size(); ++k)
            if (std::abs(en[k] - an[k]) > *epsilon) return false;
    }
    return true;
}

} // namespace conformance
