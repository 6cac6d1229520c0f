#include "platform/qt/qt_convert.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>

namespace tarmic {

QString ToQString(std::string_view text) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!decoder.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) { return text.toStdString(); }

QString PathToQString(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string PathFromQString(const QString& path) {
  QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString DisplayText(std::string_view text) {
  QString s = ToQString(text);
  s.remove(QChar('\a'));
  return s;
}

QImage ToQImage(const Image& image) {
  if (image.IsNull()) return QImage();
  QImage out(image.Width(), image.Height(), QImage::Format_RGB32);
  for (int y = 0; y < image.Height(); ++y) {
    const Color* src = image.Row(y);
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < image.Width(); ++x) {
      const Color c = image.FromStored(src[x]);
      dst[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
    }
  }
  return out;
}

Image FromQImage(const QImage& image) {
  if (image.isNull()) return Image();
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  Image out(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    Color* dst = out.Row(y);
    for (int x = 0; x < rgb.width(); ++x) dst[x] = FromQRgb(src[x]);
  }
  return out;
}

}  // namespace tarmic
