// libFuzzer target: loads the input as a movie and plays a few frames into a
// small image with no sound, so that the parser, the runtime, the scripts and
// the renderer all see hostile data. Also decodes every control tag and
// morph shape the way the runtime would. Built with
// SWIFTREEL_FUZZ_PLAYER=OFF it fuzzes the format layer alone.
#include "engine/swf/parser.h"
#include "engine/swf/place_object.h"
#include "engine/swf/shape.h"

#include <QGuiApplication>
#if SWIFTREEL_FUZZ_PLAYER
#include "engine/display/player.h"
#endif

#include <cstdint>
#include <vector>

namespace {

#if SWIFTREEL_FUZZ_PLAYER
constexpr int kFramesToRun = 3;
constexpr int kViewportWidth = 64, kViewportHeight = 48;
#endif

void decodeTimeline(const swf::Timeline& timeline, int version) {
    for (const auto& frame : timeline.frames)
        for (const auto& tag : frame.tags) {
            if (tag.code == swf::tag::PlaceObject || tag.code == swf::tag::PlaceObject2 ||
                tag.code == swf::tag::PlaceObject3)
                (void)swf::parsePlaceObject(tag, version);
            if (tag.code == swf::tag::RemoveObject || tag.code == swf::tag::RemoveObject2)
                (void)swf::parseRemoveObject(tag);
        }
}

void exerciseFormat(const swf::Movie& movie) {
    decodeTimeline(movie.timeline, movie.header.version);
    for (const auto& [id, character] : movie.dictionary) {
        if (auto m = std::get_if<std::shared_ptr<const swf::MorphShapeDef>>(&character))
            (void)swf::morphAt(**m, 0.5);
        if (auto s = std::get_if<std::shared_ptr<const swf::SpriteDef>>(&character))
            decodeTimeline((*s)->timeline, movie.header.version);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Text layout needs a QGuiApplication; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's image readers warn about every broken JPEG; keep the log readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    auto movie = swf::parseMovie(bytes, "fuzz.swf");
    if (!movie) return 0;
    exerciseFormat(**movie);

#if SWIFTREEL_FUZZ_PLAYER
    swf::Player player;
    player.setViewport(kViewportWidth, kViewportHeight);
    player.load(*movie);
    for (int i = 0; i < kFramesToRun; ++i) {
        player.runFrame();
        QImage image = player.renderImage();
        (void)image;
    }
#endif
    return 0;
}
