#include "engine/video/video_decoder.h"

#include "engine/video/av_codec.h"

namespace swf::video {

bool knownVideoCodec(uint8_t id) { return id >= 2 && id <= 7; }

namespace {

const char* decoderName(VideoCodec c) {
    switch (c) {
    case VideoCodec::SorensonH263: return "flv";
    case VideoCodec::ScreenVideo: return "flashsv";
    case VideoCodec::Vp6: return "vp6f";
    case VideoCodec::Vp6Alpha: return "vp6a";
    case VideoCodec::ScreenVideo2: return "flashsv2";
    case VideoCodec::Avc: return "h264";
    }
    return "";
}

// Most-significant-bit-first reads; reading past the end gives zeros.
class Bits {
public:
    explicit Bits(std::span<const uint8_t> d) : m_d(d) {}
    uint32_t take(unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i, ++m_bit) {
            const size_t byte = m_bit >> 3;
            v = (v << 1) | (byte < m_d.size() ? (m_d[byte] >> (7 - (m_bit & 7))) & 1 : 0);
        }
        return v;
    }
    bool past() const { return m_bit > m_d.size() * 8; }

private:
    std::span<const uint8_t> m_d;
    size_t m_bit = 0;
};

// Sorenson H.263: start code(17) version(5) reference(8) size(3)
// [custom size] picture type(2), where type 0 is an intra picture.
bool h263Key(std::span<const uint8_t> p) {
    Bits b(p);
    if (b.take(17) != 1) return false;
    b.take(5 + 8);
    const uint32_t size = b.take(3);
    if (size == 0) b.take(16);
    else if (size == 1) b.take(32);
    return !b.past() && b.take(2) == 0;
}

// Screen Video: a frame that sends every block draws the whole picture.
// Header: block width(4) image width(12) block height(4) image height(12);
// version 2 adds a flags byte, and each block its own flags, where diff and
// zlib-priming bits mean the block builds on the previous picture.
bool screenVideoKey(std::span<const uint8_t> p, bool version2) {
    Bits b(p);
    const uint32_t bw = (b.take(4) + 1) * 16, w = b.take(12);
    const uint32_t bh = (b.take(4) + 1) * 16, h = b.take(12);
    size_t pos = 4;
    if (version2) {
        if (p.size() < 5 || (p[4] & 1)) return false; // palette data: not worth reading here
        pos = 5;
    }
    if (w == 0 || h == 0) return false;
    const size_t blocks = size_t((w + bw - 1) / bw) * ((h + bh - 1) / bh);
    for (size_t i = 0; i < blocks; ++i) {
        if (pos + 2 > p.size()) return false;
        const size_t size = size_t(p[pos] << 8 | p[pos + 1]);
        if (size == 0) return false;
        if (version2 && (pos + 2 >= p.size() || (p[pos + 2] & 0x07))) return false;
        pos += 2 + size;
    }
    return true;
}

// H.264 as FLV carries it: packet type(8) composition time(24), then NAL
// units with 4-byte lengths; an IDR unit (type 5) makes a key frame.
bool avcKey(std::span<const uint8_t> p) {
    if (p.size() < 4 || p[0] != 1) return false;
    size_t pos = 4;
    while (pos + 5 <= p.size()) {
        const size_t len = size_t(p[pos]) << 24 | size_t(p[pos + 1]) << 16 | size_t(p[pos + 2]) << 8 | p[pos + 3];
        if ((p[pos + 4] & 0x1f) == 5) return true;
        if (len > p.size() - pos - 4) break;
        pos += 4 + len;
    }
    return false;
}

} // namespace

bool isKeyFrame(VideoCodec codec, std::span<const uint8_t> p) {
    switch (codec) {
    case VideoCodec::SorensonH263: return h263Key(p);
    case VideoCodec::ScreenVideo: return screenVideoKey(p, false);
    case VideoCodec::ScreenVideo2: return screenVideoKey(p, true);
    // VP6: the first bit of the frame header is 0 on key frames; VP6 with
    // alpha puts a 24-bit offset to the alpha plane before it.
    case VideoCodec::Vp6: return !p.empty() && !(p[0] & 0x80);
    case VideoCodec::Vp6Alpha: return p.size() > 3 && !(p[3] & 0x80);
    case VideoCodec::Avc: return avcKey(p);
    }
    return false;
}

VideoDecoder::VideoDecoder(VideoCodec codec, LogFn log) : m_codec(codec), m_log(std::move(log)) {}
VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::open() {
    if (m_av) return true;
    if (m_openFailed) return false;
    // H.264 cannot start without its configuration record.
    if (m_codec == VideoCodec::Avc && m_config.empty()) return false;
    m_av = AvDecoder::open(decoderName(m_codec), 0, 0, m_config);
    if (m_av) m_av->setLoopFilter(m_loopFilter);
    if (!m_av) {
        m_openFailed = true;
        warnOnce(std::string("no decoder for video codec ") + decoderName(m_codec) + "; the video stays blank");
    }
    return m_av != nullptr;
}

void VideoDecoder::configure(std::span<const uint8_t> avcConfig) {
    if (std::equal(avcConfig.begin(), avcConfig.end(), m_config.begin(), m_config.end())) return;
    m_config.assign(avcConfig.begin(), avcConfig.end());
    m_av.reset();
    m_openFailed = false;
}

QImage VideoDecoder::decode(std::span<const uint8_t> packet) {
    const bool key = isKeyFrame(m_codec, packet);
    if (m_codec == VideoCodec::Avc) {
        // Sequence headers configure, end-of-sequence packets carry nothing.
        if (packet.size() < 4) return {};
        if (packet[0] == 0) {
            configure(packet.subspan(4));
            return {};
        }
        if (packet[0] != 1) return {};
        packet = packet.subspan(4);
    }
    if (packet.empty() || !open()) return {};
    if (!m_av->send(packet, key)) {
        warnOnce("a broken video packet was skipped");
        return {};
    }
    QImage last;
    for (QImage pic = m_av->receivePicture(); !pic.isNull(); pic = m_av->receivePicture()) last = std::move(pic);
    return last;
}

void VideoDecoder::reset() {
    if (m_av) m_av->flush();
}

void VideoDecoder::setDeblocking(int level) {
    m_loopFilter = level != 1;
    if (m_av) m_av->setLoopFilter(m_loopFilter);
}

void VideoDecoder::warnOnce(const std::string& what) {
    if (m_warned || !m_log) return;
    m_warned = true;
    m_log(LogLevel::Warning, "video: " + what);
}

} // namespace swf::video
