#include "engine/sound/decoders.h"

#include "engine/core/limits.h"
#include "engine/video/av_codec.h"

#include <mpg123.h>
#include <speex/speex.h>

#include <algorithm>
#include <mutex>

namespace swf {

void decodePcm(std::span<const uint8_t> data, const SoundFormat& format, size_t maxFrames,
               std::vector<int16_t>& out) {
    const size_t bytesPerFrame = size_t(format.channels()) * (format.is16Bit ? 2 : 1);
    const size_t frames = std::min(data.size() / bytesPerFrame, maxFrames);
    const size_t count = frames * size_t(format.channels());
    out.reserve(out.size() + count);
    if (format.is16Bit) {
        for (size_t i = 0; i < count; ++i)
            out.push_back(int16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    } else {
        // 8-bit sound is unsigned with its midpoint at 128.
        for (size_t i = 0; i < count; ++i)
            out.push_back(int16_t((int(data[i]) - 128) << 8));
    }
}

namespace {

constexpr int16_t kAdpcmSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index changes by magnitude code, for 2, 3, 4 and 5 bit codes.
constexpr int kIndex2[2] = {-1, 2};
constexpr int kIndex3[4] = {-1, -1, 2, 4};
constexpr int kIndex4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kIndex5[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};
constexpr const int* kIndexTables[4] = {kIndex2, kIndex3, kIndex4, kIndex5};

// Most-significant-bit-first reader that knows exactly how many bits are left.
class BitSource {
public:
    explicit BitSource(std::span<const uint8_t> d) : m_data(d) {}
    size_t bitsLeft() const { return m_data.size() * 8 - m_bit; }
    uint32_t take(unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i, ++m_bit)
            v = (v << 1) | ((m_data[m_bit >> 3] >> (7 - (m_bit & 7))) & 1);
        return v;
    }

private:
    std::span<const uint8_t> m_data;
    size_t m_bit = 0;
};

struct AdpcmChannel {
    int sample = 0;
    int index = 0;

    int16_t decode(uint32_t code, unsigned bits, const int* indexTable) {
        const int step = kAdpcmSteps[index];
        const uint32_t signBit = 1u << (bits - 1);
        // diff = step * (magnitude + 0.5) / 2^(bits-2), built bit by bit as
        // the encoder did.
        int diff = step >> (bits - 1);
        int part = step;
        for (uint32_t mask = signBit >> 1; mask; mask >>= 1, part >>= 1)
            if (code & mask) diff += part;
        sample += (code & signBit) ? -diff : diff;
        sample = std::clamp(sample, -32768, 32767);
        index = std::clamp(index + indexTable[code & (signBit - 1)], 0, 88);
        return int16_t(sample);
    }
};

} // namespace

void decodeAdpcm(std::span<const uint8_t> data, bool stereo, size_t maxFrames,
                 std::vector<int16_t>& out) {
    BitSource bits(data);
    if (bits.bitsLeft() < 2) return;
    const unsigned codeBits = bits.take(2) + 2;
    const int* indexTable = kIndexTables[codeBits - 2];
    const int channels = stereo ? 2 : 1;
    AdpcmChannel ch[2];
    size_t frames = 0;
    while (frames < maxFrames) {
        // Packet header: 16-bit sample and 6-bit index per channel.
        if (bits.bitsLeft() < size_t(22 * channels)) break;
        for (int c = 0; c < channels; ++c) {
            ch[c].sample = int16_t(bits.take(16));
            ch[c].index = int(bits.take(6));
            if (ch[c].index > 88) ch[c].index = 88;
            out.push_back(int16_t(ch[c].sample));
        }
        ++frames;
        for (int i = 1; i < 4096 && frames < maxFrames; ++i, ++frames) {
            if (bits.bitsLeft() < size_t(codeBits * channels)) return;
            for (int c = 0; c < channels; ++c)
                out.push_back(ch[c].decode(bits.take(codeBits), codeBits, indexTable));
        }
    }
}

// ---- MP3 --------------------------------------------------------------------

Mp3Decoder::Mp3Decoder(int channels) : m_channels(channels == 2 ? 2 : 1) {
    static std::once_flag s_init;
    std::call_once(s_init, [] { mpg123_init(); });
    int err = MPG123_OK;
    m_handle = mpg123_new(nullptr, &err);
    if (!m_handle) return;
    mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // The movie's own seek fields remove the encoder delay; libmpg123 must not
    // remove it a second time.
    mpg123_param(m_handle, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_format_none(m_handle);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    const int channelMask = m_channels == 2 ? MPG123_STEREO : MPG123_MONO;
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(m_handle, rates[i], channelMask, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(m_handle) != MPG123_OK) m_failed = true;
}

Mp3Decoder::~Mp3Decoder() {
    if (m_handle) mpg123_delete(m_handle);
}

void Mp3Decoder::decode(std::span<const uint8_t> data, size_t maxFrames,
                        std::vector<int16_t>& out) {
    if (!ok()) return;
    if (!data.empty() && mpg123_feed(m_handle, data.data(), data.size()) != MPG123_OK) {
        m_failed = true;
        return;
    }
    int16_t buf[4608];
    size_t appended = 0;
    while (appended < maxFrames) {
        size_t bytes = 0;
        int rc = mpg123_read(m_handle, buf, sizeof buf, &bytes);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(m_handle, &rate, &channels, &encoding);
            // A rate change inside one sound is not something a movie can
            // express; keep the first rate.
            if (m_rate == 0) m_rate = int(rate);
        }
        const size_t frames = std::min(bytes / (sizeof(int16_t) * size_t(m_channels)),
                                       maxFrames - appended);
        out.insert(out.end(), buf, buf + frames * size_t(m_channels));
        appended += frames;
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            m_failed = true; // unrecoverable: the rest of this sound stays silent
            break;
        }
    }
}

