#include "tests/sound/sound_fixtures.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>

namespace soundtest {

std::vector<int16_t> tone(double freq, int rate, size_t frames, int channels, double amplitude,
                          double rightFreq) {
    std::vector<int16_t> out;
    out.reserve(frames * size_t(channels));
    const double w = 2 * std::numbers::pi / rate;
    for (size_t i = 0; i < frames; ++i) {
        out.push_back(int16_t(std::lround(amplitude * std::sin(w * freq * double(i)))));
        if (channels == 2) {
            const double f2 = rightFreq > 0 ? rightFreq : freq;
            out.push_back(int16_t(std::lround(amplitude * std::sin(w * f2 * double(i)))));
        }
    }
    return out;
}

double goertzelAmplitude(std::span<const int16_t> samples, int channels, int channel, double freq,
                         int rate) {
    const size_t n = samples.size() / size_t(channels);
    if (n == 0) return 0;
    const double coeff = 2 * std::cos(2 * std::numbers::pi * freq / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double s0 = samples[i * size_t(channels) + size_t(channel)] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(n);
}

double zeroCrossingFrequency(std::span<const int16_t> samples, int channels, int channel, int rate) {
    const size_t n = samples.size() / size_t(channels);
    size_t first = 0, last = 0, count = 0;
    for (size_t i = 1; i < n; ++i) {
        const int a = samples[(i - 1) * size_t(channels) + size_t(channel)];
        const int b = samples[i * size_t(channels) + size_t(channel)];
        if (a < 0 && b >= 0) {
            if (count == 0) first = i;
            last = i;
            ++count;
        }
    }
    if (count < 2) return 0;
    return double(count - 1) * rate / double(last - first);
}

double rms(std::span<const int16_t> samples, int channels, int channel) {
    const size_t n = samples.size() / size_t(channels);
    if (n == 0) return 0;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = samples[i * size_t(channels) + size_t(channel)];
        sum += v * v;
    }
    return std::sqrt(sum / double(n));
}

int maxStep(std::span<const int16_t> samples, int channels, int channel) {
    int m = 0;
    const size_t n = samples.size() / size_t(channels);
    for (size_t i = 1; i < n; ++i)
        m = std::max(m, std::abs(samples[i * size_t(channels) + size_t(channel)] -
                                 samples[(i - 1) * size_t(channels) + size_t(channel)]));
    return m;
}

std::vector<uint8_t> pcm16(std::span<const int16_t> samples) {
    std::vector<uint8_t> out;
    for (int16_t s : samples) {
        out.push_back(uint8_t(s));
        out.push_back(uint8_t(uint16_t(s) >> 8));
    }
    return out;
}

std::vector<uint8_t> pcm8(std::span<const int16_t> samples) {
    std::vector<uint8_t> out;
    for (int16_t s : samples) out.push_back(uint8_t((s >> 8) + 128));
    return out;
}

namespace {

constexpr int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const std::vector<std::vector<int>> kIndexChange = {
    {-1, 2}, {-1, -1, 2, 4}, {-1, -1, -1, -1, 2, 4, 6, 8},
    {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16}};

struct BitWriter {
    std::vector<uint8_t> bytes;
    int used = 8;
    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (used == 8) { bytes.push_back(0); used = 0; }
            if ((v >> i) & 1) bytes.back() |= uint8_t(0x80 >> used);
            ++used;
        }
    }
};

struct EncoderChannel {
    int predicted = 0, index = 0;
    uint32_t encode(int x, int bits) {
        const int step = kSteps[index];
        const uint32_t signBit = 1u << (bits - 1);
        int diff = x - predicted;
        uint32_t code = 0;
        if (diff < 0) { code = signBit; diff = -diff; }
        int part = step;
        for (uint32_t mask = signBit >> 1; mask; mask >>= 1, part >>= 1)
            if (diff >= part) { code |= mask; diff -= part; }
        // Follow the decoder exactly so both stay in step.
        int delta = step >> (bits - 1);
        part = step;
        for (uint32_t mask = signBit >> 1; mask; mask >>= 1, part >>= 1)
            if (code & mask) delta += part;
        predicted = std::clamp(predicted + ((code & signBit) ? -delta : delta), -32768, 32767);
        index = std::clamp(index + kIndexChange[size_t(bits - 2)][code & (signBit - 1)], 0, 88);
        return code;
    }
};

} // namespace

std::vector<uint8_t> adpcm(std::span<const int16_t> samples, int channels, int bits, int startIndex) {
    BitWriter w;
    w.put(uint32_t(bits - 2), 2);
    EncoderChannel ch[2];
    ch[0].index = ch[1].index = std::clamp(startIndex, 0, 88);
    const size_t frames = samples.size() / size_t(channels);
    for (size_t i = 0; i < frames; ++i) {
        const bool packetStart = i % 4096 == 0;
        for (int c = 0; c < channels; ++c) {
            const int x = samples[i * size_t(channels) + size_t(c)];
            if (packetStart) {
                ch[c].predicted = x;
                w.put(uint16_t(int16_t(x)), 16);
                w.put(uint32_t(ch[c].index), 6);
            } else {
                w.put(ch[c].encode(x, bits), bits);
            }
        }
    }
    return w.bytes;
}

