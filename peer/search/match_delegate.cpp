#include "peer/search/match_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

namespace peer {

void MatchDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    // The background, the selection and the focus as the style draws them; the text is ours.
    item.text.clear();
    const QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
    const QString shown = item.fontMetrics.elidedText(text, Qt::ElideRight, area.width());
    QList<QTextLayout::FormatRange> marks;
    QTextCharFormat marked;
    marked.setFontWeight(QFont::Bold);
    marked.setBackground(item.palette.color(QPalette::Highlight).lighter(160));
    marked.setForeground(item.palette.color(QPalette::Text));
    for (const auto& [start, length] :
         index.data(kMatchRangesRole).value<QList<std::pair<int, int>>>()) {
        if (start < shown.size())
            marks.append({start, std::min(length, int(shown.size()) - start), marked});
    }
    QTextLayout layout(shown, item.font);
    layout.setFormats(marks);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(area.width());
    layout.endLayout();
    const bool selected = item.state & QStyle::State_Selected;
    painter->save();
    painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const qreal top = area.top() + (area.height() - line.height()) / 2;
    layout.draw(painter, QPointF(area.left(), top));
    painter->restore();
}

} // namespace peer