// ---- Codecs through libavcodec -------------------------------------------------------

namespace {

const char* codecDecoderName(SoundCodec c) {
    switch (c) {
    case SoundCodec::Nellymoser16k:
    case SoundCodec::Nellymoser8k:
    case SoundCodec::Nellymoser: return "nellymoser";
    case SoundCodec::Aac: return "aac";
    default: return "";
    }
}

constexpr size_t kNellymoserBlockBytes = 64;

} // namespace

CodecSoundDecoder::CodecSoundDecoder(SoundCodec codec, int rate, int channels, std::span<const uint8_t> config)
    : m_codec(codec), m_channels(channels == 2 ? 2 : 1) {
    if (codec == SoundCodec::Speex) m_speex = speex_decoder_init(&speex_wb_mode);
    else m_av = video::AvDecoder::open(codecDecoderName(codec), rate, codec == SoundCodec::Aac ? 0 : 1, config);
}

CodecSoundDecoder::~CodecSoundDecoder() {
    if (m_speex) speex_decoder_destroy(m_speex);
}

int CodecSoundDecoder::rate() const { return m_speex ? 16000 : m_av ? m_av->rate() : 0; }

size_t CodecSoundDecoder::decode(std::span<const uint8_t> data, size_t maxFrames, std::vector<int16_t>& out) {
    if (m_speex) return decodeSpeex(data, maxFrames, out);
    if (!m_av) return 0;
    size_t appended = 0, broken = 0;
    const size_t piece = m_codec == SoundCodec::Aac ? data.size() : kNellymoserBlockBytes;
    for (size_t pos = 0; pos < data.size() && appended < maxFrames; pos += piece) {
        // A partial Nellymoser block at the end cannot be decoded.
        if (data.size() - pos < piece) break;
        if (!m_av->send(data.subspan(pos, piece))) ++broken;
        appended += m_av->receiveAudio(out, m_channels, maxFrames - appended);
    }
    return broken;
}

