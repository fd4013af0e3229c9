// Skin files and the bars' hit areas. Skin files come from a folder anyone may write to, so the
// decoder is held to reading nothing outside the file however its headers lie.
#include "app/bar_areas.h"
#include "app/skin.h"
#include "tests/support/env_guard.h"
#include "tests/support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <climits>

using app::MenuBarZone;
using app::TitleBarArea;

namespace {

struct BmpSpec
{
    qint32 width = 3;
    qint32 height = 2; // negative: top-down
    quint16 bitCount = 24;
    quint32 compression = 0;
    std::optional<quint32> pixelOffset; // 54 unless given
    int dropBytes = 0;                  // cut from the end of the file
};

void put16(QByteArray& bytes, int at, quint16 v)
{
    qToLittleEndian(v, bytes.data() + at);
}

void put32(QByteArray& bytes, int at, quint32 v)
{
    qToLittleEndian(v, bytes.data() + at);
}

// The colour of pixel (x, y), counted from the top, as the test draws it: distinct per pixel and
// representable in 5 bits a channel, so that 16-bit files carry it exactly.
QRgb colourAt(int x, int y)
{
    return qRgb(8 * (x + 1), 8 * (y + 2), 8 * (x + y + 3));
}

// A bitmap file as a painting program would write it, with the header fields of `spec` (which
// may lie) and pixels for the real size.
QByteArray makeBmp(const BmpSpec& spec)
{
    const int width = spec.width > 0 && spec.width < 64 ? spec.width : 3;
    const int rows = spec.height == 0 || std::llabs(qint64(spec.height)) >= 64
                         ? 2
                         : int(std::llabs(qint64(spec.height)));
    const int bytesPerPixel = spec.bitCount / 8;
    const int stride = (width * spec.bitCount + 31) / 32 * 4;
    QByteArray bytes(54 + stride * rows, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes, 2, quint32(bytes.size()));
    put32(bytes, 10, spec.pixelOffset.value_or(54));
    put32(bytes, 14, 40);
    put32(bytes, 18, quint32(spec.width));
    put32(bytes, 22, quint32(spec.height));
    put16(bytes, 26, 1);
    put16(bytes, 28, spec.bitCount);
    put32(bytes, 30, spec.compression);
    for (int y = 0; y < rows; ++y) {
        const int fileRow = spec.height < 0 ? y : rows - 1 - y;
        for (int x = 0; x < width && bytesPerPixel > 0; ++x) {
            const QRgb c = colourAt(x, y);
            const int at = 54 + fileRow * stride + x * bytesPerPixel;
            if (spec.bitCount == 16) {
                put16(bytes, at,
                      quint16(((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3)));
            } else if (bytesPerPixel >= 3) {
                bytes[at] = char(qBlue(c));
                bytes[at + 1] = char(qGreen(c));
                bytes[at + 2] = char(qRed(c));
            } else {
                bytes[at] = char(qBlue(c)); // a palette index: one byte a pixel
            }
        }
    }
    bytes.chop(spec.dropBytes);
    return bytes;
}

// 5-bit channels read back as a painting program shows them.
QRgb through16Bits(QRgb c)
{
    const auto expand = [](int v) { return ((v >> 3) << 3) | (v >> 5); };
    return qRgb(expand(qRed(c)), expand(qGreen(c)), expand(qBlue(c)));
}

TEST(SkinDecoding, ReadsEveryDepthInEitherRowOrderWithoutLookingAtTheSignatureOrSize)
{
    for (quint16 bits : {16, 24, 32}) {
        for (bool topDown : {false, true}) {
            BmpSpec spec;
            spec.bitCount = bits;
            spec.height = topDown ? -2 : 2;
            const QImage image = app::decodeSkin(makeBmp(spec));
            ASSERT_FALSE(image.isNull()) << bits << " " << topDown;
            ASSERT_EQ(image.size(), QSize(3, 2));
            for (int y = 0; y < 2; ++y) {
                for (int x = 0; x < 3; ++x) {
                    const QRgb expected =
                        bits == 16 ? through16Bits(colourAt(x, y)) : colourAt(x, y);
                    EXPECT_EQ(image.pixel(x, y), expected)
                        << bits << " bits, top-down " << topDown << " at " << x << "," << y;
                }
            }
        }
    }

    // The signature and size fields are not looked at.
    QByteArray bytes = makeBmp({});
    bytes[0] = 'X';
    put32(bytes, 2, 7);
    EXPECT_FALSE(app::decodeSkin(bytes).isNull());
}

TEST(SkinDecoding, FilesThatCannotBeDrawnCountAsMissing)
{
    struct Case
    {
        const char* what;
        BmpSpec spec;
    };
    const Case cases[] = {
        {"one byte short of its pixels", {3, 2, 24, 0, {}, 1}},
        {"height claims more rows than the file holds", {3, 2000, 24, 0, {}, 0}},
        {"width claims more columns than the file holds", {3000, 2, 24, 0, {}, 0}},
        {"huge width", {INT_MAX, 2, 32, 0, {}, 0}},
        {"huge height", {3, INT_MAX, 32, 0, {}, 0}},
        {"most negative height", {3, INT_MIN, 24, 0, {}, 0}},
        {"negative width", {-3, 2, 24, 0, {}, 0}},
        {"zero width", {0, 2, 24, 0, {}, 0}},
        {"zero height", {3, 0, 24, 0, {}, 0}},
        {"pixels said to start past the end", {3, 2, 24, 0, 0x7fffffffu, 0}},
        {"pixel offset that wraps around", {3, 2, 24, 0, 0xffffffffu, 0}},
        {"pixels said to start inside the headers", {3, 2, 24, 0, 10, 0}},
        {"compressed", {3, 2, 24, 1, {}, 0}},
        {"colour fields", {3, 2, 32, 3, {}, 0}},
        {"palette", {3, 2, 8, 0, {}, 0}},
        {"no pixel size", {3, 2, 0, 0, {}, 0}},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(app::decodeSkin(makeBmp(c.spec)).isNull()) << c.what;

    const QByteArray whole = makeBmp({});
    for (int size : {0, 1, 13, 14, 53})
        EXPECT_TRUE(app::decodeSkin(whole.left(size)).isNull()) << size << " bytes";
    EXPECT_FALSE(app::GetSkinBitmapInfo(whole.left(53)).has_value());
    const auto info = app::GetSkinBitmapInfo(whole.left(54));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->pixelOffset, 54u);
    EXPECT_EQ(info->header.width, 3);
    EXPECT_EQ(info->header.bitCount, 24);
}

TEST(SkinFiles, AreReadWholeOrNotAtAll)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("skin.bmp");
    EXPECT_FALSE(app::ReadWholeFile(path).has_value());
    EXPECT_FALSE(app::ReadWholeFile(dir.path()).has_value()) << "a folder";
    ASSERT_TRUE(test::writeTo(path, makeBmp({})));
    const auto bytes = app::ReadWholeFile(path);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, makeBmp({}));
    EXPECT_FALSE(app::ReadWholeFile(path, 10).has_value()) << "past the limit";
    EXPECT_FALSE(app::Skin::load(path).isNull());
    EXPECT_TRUE(app::Skin::load(dir.filePath("missing.bmp")).isNull());

