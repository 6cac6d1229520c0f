// Conversions between the platform layer's value types and Qt's: strings, paths,
// colours and images.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <string>
#include <string_view>

#include "platform/image.h"
#include "platform/types.h"

namespace tarmic {

// Program texts are bytes: UTF-8 where they are valid UTF-8, otherwise Latin-1 (the
// character set of data files written by older instruments' software).
QString ToQString(std::string_view text);
std::string FromQString(const QString& text);

// File names in the encoding of the file system.
QString PathToQString(const std::string& path);
std::string PathFromQString(const QString& path);

// Message texts without bell characters, which a box would show as a glyph.
QString DisplayText(std::string_view text);

inline QColor ToQColor(Color c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline Color FromQRgb(QRgb rgb) { return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb)); }

// A copy of the image as QImage::Format_RGB32 (0xffRRGGBB).
QImage ToQImage(const Image& image);
// A copy of the image in the program's pixel format; alpha is dropped.
Image FromQImage(const QImage& image);

inline QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

}  // namespace tarmic
