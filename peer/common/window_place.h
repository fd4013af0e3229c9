#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace peer {

// How far each new window steps right and down from one still open on its spot.
constexpr int kCascadeStep = 28;

// Where a new window of `size` goes: centred on `owner` (the window it belongs to), moved on
// by a step while one of the windows still open (`open`, their top-left corners) is within a
// step of that spot, and back to the top-left of `screen` (its available area) when it would
// leave it, one step further right on each return.
QPoint cascadePosition(const QRect& owner, const QSize& size, const QList<QPoint>& open,
                       const QRect& screen);

} // namespace peer
