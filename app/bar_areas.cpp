#include "app/bar_areas.h"

namespace app {

MenuBarZone menuBarZoneAt(int x)
{
    for (const ZoneSpan& span : kMenuBarZones) {
        if (x >= span.first && x <= span.last)
            return span.zone;
    }
    return MenuBarZone::None;
}

QPoint ctcpMenuPosition(const QRect& barFrame)
{
    // The frame's bottom edge is the first row below it, as the window system counts.
    return {barFrame.left() + 119, barFrame.top() + barFrame.height() - 5};
}

TitleBarArea titleBarAreaAt(QPoint client)
{
    if (kMinimiseArea.contains(client))
        return TitleBarArea::Minimise;
    if (kCloseArea.contains(client))
        return TitleBarArea::Close;
    return TitleBarArea::Drag;
}

QPoint titleBarPosition(const QRect& mainFrame)
{
    return {mainFrame.left() + mainFrame.width() - kTitleBarWidth,
            mainFrame.top() - kTitleBarOverlap};
}

QPoint draggedWindowPosition(QPoint cursor, QPoint grab)
{
    // -1 for the bar's border, +18 for its place above the window less that border.
    return {cursor.x() - grab.x() - 1, cursor.y() - grab.y() + kTitleBarOverlap - 1};
}

} // namespace app
