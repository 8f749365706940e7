// libFuzzer target: loads the input as a movie and plays a few frames into a
// small image with no sound, with the ActionScript 1/2 engine installed, so
// that the parser, the runtime, the scripts and the renderer all see hostile
// data. Also decodes every control tag and morph shape the way the runtime
// would. Built with SWIFTREEL_FUZZ_PLAYER=OFF it fuzzes the format layer
// alone. An input that is not a movie becomes the script of one: its first
// byte picks the version, the rest is a DoAction body, so the VM sees hostile
// actions directly.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "engine/swf/parser.h"
#include "engine/swf/place_object.h"
#include "engine/swf/shape.h"
#include "fuzz/fuzz_movies.h"
#include "fuzz/fuzz_setup.h"

#include <cstdint>
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    std::vector<uint8_t> bytes;
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
    player.setScriptHostFactory(swf::avm1ScriptHostFactory());
    player.load(*movie);
    fuzzing::playBriefly(player);
#endif
    return 0;
}
