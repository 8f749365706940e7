#pragma once
// What a Video object shows when a script attaches a stream to it: the
// stream hands out its latest picture (premultiplied), null before any.
#include <QImage>

namespace swf::video {

class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual QImage currentPicture() = 0;
    // The showing Video's deblocking setting (VideoDecoder::setDeblocking).
    virtual void setDeblocking(int level) = 0;
};

} // namespace swf::video
