#include "engine/sound/mixer.h"

#include "engine/core/limits.h"
#include "engine/core/reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace swf {

namespace {

// A stopped sound fades out over this many output frames (about 3 ms at
// 44.1 kHz) instead of being cut, so stops, loops and new movies never click.
constexpr int kFadeFrames = 128;
// A block handed in this many frames past what the stream has decoded means
// the timeline jumped ahead: the stream restarts there.
constexpr uint32_t kJumpAheadFrames = 8;

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

const ControlTag* findTag(const Frame& frame, uint16_t a, uint16_t b = 0xffff) {
    for (const ControlTag& t : frame.tags)
        if (t.code == a || t.code == b) return &t;
    return nullptr;
}

} // namespace

struct Mixer::Voice {
    std::shared_ptr<const DecodedSound> sound;
    const Movie* movie = nullptr;
    uint16_t id = 0;
    std::vector<EnvelopePoint> envelope;
    double start = 0, end = 0; // played region, source frames
    double pos = 0;            // source frame
    double step = 1;           // source frames per output frame
    double envTime = 0;        // 44.1 kHz samples since the sound's own start
    double envStep = 1;
    size_t envCursor = 0;
    int loopsLeft = 1;
    int fade = -1;             // output frames left of a fade-out; -1 while playing
    bool done = false;
    uint64_t instance = 0;
    const void* owner = nullptr;
};

struct Mixer::Stream {
    const void* key = nullptr;
    std::shared_ptr<const Movie> movie;
    const Timeline* timeline = nullptr;
    StreamHeadRecord head;
    uint32_t startFrame = 0, nextFrame = 0, lastBlockFrame = 0, lastSeenFrame = 0;
    double nominalFrames = 0;          // source frames of one timeline frame
    std::unique_ptr<Mp3Decoder> mp3;
    std::unique_ptr<CodecSoundDecoder> codecDecoder; // Nellymoser, Speex
    size_t mp3Skip = 0;                // decoded MP3 frames still to drop
    int rate = 44100, channels = 1;
    std::vector<int16_t> buf;          // decoded, interleaved
    int64_t bufBase = 0;               // absolute source frame of buf[0]
    double pos = 0;                    // absolute source frame being mixed
    std::deque<std::pair<int64_t, uint32_t>> marks; // (source frame, timeline frame)
    bool fedAll = false, ended = false;
    int fade = -1;

    int64_t bufEnd() const { return bufBase + int64_t(buf.size() / size_t(channels)); }
    int16_t at(int64_t frame, int c) const {
        int64_t i = frame - bufBase;
        if (i < 0 || i >= int64_t(buf.size() / size_t(channels))) return 0;
        return buf[size_t(i) * size_t(channels) + size_t(c)];
    }
};

Mixer::Mixer(int outputRate) : m_rate(outputRate > 0 ? outputRate : 44100) {}
Mixer::~Mixer() = default;

void Mixer::setOutputRate(int rate) {
    if (rate <= 0 || rate == m_rate) return;
    for (auto& v : m_voices) {
        v->step = double(v->sound->rate) / rate;
        v->envStep = 44100.0 / rate;
    }
    m_rate = rate;
}

void Mixer::warnOnce(const std::string& key, LogLevel level, const std::string& message) {
    if (std::find(m_warned.begin(), m_warned.end(), key) != m_warned.end()) return;
    m_warned.push_back(key);
    m_messages.emplace_back(level, message);
}

std::vector<std::pair<LogLevel, std::string>> Mixer::takeMessages() {
    return std::exchange(m_messages, {});
}

// ---- Event sounds ----------------------------------------------------------------

