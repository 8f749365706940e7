// libFuzzer target, structure-aware: the input chooses a well-formed script
// (see script_program.h) that runs in the first frame of a plain movie or of
// one of the base movies in $SWIFTREEL_FUZZ_BASES (a folder of .swf files;
// fuzz/make-seeds.sh builds one from the test corpus and the hostile movies).
// Input: byte 0 picks the version of the plain movie, byte 1 the base movie
// (0: the plain one), the rest the program.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "engine/swf/parser.h"
#include "fuzz/fuzz_movies.h"
#include "fuzz/fuzz_setup.h"
#include "fuzz/script_program.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <vector>

namespace {

constexpr qint64 kMaxBaseBytes = 256 * 1024;
constexpr int kMaxBases = 255;

fuzzing::BuiltinNames* g_names = nullptr;
std::vector<std::vector<uint8_t>>* g_bases = nullptr;

void loadBases() {
    const QString dir = qEnvironmentVariable("SWIFTREEL_FUZZ_BASES");
    if (dir.isEmpty()) return;
    for (const QFileInfo& f : QDir(dir).entryInfoList({QStringLiteral("*.swf")}, QDir::Files, QDir::Name)) {
        if (f.size() > kMaxBaseBytes || int(g_bases->size()) >= kMaxBases) continue;
        QFile file(f.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = file.readAll();
        if (bytes.startsWith("FWS") || bytes.startsWith("CWS")) g_bases->emplace_back(bytes.begin(), bytes.end());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::initialise(argc, argv);
    g_names = new fuzzing::BuiltinNames(fuzzing::collectBuiltinNames(10));
    g_bases = new std::vector<std::vector<uint8_t>>();
    loadBases();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::vector<uint8_t> actions = fuzzing::buildProgram(*g_names, std::span<const uint8_t>(data + 2, size - 2));
    const size_t base = data[1] % (g_bases->size() + 1);
    std::vector<uint8_t> bytes = base ? fuzzing::addFirstFrameActions((*g_bases)[base - 1], actions) : std::vector<uint8_t>{};
    if (bytes.empty()) bytes = fuzzing::movieWithActions(uint8_t(5 + data[0] % 6), actions); // versions 5..10
    auto movie = swf::parseMovie(bytes, "fuzz.swf");
    if (!movie) return 0;
    swf::Player player;
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    player.load(*movie);
    fuzzing::playBriefly(player);
    return 0;
}
