#include "app/skin.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>

namespace app {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;
constexpr quint32 kUncompressed = 0; // BI_RGB
// Larger than any window the program draws into, and small enough that a lying header cannot
// make us allocate gigabytes.
constexpr qint64 kMaxSide = 32767;

quint16 readU16(const uchar* p)
{
    return static_cast<quint16>(p[0] | (p[1] << 8));
}

quint32 readU32(const uchar* p)
{
    return static_cast<quint32>(p[0]) | (static_cast<quint32>(p[1]) << 8)
           | (static_cast<quint32>(p[2]) << 16) | (static_cast<quint32>(p[3]) << 24);
}

// 5-bit channel to 8 bits, so that full intensity stays full.
int expand5(int v)
{
    return (v << 3) | (v >> 2);
}

QRgb pixelAt(const uchar* row, qint64 x, int bitCount)
{
    switch (bitCount) {
    case 16: {
        const quint16 v = readU16(row + x * 2); // x1555
        return qRgb(expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31));
    }
    case 24: {
        const uchar* p = row + x * 3;
        return qRgb(p[2], p[1], p[0]);
    }
    default: {
        const uchar* p = row + x * 4; // the fourth byte is unused
        return qRgb(p[2], p[1], p[0]);
    }
    }
}

} // namespace

std::optional<QByteArray> ReadWholeFile(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    if (size < 0 || size > maxBytes)
        return std::nullopt;
    QByteArray bytes = file.read(size);
    if (bytes.size() != size)
        return std::nullopt;
    return bytes;
}

std::optional<SkinBitmapInfo> GetSkinBitmapInfo(const QByteArray& image)
{
    if (image.size() < kFileHeaderBytes + kInfoHeaderBytes)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(image.constData());
    SkinBitmapInfo info;
    info.pixelOffset = readU32(bytes + 10);
    const uchar* header = bytes + kFileHeaderBytes;
    info.header.width = static_cast<qint32>(readU32(header + 4));
    info.header.height = static_cast<qint32>(readU32(header + 8));
    info.header.bitCount = readU16(header + 14);
    info.header.compression = readU32(header + 16);
    return info;
}

QImage decodeSkin(const QByteArray& file)
{
    const std::optional<SkinBitmapInfo> info = GetSkinBitmapInfo(file);
    if (!info)
        return {};
    const BitmapInfoHeader& header = info->header;
    const int bitCount = header.bitCount;
    if (header.compression != kUncompressed || (bitCount != 16 && bitCount != 24 && bitCount != 32))
        return {};
    const qint64 width = header.width;
    const qint64 height = std::llabs(static_cast<qint64>(header.height));
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {};
    const qint64 stride = (width * bitCount + 31) / 32 * 4;
    const qint64 offset = info->pixelOffset;
    if (offset < kFileHeaderBytes + kInfoHeaderBytes || offset + stride * height > file.size())
        return {};

    const bool topDown = header.height < 0;
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    const auto* pixels = reinterpret_cast<const uchar*>(file.constData()) + offset;
    for (qint64 y = 0; y < height; ++y) {
        const uchar* row = pixels + (topDown ? y : height - 1 - y) * stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (qint64 x = 0; x < width; ++x)
            out[x] = pixelAt(row, x, bitCount);
    }
    return image;
}

QImage composeSkin(const QImage& skin, QSize size)
{
    QImage result(size, QImage::Format_RGB32);
    result.fill(kSkinBackground);
    const int w = std::min(size.width(), skin.width());
    const int h = std::min(size.height(), skin.height());
    const QImage source = skin.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = (in[x] & kSkinBackground) | 0xff000000u;
    }
    return result;
}

Skin Skin::load(const QString& path)
{
    const std::optional<QByteArray> file = ReadWholeFile(path);
    return file ? Skin(decodeSkin(*file)) : Skin();
}

} // namespace app

namespace app {

QStringList artworkCandidates(const QString& relativePath, const ArtworkPlaces& places)
{
    if (places.installDir && places.installDirHasFolder)
        return {*places.installDir + QLatin1Char('/') + relativePath};
    QStringList candidates;
    for (const QString& dir : places.dataDirs) {
        if (dir.isEmpty())
            continue;
        const QString path = dir + QStringLiteral("/kivvo/") + relativePath;
        if (!candidates.contains(path))
            candidates << path;
    }
    candidates << QStringLiteral(":/") + relativePath;
    return candidates;
}

ArtworkPlaces artworkPlaces(const std::optional<QString>& installDir, const QString& folder)
{
    ArtworkPlaces places;
    places.installDir = installDir;
    places.installDirHasFolder =
        installDir && QFileInfo(*installDir + QLatin1Char('/') + folder).isDir();
    places.dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    return places;
}

std::optional<QString> findArtwork(const QString& relativePath,
                                   const std::optional<QString>& installDir)
{
    const QString folder = relativePath.section(QLatin1Char('/'), 0, 0);
    for (const QString& path : artworkCandidates(relativePath, artworkPlaces(installDir, folder))) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return std::nullopt;
}

Skin SkinSet::loadSkin(const QString& fileName, const std::optional<QString>& installDir)
{
    const QString relative = QStringLiteral("skin/") + fileName;
    const ArtworkPlaces places = artworkPlaces(installDir, QStringLiteral("skin"));
    for (const QString& path : artworkCandidates(relative, places)) {
        Skin skin = Skin::load(path);
        if (!skin.isNull())
            return skin;
    }
    return {};
}

SkinSet SkinSet::load(const std::optional<QString>& installDir)
{
    SkinSet set;
    set.title = loadSkin(QStringLiteral("kivvo_skin_title.bmp"), installDir);
    set.userMenu = loadUserMenu(installDir);
    set.mainMenu = loadSkin(QStringLiteral("kivvo_skin_mainmenu.bmp"), installDir);
    set.side = loadSkin(QStringLiteral("kivvo_skin_side.bmp"), installDir);
    return set;
}

Skin SkinSet::loadUserMenu(const std::optional<QString>& installDir)
{
    return loadSkin(QStringLiteral("kivvo_skin_usermenu.bmp"), installDir);
}

} // namespace app
