#pragma once
// What the conformance runners share: reading the corpus, the run settings
// of a test, trace judging, pass figures with the self-check third apart,
// and the committed lists of tests that must pass.
#include "tests/conformance/check_set.h"
#include "tests/conformance/image_metric.h"
#include "tests/conformance/toml_subset.h"
#include "tools/harness/run_movie.h"

#include <set>
#include <string>
#include <vector>

namespace conformance {

extern const std::string kCorpus;
extern const std::string kOutDir;

void ensureApp();
std::string readText(const std::string& path);
// The test ids a list file under tests/conformance/ names (one a line, # comments).
std::set<std::string> expectedPasses(const std::string& listFile = "expected_pass.txt");
// The test folders of a corpus set that hold a test.swf.
std::vector<std::string> testDirs(const std::string& folder);
swf::harness::RunSpec specFor(const std::string& dir, const TomlDoc& toml);
// Trace output compared exactly, or with numbers within the test's tolerance.
bool traceMatches(const std::string& expected, const std::string& actual, const TomlDoc& toml);

struct Tally {
    int pass = 0, close = 0, fail = 0;
    void add(Verdict v) { (v == Verdict::Pass ? pass : v == Verdict::Close ? close : fail)++; }
    double rate() const { int n = pass + close + fail; return n ? 100.0 * pass / n : 0.0; }
    std::string line(const std::string& what) const;
};

// A set's figures, with the self-check third (see check_set.h) apart.
struct SplitTally {
    Tally all, rest, check;
    void add(const std::string& name, Verdict v) {
        all.add(v);
        (inCheckSet(name) ? check : rest).add(v);
    }
    void print(const std::string& what) const;
};

// Holds the verdicts against a committed list.
struct Ledger {
    explicit Ledger(const std::string& listFile = "expected_pass.txt") : expected(expectedPasses(listFile)), file(listFile) {}
    std::set<std::string> expected;
    std::string file;
    std::vector<std::string> newlyPassing;
    void record(const std::string& id, bool passed, const std::string& detail);
    void print() const;
};

} // namespace conformance
