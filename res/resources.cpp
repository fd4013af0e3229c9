#include "res/resources.h"

#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QPixmapCache>
#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initKivvoResources()
{
    Q_INIT_RESOURCE(res);
}

namespace res {

void initResources()
{
    static const bool done = [] {
        initKivvoResources();
        return true;
    }();
    (void)done;
}

QIcon icon(const QString& name)
{
    const QString path = QStringLiteral(":/icons/") + name;
    QPixmap pixmap;
    if (!QPixmapCache::find(path, &pixmap)) {
        QImageReader reader(path, "png");
        reader.setAutoDetectImageFormat(false);
        pixmap = QPixmap::fromImage(reader.read());
        QPixmapCache::insert(path, pixmap);
    }
    return QIcon(pixmap);
}

} // namespace res

namespace res {

std::vector<std::pair<QString, QString>> installedFiles()
{
    initResources();
    std::vector<std::pair<QString, QString>> files;
    for (const char* folder : {"skin", "help"}) {
        const QString name = QString::fromLatin1(folder);
        const QDir dir(QStringLiteral(":/") + name);
        for (const QString& file : dir.entryList(QDir::Files, QDir::Name))
            files.emplace_back(dir.filePath(file), name + QLatin1Char('/') + file);
    }
    return files;
}

} // namespace res
