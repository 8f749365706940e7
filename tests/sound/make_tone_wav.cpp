// Writes a sine tone as a WAV file, the source of the MP3 fixtures that lame
// encodes at build time: make_tone_wav OUT.wav RATE SECONDS LEFT_HZ [RIGHT_HZ]
// (a right frequency makes the file stereo).
#include "engine/sound/offline_mix.h"
#include "tests/sound/sound_fixtures.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_tone_wav OUT.wav RATE SECONDS LEFT_HZ [RIGHT_HZ]\n");
        return 2;
    }
    const int rate = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]), left = std::atof(argv[4]);
    const double right = argc > 5 ? std::atof(argv[5]) : 0;
    const int channels = right > 0 ? 2 : 1;
    auto samples = soundtest::tone(left, rate, size_t(seconds * rate), channels, 12000, right);
    auto ok = swf::writeWav(argv[1], samples, rate, channels);
    if (!ok) {
        std::fprintf(stderr, "%s\n", ok.error().message.c_str());
        return 1;
    }
    return 0;
}
