#include "res/resources.h"

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
