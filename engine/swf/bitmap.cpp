// Bitmap definitions: JPEG (with shared tables and alpha planes), PNG and
// GIF payloads, and the zlib-packed lossless formats. Every result is a
// premultiplied ARGB32 image, or RGB32 when it has no alpha.
#include "engine/core/inflate.h"
#include "engine/core/limits.h"
#include "engine/swf/definitions.h"

#include <QBuffer>
#include <QImageReader>

namespace swf {

namespace {

bool startsWith(std::span<const uint8_t> s, std::initializer_list<uint8_t> prefix) {
    if (s.size() < prefix.size()) return false;
    size_t i = 0;
    for (uint8_t b : prefix)
        if (s[i++] != b) return false;
    return true;
}

// Rebuilds one JPEG stream from shared tables and image data: markers are
// copied up to the scan, stray start/end-of-image markers between them are
// dropped. This also handles the old encoders' erroneous FF D9 FF D8 header
// and DefineBitsJPEG2 data that carries its own tables as a separate stream.
std::vector<uint8_t> joinJpeg(std::span<const uint8_t> tables, std::span<const uint8_t> image) {
    std::vector<uint8_t> out = {0xFF, 0xD8};
    out.reserve(std::min(tables.size() + image.size() + 2, limits::kMaxInflatedBytes));
    for (std::span<const uint8_t> part : {tables, image}) {
        size_t pos = 0;
        while (pos + 1 < part.size()) {
            if (part[pos] != 0xFF) { // not a marker: give up on structure, copy the rest
                out.insert(out.end(), part.begin() + pos, part.end());
                pos = part.size();
                break;
            }
            uint8_t marker = part[pos + 1];
            if (marker == 0xFF) { ++pos; continue; } // fill byte
            if (marker == 0xD8 || marker == 0xD9) { pos += 2; continue; }
            if (marker == 0xDA) { // start of scan: the rest is entropy-coded data
                out.insert(out.end(), part.begin() + pos, part.end());
                pos = part.size();
                break;
            }
            if (marker >= 0xD0 && marker <= 0xD7) { pos += 2; continue; } // stray restart
            if (pos + 4 > part.size()) break;
            size_t len = size_t(part[pos + 2]) << 8 | part[pos + 3];
            size_t end = std::min(part.size(), pos + 2 + len);
            out.insert(out.end(), part.begin() + pos, part.begin() + end);
            pos = end;
        }
    }
    if (out.size() < 2 || out[out.size() - 2] != 0xFF || out.back() != 0xD9) {
        out.push_back(0xFF);
        out.push_back(0xD9);
    }
    return out;
}

std::optional<Error> checkSize(const TagContext& t, int64_t w, int64_t h) {
    if (w > limits::kMaxBitmapSide || h > limits::kMaxBitmapSide || w * h > limits::kMaxBitmapPixels)
        return t.error(ErrorCode::LimitExceeded, std::to_string(w) + "x" + std::to_string(h) +
                                                     " bitmap exceeds the size limit");
    return std::nullopt;
}

// Decodes a JPEG, PNG or GIF with Qt's readers, refusing oversized images
// before their pixels are allocated.
Result<QImage> decodeImage(const TagContext& t, std::span<const uint8_t> bytes, const char* format) {
    QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    QSize size = reader.size();
    if (!size.isValid())
        return t.error(ErrorCode::Malformed, std::string(format) + " image is unreadable");
    if (auto e = checkSize(t, size.width(), size.height())) return *e;
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return t.error(ErrorCode::Malformed, std::string(format) + " image is unreadable: " +
                                                 reader.errorString().toStdString());
    return image;
}

QImage normalized(QImage image) {
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

// Applies a JPEG3/4 alpha plane (one byte per pixel, zlib packed). The JPEG
// colours are straight, so they are premultiplied by the new alpha here.
void applyAlpha(QImage& image, std::span<const uint8_t> packed) {
    const size_t pixels = size_t(image.width()) * size_t(image.height());
    auto alpha = inflateZlib(packed, pixels);
    if (!alpha || alpha->bytes.empty()) return; // no usable plane: the image stays opaque
    image = image.convertToFormat(QImage::Format_ARGB32);
    const auto& a = alpha->bytes;
    size_t i = 0;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++i) {
            int av = i < a.size() ? a[i] : 255;
            line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), av);
        }
    }
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

