#pragma once
// The playback behind a script's NetStream: an FLV file (local or http(s),
// through the player's loader) demuxed by our reader, its video decoded on
// the runtime's decode thread, its sound fed to the mixer. One clock: the
// sound's played position while sound plays, else the frame time. Status
// events are queued in the order Flash sends them for the script side.
#include "engine/core/log.h"
#include "engine/video/amf0.h"
#include "engine/video/picture_source.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace swf {

namespace video {
class FlvReader;
}
struct Runtime;
class SoundPlayer;

struct NetStreamEvent {
    enum class Kind { Status, MetaData, CuePoint };
    Kind kind = Kind::Status;
    std::string code, level;  // Status
    video::AmfValue data;     // MetaData, CuePoint
};

class NetStream : public video::PictureSource {
public:
    // `sound` finds the player's sound output when the stream's sound starts.
    NetStream(Runtime& rt, std::function<SoundPlayer*()> sound);
    ~NetStream() override;
    NetStream(const NetStream&) = delete;
    NetStream& operator=(const NetStream&) = delete;

    // play(): the file is being fetched; its bytes then arrive in parts
    // (`total`: the file's size, 0 when unknown) until the load ends. The
    // number loading() gives names this load; parts of an older one
    // (before another play or a close) are dropped.
    uint64_t loading();
    void dataArrived(uint64_t load, std::span<const uint8_t> part, uint64_t total);
    void loadEnded(uint64_t load, bool ok);
    // Once per frame, with the frame's duration.
    void advance(double seconds);
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Goes to the key frame at or before `seconds`.
    void seek(double seconds);
    void close();

    double time() const { return m_clock; }
    double bufferTime() const { return m_bufferTime; }
    void setBufferTime(double s) { m_bufferTime = s > 0 ? s : 0; }
    double bufferLength() const;
    uint64_t bytesLoaded() const { return m_bytes.size(); }
    uint64_t bytesTotal() const { return std::max<uint64_t>(m_total, m_bytes.size()); }
    std::vector<NetStreamEvent> takeEvents() { return std::exchange(m_events, {}); }
    // The time of the newest video packet handed to the decoder (seconds).
    double pictureTime() const { return m_pictureTime; }

    QImage currentPicture() override;
    void setDeblocking(int level) override { m_deblocking = level; }

private:
    struct Tag {
        uint8_t type = 0;  // FLV tag type
        double time = 0;   // seconds
        bool key = false;  // video: a key frame
        size_t offset = 0, size = 0; // of the body in m_bytes
    };
    struct AudioFeed;
    struct AudioDecoders;
    struct VideoState;
    enum class State { Idle, Loading, Buffering, Playing, Stopped };

    void status(const char* code, const char* level = "status");
    void notFound();
    void readTags();
    std::span<const uint8_t> body(const Tag& t) const { return {m_bytes.data() + t.offset, t.size}; }
    void startPlaying();
    double heardSeconds() const;
    void updateFeedPause();
    void feedAudio();
    void decodeVideoUpTo(double seconds);
    void runScriptTags(double seconds);
    double endTime() const;
    void detachAudio();

    Runtime& m_rt;
    std::function<SoundPlayer*()> m_soundPlayer;
    LogFn m_log;
    std::vector<uint8_t> m_bytes; // the file so far
    uint64_t m_total = 0, m_load = 0;
    int m_deblocking = 0;
    std::unique_ptr<video::FlvReader> m_reader;
    std::vector<Tag> m_tags;
    State m_state = State::Idle;
    bool m_paused = false, m_flushed = false;
    bool m_starting = false; // playing starts with the next frame
    bool m_complete = false; // the whole file (or all that will come) is here
    double m_clock = 0, m_clockBase = 0, m_bufferTime = 0.1, m_pictureTime = 0;
    double m_lastPlayed = 0; // sound seconds played at the last frame
    size_t m_nextVideo = 0, m_nextAudio = 0, m_nextScript = 0;
    std::shared_ptr<AudioFeed> m_audio;
    std::unique_ptr<AudioDecoders> m_audioDecoders;
    std::shared_ptr<VideoState> m_video;
    std::shared_future<QImage> m_pending;
    QImage m_picture;
    std::vector<NetStreamEvent> m_events;
};

} // namespace swf
