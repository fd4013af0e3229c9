#pragma once

#include <QString>

namespace artwork {

// Reads the written artwork back from `resDir` (through Qt's own readers, so a file Qt cannot
// read shows up here) and lays it out on one sheet: everything at 4x with square pixels, the
// composed skins as the program shows them, the icons on light and dark ground, and a mock-up
// of the main window at 2x. Returns false when a file is missing or unreadable.
bool writePreview(const QString& resDir, const QString& outPath);

} // namespace artwork