Result<std::shared_ptr<BitmapDef>> parseDefineBitsJpeg(const TagContext& t,
                                                       std::span<const uint8_t> jpegTables) {
    Reader r(t.body);
    auto bmp = std::make_shared<BitmapDef>();
    bmp->id = r.u16();
    std::span<const uint8_t> image, alpha;
    if (t.code == tag::DefineBitsJPEG3 || t.code == tag::DefineBitsJPEG4) {
        uint32_t alphaOffset = r.u32();
        if (t.code == tag::DefineBitsJPEG4) r.u16(); // deblocking filter strength
        if (r.failed()) return t.truncated();
        if (alphaOffset > r.remaining())
            return t.error(ErrorCode::Malformed, "alpha offset " + std::to_string(alphaOffset) +
                                                     " exceeds tag data");
        image = r.bytes(alphaOffset);
        alpha = r.bytes(r.remaining());
    } else {
        image = r.bytes(r.remaining());
    }
    if (r.failed()) return t.truncated();

    Result<QImage> decoded = QImage();
    if (startsWith(image, {0x89, 'P', 'N', 'G'})) decoded = decodeImage(t, image, "png");
    else if (startsWith(image, {'G', 'I', 'F', '8'})) decoded = decodeImage(t, image, "gif");
    else {
        std::vector<uint8_t> jpeg = joinJpeg(t.code == tag::DefineBits ? jpegTables
                                                                       : std::span<const uint8_t>(),
                                             image);
        decoded = decodeImage(t, jpeg, "jpeg");
        if (decoded && !alpha.empty()) applyAlpha(*decoded, alpha);
    }
    if (!decoded) return decoded.error();
    bmp->image = normalized(std::move(*decoded));
    return bmp;
}

Result<std::shared_ptr<BitmapDef>> parseDefineBitsLossless(const TagContext& t) {
    Reader r(t.body);
    auto bmp = std::make_shared<BitmapDef>();
    const bool withAlpha = t.code == tag::DefineBitsLossless2;
    bmp->id = r.u16();
    uint8_t format = r.u8();
    int w = r.u16(), h = r.u16();
    size_t paletteSize = format == 3 ? size_t(r.u8()) + 1 : 0;
    if (r.failed()) return t.truncated();
    if (auto e = checkSize(t, w, h)) return *e;
    if (w == 0 || h == 0) return bmp; // an empty bitmap draws nothing

    size_t stride = 0;
    const size_t entry = withAlpha ? 4 : 3;
    switch (format) {
    case 3: stride = (size_t(w) + 3) & ~size_t(3); break;
    case 4: stride = (size_t(w) * 2 + 3) & ~size_t(3); break;
    case 5: stride = size_t(w) * 4; break;
    default:
        return t.error(ErrorCode::Malformed, "unknown lossless format " + std::to_string(format));
    }
    const size_t expected = paletteSize * entry + stride * size_t(h);
    auto inflated = inflateZlib(t.body.subspan(r.pos()), expected);
    if (!inflated) return t.error(ErrorCode::Decompression, inflated.error().message);
    const std::vector<uint8_t>& px = inflated->bytes;

    // Missing data (a short stream) leaves the rest transparent.
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    // Lossless2 stores premultiplied colours; a colour above its alpha is
    // invalid and is clamped so the image stays a valid premultiplied one.
    auto pixel = [withAlpha](int a, int rr, int g, int b) {
        if (!withAlpha) a = 255;
        return qRgba(std::min(rr, a), std::min(g, a), std::min(b, a), a);
    };
    std::vector<QRgb> palette;
    if (format == 3) {
        palette.resize(paletteSize, 0);
        for (size_t i = 0; i < paletteSize && (i + 1) * entry <= px.size(); ++i) {
            const uint8_t* p = px.data() + i * entry;
            palette[i] = pixel(withAlpha ? p[3] : 255, p[0], p[1], p[2]);
        }
    }
    const size_t base = paletteSize * entry;
    for (int y = 0; y < h; ++y) {
        size_t row = base + size_t(y) * stride;
        if (row >= px.size()) break;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (format == 3) {
                size_t at = row + size_t(x);
                if (at >= px.size()) break;
                uint8_t index = px[at];
                line[x] = index < palette.size() ? palette[index] : 0;
            } else if (format == 4) {
                size_t at = row + size_t(x) * 2;
                if (at + 1 >= px.size()) break;
                unsigned v = unsigned(px[at]) << 8 | px[at + 1]; // big-endian 1:5:5:5
                auto expand = [](unsigned c) { return int(c << 3 | c >> 2); };
                line[x] = qRgb(expand(v >> 10 & 31), expand(v >> 5 & 31), expand(v & 31));
            } else {
                size_t at = row + size_t(x) * 4;
                if (at + 3 >= px.size()) break;
                line[x] = pixel(px[at], px[at + 1], px[at + 2], px[at + 3]);
            }
        }
    }
    bmp->image = withAlpha ? std::move(image) : image.convertToFormat(QImage::Format_RGB32);
    return bmp;
}

} // namespace swf
