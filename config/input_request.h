#pragma once

#include <QString>

namespace config {

// What the caller of the input dialog asks for. On OK the dialog hands back the entered text.
struct InputRequest
{
    QString prompt;
    QString title;
    QString text; // initial text of the edit box
    bool showBrowse = false;
};

// The edit box takes at most this many characters.
inline constexpr int kInputTextLimit = 255;

} // namespace config
