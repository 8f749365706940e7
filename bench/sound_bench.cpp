// CPU cost of sound: one minute of a 44.1 kHz stereo MP3 stream plus four
// event sounds (PCM, ADPCM, MP3, one with an envelope), decoded and mixed the
// way an output pulls it (1024-frame chunks). The figure to watch is CPU time
// per iteration against the 60 s of sound it makes.
#include "engine/sound/decoders.h"
#include "engine/sound/sound_player.h"
#include "tests/sound/sound_fixtures.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace soundtest;

namespace {

constexpr double kFps = 12;
constexpr double kSeconds = 60;

std::string fixture(const char* name) { return std::string(SOUND_FIXTURE_DIR) + "/" + name; }

std::shared_ptr<const swf::Movie> buildMovie() {
    auto frames = mp3Frames(readFile(fixture("minute_s44.mp3")));
    MovieBuilder b(kFps);
    std::vector<uint8_t> head = {0x2f, 0x2f, 0x5b, 0x0e, 0, 0}; // MP3 44.1 kHz stereo, 3675 a frame
    b.frameTag(0, swf::tag::SoundStreamHead2, head);
    size_t next = 0, decoded = 0;
    for (uint32_t f = 0; next < frames.size(); ++f) {
        std::vector<uint8_t> block = {0, 0, 0, 0};
        while (next < frames.size() && double(decoded) < (f + 1) * 44100 / kFps) {
            block.insert(block.end(), frames[next].begin(), frames[next].end());
            decoded += 1152;
            ++next;
        }
        b.frameTag(f, swf::tag::SoundStreamBlock, block);
    }
    auto pcm = tone(330, 22050, 22050, 1, 6000);
    b.defineSound(1, defineSoundBody(1, formatByte(3, 2, true, false), 22050, pcm16(pcm)));
    auto stereo = tone(220, 11025, 11025, 2, 6000, 330);
    b.defineSound(2, defineSoundBody(2, formatByte(1, 1, true, true), 11025, adpcm(stereo, 2, 4)));
    std::vector<uint8_t> mp3 = {0, 0};
    for (auto& f : mp3Frames(readFile(fixture("tone1k_m44.mp3")))) mp3.insert(mp3.end(), f.begin(), f.end());
    b.defineSound(3, defineSoundBody(3, formatByte(2, 3, true, false), 44100, mp3));
    auto wide = tone(500, 44100, 44100, 2, 6000, 600);
    b.defineSound(4, defineSoundBody(4, formatByte(3, 3, true, true), 44100, pcm16(wide)));
    return b.finish();
}

void BM_MinuteStreamPlusFourEvents(benchmark::State& state) {
    auto movie = buildMovie();
    std::vector<int16_t> chunk(1024 * 2);
    for (auto _ : state) {
        swf::SoundPlayer sound;
        const auto& tags = movie->timeline.frames[0].tags;
        sound.controlTag(movie, movie.get(), movie->timeline, 0, tags[1]);
        for (uint16_t id = 1; id <= 4; ++id) {
            swf::SoundInfo info;
            info.loopCount = 61; // every event sound lasts the whole minute
            if (id == 4) info.envelope = {{0, 32768, 0}, {44100 * 30, 0, 32768}};
            sound.startSound(movie, id, info);
        }
        for (size_t done = 0; done < size_t(kSeconds * 44100); done += 1024) sound.render(chunk);
        benchmark::DoNotOptimize(chunk.data());
    }
    state.counters["sound_s"] = kSeconds;
}
BENCHMARK(BM_MinuteStreamPlusFourEvents)->Unit(benchmark::kMillisecond)->Iterations(3);

// The MP3 decoding part alone: one minute of stereo 128 kbit/s.
void BM_MinuteMp3Decode(benchmark::State& state) {
    auto frames = mp3Frames(readFile(fixture("minute_s44.mp3")));
    std::vector<int16_t> out;
    for (auto _ : state) {
        swf::Mp3Decoder mp3(2);
        out.clear();
        for (auto& f : frames) mp3.decode(f, 1 << 20, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_MinuteMp3Decode)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
