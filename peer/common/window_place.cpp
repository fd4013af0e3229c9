#include "peer/common/window_place.h"

#include <algorithm>
#include <cstdlib>

namespace peer {

namespace {

bool taken(QPoint spot, const QList<QPoint>& open)
{
    return std::any_of(open.begin(), open.end(), [spot](QPoint corner) {
        return std::abs(corner.x() - spot.x()) < kCascadeStep
               && std::abs(corner.y() - spot.y()) < kCascadeStep;
    });
}

// The top-left corner that keeps a window of `size` inside `screen`, as near `wanted` as it can;
// a window larger than the screen keeps its top-left corner on it.
QPoint keptInside(QPoint wanted, const QSize& size, const QRect& screen)
{
    const int right = std::max(screen.left(), screen.left() + screen.width() - size.width());
    const int bottom = std::max(screen.top(), screen.top() + screen.height() - size.height());
    return {std::clamp(wanted.x(), screen.left(), right),
            std::clamp(wanted.y(), screen.top(), bottom)};
}

bool leaves(QPoint corner, const QSize& size, const QRect& screen)
{
    return corner.x() + size.width() > screen.left() + screen.width()
           || corner.y() + size.height() > screen.top() + screen.height();
}

} // namespace

QPoint cascadePosition(const QRect& owner, const QSize& size, const QList<QPoint>& open,
                       const QRect& screen)
{
    // QRect::center() rounds a one-pixel-short rectangle's middle, so the halves are taken here.
    const QPoint first = keptInside(
        owner.topLeft()
            + QPoint((owner.width() - size.width()) / 2, (owner.height() - size.height()) / 2),
        size, screen);
    // Every spot of every column can be tried once before the search gives up; with more
    // windows open than spots, the first one is as good as any.
    const int columns = std::max(1, (screen.width() - size.width()) / kCascadeStep + 1);
    const int rows = std::max(1, (screen.height() - size.height()) / kCascadeStep + 1);
    const int tries = columns * (rows + 1) + 1;
    QPoint spot = first;
    int returns = 0;
    for (int i = 0; i < tries; ++i) {
        if (!taken(spot, open))
            return spot;
        spot += QPoint(kCascadeStep, kCascadeStep);
        if (leaves(spot, size, screen)) {
            returns = (returns + 1) % columns;
            spot = keptInside(screen.topLeft() + QPoint(returns * kCascadeStep, 0), size, screen);
        }
    }
    return first;
}

} // namespace peer
