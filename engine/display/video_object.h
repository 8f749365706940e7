#pragma once
// A placed video (DefineVideoStream): shows the embedded frame its ratio
// names, or the pictures of a stream a script attached (NetStream). The
// picture is stretched over the stream's declared size and drawn like a
// bitmap, with the object's transform, colour, masks and filters. Decoding
// of embedded frames runs on the runtime's decode thread.
#include "engine/display/display_object.h"
#include "engine/video/picture_source.h"

#include <future>

namespace swf {

namespace video {
class FrameSequence;
class DecodeWorker;
} // namespace video

using video::PictureSource;

class VideoObject : public DisplayObject {
public:
    VideoObject(Runtime& rt, std::shared_ptr<const VideoStreamDef> def);
    ~VideoObject() override;

    const VideoStreamDef& def() const { return *m_def; }
    // The ratio is the embedded frame to show.
    void setRatio(uint16_t r) override;
    // Shows `source`'s pictures instead of the embedded frames; null detaches.
    void attach(std::shared_ptr<PictureSource> source);
    // Blanks the picture until the next frame arrives (Video.clear()).
    void clear();
    bool smoothing() const { return m_smoothing; }
    void setSmoothing(bool s) { m_smoothing = s; markChanged(); }
    int deblocking() const { return m_deblocking; }
    void setDeblocking(int d);
    // The size of the picture last shown (0 before any).
    int pictureWidth() const;
    int pictureHeight() const;

    Rect localBounds() const override;
    void draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const override;

private:
    const QImage& picture() const;

    std::shared_ptr<const VideoStreamDef> m_def;
    std::shared_ptr<video::FrameSequence> m_sequence;
    std::shared_ptr<PictureSource> m_source;
    mutable std::shared_future<QImage> m_pending;
    mutable QImage m_picture;
    bool m_smoothing = false;
    int m_deblocking = 0;
};

} // namespace swf
