#pragma once

class QWidget;

namespace res {

// The windows place many of their controls at sizes of their own, in pixels, measured once in
// a much narrower font than a Linux desktop's default. These keep such a control's text whole
// in the box it is given, changing neither the box nor the text.

// Keeps `widget` (a label, button or group box placed at a fixed geometry, not by a layout)
// fitting whatever size it is given from now on: at every resize it takes the largest font,
// in half points and never larger than the one it would inherit, at which its size hint fits
// its size. Push buttons also lose most of the padding the style puts between their frame and
// their text, so that a short button keeps the full font when only that padding was in the
// way. Call again after changing its text.
void fitText(QWidget* widget);

// Whether `widget`'s size hint fits its current size: what fitText() aims for.
bool textFits(const QWidget* widget);

} // namespace res
