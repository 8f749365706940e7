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
#include <utility>
#include <vector>

namespace swf {

// Sound made outside the movie's tags (a NetStream): the mixer asks it for
// each block of output. read() runs on the mixing thread.
class SoundSource {
public:
    virtual ~SoundSource() = default;
    // Fills up to `frames` interleaved stereo frames at `rate`; returns how
    // many it gave (the rest is silence: the source is starved or paused).
    virtual size_t read(int16_t* stereo, size_t frames, int rate) = 0;
    // A closed source is dropped by the mixer (its owner may be gone by then).
    virtual bool closed() const { return false; }
};

class Mixer {
public:
    explicit Mixer(int outputRate);
    ~Mixer();

    int outputRate() const { return m_rate; }
    void setOutputRate(int rate);

    // Event sounds, told apart by movie and id for stop and no-multiple.
    // Returns the new instance (0 when nothing starts). `owner` groups sounds
    // for a script's volume and pan; `offsetFrames` starts later in the sound.
    uint64_t startEvent(std::shared_ptr<const DecodedSound> sound, const Movie* movie, uint16_t id,
                        const SoundInfo& info, const void* owner = nullptr, double offsetFrames = 0);
    void stopInstance(uint64_t instance);
    void stopOwner(const void* owner);
    bool isInstancePlaying(uint64_t instance) const;
    // Seconds into the current loop of an instance.
    std::optional<double> instancePosition(uint64_t instance) const;
    // Instances that ended by themselves since the last call.
    std::vector<uint64_t> takeFinished() { return std::exchange(m_finished, {}); }
    // Channel mix of the sounds of `owner` (nullptr: the whole mix).
    void setTransform(const void* owner, const SoundTransform& t);
    void stopEvent(const Movie* movie, uint16_t id);
    bool isEventPlaying(const Movie* movie, uint16_t id) const;

    // A SoundStreamBlock reached on frame `frame` of `timeline` (see SoundPlayer).
    void streamBlock(const std::shared_ptr<const Movie>& movie, const void* key,
                     const Timeline& timeline, uint32_t frame);
    void stopStream(const void* key);
    bool isStreamPlaying(const void* key) const;
    std::optional<double> streamPosition(const void* key, double latencySeconds) const;

    // Sources mix until they close (stopAll leaves them to their owner).
    void addSource(std::shared_ptr<SoundSource> source);

    // Every sound stops; with `reset`, transforms and one-time warnings go too.
    void stopAll(bool reset = true);
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
    std::vector<std::shared_ptr<SoundSource>> m_sources;
    std::vector<int16_t> m_sourceBuffer;
    std::vector<int32_t> m_accum; // one mix call's stereo sum before saturation
    std::vector<std::string> m_warned;
    std::vector<std::pair<LogLevel, std::string>> m_messages;
    std::vector<std::pair<const void*, SoundTransform>> m_transforms;
    SoundTransform m_global;
    std::vector<uint64_t> m_finished;
    uint64_t m_nextInstance = 1;
};

} // namespace swf
