#include "app/zone_button.h"

#include <QPainter>

namespace app {

ZoneButton::ZoneButton(const QString& name, QWidget* parent)
    : QAbstractButton(parent)
{
    setAccessibleName(name);
    setToolTip(name);
    setAttribute(Qt::WA_Hover);
    // Reachable by Tab, but a click must not take the focus from the contact list or the input
    // line, whose selection and text the buttons act on.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void ZoneButton::setGlyph(Glyph glyph)
{
    m_glyph = std::move(glyph);
    update();
}

void ZoneButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_glyph) {
        painter.save();
        m_glyph(painter, rect());
        painter.restore();
    }
    // The skin is the picture; only show where the pointer or the keyboard is.
    if (!underMouse() && !hasFocus())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(hasFocus() ? QPen(palette().color(QPalette::Highlight), 1) : Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, isDown() ? 48 : 24));
    painter.drawRoundedRect(area, 3, 3);
}

} // namespace app
