#include "engine/sound/offline_mix.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace swf {

namespace {
void putU32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putU16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
} // namespace

Result<bool> writeWav(const std::string& path, std::span<const int16_t> samples, int sampleRate,
                      int channels) {
    if (samples.size() * 2 > 0xffff0000u)
        return Error{ErrorCode::TooLarge, -1, -1, "sound too long for a WAV file"};
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    std::vector<uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    putU32(header, 36 + dataBytes);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putU32(header, 16);
    putU16(header, 1); // PCM
    putU16(header, uint16_t(channels));
    putU32(header, uint32_t(sampleRate));
    putU32(header, uint32_t(sampleRate * channels * 2));
    putU16(header, uint16_t(channels * 2));
    putU16(header, 16);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    putU32(header, dataBytes);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f) return Error{ErrorCode::Io, -1, -1, "cannot write " + path};
    std::vector<uint8_t> body;
    body.reserve(dataBytes);
    for (int16_t s : samples) putU16(body, uint16_t(s)); // little-endian whatever the host
    if (std::fwrite(header.data(), 1, header.size(), f.get()) != header.size() ||
        std::fwrite(body.data(), 1, body.size(), f.get()) != body.size())
        return Error{ErrorCode::Io, -1, -1, "cannot write " + path};
    return true;
}

OfflineMix::OfflineMix(SoundPlayer& sound, double frameRate)
    : m_sound(sound), m_frameRate(frameRate > 0 ? frameRate : 12.0), m_rate(sound.sampleRate()) {}

void OfflineMix::captureFrame() {
    const uint64_t before = uint64_t(std::llround(double(m_frames) * m_rate / m_frameRate));
    ++m_frames;
    const uint64_t after = uint64_t(std::llround(double(m_frames) * m_rate / m_frameRate));
    const size_t start = m_samples.size();
    m_samples.resize(start + size_t(after - before) * 2);
    m_sound.render(std::span<int16_t>(m_samples).subspan(start));
}

Result<bool> OfflineMix::writeWav(const std::string& path) const {
    return swf::writeWav(path, m_samples, m_rate);
}

} // namespace swf