size_t CodecSoundDecoder::decodeSpeex(std::span<const uint8_t> data, size_t maxFrames, std::vector<int16_t>& out) {
    if (data.empty() || data.size() > size_t(INT32_MAX / 8)) return 0;
    SpeexBits bits;
    // libspeex only reads the buffer it is given here.
    speex_bits_set_bit_buffer(&bits, const_cast<uint8_t*>(data.data()), int(data.size()));
    spx_int16_t frame[640];
    int frameSize = 320;
    speex_decoder_ctl(m_speex, SPEEX_GET_FRAME_SIZE, &frameSize);
    frameSize = std::clamp(frameSize, 1, 640);
    size_t appended = 0, broken = 0;
    while (appended < maxFrames && speex_bits_remaining(&bits) >= 5) {
        // An encoder pads each frame to a byte with a 0 and then ones: step
        // over the padding to the next frame (no frame fits in a byte's rest).
        if (bits.bitPtr != 0) {
            const int rest = 8 - bits.bitPtr;
            if (speex_bits_peek_unsigned(&bits, rest) == (1u << (rest - 1)) - 1) {
                speex_bits_advance(&bits, rest);
                continue;
            }
        }
        const int rc = speex_decode_int(m_speex, &bits, frame);
        if (rc == -1) continue;   // a terminator: the next frame follows
        if (rc != 0) {            // corrupt: nothing after it can be trusted
            ++broken;
            break;
        }
        const size_t n = std::min(size_t(frameSize), maxFrames - appended);
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < m_channels; ++c) out.push_back(frame[i]);
        appended += n;
    }
    return broken;
}

// ---- Event sounds --------------------------------------------------------------

std::shared_ptr<const DecodedSound> decodeEventSound(const DefineSoundRecord& record,
                                                     const LogFn& log) {
    auto sound = std::make_shared<DecodedSound>();
    const SoundFormat& f = record.format;
    sound->rate = f.rate;
    sound->channels = f.channels();
    // The declared count is a promise the data may not keep: never size memory
    // from it, only cut the decoded sound to it.
    const size_t cap = std::min<size_t>(record.sampleCount, limits::kMaxSoundSamples);
    auto warn = [&](const std::string& what) {
        if (log) log(LogLevel::Warning, "DefineSound " + std::to_string(record.id) + ": " + what);
    };
    switch (f.codec) {
    case SoundCodec::UncompressedNative:
    case SoundCodec::UncompressedLittle:
        decodePcm(record.data, f, cap, sound->samples);
        break;
    case SoundCodec::Adpcm:
        decodeAdpcm(record.data, f.stereo, cap, sound->samples);
        break;
    case SoundCodec::Mp3: {
        if (record.data.size() < 2) break;
        const int seek = int16_t(record.data[0] | (record.data[1] << 8));
        Mp3Decoder mp3(f.channels());
        // Decode the encoder delay too, then drop it.
        const size_t skip = size_t(std::clamp(seek, 0, 1 << 16));
        mp3.decode(record.data.subspan(2), std::min(cap + skip, limits::kMaxSoundSamples),
                   sound->samples);
        const size_t drop = std::min(skip * size_t(sound->channels), sound->samples.size());
        sound->samples.erase(sound->samples.begin(), sound->samples.begin() + ptrdiff_t(drop));
        if (sound->frames() > cap) sound->samples.resize(cap * size_t(sound->channels));
        if (mp3.rate() > 0) sound->rate = mp3.rate();
        if (!mp3.ok()) warn("MP3 data is broken; playing what decoded");
        break;
    }
    case SoundCodec::Nellymoser16k:
    case SoundCodec::Nellymoser8k:
    case SoundCodec::Nellymoser:
    case SoundCodec::Speex: {
        CodecSoundDecoder decoder(f.codec, f.rate, f.channels());
        if (!decoder.ok()) {
            warn("no decoder for its codec; it stays silent");
            break;
        }
        if (decoder.decode(record.data, cap, sound->samples) > 0) warn("broken packets were skipped");
        break;
    }
    default:
        if (log)
            log(LogLevel::Unimplemented, "sound codec " + std::to_string(int(f.codec)) +
                                             " is not decoded; its sounds stay silent");
        break;
    }
    if (sound->frames() < record.sampleCount && sound->frames() < limits::kMaxSoundSamples &&
        f.codec != SoundCodec::Mp3 && int(f.codec) <= 3)
        warn("declares " + std::to_string(record.sampleCount) + " samples, data holds " +
             std::to_string(sound->frames()));
    return sound;
}

} // namespace swf