uint64_t Mixer::startEvent(std::shared_ptr<const DecodedSound> sound, const Movie* movie, uint16_t id,
                           const SoundInfo& info, const void* owner, double offsetFrames) {
    if (info.syncStop) {
        stopEvent(movie, id);
        return 0;
    }
    if (!sound || sound->frames() == 0) return 0;
    if (info.syncNoMultiple && isEventPlaying(movie, id)) return 0;
    if (m_voices.size() >= limits::kMaxSoundVoices) {
        warnOnce("voices", LogLevel::Warning,
                 "more than " + std::to_string(limits::kMaxSoundVoices) +
                     " sounds at once; new sounds are skipped");
        return 0;
    }
    auto v = std::make_unique<Voice>();
    const double toSource = double(sound->rate) / 44100.0; // in/out points count 44.1 kHz samples
    v->start = info.inPoint ? std::floor(*info.inPoint * toSource) : 0.0;
    v->end = double(sound->frames());
    if (info.outPoint) v->end = std::min(v->end, std::floor(*info.outPoint * toSource));
    if (v->start >= v->end) return 0;
    v->sound = std::move(sound);
    v->movie = movie;
    v->id = id;
    v->owner = owner;
    v->instance = m_nextInstance++;
    v->envelope = info.envelope;
    v->pos = v->start + std::clamp(offsetFrames, 0.0, v->end - v->start);
    v->step = double(v->sound->rate) / m_rate;
    v->envTime = info.inPoint ? double(*info.inPoint) : 0.0;
    v->envStep = 44100.0 / m_rate;
    v->loopsLeft = std::max<int>(1, info.loopCount);
    const uint64_t instance = v->instance;
    m_voices.push_back(std::move(v));
    return instance;
}

void Mixer::stopInstance(uint64_t instance) {
    for (auto& v : m_voices)
        if (v->instance == instance && v->fade < 0) v->fade = kFadeFrames;
}

void Mixer::stopOwner(const void* owner) {
    for (auto& v : m_voices)
        if (v->owner == owner && v->fade < 0) v->fade = kFadeFrames;
}

bool Mixer::isInstancePlaying(uint64_t instance) const {
    for (const auto& v : m_voices)
        if (v->instance == instance) return v->fade < 0 && !v->done;
    return false;
}

std::optional<double> Mixer::instancePosition(uint64_t instance) const {
    for (const auto& v : m_voices)
        if (v->instance == instance) return v->pos / v->sound->rate;
    return std::nullopt;
}

void Mixer::setTransform(const void* owner, const SoundTransform& t) {
    if (!owner) {
        m_global = t;
        return;
    }
    std::erase_if(m_transforms, [&](const auto& e) { return e.first == owner; });
    if (!t.isIdentity()) m_transforms.emplace_back(owner, t);
}

void Mixer::stopEvent(const Movie* movie, uint16_t id) {
    for (auto& v : m_voices)
        if (v->movie == movie && v->id == id && v->fade < 0) v->fade = kFadeFrames;
}

bool Mixer::isEventPlaying(const Movie* movie, uint16_t id) const {
    for (const auto& v : m_voices)
        if (v->movie == movie && v->id == id && v->fade < 0 && !v->done) return true;
    return false;
}

// ---- Streams ------------------------------------------------------------------------