    // A skin folder of one's own, emptied: no skins, whatever else the system holds.
    ASSERT_TRUE(QDir(dir.path()).mkdir("skin"));
    const app::SkinSet none = app::SkinSet::load(dir.path());
    EXPECT_TRUE(none.title.isNull() && none.userMenu.isNull() && none.mainMenu.isNull()
                && none.side.isNull());
}

TEST(ArtworkLookUp, TheInstallationsFolderDecidesAloneOnlyWhenItIsThere)
{
    const auto candidates = [](const QString& file, std::optional<QString> installDir,
                               bool hasFolder, QStringList dataDirs) {
        app::ArtworkPlaces places;
        places.installDir = std::move(installDir);
        places.installDirHasFolder = hasFolder;
        places.dataDirs = std::move(dataDirs);
        return app::artworkCandidates(file, places);
    };
    const QStringList data = {"/home/u/.local/share", "/usr/local/share", "/usr/share"};
    const QString title = "skin/kivvo_skin_title.bmp";
    const QString builtIn = ":/" + title;
    EXPECT_EQ(candidates(title, "/i", true, data), QStringList{"/i/" + title});
    // Without its folder: the shared folders, then the program's own.
    EXPECT_EQ(candidates(title, "/i", false, data),
              (QStringList{"/home/u/.local/share/kivvo/" + title, "/usr/local/share/kivvo/" + title,
                           "/usr/share/kivvo/" + title, builtIn}));
    EXPECT_EQ(candidates("help/kivvo_help.html", std::nullopt, true, {"/usr/share"}),
              (QStringList{"/usr/share/kivvo/help/kivvo_help.html", ":/help/kivvo_help.html"}));
    EXPECT_EQ(candidates(title, "/i", false, {}), QStringList{builtIn});
    // A data folder named twice counts once, an empty name not at all.
    EXPECT_EQ(candidates(title, "/i", false, {"/usr/share", "", "/usr/share"}),
              (QStringList{"/usr/share/kivvo/" + title, builtIn}));
}

