#include "engine/video/av_codec.h"

#include "engine/core/limits.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>

namespace swf::video {

struct AvDecoder::State {
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* sws = nullptr;
    ~State() {
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&ctx);
    }
};

AvDecoder::AvDecoder(std::unique_ptr<State> s) : m(std::move(s)) {}
AvDecoder::~AvDecoder() = default;

std::unique_ptr<AvDecoder> AvDecoder::open(const std::string& name, int rate, int channels,
                                           std::span<const uint8_t> extradata) {
    av_log_set_level(AV_LOG_QUIET); // the engine reports broken data itself
    const AVCodec* codec = avcodec_find_decoder_by_name(name.c_str());
    if (!codec) return nullptr;
    auto s = std::make_unique<State>();
    s->ctx = avcodec_alloc_context3(codec);
    s->packet = av_packet_alloc();
    s->frame = av_frame_alloc();
    if (!s->ctx || !s->packet || !s->frame) return nullptr;
    if (rate > 0) s->ctx->sample_rate = rate;
    if (channels > 0) av_channel_layout_default(&s->ctx->ch_layout, channels);
    if (!extradata.empty()) {
        s->ctx->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!s->ctx->extradata) return nullptr;
        std::copy(extradata.begin(), extradata.end(), s->ctx->extradata);
        s->ctx->extradata_size = int(extradata.size());
    }
    // One decoding thread each: the engine runs decoders on its own worker.
    s->ctx->thread_count = 1;
    // A huge declared picture is refused before its buffers are allocated.
    s->ctx->max_pixels = limits::kMaxVideoPixels;
    if (avcodec_open2(s->ctx, codec, nullptr) < 0) return nullptr;
    return std::unique_ptr<AvDecoder>(new AvDecoder(std::move(s)));
}

bool AvDecoder::send(std::span<const uint8_t> data, bool keyFrame) {
    if (data.empty() || data.size() > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return false;
    // libavcodec reads a little past the end of a packet: copy into a padded buffer.
    if (av_new_packet(m->packet, int(data.size())) < 0) return false;
    std::copy(data.begin(), data.end(), m->packet->data);
    if (keyFrame) m->packet->flags |= AV_PKT_FLAG_KEY;
    int rc = avcodec_send_packet(m->ctx, m->packet);
    if (rc == AVERROR(EAGAIN)) {
        // Output is waiting: the caller drains it first; drop it here so the
        // packet gets in (never happens when callers drain after each send).
        while (avcodec_receive_frame(m->ctx, m->frame) == 0) av_frame_unref(m->frame);
        rc = avcodec_send_packet(m->ctx, m->packet);
    }
    av_packet_unref(m->packet);
    return rc == 0;
}

QImage AvDecoder::receivePicture() {
    if (avcodec_receive_frame(m->ctx, m->frame) != 0) return {};
    AVFrame* f = m->frame;
    QImage out;
    const int w = f->width, h = f->height;
    if (w > 0 && h > 0 && w <= limits::kMaxVideoSide && h <= limits::kMaxVideoSide &&
        int64_t(w) * h <= limits::kMaxVideoPixels) {
        const auto format = AVPixelFormat(f->format);
        const bool alpha = av_pix_fmt_desc_get(format) &&
                           (av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_ALPHA);
        // BGRA in memory is QImage's ARGB32 on a little-endian machine.
        // swscale's vector code writes past the end of a row: give it room.
        const int paddedWidth = (w + 63) & ~63;
        QImage target(paddedWidth, h + 1, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        m->sws = sws_getCachedContext(m->sws, w, h, format, w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                      nullptr, nullptr, nullptr);
        if (m->sws && !target.isNull()) {
            uint8_t* dst[4] = {target.bits(), nullptr, nullptr, nullptr};
            int stride[4] = {int(target.bytesPerLine()), 0, 0, 0};
            sws_scale(m->sws, f->data, f->linesize, 0, h, dst, stride);
            out = target.copy(0, 0, w, h).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        }
    }
    av_frame_unref(f);
    return out;
}

namespace {

// One sample of any of libavcodec's sample formats as 16-bit.
int16_t sampleAt(const AVFrame* f, int channel, int index) {
    const auto format = AVSampleFormat(f->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = f->ch_layout.nb_channels;
    const uint8_t* base = planar ? f->extended_data[channel] : f->extended_data[0];
    const int i = planar ? index : index * channels + channel;
    auto clampFloat = [](double v) { return int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0)); };
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: return int16_t((int(base[i]) - 128) << 8);
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(base)[i];
    case AV_SAMPLE_FMT_S32: return int16_t(reinterpret_cast<const int32_t*>(base)[i] >> 16);
    case AV_SAMPLE_FMT_FLT: return clampFloat(reinterpret_cast<const float*>(base)[i]);
    case AV_SAMPLE_FMT_DBL: return clampFloat(reinterpret_cast<const double*>(base)[i]);
    default: return 0;
    }
}

} // namespace

size_t AvDecoder::receiveAudio(std::vector<int16_t>& out, int channels, size_t maxFrames) {
    size_t appended = 0;
    while (avcodec_receive_frame(m->ctx, m->frame) == 0) {
        const AVFrame* f = m->frame;
        const int have = f->ch_layout.nb_channels;
        const size_t frames = std::min(size_t(std::max(f->nb_samples, 0)), maxFrames - appended);
        if (have > 0) {
            for (size_t i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c) out.push_back(sampleAt(f, std::min(c, have - 1), int(i)));
            appended += frames;
        }
        av_frame_unref(m->frame);
    }
    return appended;
}

int AvDecoder::rate() const { return m->ctx->sample_rate; }
int AvDecoder::channels() const { return m->ctx->ch_layout.nb_channels; }

void AvDecoder::flush() { avcodec_flush_buffers(m->ctx); }

void AvDecoder::setLoopFilter(bool on) { m->ctx->skip_loop_filter = on ? AVDISCARD_DEFAULT : AVDISCARD_ALL; }

} // namespace swf::video
