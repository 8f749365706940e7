#include "fuzz/fuzz_movies.h"

#include "engine/core/inflate.h"
#include "engine/display/player.h"

namespace fuzzing {
namespace {

constexpr int kFramesToRun = 3;
constexpr int kViewportWidth = 64, kViewportHeight = 48;
constexpr size_t kMaxBaseMovieBytes = 4u << 20;

void putU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> doActionTag(std::span<const uint8_t> actions) {
    const uint16_t header = uint16_t(12 << 6 | 0x3F); // DoAction, long form
    std::vector<uint8_t> tag = {uint8_t(header), uint8_t(header >> 8), 0, 0, 0, 0};
    putU32(tag, 2, uint32_t(actions.size()));
    tag.insert(tag.end(), actions.begin(), actions.end());
    return tag;
}

} // namespace

bool looksLikeMovie(std::span<const uint8_t> b) {
    return b.size() >= 3 && (b[0] == 'F' || b[0] == 'C' || b[0] == 'Z') && b[1] == 'W' && b[2] == 'S';
}

std::vector<uint8_t> movieWithActions(uint8_t version, std::span<const uint8_t> actions) {
    std::vector<uint8_t> out = {'F', 'W', 'S', version, 0, 0, 0, 0, 0x00, 0x00, 0x0C, 0x01, 0x00};
    std::vector<uint8_t> tag = doActionTag(actions);
    out.insert(out.end(), tag.begin(), tag.end());
    out.insert(out.end(), {0x40, 0x00, 0x00, 0x00}); // ShowFrame, End
    putU32(out, 4, uint32_t(out.size()));
    return out;
}

std::vector<uint8_t> addFirstFrameActions(std::span<const uint8_t> movie, std::span<const uint8_t> actions) {
    if (movie.size() < 9 || (movie[0] != 'F' && movie[0] != 'C') || movie[1] != 'W' || movie[2] != 'S') return {};
    std::vector<uint8_t> out(movie.begin(), movie.begin() + 8);
    out[0] = 'F';
    if (movie[0] == 'C') {
        auto body = swf::inflateZlib(movie.subspan(8), kMaxBaseMovieBytes);
        if (!body) return {};
        out.insert(out.end(), body->bytes.begin(), body->bytes.end());
    } else {
        out.insert(out.end(), movie.begin() + 8, movie.end());
    }
    // Skip the stage rectangle, frame rate and count, then find the first ShowFrame.
    const size_t rectBits = 5 + 4 * size_t(out.size() > 8 ? out[8] >> 3 : 0);
    size_t at = 8 + (rectBits + 7) / 8 + 4;
    size_t insertAt = at;
    while (at + 2 <= out.size()) {
        const uint16_t h = uint16_t(out[at] | out[at + 1] << 8);
        size_t length = h & 0x3F, headerBytes = 2;
        if (length == 0x3F) {
            if (at + 6 > out.size()) break;
            length = size_t(out[at + 2]) | size_t(out[at + 3]) << 8 | size_t(out[at + 4]) << 16 |
                     size_t(out[at + 5]) << 24;
            headerBytes = 6;
        }
        const uint16_t code = h >> 6;
        if (code == 1 || code == 0) break; // ShowFrame, End
        if (length > out.size() - at - headerBytes) break;
        at += headerBytes + length;
        insertAt = at;
    }
    if (insertAt > out.size()) return {};
    std::vector<uint8_t> tag = doActionTag(actions);
    out.insert(out.begin() + std::ptrdiff_t(insertAt), tag.begin(), tag.end());
    putU32(out, 4, uint32_t(out.size()));
    return out;
}

void playBriefly(swf::Player& player) {
    player.setViewport(kViewportWidth, kViewportHeight);
    for (int i = 0; i < kFramesToRun; ++i) {
        player.runFrame();
        QImage image = player.renderImage();
        (void)image;
        switch (i) {
        case 0:
            player.mouseMove(kViewportWidth / 2.0, kViewportHeight / 2.0);
            player.mouseDown(kViewportWidth / 2.0, kViewportHeight / 2.0);
            player.mouseUp(kViewportWidth / 2.0, kViewportHeight / 2.0);
            break;
        case 1:
            player.keyDown(9); // Tab moves the focus
            player.keyUp(9);
            player.keyDown(65, 'a');
            player.textInput('a');
            player.keyUp(65, 'a');
            player.keyDown(13); // Enter presses the focused button
            player.keyUp(13);
            break;
        default: break;
        }
    }
}

} // namespace fuzzing
