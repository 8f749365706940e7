#pragma once
// The pictures of one embedded video stream (DefineVideoStream and its
// VideoFrame tags), by frame number. Going to any frame decodes from the
// nearest key frame at or before it, so a jump shows the right picture.
// Used by one thread at a time (the decode worker).
#include "engine/swf/movie.h"
#include "engine/video/video_decoder.h"

#include <QImage>

#include <memory>
#include <optional>

namespace swf::video {

class FrameSequence {
public:
    FrameSequence(std::shared_ptr<const VideoStreamDef> def, LogFn log);

    const VideoStreamDef& def() const { return *m_def; }
    // The picture of frame `frame`: the last decoded packet at or before it.
    // Null when the stream has no decodable packet up to there.
    // `deblocking` as VideoDecoder::setDeblocking takes it.
    QImage pictureAt(uint32_t frame, int deblocking = 0);
    // Packets decoded since construction (for tests of the seeking rule).
    size_t decodedPackets() const { return m_decodedPackets; }

private:
    std::shared_ptr<const VideoStreamDef> m_def;
    std::unique_ptr<VideoDecoder> m_decoder;
    std::optional<uint32_t> m_last; // frame number of m_picture
    QImage m_picture;
    size_t m_decodedPackets = 0;
};

} // namespace swf::video
