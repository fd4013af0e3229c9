#pragma once

#include <QImage>
#include <QRgb>

#include <string>
#include <utility>
#include <vector>

namespace artwork {

// Small icons are drawn pixel by pixel: at 16 x 16 every pixel is a decision, and shapes
// rasterised from curves come out soft. A picture is a list of equally long rows, one
// character a pixel, each character a colour of the palette ('.' is transparent).
using Rows = std::vector<std::string>;

QImage pixelArt(const Rows& rows);

// The colour that `code` stands for in pictures.
QRgb artColour(char code);

// `rows` with every colour code `from` replaced by `to`, for variants of one drawing.
Rows recolour(Rows rows, const std::vector<std::pair<char, char>>& swaps);

// Draws `art` onto `target` with its top-left corner at (x, y), blending its alpha.
void stamp(QImage& target, const QImage& art, int x, int y);

// Like stamp(), but first clears a one-pixel ring around the art's opaque pixels, so that an
// overlapping badge stands apart from what it covers on any background. On an opaque picture
// the ring takes the colour `gap` instead.
void stampApart(QImage& target, const QImage& art, int x, int y, QRgb gap = 0);

} // namespace artwork
