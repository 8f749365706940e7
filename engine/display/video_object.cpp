#include "engine/display/video_object.h"

#include "engine/video/decode_worker.h"
#include "engine/video/frame_sequence.h"

namespace swf {

VideoObject::VideoObject(Runtime& rt, std::shared_ptr<const VideoStreamDef> def)
    : DisplayObject(Type::Video, rt, def->id), m_def(std::move(def)), m_smoothing(m_def->smoothing),
      m_deblocking(m_def->deblocking) {
    if (!m_def->frames.empty()) {
        m_sequence = std::make_shared<video::FrameSequence>(m_def, rt.log);
        setRatio(0);
    }
}

VideoObject::~VideoObject() = default;

void VideoObject::setRatio(uint16_t r) {
    DisplayObject::setRatio(r);
    if (!m_sequence || m_source) return;
    // Decoding starts now and overlaps the rest of the frame's work; the
    // drawing waits for it.
    m_pending = runtime().videoWorker().submit(
        [seq = m_sequence, r, deblocking = m_deblocking] { return seq->pictureAt(r, deblocking); });
    markChanged();
}

void VideoObject::attach(std::shared_ptr<PictureSource> source) {
    m_source = std::move(source);
    if (m_source) m_source->setDeblocking(m_deblocking);
    m_pending = {};
    m_picture = {};
    if (!m_source && m_sequence) setRatio(ratio());
    markChanged();
}

// Pictures decoded from now on follow it.
void VideoObject::setDeblocking(int d) {
    m_deblocking = d;
    if (m_source) m_source->setDeblocking(d);
}

void VideoObject::clear() {
    m_pending = {};
    m_picture = {};
    markChanged();
}

const QImage& VideoObject::picture() const {
    if (m_source) {
        QImage pic = m_source->currentPicture();
        if (!pic.isNull()) m_picture = std::move(pic);
    } else if (m_pending.valid()) {
        m_picture = m_pending.get();
        m_pending = {};
    }
    return m_picture;
}

int VideoObject::pictureWidth() const { return picture().width(); }
int VideoObject::pictureHeight() const { return picture().height(); }

Rect VideoObject::localBounds() const { return {0, m_def->width * 20, 0, m_def->height * 20}; }

void VideoObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    const QImage& pic = picture();
    if (pic.isNull() || m_def->width == 0 || m_def->height == 0) return;
    render::DrawBitmap cmd;
    cmd.image = pic;
    // The picture fills the stream's declared size whatever its own size.
    cmd.matrix = world * Matrix{20.0 * m_def->width / pic.width(), 0, 0, 20.0 * m_def->height / pic.height(), 0, 0};
    cmd.colorTransform = cx;
    cmd.smoothed = m_smoothing && runtime().quality >= Quality::High;
    out.commands.push_back(std::move(cmd));
}

} // namespace swf
