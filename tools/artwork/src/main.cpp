// Draws Kivvo's skins and icons into res/. Run by tools/artwork/make; see the README there.
//
//   kivvo_artwork RES_DIR                 write res/skin/*.bmp, res/icons/*.png and the 16 px
//                                         app icon (res/app/hicolor/{24,32}/kivvo.png must exist)
//   kivvo_artwork --preview RES_DIR PNG   lay out what RES_DIR holds on one sheet

#include "bmp.h"
#include "icons.h"
#include "preview.h"
#include "skins.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kivvo_artwork RES_DIR | kivvo_artwork --preview RES_DIR PNG\n");
    return 2;
}

bool writeOutput(const QString& resDir, const artwork::Output& output)
{
    const QString path = resDir + QLatin1Char('/') + output.path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool written = path.endsWith(QLatin1String(".bmp"))
                             ? artwork::writeBmp24(output.image, path)
                             : output.image.save(path, "PNG");
    std::printf("%s %s (%dx%d)\n", written ? "wrote" : "FAILED", path.toUtf8().constData(),
                output.image.width(), output.image.height());
    return written;
}

// kivvo.svg as tools/artwork/make rendered it into the desktop icon folders.
QImage renderedMark(const QString& resDir, int size)
{
    const QString path = resDir + QStringLiteral("/app/hicolor/%1/kivvo.png").arg(size);
    const QImage image(path);
    if (image.isNull() || image.size() != QSize(size, size)) {
        std::fprintf(stderr, "kivvo_artwork: %s is missing; render kivvo.svg first\n",
                     path.toUtf8().constData());
        return {};
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing needs fonts but no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList args = QGuiApplication::arguments().mid(1);

    if (args.size() == 3 && args[0] == QLatin1String("--preview"))
        return artwork::writePreview(args[1], args[2]) ? 0 : 1;
    if (args.size() != 1)
        return usage();

    const QString resDir = args[0];
    const QImage mark24 = renderedMark(resDir, 24);
    const QImage mark32 = renderedMark(resDir, 32);
    if (mark24.isNull() || mark32.isNull())
        return 1;

    bool ok = true;
    for (const artwork::Output& output : artwork::makeSkins(mark24))
        ok = writeOutput(resDir, output) && ok;
    for (const artwork::Output& output : artwork::makeIcons(mark32))
        ok = writeOutput(resDir, output) && ok;
    // At 16 pixels the hand-drawn mark is sharper than any rendering of the SVG.
    ok = writeOutput(resDir, {QStringLiteral("app/hicolor/16/kivvo.png"), artwork::smallMark()})
         && ok;
    return ok ? 0 : 1;
}
