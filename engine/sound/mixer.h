#pragma once
// The mixer behind SoundPlayer: event sound voices and one stream per
// timeline, resampled to the output rate and summed with saturation. Not
// thread-safe on its own; SoundPlayer serialises every call.
#include "engine/core/log.h"
#include "engine/sound/decoders.h"
#include "engine/sound/sound_format.h"
#include "engine/swf/movie.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace swf {

class Mixer {
public:
    explicit Mixer(int outputRate);
    ~Mixer();

    int outputRate() const { return m_rate; }
    void setOutputRate(int rate);

    // Event sounds, told apart by movie and id for stop and no-multiple.
    void startEvent(std::shared_ptr<const DecodedSound> sound, const Movie* movie, uint16_t id,
                    const SoundInfo& info);
    void stopEvent(const Movie* movie, uint16_t id);
    bool isEventPlaying(const Movie* movie, uint16_t id) const;

    // A SoundStreamBlock reached on frame `frame` of `timeline` (see SoundPlayer).
    void streamBlock(const std::shared_ptr<const Movie>& movie, const void* key,
                     const Timeline& timeline, uint32_t frame);
    void stopStream(const void* key);
    bool isStreamPlaying(const void* key) const;
    std::optional<double> streamPosition(const void* key, double latencySeconds) const;

    void stopAll();
    size_t activeCount() const;

    void mix(std::span<int16_t> stereoOut);

    // Messages raised while mixing (which may run on the output's thread),
    // for the owner to log from its own thread. Each is raised once.
    std::vector<std::pair<LogLevel, std::string>> takeMessages();

private:
    struct Voice;
    struct Stream;
    void startStream(const std::shared_ptr<const Movie>& movie, const void* key,
                     const Timeline& timeline, uint32_t frame);
    void feedStream(Stream& s, double untilFrame);
    void warnOnce(const std::string& key, LogLevel level, const std::string& message);

    int m_rate;
    std::vector<std::unique_ptr<Voice>> m_voices;
    std::vector<std::unique_ptr<Stream>> m_streams;
    std::vector<int32_t> m_accum; // one mix call's stereo sum before saturation
    std::vector<std::string> m_warned;
    std::vector<std::pair<LogLevel, std::string>> m_messages;
};

} // namespace swf
