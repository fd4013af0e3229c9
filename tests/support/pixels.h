#pragma once

#include "app/skin.h"

#include <QImage>
#include <QRect>

namespace test {

// How many pixels of `area` in `image` are drawn on, i.e. not the plain background.
inline int inkIn(const QImage& image, const QRect& area)
{
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            ink += image.pixel(x, y) != app::kSkinBackground ? 1 : 0;
    }
    return ink;
}

} // namespace test
