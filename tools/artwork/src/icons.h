#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace artwork {

struct Output
{
    QString path; // relative to res/
    QImage image;
};

// The app mark at 16 x 16, drawn by hand to match kivvo.svg at that size.
QImage smallMark();
// The same mark in white on blue, for the title bar.
QImage smallMarkOnBlue();

// The glyphs the user menu strip shows, each at most 16 pixels high, on transparency.
QImage chatGlyph();
QImage fileGlyph();
QImage microphoneGlyph();
QImage encryptedChatGlyph();
QImage queryGlyph();

// Every icon of res/icons/. `mark32` is kivvo.svg rendered at 32 x 32.
std::vector<Output> makeIcons(const QImage& mark32);

} // namespace artwork
