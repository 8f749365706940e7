#pragma once
// A reader of FLV files that may still be arriving: it gives one tag at a
// time from the bytes present so far and waits when a tag is incomplete.
// Every size is checked against the bytes present and the limits, so a
// truncated or lying file ends cleanly.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace swf::video {

enum class FlvTagType : uint8_t { Audio = 8, Video = 9, Script = 18 };

struct FlvTag {
    FlvTagType type = FlvTagType::Video;
    uint32_t timeMs = 0;
    uint64_t offset = 0;              // of the tag header in the file
    std::span<const uint8_t> body;    // into the caller's buffer
};

// A video tag's body split into its header and the packet the decoder takes
// (VP6's size adjustment byte removed: the packet is as a VideoFrame tag holds it).
struct FlvVideoPacket {
    uint8_t frameType = 0;            // 1 key, 2 inter, 3 disposable, 5 command
    uint8_t codec = 0;                // the codec ids of DefineVideoStream
    std::span<const uint8_t> packet;
};
std::optional<FlvVideoPacket> splitVideoTag(std::span<const uint8_t> body);

// An audio tag: the format byte of the sound formats, then the packet (for
// AAC, the packet type byte leads: 0 configuration, 1 data).
struct FlvAudioPacket {
    uint8_t format = 0;               // SoundCodec numbering; 10 AAC
    uint8_t rateCode = 0, sizeBit = 0, stereoBit = 0;
    std::span<const uint8_t> packet;
};
std::optional<FlvAudioPacket> splitAudioTag(std::span<const uint8_t> body);

class FlvReader {
public:
    enum class Status { Tag, NeedMore, End, Broken };

    // Reads the next tag from `data` (the file's bytes from its start so far;
    // `complete` when no more will come).
    Status next(std::span<const uint8_t> data, bool complete, FlvTag& out);
    // Where the next tag header is expected (file offset).
    uint64_t position() const { return m_pos; }
    // Goes on reading at a tag header offset found before (seeking).
    void seek(uint64_t tagOffset) { m_pos = tagOffset; m_headerRead = true; }
    bool hasAudio() const { return m_hasAudio; }
    bool hasVideo() const { return m_hasVideo; }
    const std::string& problem() const { return m_problem; }

private:
    uint64_t m_pos = 0;
    bool m_headerRead = false, m_hasAudio = false, m_hasVideo = false;
    std::string m_problem;
};

} // namespace swf::video
