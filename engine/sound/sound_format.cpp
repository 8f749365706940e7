#include "engine/sound/sound_format.h"

#include "engine/core/reader.h"
#include "engine/swf/movie.h"

namespace swf {

int soundRateFromCode(unsigned code) {
    static constexpr int kRates[4] = {5512, 11025, 22050, 44100};
    return kRates[code & 3];
}

SoundFormat soundFormatFromByte(uint8_t fmt) {
    SoundFormat f;
    f.codec = SoundCodec(fmt >> 4);
    f.rate = soundRateFromCode((fmt >> 2) & 3);
    f.is16Bit = (fmt & 2) != 0;
    f.stereo = (fmt & 1) != 0;
    // Nellymoser 8k/16k carry their rate in the codec, not in the rate field.
    if (f.codec == SoundCodec::Nellymoser8k) f.rate = 8000;
    if (f.codec == SoundCodec::Nellymoser16k) f.rate = 16000;
    // Speex is always wideband mono, whatever the fields say.
    if (f.codec == SoundCodec::Speex) {
        f.rate = 16000;
        f.stereo = false;
    }
    // Nellymoser decoders are mono; a stereo flag would halve the pitch.
    if (f.codec == SoundCodec::Nellymoser || f.codec == SoundCodec::Nellymoser8k ||
        f.codec == SoundCodec::Nellymoser16k)
        f.stereo = false;
    return f;
}

Result<SoundInfo> parseSoundInfo(std::span<const uint8_t> bytes) {
    Reader r(bytes);
    SoundInfo info;
    uint8_t flags = r.u8();
    info.syncStop = flags & 0x20;
    info.syncNoMultiple = flags & 0x10;
    bool hasEnvelope = flags & 0x08, hasLoops = flags & 0x04;
    bool hasOut = flags & 0x02, hasIn = flags & 0x01;
    if (hasIn) info.inPoint = r.u32();
    if (hasOut) info.outPoint = r.u32();
    if (hasLoops) info.loopCount = r.u16();
    if (info.loopCount == 0) info.loopCount = 1;
    if (hasEnvelope) {
        unsigned count = r.u8(); // at most 255 points: no cap needed
        info.envelope.reserve(count);
        for (unsigned i = 0; i < count && !r.failed(); ++i) {
            EnvelopePoint p;
            p.pos44 = r.u32();
            p.left = r.u16();
            p.right = r.u16();
            info.envelope.push_back(p);
        }
    }
    if (r.failed())
        return Error{ErrorCode::Truncated, -1, -1, "sound info record ends early"};
    return info;
}

Result<DefineSoundRecord> parseDefineSound(std::span<const uint8_t> body) {
    Reader r(body);
    DefineSoundRecord rec;
    rec.id = r.u16();
    rec.format = soundFormatFromByte(r.u8());
    rec.sampleCount = r.u32();
    if (r.failed())
        return Error{ErrorCode::Truncated, tag::DefineSound, -1, "DefineSound header ends early"};
    rec.data = body.subspan(r.pos());
    return rec;
}

Result<StreamHeadRecord> parseStreamHead(std::span<const uint8_t> body) {
    Reader r(body);
    StreamHeadRecord head;
    r.u8(); // the playback format: a hint for the player's mixer, not needed here
    head.format = soundFormatFromByte(r.u8());
    head.samplesPerFrame = r.u16();
    if (head.format.codec == SoundCodec::Mp3 && r.remaining() >= 2)
        head.latencySeek = r.s16();
    if (r.failed())
        return Error{ErrorCode::Truncated, tag::SoundStreamHead, -1, "SoundStreamHead ends early"};
    return head;
}

} // namespace swf
