#pragma once

#include <QString>

class QImage;

namespace artwork {

// Writes `image` as the plainest BMP there is: a 14-byte file header, a 40-byte
// BITMAPINFOHEADER, 24 bits a pixel, no compression, rows bottom-up and padded to four bytes.
// Written by hand because the skins are read back by code that expects exactly that layout, and
// Qt's writer is free to choose another. Alpha is dropped. Returns false on an I/O error.
bool writeBmp24(const QImage& image, const QString& path);

} // namespace artwork
