#pragma once

#include <QList>
#include <QStyledItemDelegate>

#include <utility>

namespace peer {

// The role of an item's found ranges (a QList<std::pair<int, int>> of start and length).
inline constexpr int kMatchRangesRole = Qt::UserRole + 10;

// Draws an item's text as plain text with its found ranges marked, never as markup.
class MatchDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace peer
