#pragma once

#include <QString>

namespace config {

// The edit box takes at most this many characters, unless the request allows more.
inline constexpr int kInputTextLimit = 255;
// A path: as long as the system takes one (PATH_MAX, less its terminating NUL).
inline constexpr int kPathTextLimit = 4095;

// What the caller of the input dialog asks for. On OK the dialog hands back the entered text.
struct InputRequest
{
    QString prompt;
    QString title;
    QString text; // initial text of the edit box
    bool showBrowse = false;
    int maxLength = kInputTextLimit; // never less than the initial text's length
};

} // namespace config
