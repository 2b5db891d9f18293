#include "picture_size.h"

#include <QFile>

namespace tavri {
namespace {

quint32 big_endian(const QByteArray& b, qsizetype at, int bytes) {
  quint32 v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<quint8>(b[at + i]);
  return v;
}

std::optional<QSize> sized(quint32 width, quint32 height) {
  if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) return std::nullopt;
  return QSize(static_cast<int>(width), static_cast<int>(height));
}

std::optional<QSize> png_size(const QByteArray& b) {
  // The signature, then IHDR first: length 13, type, width, height.
  if (b.size() < 24 || b.mid(12, 4) != "IHDR" || big_endian(b, 8, 4) != 13) return std::nullopt;
  return sized(big_endian(b, 16, 4), big_endian(b, 20, 4));
}

std::optional<QSize> jpeg_size(const QByteArray& b) {
  qsizetype at = 2;  // after the start-of-image marker
  while (at + 4 <= b.size()) {
    if (static_cast<quint8>(b[at]) != 0xFF) return std::nullopt;
    const quint8 marker = static_cast<quint8>(b[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    // Markers without a length.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // image data before any frame header
    const quint32 length = big_endian(b, at + 2, 2);
    if (length < 2) return std::nullopt;
    // Frame headers: baseline, extended, progressive, lossless and the rest,
    // but DHT (C4), JPG (C8) and DAC (CC), which share the range.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (length < 7 || at + 9 > b.size()) return std::nullopt;
      return sized(big_endian(b, at + 7, 2), big_endian(b, at + 5, 2));
    }
    at += 2 + length;
  }
  return std::nullopt;
}

}  // namespace

std::optional<QSize> picture_size(const QByteArray& head) {
  if (head.startsWith("\x89PNG\r\n\x1a\n")) return png_size(head);
  if (head.startsWith("\xFF\xD8")) return jpeg_size(head);
  return std::nullopt;
}

std::optional<QSize> picture_size_of_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return picture_size(file.read(kPictureHeadBytes));
}

}  // namespace tavri
