#pragma once

// The one check that a window shows its texts whole and names its picture-only controls, used on
// the offscreen platform (text_fit_test) and on a real X server (desktop_test).
#include <QAbstractButton>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QWidget>

#include <optional>

namespace test {

// What a widget shows as its text, and the room it needs to show it whole.
struct TextNeed
{
    QString text;
    QSize size;
};

// The width the text itself takes: a button's or label's mnemonic marker is not drawn.
inline int textAdvance(const QWidget* widget, QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return widget->fontMetrics().horizontalAdvance(text);
}

inline std::optional<TextNeed> textNeedOf(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->text().isEmpty())
            return std::nullopt;
        if (label->wordWrap()) {
            // A wrapped text may take any width; it is whole if its lines fit the height.
            return TextNeed{label->text(),
                            QSize(label->width(), label->heightForWidth(label->width()))};
        }
        const int margins =
            2 * label->margin() + 2 * label->frameWidth() + qMax(0, label->indent());
        QSize need = label->sizeHint();
        need.setWidth(qMax(need.width(), textAdvance(label, label->text()) + margins));
        return TextNeed{label->text(), need};
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        if (button->text().isEmpty())
            return std::nullopt;
        return TextNeed{button->text(), button->sizeHint()};
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        if (group->title().isEmpty())
            return std::nullopt;
        // Its contents may get less than they would like; the title still needs its width.
        return TextNeed{group->title(), group->minimumSizeHint()};
    }
    return std::nullopt;
}

inline QList<QWidget*> shownWidgets(QWidget* window)
{
    QList<QWidget*> shown;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->isVisibleTo(window) && widget->window() == window)
            shown << widget;
    }
    return shown;
}

inline QString describeWidget(const QWidget* widget, const QString& text)
{
    return QStringLiteral("%1 \"%2\" (%3)")
        .arg(QString::fromLatin1(widget->metaObject()->className()), text, widget->objectName());
}

// Every shown text of `window` that its widget cannot show whole, said with the room it has and
// the room it needs; `checked`, when given, counts the texts looked at.
inline QStringList cutTexts(QWidget* window, int* checked = nullptr)
{
    const auto sizeText = [](QSize size) {
        return QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
    };
    QStringList cut;
    for (QWidget* widget : shownWidgets(window)) {
        const auto need = textNeedOf(widget);
        if (!need)
            continue;
        if (checked)
            ++*checked;
        const QSize has = widget->size();
        if (need->size.width() <= has.width() && need->size.height() <= has.height())
            continue;
        cut << QStringLiteral("%1 is %2 but needs %3 (%4 %5pt)")
                   .arg(describeWidget(widget, need->text), sizeText(has), sizeText(need->size),
                        QFontInfo(widget->font()).family())
                   .arg(widget->font().pointSizeF());
    }
    return cut;
}

// Every shown control of `window` that shows only a picture and does not tell a screen reader
// and a mouse pointer what it is.
inline QStringList unnamedPictures(QWidget* window)
{
    QStringList unnamed;
    for (QWidget* widget : shownWidgets(window)) {
        bool pictureOnly = false;
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            pictureOnly = label->text().isEmpty() && !label->pixmap().isNull();
        // A button without text shows an icon or draws a picture of its own.
        else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            pictureOnly = button->text().isEmpty();
        if (!pictureOnly)
            continue;
        if (widget->accessibleName().isEmpty())
            unnamed << describeWidget(widget, QString()) + " has no accessible name";
        if (widget->toolTip().isEmpty())
            unnamed << describeWidget(widget, QString()) + " has no tool tip";
    }
    return unnamed;
}

} // namespace test
