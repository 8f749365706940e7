#include "engine/video/flv_reader.h"

#include "engine/core/limits.h"

namespace swf::video {

namespace {

uint32_t be24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

} // namespace

std::optional<FlvVideoPacket> splitVideoTag(std::span<const uint8_t> body) {
    if (body.empty()) return std::nullopt;
    FlvVideoPacket v;
    v.frameType = body[0] >> 4;
    v.codec = body[0] & 15;
    v.packet = body.subspan(1);
    // VP6 in FLV leads with a byte of picture size adjustment that the
    // VideoFrame form does not have.
    if (v.codec == 4 || v.codec == 5) {
        if (v.packet.empty()) return std::nullopt;
        v.packet = v.packet.subspan(1);
    }
    return v;
}

std::optional<FlvAudioPacket> splitAudioTag(std::span<const uint8_t> body) {
    if (body.empty()) return std::nullopt;
    FlvAudioPacket a;
    a.format = body[0] >> 4;
    a.rateCode = (body[0] >> 2) & 3;
    a.sizeBit = (body[0] >> 1) & 1;
    a.stereoBit = body[0] & 1;
    a.packet = body.subspan(1);
    return a;
}

FlvReader::Status FlvReader::next(std::span<const uint8_t> data, bool complete, FlvTag& out) {
    auto waitOrEnd = [&] { return complete ? Status::End : Status::NeedMore; };
    if (!m_headerRead) {
        // "FLV", version, flags, header size (32); the first previous-tag size follows.
        if (data.size() < 9) return complete ? Status::Broken : Status::NeedMore;
        if (data[0] != 'F' || data[1] != 'L' || data[2] != 'V') {
            m_problem = "not an FLV file";
            return Status::Broken;
        }
        m_hasAudio = data[4] & 4;
        m_hasVideo = data[4] & 1;
        const uint32_t headerSize = uint32_t(data[5]) << 24 | be24(&data[6]);
        if (headerSize < 9 || headerSize > 1024) {
            m_problem = "FLV header size " + std::to_string(headerSize) + " is wrong";
            return Status::Broken;
        }
        m_pos = headerSize + 4;
        m_headerRead = true;
    }
    for (;;) {
        if (m_pos + 11 > data.size()) return waitOrEnd();
        const uint8_t* h = data.data() + m_pos;
        const uint8_t type = h[0] & 0x1f; // the top bits mark filtered (encrypted) tags
        const uint32_t size = be24(h + 1);
        const uint32_t time = be24(h + 4) | uint32_t(h[7]) << 24;
        if (size > limits::kMaxFlvTagBytes) {
            m_problem = "FLV tag @" + std::to_string(m_pos) + " claims " + std::to_string(size) + " bytes";
            return Status::Broken;
        }
        const uint64_t end = m_pos + 11 + size;
        if (end > data.size()) return waitOrEnd(); // a truncated file ends at its last whole tag
        const uint64_t tagOffset = m_pos;
        m_pos = end + 4; // the previous-tag size is not trusted: sizes come from the headers
        if ((h[0] & 0x20) || (type != 8 && type != 9 && type != 18)) continue;
        out.type = FlvTagType(type);
        out.timeMs = time;
        out.offset = tagOffset;
        out.body = data.subspan(size_t(tagOffset + 11), size);
        return Status::Tag;
    }
}

} // namespace swf::video
