#include "engine/sound/sound_player.h"

#include "engine/core/limits.h"
#include "engine/core/reader.h"
#include "engine/sound/decoders.h"
#include "engine/sound/mixer.h"

#include <algorithm>
#include <cstdio>

namespace swf {

namespace {
// With an output that has not pulled sound for this long, the sound is no
// clock: the timeline runs on its own rather than waiting for a dead device.
constexpr auto kStallTimeout = std::chrono::milliseconds(250);
} // namespace

SoundPlayer::SoundPlayer(LogFn log)
    : m_log(std::move(log)), m_mixer(std::make_unique<Mixer>(44100)) {}

SoundPlayer::~SoundPlayer() {
    if (m_output) m_output->stop();
}

void SoundPlayer::setOutput(std::unique_ptr<AudioOutput> output) {
    // Never hold the mixer lock around start/stop: an output may wait for its
    // thread, which may be waiting in render().
    if (m_output) m_output->stop();
    m_output = std::move(output);
    {
        std::lock_guard lock(m_mutex);
        m_mixer->setOutputRate(m_output ? m_output->sampleRate() : 44100);
        m_lastRender = std::chrono::steady_clock::now();
    }
    if (m_output) m_output->start([this](std::span<int16_t> out) { render(out); });
}

void SoundPlayer::openOutputIfNone() {
    if (!m_output && m_openOutput) setOutput(m_openOutput());
}

int SoundPlayer::sampleRate() const {
    std::lock_guard lock(m_mutex);
    return m_mixer->outputRate();
}

void SoundPlayer::log(LogLevel level, const std::string& message) {
    if (!m_log) return;
    // Unimplemented features are reported once, not once per sound.
    if (level == LogLevel::Unimplemented) {
        if (std::find(m_loggedOnce.begin(), m_loggedOnce.end(), message) != m_loggedOnce.end())
            return;
        m_loggedOnce.push_back(message);
    }
    m_log(level, message);
}

void SoundPlayer::flushMixerMessages() {
    std::vector<std::pair<LogLevel, std::string>> messages;
    {
        std::lock_guard lock(m_mutex);
        messages = m_mixer->takeMessages();
    }
    for (auto& [level, text] : messages) log(level, text);
}

std::shared_ptr<const DecodedSound> SoundPlayer::decoded(const std::shared_ptr<const Movie>& movie,
                                                         uint16_t soundId) {
    MovieSounds& entry = m_cache[movie.get()];
    if (entry.movie.lock() != movie) entry = MovieSounds{movie, {}};
    auto& slot = entry.sounds[soundId];
    if (slot) return slot;
    auto def = movie->get<SoundDef>(soundId);
    if (!def) {
        log(LogLevel::Warning, "sound " + std::to_string(soundId) + " is not defined");
        slot = std::make_shared<DecodedSound>(); // remembered as silent
        return slot;
    }
    auto record = parseDefineSound(def->body);
    if (!record) {
        log(LogLevel::Warning, "DefineSound " + std::to_string(soundId) + ": " + record.error().message);
        slot = std::make_shared<DecodedSound>();
        return slot;
    }
    slot = decodeEventSound(*record, [this](LogLevel l, const std::string& m) { log(l, m); });
    return slot;
}

void SoundPlayer::startSound(const std::shared_ptr<const Movie>& movie, uint16_t soundId,
                             const SoundInfo& info) {
    if (!movie) return;
    // Decode on this thread, outside the lock, so the output never waits on it.
    auto sound = info.syncStop ? nullptr : decoded(movie, soundId);
    if (sound) openOutputIfNone();
    std::lock_guard lock(m_mutex);
    m_mixer->startEvent(std::move(sound), movie.get(), soundId, info);
}

uint64_t SoundPlayer::startScriptSound(const std::shared_ptr<const Movie>& movie, uint16_t soundId,
                                       double offsetSeconds, int loops, const void* owner) {
    if (!movie) return 0;
    auto sound = decoded(movie, soundId);
    SoundInfo info;
    info.loopCount = uint16_t(std::clamp(loops, 1, 65535));
    openOutputIfNone();
    std::lock_guard lock(m_mutex);
    return m_mixer->startEvent(sound, movie.get(), soundId, info, owner,
                               std::max(0.0, offsetSeconds) * sound->rate);
}

std::shared_ptr<const DecodedSound> SoundPlayer::decodedFile(
    const std::shared_ptr<const std::vector<uint8_t>>& file) {
    std::erase_if(m_fileCache, [](const FileSound& f) { return f.file.expired(); });
    for (const FileSound& f : m_fileCache)
        if (f.file.lock() == file) return f.sound;
    auto sound = std::make_shared<DecodedSound>();
    Mp3Decoder mp3(2);
    mp3.decode(*file, limits::kMaxSoundSamples, sound->samples);
    sound->channels = 2;
    sound->rate = mp3.rate() > 0 ? mp3.rate() : 44100;
    if (sound->samples.empty()) log(LogLevel::Warning, "loaded sound file holds no MP3 audio");
    m_fileCache.push_back({file, sound});
    return sound;
}

uint64_t SoundPlayer::startMp3File(const std::shared_ptr<const std::vector<uint8_t>>& file,
                                   double offsetSeconds, int loops, const void* owner) {
    if (!file) return 0;
    auto sound = decodedFile(file);
    SoundInfo info;
    info.loopCount = uint16_t(std::clamp(loops, 1, 65535));
    openOutputIfNone();
    std::lock_guard lock(m_mutex);
    // Files are told apart from movie sounds by their own address.
    return m_mixer->startEvent(sound, reinterpret_cast<const Movie*>(file.get()), 0, info, owner,
                               std::max(0.0, offsetSeconds) * sound->rate);
}

void SoundPlayer::stopInstance(uint64_t instance) {
    std::lock_guard lock(m_mutex);
    m_mixer->stopInstance(instance);
}

void SoundPlayer::addSource(std::shared_ptr<SoundSource> source) {
    openOutputIfNone();
    std::lock_guard lock(m_mutex);
    m_mixer->addSource(std::move(source));
}

void SoundPlayer::stopOwner(const void* owner) {
    std::lock_guard lock(m_mutex);
    m_mixer->stopOwner(owner);
}

bool SoundPlayer::isInstancePlaying(uint64_t instance) const {
    std::lock_guard lock(m_mutex);
    return m_mixer->isInstancePlaying(instance);
}

std::optional<double> SoundPlayer::instancePositionSeconds(uint64_t instance) const {
    std::lock_guard lock(m_mutex);
    return m_mixer->instancePosition(instance);
}

std::optional<double> SoundPlayer::durationSeconds(const std::shared_ptr<const Movie>& movie,
                                                   uint16_t soundId) {
    if (!movie || !movie->get<SoundDef>(soundId)) return std::nullopt;
    auto sound = decoded(movie, soundId);
    return double(sound->frames()) / sound->rate;
}

std::optional<double> SoundPlayer::durationSeconds(const std::shared_ptr<const std::vector<uint8_t>>& file) {
    if (!file) return std::nullopt;
    auto sound = decodedFile(file);
    return double(sound->frames()) / sound->rate;
}

void SoundPlayer::setTransform(const void* owner, const SoundTransform& transform) {
    std::lock_guard lock(m_mutex);
    m_mixer->setTransform(owner, transform);
}

std::vector<uint64_t> SoundPlayer::takeFinished() {
    std::lock_guard lock(m_mutex);
    return m_mixer->takeFinished();
}

void SoundPlayer::controlTag(const std::shared_ptr<const Movie>& movie, const void* timelineKey,
                             const Timeline& timeline, uint32_t frame, const ControlTag& tag) {
    if (!movie) return;
    switch (tag.code) {
    case tag::StartSound:
    case tag::StartSound2: {
        Reader r(tag.body);
        uint16_t id = 0;
        if (tag.code == tag::StartSound) {
            id = r.u16();
        } else {
            // Names a class; an exported name is the nearest thing a movie
            // without scripts of that kind has.
            const std::string name = r.cstring();
            auto it = movie->exports.find(name);
            if (it == movie->exports.end()) {
                log(LogLevel::Warning, "StartSound2: no sound exported as \"" + name + "\"");
                return;
            }
            id = it->second;
        }
        auto info = parseSoundInfo(tag.body.subspan(std::min(r.pos(), tag.body.size())));
        if (r.failed() || !info) {
            char where[16];
            std::snprintf(where, sizeof where, "%x", unsigned(tag.offset));
            log(LogLevel::Warning, std::string(tag.code == tag::StartSound ? "StartSound" : "StartSound2") +
                                       " @0x" + where + ": record ends early");
            return;
        }
        startSound(movie, id, *info);
        break;
    }
    case tag::SoundStreamBlock: {
        openOutputIfNone();
        std::lock_guard lock(m_mutex);
        m_mixer->streamBlock(movie, timelineKey, timeline, frame);
        break;
    }
    default: // stream heads are read by the stream when it starts
        break;
    }
    flushMixerMessages();
}

void SoundPlayer::buttonSound(const std::shared_ptr<const Movie>& movie, const ButtonDef::Sound& sound) {
    if (!movie || sound.soundId == 0) return;
    auto info = parseSoundInfo(sound.info);
    if (!info) {
        log(LogLevel::Warning, "DefineButtonSound: sound info ends early");
        return;
    }
    startSound(movie, sound.soundId, *info);
}

void SoundPlayer::stopSound(const Movie* movie, uint16_t soundId) {
    std::lock_guard lock(m_mutex);
    m_mixer->stopEvent(movie, soundId);
}

void SoundPlayer::stopStream(const void* timelineKey) {
    std::lock_guard lock(m_mutex);
    m_mixer->stopStream(timelineKey);
}

void SoundPlayer::stopAll() {
    {
        std::lock_guard lock(m_mutex);
        m_mixer->stopAll();
    }
    // Sounds of movies no longer alive are no use; the rest decode again cheaply.
    std::erase_if(m_cache, [](const auto& e) { return e.second.movie.expired(); });
    // A new movie reports its own unimplemented features again.
    m_loggedOnce.clear();
}

void SoundPlayer::stopAllSounds() {
    std::lock_guard lock(m_mutex);
    m_mixer->stopAll(false);
}

std::optional<double> SoundPlayer::streamPositionFrames(const void* timelineKey) const {
    if (!m_output) return std::nullopt;
    const double latency = m_output->latencySeconds();
    std::lock_guard lock(m_mutex);
    if (std::chrono::steady_clock::now() - m_lastRender > kStallTimeout) return std::nullopt;
    return m_mixer->streamPosition(timelineKey, latency);
}

bool SoundPlayer::isStreamPlaying(const void* timelineKey) const {
    std::lock_guard lock(m_mutex);
    return m_mixer->isStreamPlaying(timelineKey);
}

size_t SoundPlayer::activeSoundCount() const {
    std::lock_guard lock(m_mutex);
    return m_mixer->activeCount();
}

void SoundPlayer::render(std::span<int16_t> stereoOut) {
    std::lock_guard lock(m_mutex);
    m_lastRender = std::chrono::steady_clock::now();
    m_mixer->mix(stereoOut);
}

} // namespace swf