TEST(ArtworkLookUp, AStoreWithoutArtworkTakesThePackagesAndAnEmptiedFolderNone)
{
    QTemporaryDir dir;
    const QString install = dir.filePath("install");
    const QString share = dir.filePath("usr/share");
    test::EnvGuard home("XDG_DATA_HOME", dir.filePath("home").toLocal8Bit());
    test::EnvGuard dirs("XDG_DATA_DIRS", share.toLocal8Bit());
    QDir().mkpath(install);
    ASSERT_TRUE(test::writeTo(share + "/kivvo/skin/kivvo_skin_side.bmp", makeBmp({})));
    ASSERT_TRUE(test::writeTo(share + "/kivvo/skin/kivvo_skin_title.bmp", "damaged"));
    ASSERT_TRUE(test::writeTo(share + "/kivvo/help/kivvo_help.html", "<html></html>"));

    const app::SkinSet shared = app::SkinSet::load(install);
    EXPECT_EQ(shared.side.image(), app::decodeSkin(makeBmp({})));
    EXPECT_TRUE(shared.title.isNull()) << "damaged, and nothing is built into this test";
    EXPECT_EQ(app::findArtwork("help/kivvo_help.html", install),
              share + "/kivvo/help/kivvo_help.html");
    EXPECT_EQ(app::findArtwork("help/kivvo_help.html", std::nullopt),
              share + "/kivvo/help/kivvo_help.html");

    QDir().mkpath(install + "/skin");
    QDir().mkpath(install + "/help");
    EXPECT_TRUE(app::SkinSet::load(install).side.isNull()) << "the user emptied the folder";
    EXPECT_EQ(app::findArtwork("help/kivvo_help.html", install), std::nullopt);
    BmpSpec wide;
    wide.width = 5;
    ASSERT_TRUE(test::writeTo(install + "/skin/kivvo_skin_side.bmp", makeBmp(wide)));
    EXPECT_EQ(app::SkinSet::load(install).side.image().width(), 5);
}

