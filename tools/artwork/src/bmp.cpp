#include "bmp.h"

#include <QColor>
#include <QFile>
#include <QImage>

#include <cstdint>
#include <vector>

namespace artwork {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(uint8_t(value & 0xFF));
    out.push_back(uint8_t(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t((value >> shift) & 0xFF));
}

} // namespace

bool writeBmp24(const QImage& source, const QString& path)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const uint32_t width = uint32_t(image.width());
    const uint32_t height = uint32_t(image.height());
    const uint32_t rowBytes = (width * 3 + 3) & ~3u;
    const uint32_t pixelBytes = rowBytes * height;
    constexpr uint32_t kHeaders = 14 + 40;

    std::vector<uint8_t> out;
    out.reserve(kHeaders + pixelBytes);
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    put32(out, kHeaders + pixelBytes);
    put16(out, 0);
    put16(out, 0);
    put32(out, kHeaders);
    // BITMAPINFOHEADER
    put32(out, 40);
    put32(out, width);
    put32(out, height); // positive: bottom-up
    put16(out, 1);      // planes
    put16(out, 24);     // bits per pixel
    put32(out, 0);      // BI_RGB
    put32(out, pixelBytes);
    put32(out, 2835); // 72 dpi, in pixels per metre
    put32(out, 2835);
    put32(out, 0); // colours used
    put32(out, 0); // colours important

    for (int y = int(height) - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (uint32_t x = 0; x < width; ++x) {
            out.push_back(uint8_t(qBlue(line[x])));
            out.push_back(uint8_t(qGreen(line[x])));
            out.push_back(uint8_t(qRed(line[x])));
        }
        for (uint32_t pad = width * 3; pad < rowBytes; ++pad)
            out.push_back(0);
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const auto size = qint64(out.size());
    return file.write(reinterpret_cast<const char*>(out.data()), size) == size;
}

} // namespace artwork
