#pragma once
// The playback behind a script's NetStream: an FLV file (local or http(s),
// through the player's loader) demuxed by our reader, its video decoded on
// the runtime's decode thread, its sound fed to the mixer. One clock: the
// sound's played position while sound plays, else the frame time. Status
// events are queued in the order Flash sends them for the script side.
#include "engine/core/log.h"
#include "engine/video/amf0.h"
#include "engine/video/picture_source.h"

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace swf {

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

    // play(): the file is being fetched; then one of these follows.
    void loading();
    void dataArrived(std::vector<uint8_t> bytes);
    void notFound();
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
    uint64_t bytesLoaded() const { return m_data ? m_data->size() : 0; }
    uint64_t bytesTotal() const { return m_data ? m_data->size() : 0; }
    std::vector<NetStreamEvent> takeEvents() { return std::exchange(m_events, {}); }
    // The time of the newest video packet handed to the decoder (seconds).
    double pictureTime() const { return m_pictureTime; }

    QImage currentPicture() override;

private:
    struct Tag {
        uint8_t type = 0;  // FLV tag type
        double time = 0;   // seconds
        bool key = false;  // video: a key frame
        std::span<const uint8_t> body;
    };
    struct AudioFeed;
    struct AudioDecoders;
    struct VideoState;
    enum class State { Idle, Loading, Buffering, Playing, Stopped };

    void status(const char* code, const char* level = "status");
    void feedAudio();
    void decodeVideoUpTo(double seconds);
    void runScriptTags(double seconds);
    double endTime() const;
    void detachAudio();

    Runtime& m_rt;
    std::function<SoundPlayer*()> m_soundPlayer;
    LogFn m_log;
    std::shared_ptr<const std::vector<uint8_t>> m_data; // the tags point into it
    std::vector<Tag> m_tags;
    State m_state = State::Idle;
    bool m_paused = false, m_flushed = false;
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