std::vector<std::vector<uint8_t>> mp3Frames(std::span<const uint8_t> file) {
    static constexpr int kBitrates1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int kBitrates2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    std::vector<std::vector<uint8_t>> frames;
    size_t pos = 0;
    while (pos + 4 <= file.size()) {
        const uint32_t h = uint32_t(file[pos]) << 24 | file[pos + 1] << 16 | file[pos + 2] << 8 | file[pos + 3];
        if ((h >> 21) != 0x7ff) { ++pos; continue; }
        const int version = (h >> 19) & 3; // 3 MPEG1, 2 MPEG2, 0 MPEG2.5
        const int brIndex = (h >> 12) & 15, rateIndex = (h >> 10) & 3, padding = (h >> 9) & 1;
        if (version == 1 || brIndex == 0 || brIndex == 15 || rateIndex == 3) { ++pos; continue; }
        const int vi = version == 3 ? 0 : version == 2 ? 1 : 2;
        const int rate = kRates[vi][rateIndex];
        const int kbps = vi == 0 ? kBitrates1[brIndex] : kBitrates2[brIndex];
        const size_t len = size_t((vi == 0 ? 144000 : 72000) * kbps / rate + padding);
        if (pos + len > file.size()) break;
        frames.emplace_back(file.begin() + ptrdiff_t(pos), file.begin() + ptrdiff_t(pos + len));
        pos += len;
    }
    return frames;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

uint8_t formatByte(int codec, int rateCode, bool is16, bool stereo) {
    return uint8_t(codec << 4 | rateCode << 2 | (is16 ? 2 : 0) | (stereo ? 1 : 0));
}

namespace {
void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
} // namespace

std::vector<uint8_t> defineSoundBody(uint16_t id, uint8_t format, uint32_t sampleCount,
                                     std::span<const uint8_t> data) {
    std::vector<uint8_t> b;
    put16(b, id);
    b.push_back(format);
    put32(b, sampleCount);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::vector<uint8_t> soundInfo(const Info& info) {
    std::vector<uint8_t> b;
    b.push_back(uint8_t((info.stop ? 0x20 : 0) | (info.noMultiple ? 0x10 : 0) |
                        (!info.envelope.empty() ? 0x08 : 0) | (info.loops >= 0 ? 0x04 : 0) |
                        (info.out >= 0 ? 0x02 : 0) | (info.in >= 0 ? 0x01 : 0)));
    if (info.in >= 0) put32(b, uint32_t(info.in));
    if (info.out >= 0) put32(b, uint32_t(info.out));
    if (info.loops >= 0) put16(b, uint32_t(info.loops));
    if (!info.envelope.empty()) {
        b.push_back(uint8_t(info.envelope.size()));
        for (const auto& p : info.envelope) {
            put32(b, p.pos44);
            put16(b, p.left);
            put16(b, p.right);
        }
    }
    return b;
}

MovieBuilder::MovieBuilder(double frameRate) : m_movie(std::make_shared<swf::Movie>()) {
    m_movie->header.frameRate = frameRate;
}

void MovieBuilder::defineSound(uint16_t id, std::vector<uint8_t> body) {
    m_pending.push_back({true, id, 0, swf::tag::DefineSound, std::move(body)});
}

void MovieBuilder::exportName(const std::string& name, uint16_t id) { m_movie->exports[name] = id; }

void MovieBuilder::frameTag(uint32_t frame, uint16_t code, std::vector<uint8_t> body) {
    m_pending.push_back({false, 0, frame, code, std::move(body)});
    m_frames = std::max(m_frames, frame + 1);
}

void MovieBuilder::ensureFrames(uint32_t count) { m_frames = std::max(m_frames, count); }

std::shared_ptr<const swf::Movie> MovieBuilder::finish() {
    std::vector<size_t> offsets;
    for (const auto& p : m_pending) {
        offsets.push_back(m_movie->data.size());
        m_movie->data.insert(m_movie->data.end(), p.body.begin(), p.body.end());
    }
    m_movie->timeline.frames.resize(m_frames);
    m_movie->header.frameCount = m_frames;
    const uint8_t* base = m_movie->data.data();
    for (size_t i = 0; i < m_pending.size(); ++i) {
        const auto& p = m_pending[i];
        std::span<const uint8_t> body(base + offsets[i], p.body.size());
        if (p.isSound) {
            auto def = std::make_shared<swf::SoundDef>();
            def->id = p.id;
            def->body = body;
            m_movie->dictionary[p.id] = std::shared_ptr<const swf::SoundDef>(def);
        } else {
            m_movie->timeline.frames[p.frame].tags.push_back({p.code, uint32_t(offsets[i]), body});
        }
    }
    return m_movie;
}

} // namespace soundtest