void Mixer::startStream(const std::shared_ptr<const Movie>& movie, const void* key,
                        const Timeline& timeline, uint32_t frame) {
    stopStream(key);
    const auto& frames = timeline.frames;
    if (frame >= frames.size()) return;
    // The head in force is the last one at or before the starting frame.
    const ControlTag* headTag = nullptr;
    for (uint32_t f = 0; f <= frame; ++f)
        if (auto t = findTag(frames[f], tag::SoundStreamHead, tag::SoundStreamHead2)) headTag = t;
    if (!headTag) {
        warnOnce("nohead", LogLevel::Warning, "SoundStreamBlock without a SoundStreamHead; skipped");
        return;
    }
    auto head = parseStreamHead(headTag->body);
    if (!head) {
        warnOnce("badhead", LogLevel::Warning,
                 "SoundStreamHead @0x" + hex(headTag->offset) + ": " +
                     head.error().message);
        return;
    }
    const SoundCodec codec = head->format.codec;
    if (int(codec) > 3 && !isCodecSound(codec)) {
        warnOnce("codec" + std::to_string(int(codec)), LogLevel::Unimplemented,
                 "stream sound codec " + std::to_string(int(codec)) +
                     " is not decoded; the stream stays silent");
        return;
    }
    auto s = std::make_unique<Stream>();
    s->key = key;
    s->movie = movie;
    s->timeline = &timeline;
    s->head = *head;
    s->rate = head->format.rate;
    s->channels = head->format.channels();
    s->startFrame = s->nextFrame = s->lastSeenFrame = frame;
    for (uint32_t f = frame; f < frames.size(); ++f)
        if (findTag(frames[f], tag::SoundStreamBlock)) s->lastBlockFrame = f;
    const double frameRate = movie->header.frameRate > 0 ? movie->header.frameRate : 12.0;
    s->nominalFrames = s->rate / frameRate;
    if (isCodecSound(codec)) {
        s->codecDecoder = std::make_unique<CodecSoundDecoder>(codec, s->rate, s->channels);
        if (!s->codecDecoder->ok())
            warnOnce("codec" + std::to_string(int(codec)), LogLevel::Warning,
                     "no decoder for stream sound codec " + std::to_string(int(codec)) + "; the stream stays silent");
    }
    if (codec == SoundCodec::Mp3) {
        s->mp3 = std::make_unique<Mp3Decoder>(s->channels);
        // The starting block says how many decoded samples lead its frame.
        if (auto block = findTag(frames[frame], tag::SoundStreamBlock); block && block->body.size() >= 4)
            s->mp3Skip = size_t(std::max(0, int(int16_t(block->body[2] | (block->body[3] << 8)))));
    }
    m_streams.push_back(std::move(s));
}

void Mixer::streamBlock(const std::shared_ptr<const Movie>& movie, const void* key,
                        const Timeline& timeline, uint32_t frame) {
    for (auto& s : m_streams) {
        if (s->key != key || s->fade >= 0) continue;
        const bool sameSource = s->timeline == &timeline && s->movie == movie;
        // Backwards means a loop or a jump; far ahead of the decoded sound
        // means a jump. Anything else is the timeline catching up or waiting.
        if (sameSource && frame >= s->lastSeenFrame && frame <= s->nextFrame + kJumpAheadFrames) {
            s->lastSeenFrame = frame;
            return;
        }
        break;
    }
    startStream(movie, key, timeline, frame);
}

void Mixer::feedStream(Stream& s, double untilFrame) {
    const auto& frames = s.timeline->frames;
    const SoundFormat& f = s.head.format;
    while (!s.fedAll && double(s.bufEnd()) < untilFrame) {
        if (s.nextFrame > s.lastBlockFrame || s.nextFrame >= frames.size()) {
            s.fedAll = true;
            s.mp3.reset();
            s.codecDecoder.reset();
            break;
        }
        const size_t before = s.buf.size();
        s.marks.emplace_back(s.bufEnd(), s.nextFrame);
        const ControlTag* block = findTag(frames[s.nextFrame], tag::SoundStreamBlock);
        const size_t cap = limits::kMaxStreamBlockSamples;
        if (!block) {
            // A frame without a block inside the stream is a frame of silence.
            s.buf.resize(before + size_t(s.nominalFrames) * size_t(s.channels), 0);
        } else if (f.codec == SoundCodec::Adpcm) {
            decodeAdpcm(block->body, f.stereo, cap, s.buf);
        } else if (s.codecDecoder) {
            if (s.codecDecoder->decode(block->body, cap, s.buf) > 0)
                warnOnce("codecstream", LogLevel::Warning,
                         "SoundStreamBlock @0x" + hex(block->offset) + ": broken packets were skipped");
        } else if (f.codec == SoundCodec::Mp3) {
            // sampleCount(16) seekSamples(16) then MP3 frames.
            if (s.mp3 && block->body.size() > 4) {
                s.mp3->decode(block->body.subspan(4), cap, s.buf);
                if (s.mp3->rate() > 0 && s.mp3->rate() != s.rate && before == 0 && s.bufBase == 0) {
                    s.rate = s.mp3->rate();
                    s.nominalFrames = s.rate / (s.movie->header.frameRate > 0 ? s.movie->header.frameRate : 12.0);
                }
                if (s.mp3Skip > 0) {
                    const size_t got = (s.buf.size() - before) / size_t(s.channels);
                    const size_t drop = std::min(got, s.mp3Skip);
                    s.buf.erase(s.buf.begin() + ptrdiff_t(before),
                                s.buf.begin() + ptrdiff_t(before + drop * size_t(s.channels)));
                    s.mp3Skip -= drop;
                }
                if (!s.mp3->ok())
                    warnOnce("mp3stream", LogLevel::Warning,
                             "SoundStreamBlock @0x" + hex(block->offset) +
                                 ": broken MP3 data; the stream goes silent");
            }
        } else {
            decodePcm(block->body, f, cap, s.buf);
        }
        ++s.nextFrame;
    }
}

