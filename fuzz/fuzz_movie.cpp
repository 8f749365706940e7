// libFuzzer target: loads the input as a movie and plays a few frames into a
// small image with no sound, with the ActionScript 1/2 engine installed, so
// that the parser, the runtime, the scripts and the renderer all see hostile
// data. Also decodes every control tag and morph shape the way the runtime
// would. Built with SWIFTREEL_FUZZ_PLAYER=OFF it fuzzes the format layer
// alone. An input that is not a movie becomes the script of one: its first
// byte picks the version, the rest is a DoAction body, so the VM sees hostile
// actions directly. An FLV file (the *.flv seeds) is read and its video
// decoded instead, and played by a NetStream as it arrives.
#include "engine/avm1/script_engine.h"
#include "engine/avm2/script_host.h"
#include "engine/display/net_stream.h"
#include "engine/display/player.h"
#include "engine/swf/parser.h"
#include "engine/swf/place_object.h"
#include "engine/swf/shape.h"
#include "engine/video/amf0.h"
#include "engine/video/flv_reader.h"
#include "engine/video/video_decoder.h"
#include "fuzz/fuzz_movies.h"
#include "fuzz/fuzz_setup.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace {

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

// Every tag read and every video packet decoded, a new decoder at each codec
// switch, as a NetStream does.
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

#if SWIFTREEL_FUZZ_PLAYER
// The file played by a NetStream as a slow web server would send it: a
// piece a frame, with the frames going on after its end.
void playFlv(std::span<const uint8_t> flv) {
    constexpr size_t kPiece = 4096;
    constexpr int kFrames = 120;
    swf::Player player;
    const std::vector<uint8_t> empty = {'F', 'W', 'S', 8, 21, 0, 0, 0, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00};
    if (!player.load(empty, "fuzz.swf").ok()) return;
    swf::NetStream stream(player.runtime(), []() -> swf::SoundPlayer* { return nullptr; });
    const uint64_t load = stream.loading();
    size_t at = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        if (at < flv.size()) {
            const size_t n = std::min(kPiece, flv.size() - at);
            stream.dataArrived(load, flv.subspan(at, n), flv.size());
            at += n;
            if (at == flv.size()) stream.loadEnded(load, true);
        }
        stream.advance(0.1);
        (void)stream.takeEvents();
        (void)stream.currentPicture();
    }
}
#endif

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    std::vector<uint8_t> bytes;
    if (size >= 3 && data[0] == 'F' && data[1] == 'L' && data[2] == 'V') {
        exerciseFlv(input);
#if SWIFTREEL_FUZZ_PLAYER
        playFlv(input);
#endif
        return 0;
    }
    if (fuzzing::looksLikeMovie(input)) {
        bytes.assign(input.begin(), input.end());
    } else {
        std::vector<uint8_t> actions(input.begin() + (size ? 1 : 0), input.end());
        actions.push_back(0); // ActionEnd
        bytes = fuzzing::movieWithActions(size ? uint8_t(4 + data[0] % 7) : 6, actions); // versions 4..10
    }
    auto movie = swf::parseMovie(bytes, "fuzz.swf");
    if (!movie) return 0;
    exerciseFormat(**movie);

#if SWIFTREEL_FUZZ_PLAYER
    swf::Player player;
    player.setScriptHostFactory(swf::withAvm2(swf::avm1ScriptHostFactory()));
    player.load(*movie);
    fuzzing::playBriefly(player);
#endif
    return 0;
}
