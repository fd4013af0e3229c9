#include "config/selected_text.h"

#include <QListWidget>

namespace config {

std::optional<QString> GetSelectedListText(const QListWidget& list, int bufferSize)
{
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->isSelected())
            return list.item(row)->text().left(qMax(0, bufferSize - 1));
    }
    return std::nullopt;
}

} // namespace config
