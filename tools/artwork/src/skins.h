#pragma once

#include "icons.h"

#include <QRect>
#include <QString>

#include <vector>

namespace artwork {

// Where the program takes clicks on the skins; the drawings have to keep inside them.
struct Area
{
    QString name;
    QRect rect;
};

std::vector<Area> titleButtonAreas();
std::vector<Area> userMenuButtonAreas();
std::vector<Area> mainMenuItemAreas();

// The four skins of res/skin/, as they are written: the title bar shown as it is, the other
// three designed on white, since the program ANDs them onto its near-white background.
// `mark24` is kivvo.svg rendered at 24 x 24. Stops the generator if a label does not fit.
std::vector<Output> makeSkins(const QImage& mark24);

} // namespace artwork
