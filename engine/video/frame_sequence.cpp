#include "engine/video/frame_sequence.h"

#include "engine/core/limits.h"

namespace swf::video {

FrameSequence::FrameSequence(std::shared_ptr<const VideoStreamDef> def, LogFn log)
    : m_def(std::move(def)) {
    if (knownVideoCodec(m_def->codec))
        m_decoder = std::make_unique<VideoDecoder>(VideoCodec(m_def->codec), std::move(log));
    else if (log)
        log(LogLevel::Unimplemented, "DefineVideoStream " + std::to_string(m_def->id) + ": video codec " +
                                         std::to_string(m_def->codec) + " is not decoded");
}

QImage FrameSequence::pictureAt(uint32_t frame, int deblocking) {
    if (!m_decoder || (m_last && *m_last == frame)) return m_picture;
    m_decoder->setDeblocking(deblocking);
    const auto& frames = m_def->frames;
    auto end = frames.upper_bound(frame);
    if (end == frames.begin()) return {};
    // The nearest key frame at or before the target; the stream's first
    // packet when none is marked (a picture is better than none).
    auto start = std::prev(end);
    while (start != frames.begin() && !isKeyFrame(m_decoder->codec(), start->second)) --start;
    // Going on from the picture shown is enough when no key frame lies
    // between it and the target.
    auto from = start;
    if (m_last && *m_last < frame && *m_last >= start->first) {
        from = frames.upper_bound(*m_last);
    } else {
        m_decoder->reset();
        m_picture = {};
    }
    uint32_t budget = limits::kMaxSeekDecodeFrames;
    if (uint32_t(std::distance(from, end)) > budget) from = std::prev(end, budget);
    for (auto it = from; it != end; ++it) {
        QImage pic = m_decoder->decode(it->second);
        ++m_decodedPackets;
        if (!pic.isNull()) m_picture = std::move(pic);
    }
    m_last = frame;
    return m_picture;
}

} // namespace swf::video