void Mixer::stopStream(const void* key) {
    for (auto& s : m_streams)
        if (s->key == key && s->fade < 0) s->fade = kFadeFrames;
}

bool Mixer::isStreamPlaying(const void* key) const {
    for (const auto& s : m_streams)
        if (s->key == key && s->fade < 0 && !s->ended && !(s->fedAll && s->pos >= double(s->bufEnd())))
            return true;
    return false;
}

std::optional<double> Mixer::streamPosition(const void* key, double latencySeconds) const {
    for (const auto& s : m_streams) {
        if (s->key != key || s->fade >= 0) continue;
        if (s->ended || (s->fedAll && s->pos >= double(s->bufEnd()))) return std::nullopt;
        const double heard = s->pos - latencySeconds * s->rate;
        if (s->marks.empty() || heard < double(s->marks.front().first)) return double(s->startFrame);
        auto next = std::upper_bound(s->marks.begin(), s->marks.end(), heard,
                                     [](double h, const auto& m) { return h < double(m.first); });
        const auto& mark = *std::prev(next);
        const double span = next != s->marks.end() ? double(next->first - mark.first) : s->nominalFrames;
        const double frac = span > 0 ? std::min((heard - double(mark.first)) / span, 0.999) : 0.0;
        return mark.second + frac;
    }
    return std::nullopt;
}

void Mixer::addSource(std::shared_ptr<SoundSource> source) {
    if (source) m_sources.push_back(std::move(source));
}

void Mixer::stopAll(bool reset) {
    if (reset) {
        // Transforms name clips of the movie going away; a new movie starts plain.
        m_transforms.clear();
        m_global = {};
        m_finished.clear();
        m_warned.clear();
    }
    for (auto& v : m_voices)
        if (v->fade < 0) v->fade = kFadeFrames;
    for (auto& s : m_streams)
        if (s->fade < 0) s->fade = kFadeFrames;
}

size_t Mixer::activeCount() const {
    size_t n = 0;
    for (const auto& v : m_voices) n += (v->fade < 0 && !v->done);
    for (const auto& s : m_streams) n += (s->fade < 0 && !s->ended);
    return n;
}

// ---- Mixing -------------------------------------------------------------------------

