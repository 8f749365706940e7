#pragma once
// Pictures, icons and pointers read from the program's resources.
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QString>

#include <memory>

namespace platform {

// A picture object: controls that show the same picture share one object.
// An empty picture is a null pointer.
using Picture = std::shared_ptr<const QImage>;

Picture LoadPicture(const QString& path);
QIcon loadIcon(const QString& path);

// A pointer from a .cur file with the hot spot its directory entry gives.
QCursor loadCursor(const QString& path);
// The hot spot stored in the first directory entry of .cur bytes, or (0, 0).
QPoint curHotSpot(const QByteArray& curFile);

// The platform's colour word 0x00BBGGRR as a colour.
QColor colorFromWord(std::uint32_t bgr);

}  // namespace platform
