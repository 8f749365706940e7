#include "platform/pictures.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>

namespace platform {

Picture LoadPicture(const QString& path) {
    QImage image(path);
    if (image.isNull())
        return nullptr;
    return std::make_shared<const QImage>(image.convertToFormat(QImage::Format_RGB32));
}

QIcon loadIcon(const QString& path) { return QIcon(path); }

QPoint curHotSpot(const QByteArray& curFile) {
    // ICONDIR (6 bytes, type 2 for cursors), then the first ICONDIRENTRY:
    // its planes and bit-count words hold the hot spot's x and y.
    if (curFile.size() < 6 + 16)
        return {};
    const auto word = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(curFile[at])) |
               (static_cast<int>(static_cast<unsigned char>(curFile[at + 1])) << 8);
    };
    if (word(0) != 0 || word(2) != 2 || word(4) < 1)
        return {};
    return {word(6 + 4), word(6 + 6)};
}

QCursor loadCursor(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QCursor(Qt::ArrowCursor);
    const QByteArray data = file.readAll();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const QImage image = reader.read();
    if (image.isNull())
        return QCursor(Qt::ArrowCursor);
    const QPoint hot = curHotSpot(data);
    return QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
}

QColor colorFromWord(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

}  // namespace platform
