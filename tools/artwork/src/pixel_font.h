#pragma once

#include <QImage>
#include <QRgb>
#include <QString>

namespace artwork {

// A hand-made proportional pixel font for the menu bar: capitals 7 pixels high, small letters
// 5, descenders 2 more, one pixel between letters. The menu items are only 21 to 39 pixels
// wide, narrower than any outline font stays legible in, so the letters are drawn by hand and
// kept condensed. Only the letters the skins need are defined; any other is an error.
namespace pixel_font {

inline constexpr int kCapHeight = 7;
inline constexpr int kLineHeight = 9;

// Width in pixels of `text` set in the font, from the first inked column to the last.
int textWidth(const QString& text);

// Sets `text` with the top of the capitals at `top`, starting at column `left`.
void drawText(QImage& target, int left, int top, const QString& text, QRgb colour);

} // namespace pixel_font

} // namespace artwork
