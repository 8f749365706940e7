#pragma once
// A SoundPlayer on a manual silent output: tests pull exactly the sound they
// want to look at, with no device and no clock.
#include "engine/sound/null_audio_output.h"
#include "engine/sound/sound_player.h"
#include "tests/sound/sound_fixtures.h"

#include <memory>
#include <string>
#include <vector>

namespace soundtest {

struct Rig {
    std::vector<std::string> logs;
    swf::SoundPlayer sound{[this](swf::LogLevel, const std::string& m) { logs.push_back(m); }};
    swf::NullAudioOutput* output = nullptr;

    Rig() {
        auto out = std::make_unique<swf::NullAudioOutput>(swf::NullAudioOutput::Mode::Manual);
        output = out.get();
        sound.setOutput(std::move(out));
    }
    std::vector<int16_t> pull(double seconds) { return output->pull(size_t(seconds * 44100)); }
    // Plays event sound `id` with the given sound-info record.
    void start(const std::shared_ptr<const swf::Movie>& movie, uint16_t id, const Info& info = {}) {
        auto parsed = swf::parseSoundInfo(soundInfo(info));
        sound.startSound(movie, id, *parsed);
    }
};

inline std::string fixture(const std::string& name) { return std::string(SOUND_FIXTURE_DIR) + "/" + name; }

} // namespace soundtest
