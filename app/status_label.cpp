#include "app/status_label.h"

#include "diag/control_escape.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace app {

StatusLabel::StatusLabel(const QString& text, QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // Its width is the status bar's to give: a long text never widens the window.
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
    setFullText(text);
}

void StatusLabel::setFullText(const QString& text)
{
    m_full = text;
    elide();
}

void StatusLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void StatusLabel::elide()
{
    const int room = contentsRect().width();
    const QString shown = fontMetrics().elidedText(m_full, Qt::ElideRight, room);
    setText(shown);
    // A nick's refusal carries the server's own words: shown exactly, never as markup.
    setToolTip(shown == m_full ? QString() : diag::plainTip(m_full));
}

} // namespace app