TEST(SkinComposition, DarkensTheLightBackgroundChannelByChannel)
{
    QImage skin(2, 2, QImage::Format_RGB32);
    skin.setPixel(0, 0, qRgb(255, 255, 255));
    skin.setPixel(1, 0, qRgb(0x12, 0x34, 0x56));
    skin.setPixel(0, 1, qRgb(0, 0, 0));
    skin.setPixel(1, 1, qRgb(0x07, 0xff, 0x05));
    const QImage composed = app::composeSkin(skin, QSize(3, 3));
    ASSERT_EQ(composed.size(), QSize(3, 3));
    EXPECT_EQ(composed.pixel(0, 0), qRgb(250, 250, 250));
    EXPECT_EQ(composed.pixel(1, 0), qRgb(0x12 & 250, 0x34 & 250, 0x56 & 250));
    EXPECT_EQ(composed.pixel(0, 1), qRgb(0, 0, 0));
    EXPECT_EQ(composed.pixel(1, 1), qRgb(0x07 & 250, 250, 0x05 & 250));
    // Beyond the picture, the background alone.
    EXPECT_EQ(composed.pixel(2, 0), qRgb(250, 250, 250));
    EXPECT_EQ(composed.pixel(2, 2), qRgb(250, 250, 250));
    // A larger picture shows from its top-left corner.
    EXPECT_EQ(app::composeSkin(skin, QSize(1, 1)).pixel(0, 0), qRgb(250, 250, 250));
}

TEST(MenuBarZones, OnlyTheColumnsOfTheFiveButtonsAct)
{
    const std::pair<int, MenuBarZone> cases[] = {
        {-1, MenuBarZone::None},          {5, MenuBarZone::None},
        {6, MenuBarZone::Chat},           {33, MenuBarZone::Chat},
        {34, MenuBarZone::None},          {35, MenuBarZone::None},
        {36, MenuBarZone::SendFile},      {60, MenuBarZone::SendFile},
        {61, MenuBarZone::None},          {62, MenuBarZone::None},
        {63, MenuBarZone::VoiceChat},     {83, MenuBarZone::VoiceChat},
        {84, MenuBarZone::None},          {85, MenuBarZone::None},
        {86, MenuBarZone::EncryptedChat}, {115, MenuBarZone::EncryptedChat},
        {116, MenuBarZone::None},         {118, MenuBarZone::None},
        {119, MenuBarZone::CtcpMenu},     {144, MenuBarZone::CtcpMenu},
        {145, MenuBarZone::None},         {149, MenuBarZone::None},
    };
    for (const auto& [x, zone] : cases)
        EXPECT_EQ(app::menuBarZoneAt(x), zone) << "x = " << x;
    EXPECT_EQ(app::ctcpMenuPosition(QRect(100, 200, 150, 25)), QPoint(219, 220));
}

TEST(TitleBarAreas, TheButtonsAreOneRowAndEverythingElseDragsKeepingThePointUnderTheCursor)
{
    const std::pair<QPoint, TitleBarArea> cases[] = {
        {{196, 6}, TitleBarArea::Minimise}, {{209, 14}, TitleBarArea::Minimise},
        {{210, 10}, TitleBarArea::Drag},    {{211, 6}, TitleBarArea::Close},
        {{221, 14}, TitleBarArea::Close},   {{222, 10}, TitleBarArea::Drag},
        {{195, 10}, TitleBarArea::Drag},    {{200, 5}, TitleBarArea::Drag},
        {{200, 15}, TitleBarArea::Drag},    {{215, 5}, TitleBarArea::Drag},
        {{215, 15}, TitleBarArea::Drag},    {{0, 0}, TitleBarArea::Drag},
    };
    for (const auto& [point, area] : cases)
        EXPECT_EQ(app::titleBarAreaAt(point), area) << point.x() << "," << point.y();

    // A drag keeps the grabbed point under the cursor.
    const QPoint grab(50, 10);
    const QPoint cursor(530, 340);
    const QPoint window = app::draggedWindowPosition(cursor, grab);
    EXPECT_EQ(window, QPoint(479, 348));
    // The bar sits 19 above the window and its client area one pixel inside it.
    const QPoint bar = app::titleBarPosition(QRect(window, QSize(225, 360)));
    EXPECT_EQ(bar, QPoint(479, 329));
    EXPECT_EQ(bar + QPoint(1, 1) + grab, cursor);
}

} // namespace
