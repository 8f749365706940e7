// swfrender: the headless front end. Renders a movie's stage after N frames
// into a PNG, writes its trace output and the sound of those frames (a WAV
// mixed offline), or describes the movie (--info).
#include "engine/core/reader.h"
#include "engine/sound/offline_mix.h"
#include "engine/swf/parser.h"
#include "engine/swf/records.h"
#include "tools/harness/run_movie.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: swfrender IN.swf -o OUT.png [--frames N] [--size WxH] [--trace FILE]\n"
    "                 [--quality low|medium|high|best] [--input input.json]\n"
    "                 [--audio OUT.wav]\n"
    "       swfrender --info IN.swf\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "swfrender: %s\n", message.c_str());
    return 1;
}

// Counts the tags of a tag stream, descending into sprites.
void countTags(swf::Reader r, std::map<std::string, int>& counts, int depth) {
    while (!r.atEnd() && !r.failed()) {
        uint16_t head = r.u16();
        uint32_t len = head & 0x3f;
        if (len == 0x3f) len = r.u32();
        uint16_t code = head >> 6;
        swf::Reader body = r.sub(len);
        if (r.failed()) break;
        ++counts[swf::tagName(code)];
        if (code == swf::tag::DefineSprite && depth < 4) {
            body.skip(4); // sprite id, frame count
            countTags(body, counts, depth + 1);
        }
        if (code == swf::tag::End && depth == 0) break;
    }
}

int info(const std::string& path) {
    auto movie = swf::loadMovieFile(path);
    if (!movie) return fail("cannot load " + path + ": " + movie.error().message);
    const swf::Movie& m = **movie;
    swf::Reader r(m.data);
    r.skip(8);
    swf::readRect(r);
    r.skip(4); // frame rate, frame count
    std::map<std::string, int> counts;
    countTags(swf::Reader(r.data().subspan(std::min(r.pos(), r.size()))), counts, 0);
    const char* compression = m.header.signature == 'C' ? "zlib" : m.header.signature == 'Z' ? "lzma" : "none";
    std::printf("version: %d\n", m.header.version);
    std::printf("compression: %s\n", compression);
    std::printf("stage: %gx%g px\n", m.header.frameSize.width() / 20.0, m.header.frameSize.height() / 20.0);
    std::printf("frame rate: %g fps\n", m.header.frameRate);
    std::printf("frames: %u\n", m.header.frameCount);
    std::printf("actionscript: %s\n", m.isAs3() ? "3" : "1/2");
    std::printf("tags:");
    bool first = true;
    for (const auto& [name, n] : counts) {
        std::printf("%s %s x%d", first ? "" : ",", name.c_str(), n);
        first = false;
    }
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Fonts and images need a GUI application; no window is ever shown.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's own chatter (runtime folders, fonts) would break the one-line error contract.
    if (!std::getenv("SWIFTREEL_DEBUG")) qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication app(argc, argv);

    swf::harness::RunSpec spec;
    std::string in, out, traceFile, inputFile, audioFile;
    bool wantInfo = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--info") {
            wantInfo = true;
        } else if (a == "-o") {
            const char* v = next();
            if (!v) return fail("-o needs a file name");
            out = v;
        } else if (a == "--frames") {
            const char* v = next();
            long n = v ? std::strtol(v, nullptr, 10) : 0;
            if (n < 1 || n > 1000000) return fail("--frames needs a number from 1 to 1000000");
            spec.frames = uint32_t(n);
        } else if (a == "--size") {
            const char* v = next();
            int w = 0, h = 0;
            if (!v || std::sscanf(v, "%dx%d", &w, &h) != 2 || w < 1 || h < 1 || w > 8192 || h > 8192)
                return fail("--size needs WxH, each from 1 to 8192");
            spec.size = QSize(w, h);
        } else if (a == "--trace") {
            const char* v = next();
            if (!v) return fail("--trace needs a file name");
            traceFile = v;
        } else if (a == "--quality") {
            const char* v = next();
            std::string q = v ? v : "";
            if (q == "low") spec.quality = swf::Quality::Low;
            else if (q == "medium") spec.quality = swf::Quality::Medium;
            else if (q == "high") spec.quality = swf::Quality::High;
            else if (q == "best") spec.quality = swf::Quality::Best;
            else return fail("--quality is low, medium, high or best");
        } else if (a == "--audio") {
            const char* v = next();
            if (!v) return fail("--audio needs a file name");
            audioFile = v;
        } else if (a == "--input") {
            const char* v = next();
            if (!v) return fail("--input needs a file name");
            inputFile = v;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fputs(kUsage, stderr);
            return fail("unknown option " + a);
        } else if (in.empty()) {
            in = a;
        } else {
            return fail("more than one input movie");
        }
    }
    if (in.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (wantInfo) return info(in);
    if (out.empty()) return fail("-o OUT.png is required");
    if (!inputFile.empty()) {
        auto batches = swf::harness::readInputFile(inputFile);
        if (!batches) return fail(batches.error().message);
        spec.input = std::move(*batches);
    }
    spec.path = in;
    spec.mixAudio = !audioFile.empty();
    auto result = swf::harness::runMovie(spec);
    if (!result) return fail("cannot load " + in + ": " + result.error().message);
    if (!traceFile.empty()) {
        QFile f(QString::fromStdString(traceFile));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail("cannot write " + traceFile);
        f.write(result->trace.data(), qint64(result->trace.size()));
    }
    if (!audioFile.empty()) {
        auto written = swf::writeWav(audioFile, result->audio, result->audioRate);
        if (!written) return fail(written.error().message);
    }
    const QImage& image = result->captures.back().image;
    if (!image.save(QString::fromStdString(out), "PNG")) return fail("cannot write " + out);
    return 0;
}
