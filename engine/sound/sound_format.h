#pragma once
// The sound records of the SWF format, decoded from the raw tag bodies the
// movie keeps: the format byte of DefineSound and SoundStreamHead, and the
// sound-info record of StartSound, StartSound2 and DefineButtonSound.
#include "engine/core/result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace swf {

enum class SoundCodec : uint8_t {
    UncompressedNative = 0, // written by little-endian machines in practice
    Adpcm = 1,
    Mp3 = 2,
    UncompressedLittle = 3,
    Nellymoser16k = 4,
    Nellymoser8k = 5,
    Nellymoser = 6,
    Aac = 10,               // FLV files only
    Speex = 11,
};

// Codecs decoded through libavcodec (CodecSoundDecoder).
inline bool isCodecSound(SoundCodec c) {
    return c == SoundCodec::Nellymoser16k || c == SoundCodec::Nellymoser8k || c == SoundCodec::Nellymoser ||
           c == SoundCodec::Aac || c == SoundCodec::Speex;
}

struct SoundFormat {
    SoundCodec codec = SoundCodec::UncompressedLittle;
    int rate = 44100;       // 5512, 11025, 22050 or 44100 (codec-given for Nellymoser 8k/16k)
    bool is16Bit = true;
    bool stereo = false;
    int channels() const { return stereo ? 2 : 1; }
};

// The rate field of the format byte: 0..3.
int soundRateFromCode(unsigned code);

// Reads the format byte `fmt` as it appears in DefineSound and the stream
// part of SoundStreamHead: codec(4) rate(2) size(1) type(1).
SoundFormat soundFormatFromByte(uint8_t fmt);

struct EnvelopePoint {
    uint32_t pos44 = 0;       // position in 44.1 kHz samples from the sound's start
    uint16_t left = 32768;    // level 0..32768
    uint16_t right = 32768;
};

// How one event sound is started (the sound-info record).
struct SoundInfo {
    bool syncStop = false;        // stop every instance of the sound instead of starting it
    bool syncNoMultiple = false;  // do not start if the sound is already playing
    std::optional<uint32_t> inPoint;  // 44.1 kHz samples
    std::optional<uint32_t> outPoint; // 44.1 kHz samples
    uint16_t loopCount = 1;           // plays this many times (0 is read as 1)
    std::vector<EnvelopePoint> envelope;
};

Result<SoundInfo> parseSoundInfo(std::span<const uint8_t> bytes);

// How a script's Sound object mixes the sounds it controls: the share of
// each source channel in each output channel (1 = as recorded). Volume 50
// is {0.5, 0, 0, 0.5}; pan moves weight between the two sides.
struct SoundTransform {
    double leftToLeft = 1, leftToRight = 0, rightToLeft = 0, rightToRight = 1;
    bool isIdentity() const {
        return leftToLeft == 1 && leftToRight == 0 && rightToLeft == 0 && rightToRight == 1;
    }
};

// DefineSound: the id, the format, the declared sample count (per channel)
// and the codec data that follows.
struct DefineSoundRecord {
    uint16_t id = 0;
    SoundFormat format;
    uint32_t sampleCount = 0;
    std::span<const uint8_t> data;
};

Result<DefineSoundRecord> parseDefineSound(std::span<const uint8_t> body);

// SoundStreamHead / SoundStreamHead2.
struct StreamHeadRecord {
    SoundFormat format;              // of the stream data
    uint16_t samplesPerFrame = 0;    // average, per channel
    int16_t latencySeek = 0;         // MP3 only: samples to skip at the stream's start
};

Result<StreamHeadRecord> parseStreamHead(std::span<const uint8_t> body);

} // namespace swf
