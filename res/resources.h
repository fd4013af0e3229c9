#pragma once

#include <QString>

#include <utility>
#include <vector>

class QIcon;

namespace res {

// The artwork lives in a static library, whose resources must be registered by hand before the
// first icon is loaded. Safe to call more than once.
void initResources();

// The icon named `name` (":/icons/NAME"). The artwork's names carry no suffix, and Qt's image
// reader, even when told the format, loads every image plugin (and libjpeg) to ask it first: a
// few milliseconds of start-up. Without auto-detection it goes straight to its own PNG reader.
// The cache shares one copy among all the windows and rows that show it.
QIcon icon(const QString& name);

// What a new installation gets of the artwork: each resource, and its place under the
// installation folder (the skins and the help page).
std::vector<std::pair<QString, QString>> installedFiles();

} // namespace res