namespace {

// Gain of an envelope at `t` (44.1 kHz samples), linear between points; the
// cursor only moves forward because time does.
void envelopeGain(const std::vector<EnvelopePoint>& env, size_t& cursor, double t, double& gl,
                  double& gr) {
    while (cursor + 1 < env.size() && env[cursor + 1].pos44 <= t) ++cursor;
    const EnvelopePoint& a = env[cursor];
    if (t <= a.pos44 || cursor + 1 >= env.size()) {
        gl = a.left / 32768.0;
        gr = a.right / 32768.0;
        return;
    }
    const EnvelopePoint& b = env[cursor + 1];
    const double k = (t - a.pos44) / double(b.pos44 - a.pos44);
    gl = (a.left + (b.left - a.left) * k) / 32768.0;
    gr = (a.right + (b.right - a.right) * k) / 32768.0;
}

// Cubic (Catmull-Rom) interpolation between p1 and p2 at t in [0, 1): the
// resampler. Far fewer images than a straight line when 5.5 or 11 kHz sound
// is raised to 44.1 kHz, and exact on constant stretches.
double cubic(double p0, double p1, double p2, double p3, double t) {
    return p1 + 0.5 * t * (p2 - p0 + t * (2 * p0 - 5 * p1 + 4 * p2 - p3 + t * (3 * (p1 - p2) + p3 - p0)));
}

double fadeGain(int& fade) {
    if (fade < 0) return 1.0;
    const double g = double(fade) / kFadeFrames;
    if (fade > 0) --fade;
    return g;
}

} // namespace

