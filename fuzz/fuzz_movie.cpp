// libFuzzer target: loads the input as a movie and plays a few frames into a
// small image with no sound, so that the parser, the runtime, the scripts and
// the renderer all see hostile data. Also decodes every control tag and
// morph shape the way the runtime would. Built with
// SWIFTREEL_FUZZ_PLAYER=OFF it fuzzes the format layer alone. An input that
// is not a movie becomes the script of one: its first byte picks the version,
// the rest is a DoAction body, so the VM sees hostile actions directly. An
// FLV file (the *.flv seeds) is read and its video decoded instead.
#include "engine/swf/parser.h"
#include "engine/swf/place_object.h"
#include "engine/swf/shape.h"

#include <QGuiApplication>
#if SWIFTREEL_FUZZ_PLAYER
#include "engine/display/player.h"
#include "engine/video/amf0.h"
#include "engine/video/flv_reader.h"
#include "engine/video/video_decoder.h"
#endif

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace {

#if SWIFTREEL_FUZZ_PLAYER
constexpr int kFramesToRun = 3;
constexpr int kViewportWidth = 64, kViewportHeight = 48;
#endif

#if SWIFTREEL_FUZZ_PLAYER
// An FLV file (the seeds named *.flv): every tag read and every video packet
// decoded, a new decoder at each codec switch, as a NetStream does.
void exerciseFlv(std::span<const uint8_t> flv) {
    swf::video::FlvReader reader;
    swf::video::FlvTag tag;
    std::unique_ptr<swf::video::VideoDecoder> video;
    while (reader.next(flv, true, tag) == swf::video::FlvReader::Status::Tag) {
        if (tag.type == swf::video::FlvTagType::Script) {
            (void)swf::video::readScriptTag(tag.body);
            continue;
        }
        if (tag.type != swf::video::FlvTagType::Video) continue;
        auto v = swf::video::splitVideoTag(tag.body);
        if (!v || !swf::video::knownVideoCodec(v->codec)) continue;
        if (!video || uint8_t(video->codec()) != v->codec)
            video = std::make_unique<swf::video::VideoDecoder>(swf::video::VideoCodec(v->codec), nullptr);
        (void)video->decode(v->packet);
    }
}
#endif

bool looksLikeMovie(const uint8_t* data, size_t size) {
    return size >= 3 && (data[0] == 'F' || data[0] == 'C' || data[0] == 'Z') && data[1] == 'W' &&
           data[2] == 'S';
}

// A one-frame movie (no stage size, 12 fps) whose frame runs `actions`.
std::vector<uint8_t> movieWithActions(const uint8_t* data, size_t size) {
    const uint8_t version = size ? uint8_t(4 + data[0] % 7) : 6; // 4..10
    std::vector<uint8_t> actions(data + (size ? 1 : 0), data + size);
    actions.push_back(0); // ActionEnd
    std::vector<uint8_t> out = {'F', 'W', 'S', version, 0, 0, 0, 0, 0x00, 0x00, 0x0C, 0x01, 0x00};
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i))); };
    const uint16_t doActionLong = uint16_t(12 << 6 | 0x3F);
    out.push_back(uint8_t(doActionLong)); out.push_back(uint8_t(doActionLong >> 8));
    u32(uint32_t(actions.size()));
    out.insert(out.end(), actions.begin(), actions.end());
    out.insert(out.end(), {0x40, 0x00, 0x00, 0x00}); // ShowFrame, End
    const uint32_t length = uint32_t(out.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(length >> (8 * i));
    return out;
}

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
#if SWIFTREEL_FUZZ_PLAYER
    if (size >= 3 && data[0] == 'F' && data[1] == 'L' && data[2] == 'V') {
        exerciseFlv(std::span(data, size));
        return 0;
    }
#endif
    std::vector<uint8_t> bytes = looksLikeMovie(data, size) ? std::vector<uint8_t>(data, data + size)
                                                             : movieWithActions(data, size);
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
