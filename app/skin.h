#pragma once

#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

namespace app {

// The 40-byte information header at byte 14 of a skin file, as the drawing needs it.
struct BitmapInfoHeader
{
    qint32 width = 0;
    qint32 height = 0; // negative: the rows run top-down
    quint16 bitCount = 0;
    quint32 compression = 0;
};

struct SkinBitmapInfo
{
    quint32 pixelOffset = 0; // from the start of the file to the first pixel byte
    BitmapInfoHeader header;
};

// The whole file in one block, or nothing when it cannot be opened or read in full. Skins are
// a few kilobytes; a file past `maxBytes` is no skin and is not read into memory.
std::optional<QByteArray> ReadWholeFile(const QString& path, qint64 maxBytes = 16 * 1024 * 1024);

// The pixel offset and information header of a skin image; nothing when the block is too short
// to hold both headers.
std::optional<SkinBitmapInfo> GetSkinBitmapInfo(const QByteArray& image);

// The skin's pixels, or a null image when the file is not an uncompressed 16, 24 or 32-bit
// bitmap or its header claims more pixels than the file holds. Nothing outside `file` is read.
QImage decodeSkin(const QByteArray& file);

// The colour the main window is filled with; composed skins darken it.
constexpr QRgb kSkinBackground = qRgb(250, 250, 250);

// A skin drawn "composed": `size` filled with the background, with each channel of the skin's
// pixels (1:1 from its top-left corner) ANDed into it, so white in the skin shows the window's
// own light grey and the drawing darkens it.
QImage composeSkin(const QImage& skin, QSize size);

// A skin image read from a file once; null when the file is missing or not a usable bitmap,
// in which case the window that uses it paints without it.
class Skin
{
public:
    Skin() = default;
    explicit Skin(QImage image)
        : m_image(std::move(image))
    {}
    static Skin load(const QString& path);

    bool isNull() const { return m_image.isNull(); }
    const QImage& image() const { return m_image; }

private:
    QImage m_image;
};

} // namespace app

namespace app {

// What decides where a piece of artwork is looked for.
struct ArtworkPlaces
{
    std::optional<QString> installDir;
    // Whether the installation folder holds the artwork's folder ("skin", "help") at all.
    bool installDirHasFolder = false;
    // The desktop's shared data folders, most important first (XDG_DATA_HOME, XDG_DATA_DIRS).
    QStringList dataDirs;
};

// Where `relativePath` ("skin/kivvo_skin_title.bmp", "help/kivvo_help.html") is looked for, in
// order. An installation folder that holds the artwork's folder is the user's own choice and
// the only place: a file missing or damaged there means none. Only when the folder is gone, as
// in a store made before the artwork was installed, do the shared data folders
// (`DIR/kivvo/...`, where a package puts it) and then the program's own copy (":/...") count.
QStringList artworkCandidates(const QString& relativePath, const ArtworkPlaces& places);

// The places for the artwork folder `folder` on this system.
ArtworkPlaces artworkPlaces(const std::optional<QString>& installDir, const QString& folder);

// The first candidate of `relativePath` that exists, or nothing.
std::optional<QString> findArtwork(const QString& relativePath,
                                   const std::optional<QString>& installDir);

// The four skins, read once at start-up.
struct SkinSet
{
    Skin title;    // the title bar, drawn as it is
    Skin userMenu; // the image buttons, composed
    Skin mainMenu; // the main window's menu bar, composed
    Skin side;     // the main window's side picture, composed

    // The first candidate of each skin that reads as one (artworkCandidates); a skin that has
    // none stays null.
    static SkinSet load(const std::optional<QString>& installDir);
    static Skin loadUserMenu(const std::optional<QString>& installDir);
    static Skin loadSkin(const QString& fileName, const std::optional<QString>& installDir);
};

} // namespace app
