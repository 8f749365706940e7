#pragma once
// The engine's sound: event sounds and per-timeline stream sounds, decoded
// and mixed to interleaved stereo 16-bit at the output's rate. One
// SoundPlayer per Player, owned by it; it owns its AudioOutput.
//
// How the Player drives it (all calls from the Player's thread; render() may
// run on the output's thread, the state is guarded inside):
// - Every frame the timeline *plays* (also frames run without drawing to catch
//   up with a stream) hands each StartSound, StartSound2, SoundStreamHead,
//   SoundStreamHead2 and SoundStreamBlock tag of that frame to controlTag().
//   Frames visited by Back/Forward, goto rebuilds or seeking hand nothing:
//   stepping plays no sound.
// - A stream sound is started by the first SoundStreamBlock controlTag() of a
//   timeline that has no stream playing, from that frame's block; from then on
//   the sound feeds itself from the timeline's later blocks, so a slow machine
//   never starves it. Further blocks while it plays are ignored, unless they
//   go backwards or far ahead (a jump), which restarts the stream there.
// - The sound is the clock: on each tick the Player asks
//   streamPositionFrames(key). A value p is a 0-based frame index: the
//   timeline should show frame floor(p) + 1 (1-based). Run frames without
//   drawing until it gets there (frames are dropped, never sound), and do not
//   advance while the timeline is ahead. Without a value (no stream, stream
//   ended, no output, an output that has not taken sound for 250 ms) the
//   timeline runs on its own clock.
// - stopStream(key) whenever that timeline stops (Stop, a stop action), jumps
//   (goto, Back, Forward, rewind, the loop from the last frame back to the
//   first) or is removed. Event sounds play out. Playing again restarts the
//   stream at the current frame through the next block controlTag(); the loop
//   restarts it cleanly from frame 1.
// - stopAll() when another movie loads, the movie unloads or the Player ends.
// - Button sounds (DefineButtonSound) go through buttonSound().
// - Script Sound objects use the instance calls (startScriptSound ...
//   takeFinished); the Player polls takeFinished() once per frame for
//   onSoundComplete.
// - Offline (swfrender --audio): no output, and OfflineMix::captureFrame()
//   after every frame run (offline_mix.h).
#include "engine/core/log.h"
#include "engine/sound/audio_output.h"
#include "engine/sound/sound_format.h"
#include "engine/swf/movie.h"

#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace swf {

class Mixer;
class SoundSource;
struct DecodedSound;

