#include "engine/display/net_stream.h"

#include "engine/core/limits.h"
#include "engine/display/display_object.h"
#include "engine/sound/decoders.h"
#include "engine/sound/audio_output.h"
#include "engine/sound/mixer.h"
#include "engine/sound/sound_player.h"
#include "engine/video/decode_worker.h"
#include "engine/video/flv_reader.h"
#include "engine/video/video_decoder.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

namespace swf {

namespace {
constexpr double kTimeSlack = 1e-6;
}

// Decoded sound waiting for the mixer, at the stream's own rate. The mixer
// thread takes from it; how much it took is the stream's clock.
struct NetStream::AudioFeed : SoundSource {
    std::atomic<bool> isClosed{false};
    bool closed() const override { return isClosed; }
    std::mutex mutex;
    std::deque<int16_t> samples; // stereo
    int rate = 44100;
    double pos = 0;              // fraction of the next source frame
    uint64_t played = 0;         // source frames handed to the mixer
    bool paused = false;

    size_t read(int16_t* out, size_t frames, int outRate) override {
        std::lock_guard lock(mutex);
        if (paused || outRate <= 0) return 0;
        const double step = double(rate) / outRate;
        size_t given = 0;
        for (; given < frames && samples.size() >= 4; ++given) {
            // Linear steps between neighbours: the stream is speech or music
            // at 11-48 kHz, where this is inaudible next to the codecs.
            const double f = pos;
            out[2 * given] = int16_t(samples[0] + (samples[2] - samples[0]) * f);
            out[2 * given + 1] = int16_t(samples[1] + (samples[3] - samples[1]) * f);
            pos += step;
            while (pos >= 1 && samples.size() >= 4) {
                samples.pop_front();
                samples.pop_front();
                pos -= 1;
                ++played;
            }
        }
        return given;
    }
    double playedSeconds() {
        std::lock_guard lock(mutex);
        return (double(played) + pos) / rate;
    }
    double bufferedSeconds() {
        std::lock_guard lock(mutex);
        return double(samples.size() / 2) / rate;
    }
    void append(const std::vector<int16_t>& stereo, int newRate) {
        std::lock_guard lock(mutex);
        if (newRate != rate) { // a new format mid-stream: the clock goes on from here
            played = uint64_t(double(played) * newRate / rate);
            rate = newRate;
        }
        samples.insert(samples.end(), stereo.begin(), stereo.end());
    }
    void reset() {
        std::lock_guard lock(mutex);
        samples.clear();
        pos = 0;
        played = 0;
    }
};

// The decoders, used only on the decode thread once playback started.
struct NetStream::VideoState {
    LogFn log;
    std::unique_ptr<video::VideoDecoder> decoder;
    int warnedCodec = -1;
    QImage picture;
};

// The sound decoders of one stream; a tag with another format replaces them.
struct NetStream::AudioDecoders {
    uint8_t formatByte = 0xFF;
    std::unique_ptr<Mp3Decoder> mp3;
    std::unique_ptr<CodecSoundDecoder> codec;
};

NetStream::NetStream(Runtime& rt, std::function<SoundPlayer*()> sound)
    : m_rt(rt), m_soundPlayer(std::move(sound)), m_log(rt.log), m_audioDecoders(std::make_unique<AudioDecoders>()) {}

NetStream::~NetStream() { detachAudio(); }

void NetStream::status(const char* code, const char* level) {
    NetStreamEvent e;
    e.code = code;
    e.level = level;
    m_events.push_back(std::move(e));
}

uint64_t NetStream::loading() {
    close();
    m_reader = std::make_unique<video::FlvReader>();
    m_state = State::Loading;
    return m_load;
}

void NetStream::notFound() {
    close();
    status("NetStream.Play.StreamNotFound", "error");
}

void NetStream::dataArrived(uint64_t load, std::span<const uint8_t> part, uint64_t total) {
    if (load != m_load || m_state == State::Idle || m_complete) return;
    m_total = total;
    // The loader stops at its cap; this is the stream's own.
    const size_t room = limits::kMaxFlvFileBytes - std::min(m_bytes.size(), limits::kMaxFlvFileBytes);
    m_bytes.insert(m_bytes.end(), part.begin(), part.begin() + ptrdiff_t(std::min(room, part.size())));
    readTags();
}

void NetStream::loadEnded(uint64_t load, bool ok) {
    if (load != m_load || m_state == State::Idle || m_complete) return;
    if (!ok && !m_bytes.empty() && m_log) m_log(LogLevel::Warning, "NetStream: the load broke off; playing what came");
    m_complete = true;
    readTags();
}

void NetStream::readTags() {
    video::FlvTag tag;
    video::FlvReader::Status st;
    while ((st = m_reader->next(m_bytes, m_complete, tag)) == video::FlvReader::Status::Tag) {
        Tag t;
        t.type = uint8_t(tag.type);
        t.time = tag.timeMs / 1000.0;
        t.offset = size_t(tag.body.data() - m_bytes.data());
        t.size = tag.body.size();
        if (tag.type == video::FlvTagType::Video)
            if (auto v = video::splitVideoTag(tag.body)) t.key = v->frameType == 1;
        m_tags.push_back(t);
    }
    if (st == video::FlvReader::Status::Broken) {
        // Nothing after a broken tag can be trusted: the file ends there.
        if (!m_bytes.empty() && m_log)
            m_log(LogLevel::Warning, "NetStream: " + (m_reader->problem().empty() ? "not an FLV file" : m_reader->problem()) +
                                         "; playing the tags before it");
        m_complete = true;
    }
    if (m_state != State::Loading || (m_tags.empty() && !m_complete)) return;
    if (m_tags.empty()) return notFound();
    m_video = std::make_shared<VideoState>();
    m_video->log = m_log;
    m_state = State::Buffering;
    status("NetStream.Play.Start");
}

double NetStream::endTime() const { return m_tags.empty() ? 0 : m_tags.back().time; }

double NetStream::bufferLength() const {
    if (m_state != State::Buffering && m_state != State::Playing) return 0;
    return std::max(0.0, endTime() - m_clock);
}

void NetStream::setPaused(bool paused) {
    m_paused = paused;
    updateFeedPause();
}

// The sound stops while paused and while the buffer refills.
void NetStream::updateFeedPause() {
    if (!m_audio) return;
    std::lock_guard lock(m_audio->mutex);
    m_audio->paused = m_paused || m_state != State::Playing;
}

// The mixer drops a closed feed by itself: no call into a sound player
// that may already be gone (a stream can outlive it while the player ends).
void NetStream::detachAudio() {
    if (m_audio) m_audio->isClosed = true;
    m_audio.reset();
}

void NetStream::close() {
    detachAudio();
    *m_audioDecoders = {};
    m_bytes = {};
    m_total = 0;
    m_reader.reset();
    m_tags.clear();
    m_state = State::Idle;
    m_flushed = m_complete = m_starting = false;
    ++m_load; // parts of the load before are dropped
    m_clock = m_clockBase = m_lastPlayed = 0;
    m_nextVideo = m_nextAudio = m_nextScript = 0;
    m_pending = {};
}

void NetStream::seek(double seconds) {
    if (m_state != State::Buffering && m_state != State::Playing && m_state != State::Stopped) return;
    const double target = std::clamp(std::isfinite(seconds) ? seconds : 0.0, 0.0, endTime());
    // Playback goes on from the key frame at or before the target.
    size_t key = 0;
    bool hasVideo = false;
    for (size_t i = 0; i < m_tags.size() && m_tags[i].time <= target; ++i)
        if (m_tags[i].type == 9 && m_tags[i].key) key = i, hasVideo = true;
    const double start = hasVideo ? m_tags[key].time : target;
    m_nextVideo = m_nextScript = key;
    while (m_nextScript < m_tags.size() && m_tags[m_nextScript].time < start) ++m_nextScript;
    m_nextAudio = m_nextScript;
    m_clock = m_clockBase = start;
    m_lastPlayed = 0;
    if (m_audio) m_audio->reset();
    if (m_state == State::Stopped) m_state = State::Playing;
    // The key frame shows at once, also while paused; playing goes on from it.
    decodeVideoUpTo(start + kTimeSlack);
    m_starting = m_state == State::Playing;
    status("NetStream.Seek.Notify");
}

// The first playing frame shows the picture and starts the sound of the
// clock's time; the clock moves from the next frame on.
void NetStream::startPlaying() {
    m_state = State::Playing;
    m_starting = false;
    updateFeedPause();
    feedAudio();
    runScriptTags(m_clock + kTimeSlack);
    decodeVideoUpTo(m_clock + kTimeSlack);
}

// Seconds of the stream's sound heard since the clock base: what the mixer
// took, less what still waits in the device.
double NetStream::heardSeconds() const {
    if (!m_audio) return 0;
    SoundPlayer* sound = m_soundPlayer ? m_soundPlayer() : nullptr;
    const double latency = sound && sound->output() ? sound->output()->latencySeconds() : 0;
    return m_audio->playedSeconds() - latency;
}

void NetStream::advance(double seconds) {
    if (m_state == State::Buffering) {
        if (!m_complete) {
            // Playback starts, or goes on, once the buffer holds bufferTime.
            if (bufferLength() >= m_bufferTime && bufferLength() > 0) {
                status("NetStream.Buffer.Full");
                startPlaying();
            }
            return;
        }
        // The whole file is here: Flash reports a full buffer and starts at
        // once, or a flushed one when the file ends before the buffer time
        // is reached and starts on the next frame.
        if (bufferLength() >= m_bufferTime && endTime() > 0) {
            status("NetStream.Buffer.Full");
            startPlaying();
        } else {
            status("NetStream.Buffer.Flush");
            m_flushed = true;
            m_state = State::Playing;
            m_starting = true;
        }
        return;
    }
    if (m_state != State::Playing || m_paused) return;
    if (m_starting) return startPlaying();
    feedAudio();
    // One clock: the sound's heard position while the mixer takes it, else
    // the frame time (no sound, no device, or the sound has ended).
    const double played = m_audio ? m_audio->playedSeconds() : 0;
    if (m_audio && played > m_lastPlayed) m_clock = std::max(m_clockBase, m_clockBase + heardSeconds());
    else m_clock += seconds;
    m_lastPlayed = played;
    if (!m_complete && m_clock >= endTime()) {
        // Played up to the bytes here: wait for more, the picture held.
        m_clock = endTime();
        m_clockBase = m_clock - heardSeconds();
        status("NetStream.Buffer.Empty");
        m_state = State::Buffering;
        updateFeedPause();
    }
    // Tag times are whole milliseconds; the summed frame times drift below them.
    runScriptTags(m_clock + kTimeSlack);
    decodeVideoUpTo(m_clock + kTimeSlack);
    const bool audioLeft = m_nextAudio < m_tags.size() || (m_audio && m_audio->bufferedSeconds() > 0.01);
    if (m_complete && m_clock >= endTime() && m_nextVideo >= m_tags.size() && !audioLeft) {
        if (!m_flushed) status("NetStream.Buffer.Flush");
        // Flash ends a played file with these two, and no Buffer.Empty.
        status("NetStream.Play.Stop");
        m_state = State::Stopped;
        m_flushed = true;
    }
}

void NetStream::runScriptTags(double seconds) {
    for (; m_nextScript < m_tags.size() && m_tags[m_nextScript].time <= seconds; ++m_nextScript) {
        const Tag& t = m_tags[m_nextScript];
        if (t.type != 18) continue;
        auto call = video::readScriptTag(body(t));
        if (!call) continue;
        NetStreamEvent e;
        if (call->name == "onMetaData") e.kind = NetStreamEvent::Kind::MetaData;
        else if (call->name == "onCuePoint") e.kind = NetStreamEvent::Kind::CuePoint;
        else continue;
        e.data = std::move(call->argument);
        m_events.push_back(std::move(e));
    }
}

void NetStream::feedAudio() {
    SoundPlayer* sound = m_soundPlayer ? m_soundPlayer() : nullptr;
    if (!sound && !m_audio) {
        m_nextAudio = m_tags.size();
        return;
    }
    // Decode ahead of the mixer, but never more than a couple of seconds.
    std::vector<int16_t> decoded;
    while (m_nextAudio < m_tags.size() && (!m_audio || m_audio->bufferedSeconds() < limits::kMaxAudioAheadSeconds / 2)) {
        const Tag& t = m_tags[m_nextAudio++];
        if (t.type != 8) continue;
        auto a = video::splitAudioTag(body(t));
        if (!a) continue;
        const uint8_t fmt = body(t)[0];
        auto& dec = *m_audioDecoders;
        if (fmt != dec.formatByte) {
            dec = {};
            dec.formatByte = fmt;
        }
        SoundFormat f = soundFormatFromByte(fmt);
        if (a->format == 14) f.rate = 8000, f.codec = SoundCodec::Mp3; // MP3 at 8 kHz
        if (a->format == 10) f.rate = 44100, f.stereo = true;         // AAC: its config says
        decoded.clear();
        const size_t cap = limits::kMaxStreamBlockSamples;
        int rate = f.rate, channels = f.channels();
        switch (f.codec) {
        case SoundCodec::UncompressedNative:
        case SoundCodec::UncompressedLittle: decodePcm(a->packet, f, cap, decoded); break;
        case SoundCodec::Adpcm: decodeAdpcm(a->packet, f.stereo, cap, decoded); break;
        case SoundCodec::Mp3:
            if (!dec.mp3) dec.mp3 = std::make_unique<Mp3Decoder>(2);
            dec.mp3->decode(a->packet, cap, decoded);
            channels = 2;
            if (dec.mp3->rate() > 0) rate = dec.mp3->rate();
            break;
        case SoundCodec::Aac:
            if (a->packet.empty()) break;
            if (a->packet[0] == 0) { // the AudioSpecificConfig: a new decoder
                dec.codec = std::make_unique<CodecSoundDecoder>(SoundCodec::Aac, 0, 2, a->packet.subspan(1));
                break;
            }
            if (dec.codec) {
                dec.codec->decode(a->packet.subspan(1), cap, decoded);
                channels = 2;
                if (dec.codec->rate() > 0) rate = dec.codec->rate();
            }
            break;
        default:
            if (!isCodecSound(f.codec)) break;
            if (!dec.codec) dec.codec = std::make_unique<CodecSoundDecoder>(f.codec, f.rate, 2);
            dec.codec->decode(a->packet, cap, decoded);
            channels = 2;
            break;
        }
        if (decoded.empty()) continue;
        if (channels == 1) { // the feed is stereo
            std::vector<int16_t> stereo(decoded.size() * 2);
            for (size_t i = 0; i < decoded.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = decoded[i];
            decoded.swap(stereo);
        }
        if (!m_audio) {
            // Made with the first sound, so that a silent stream opens no
            // output; the mixer opens one if the movie had none.
            m_audio = std::make_shared<AudioFeed>();
            updateFeedPause();
            sound->addSource(m_audio);
        }
        m_audio->append(decoded, rate);
    }
}

void NetStream::decodeVideoUpTo(double seconds) {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint8_t> codecs;
    for (; m_nextVideo < m_tags.size() && m_tags[m_nextVideo].time <= seconds; ++m_nextVideo) {
        const Tag& t = m_tags[m_nextVideo];
        if (t.type != 9) continue;
        auto v = video::splitVideoTag(body(t));
        if (!v || v->frameType == 5) continue; // command frames carry no picture
        // A copy: the file's buffer grows (and moves) as more of it arrives.
        packets.emplace_back(v->packet.begin(), v->packet.end());
        codecs.push_back(v->codec);
        m_pictureTime = t.time;
    }
    if (packets.empty()) return;
    // A new picture is coming: the frame is drawn again (only changed frames are).
    m_rt.changed = true;
    m_pending = m_rt.videoWorker().submit([state = m_video, packets = std::move(packets), codecs,
                                           deblocking = m_deblocking] {
        for (size_t i = 0; i < packets.size(); ++i) {
            if (!video::knownVideoCodec(codecs[i])) {
                if (state->warnedCodec != codecs[i] && state->log)
                    state->log(LogLevel::Unimplemented, "NetStream: video codec " + std::to_string(codecs[i]) +
                                                            " is not decoded");
                state->warnedCodec = codecs[i];
                continue;
            }
            // A codec switch mid-stream starts a new decoder.
            if (!state->decoder || uint8_t(state->decoder->codec()) != codecs[i])
                state->decoder = std::make_unique<video::VideoDecoder>(video::VideoCodec(codecs[i]), state->log);
            state->decoder->setDeblocking(deblocking);
            QImage pic = state->decoder->decode(packets[i]);
            if (!pic.isNull()) state->picture = std::move(pic);
        }
        return state->picture;
    });
}

QImage NetStream::currentPicture() {
    if (m_pending.valid()) {
        m_picture = m_pending.get();
        m_pending = {};
    }
    return m_picture;
}

} // namespace swf
