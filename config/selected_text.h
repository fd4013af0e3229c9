#pragma once

#include <QString>

#include <optional>

class QListWidget;

namespace config {

// The text of the first selected row, cut to `bufferSize - 1` characters (the room a buffer of
// that size leaves after its terminator); nothing when no row is selected.
std::optional<QString> GetSelectedListText(const QListWidget& list, int bufferSize);

} // namespace config