class SoundPlayer {
public:
    explicit SoundPlayer(LogFn log = {});
    ~SoundPlayer(); // stops the output, then every sound
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Sends the mix to `output` (nullptr: none; render() can still be called
    // by hand, as the offline --audio mix does). Starts the output pulling.
    void setOutput(std::unique_ptr<AudioOutput> output);
    // How to open an output when a sound starts and there is none: a movie
    // that seemed silent may stream a file's sound or load a sound later.
    // Without an opener (the offline mix) sounds play into no output.
    using OutputOpener = std::function<std::unique_ptr<AudioOutput>()>;
    void setOutputOpener(OutputOpener open) { m_openOutput = std::move(open); }
    AudioOutput* output() const { return m_output.get(); }
    // The mix rate: the output's, or 44100 without an output.
    int sampleRate() const;

    // A sound tag of a frame the timeline `timelineKey` (any stable address
    // naming one clip instance; the root too) plays; `frame` is 0-based in
    // `timeline`, which must live inside `movie`.
    void controlTag(const std::shared_ptr<const Movie>& movie, const void* timelineKey,
                    const Timeline& timeline, uint32_t frame, const ControlTag& tag);
    // A button state change with a DefineButtonSound entry (id 0 = none).
    void buttonSound(const std::shared_ptr<const Movie>& movie, const ButtonDef::Sound& sound);
    // Starts event sound `soundId` of `movie` as the sound-info record says
    // (also for scripts' Sound objects).
    void startSound(const std::shared_ptr<const Movie>& movie, uint16_t soundId,
                    const SoundInfo& info);
    // Stops every instance of one event sound.
    void stopSound(const Movie* movie, uint16_t soundId);
    // Stops the stream sound of one timeline (no-op without one).
    void stopStream(const void* timelineKey);
    // Stops every sound at once, event sounds and streams, and forgets the
    // movie's sound settings: for a movie that ends or is replaced.
    void stopAll();
    // The stopAllSounds action: every sound stops, settings stay; streams
    // start again with their timeline's next block.
    void stopAllSounds();

    // ---- Script Sound objects -------------------------------------------------
    // Instances are numbered from 1 and never reused; 0 means nothing started.
    // `owner` is the clip whose Sound objects control the sound (nullptr: the
    // movie as a whole).
    // attachSound + start(offsetSeconds, loops).
    uint64_t startScriptSound(const std::shared_ptr<const Movie>& movie, uint16_t soundId,
                              double offsetSeconds, int loops, const void* owner);
    // loadSound + start: the bytes of an MP3 file, decoded once per file object.
    uint64_t startMp3File(const std::shared_ptr<const std::vector<uint8_t>>& file,
                          double offsetSeconds, int loops, const void* owner);
    void stopInstance(uint64_t instance);
    // Sound from outside the movie's tags (NetStream), mixed until it closes.
    void addSource(std::shared_ptr<SoundSource> source);
    // Sound.stop() without a name: every event sound of `owner`.
    void stopOwner(const void* owner);
    bool isInstancePlaying(uint64_t instance) const;
    // Seconds into the sound of a playing instance.
    std::optional<double> instancePositionSeconds(uint64_t instance) const;
    std::optional<double> durationSeconds(const std::shared_ptr<const Movie>& movie, uint16_t soundId);
    std::optional<double> durationSeconds(const std::shared_ptr<const std::vector<uint8_t>>& mp3File);
    // setVolume/setPan/setTransform: the channel mix of `owner`'s sounds
    // (event sounds it started and the stream of the timeline it is);
    // nullptr sets the mix of everything.
    void setTransform(const void* owner, const SoundTransform& transform);
    // Instances that played to their end since the last call (onSoundComplete);
    // stopped ones are not reported.
    std::vector<uint64_t> takeFinished();

    // The timeline frame (0-based, fractional) whose sound is being heard now,
    // latency of the output included; see the sync rule above.
    std::optional<double> streamPositionFrames(const void* timelineKey) const;
    bool isStreamPlaying(const void* timelineKey) const;
    // Event sounds and streams currently playing.
    size_t activeSoundCount() const;

    // Mixes the next stereoOut.size()/2 stereo frames at sampleRate() into
    // stereoOut (saturated 16-bit). Outputs call this; so does an offline mix.
    void render(std::span<int16_t> stereoOut);

private:
    std::shared_ptr<const DecodedSound> decoded(const std::shared_ptr<const Movie>& movie,
                                                uint16_t soundId);
    void log(LogLevel level, const std::string& message);
    void flushMixerMessages();
    void openOutputIfNone();

    LogFn m_log;
    std::unique_ptr<AudioOutput> m_output;
    OutputOpener m_openOutput;
    std::unique_ptr<Mixer> m_mixer;
    mutable std::mutex m_mutex; // guards m_mixer and m_lastRender
    std::chrono::steady_clock::time_point m_lastRender;
    // Decoded event sounds of the movies met, by movie; only the Player's
    // thread touches it. The weak pointer tells a reused address apart.
    struct MovieSounds {
        std::weak_ptr<const Movie> movie;
        std::unordered_map<uint16_t, std::shared_ptr<const DecodedSound>> sounds;
    };
    std::unordered_map<const Movie*, MovieSounds> m_cache;
    struct FileSound {
        std::weak_ptr<const std::vector<uint8_t>> file;
        std::shared_ptr<const DecodedSound> sound;
    };
    std::vector<FileSound> m_fileCache;
    std::shared_ptr<const DecodedSound> decodedFile(const std::shared_ptr<const std::vector<uint8_t>>& file);
    std::vector<std::string> m_loggedOnce;
};

} // namespace swf