void Mixer::mix(std::span<int16_t> stereoOut) {
    const size_t n = stereoOut.size() / 2;
    m_accum.assign(n * 2, 0);

    for (auto& v : m_voices) {
        const SoundTransform* transform = nullptr;
        for (const auto& [owner, t] : m_transforms)
            if (owner == v->owner) transform = &t;
        const DecodedSound& snd = *v->sound;
        const int ch = snd.channels;
        const int16_t* data = snd.samples.data();
        const size_t end = size_t(v->end);
        for (size_t i = 0; i < n && !v->done; ++i) {
            if (v->pos >= v->end) {
                if (--v->loopsLeft <= 0) {
                    v->done = true;
                    if (v->fade < 0) m_finished.push_back(v->instance);
                    break;
                }
                v->pos = v->start + (v->pos - v->end);
            }
            const size_t i1 = size_t(v->pos);
            const double frac = v->pos - double(i1);
            // Neighbours inside the played region: before its start the first
            // sample repeats; past its end the next loop follows, or the last
            // sample holds.
            const size_t first = size_t(v->start);
            auto index = [&](size_t i) {
                if (i < first) return first;
                if (i >= end) return v->loopsLeft > 1 ? first + (i - end) % (end - first) : end - 1;
                return i;
            };
            double l = data[i1 * ch], r = data[i1 * ch + ch - 1];
            if (frac != 0) { // on a sample (44.1 kHz sound) there is nothing to interpolate
                const bool inside = i1 > first && i1 + 2 < end; // the common case: no edge near
                const size_t i0 = inside ? i1 - 1 : index(i1 - (i1 > 0 ? 1 : 0));
                const size_t i2 = inside ? i1 + 1 : index(i1 + 1), i3 = inside ? i1 + 2 : index(i1 + 2);
                l = cubic(data[i0 * ch], l, data[i2 * ch], data[i3 * ch], frac);
                r = cubic(data[i0 * ch + ch - 1], r, data[i2 * ch + ch - 1], data[i3 * ch + ch - 1], frac);
            }
            if (!v->envelope.empty()) {
                double gl, gr;
                envelopeGain(v->envelope, v->envCursor, v->envTime, gl, gr);
                l *= gl;
                r *= gr;
            }
            if (transform) {
                const double l2 = l * transform->leftToLeft + r * transform->rightToLeft;
                r = l * transform->leftToRight + r * transform->rightToRight;
                l = l2;
            }
            const double g = fadeGain(v->fade);
            m_accum[2 * i] += int32_t(l * g);
            m_accum[2 * i + 1] += int32_t(r * g);
            if (v->fade == 0) v->done = true;
            v->pos += v->step;
            v->envTime += v->envStep;
        }
    }

    for (auto& sp : m_streams) {
        Stream& s = *sp;
        if (s.ended) continue;
        const double step = double(s.rate) / m_rate;
        feedStream(s, s.pos + step * double(n) + 3);
        const SoundTransform* transform = nullptr; // a clip's Sound object also sets its stream
        for (const auto& [owner, t] : m_transforms)
            if (owner == s.key) transform = &t;
        const int ch = s.channels;
        for (size_t i = 0; i < n; ++i) {
            if (s.fedAll && s.pos >= double(s.bufEnd())) { s.ended = true; break; }
            const int64_t i1 = int64_t(s.pos);
            const double frac = s.pos - double(i1);
            const double g = fadeGain(s.fade);
            // Blocks are one continuous signal here, so joins need no care.
            double l, r;
            if (i1 - 1 >= s.bufBase && i1 + 2 < s.bufEnd()) {
                const int16_t* p = s.buf.data() + size_t(i1 - 1 - s.bufBase) * size_t(ch);
                l = p[ch];
                r = p[2 * ch - 1];
                if (frac != 0) {
                    l = cubic(p[0], l, p[2 * ch], p[3 * ch], frac);
                    r = cubic(p[ch - 1], r, p[3 * ch - 1], p[4 * ch - 1], frac);
                }
            } else {
                l = cubic(s.at(i1 - 1, 0), s.at(i1, 0), s.at(i1 + 1, 0), s.at(i1 + 2, 0), frac);
                r = cubic(s.at(i1 - 1, ch - 1), s.at(i1, ch - 1), s.at(i1 + 1, ch - 1),
                          s.at(i1 + 2, ch - 1), frac);
            }
            if (transform) {
                const double l2 = l * transform->leftToLeft + r * transform->rightToLeft;
                r = l * transform->leftToRight + r * transform->rightToRight;
                l = l2;
            }
            m_accum[2 * i] += int32_t(l * g);
            m_accum[2 * i + 1] += int32_t(r * g);
            if (s.fade == 0) { s.ended = true; break; }
            s.pos += step;
        }
        // Drop what has been played, keeping a little for the interpolation
        // and two seconds of frame marks for the output's latency.
        const int64_t keepFrom = int64_t(s.pos) - 2;
        if (keepFrom - s.bufBase > 16384) {
            const size_t drop = size_t(keepFrom - s.bufBase);
            s.buf.erase(s.buf.begin(), s.buf.begin() + ptrdiff_t(drop * size_t(ch)));
            s.bufBase += int64_t(drop);
        }
        while (s.marks.size() > 1 && double(s.marks[1].first) < s.pos - 2.0 * s.rate)
            s.marks.pop_front();
    }

    for (const auto& source : m_sources) {
        m_sourceBuffer.assign(n * 2, 0);
        const size_t got = std::min(source->read(m_sourceBuffer.data(), n, m_rate), n);
        for (size_t i = 0; i < got * 2; ++i) m_accum[i] += m_sourceBuffer[i];
    }
    std::erase_if(m_sources, [](const auto& s) { return s->closed(); });

    std::erase_if(m_voices, [](const auto& v) { return v->done; });
    std::erase_if(m_streams, [](const auto& s) { return s->fade == 0 || (s->ended && s->fade >= 0); });

    if (!m_global.isIdentity()) {
        for (size_t i = 0; i < n; ++i) {
            const double l = m_accum[2 * i], r = m_accum[2 * i + 1];
            m_accum[2 * i] = int32_t(l * m_global.leftToLeft + r * m_global.rightToLeft);
            m_accum[2 * i + 1] = int32_t(l * m_global.leftToRight + r * m_global.rightToRight);
        }
    }
    // Finished-instance reports are bounded: a player that never asks keeps
    // only the latest.
    if (m_finished.size() > limits::kMaxSoundVoices * 4)
        m_finished.erase(m_finished.begin(), m_finished.end() - ptrdiff_t(limits::kMaxSoundVoices));
    for (size_t i = 0; i < n * 2; ++i)
        stereoOut[i] = int16_t(std::clamp(m_accum[i], -32768, 32767));
    if (stereoOut.size() > n * 2) stereoOut.back() = 0;
}

} // namespace swf
