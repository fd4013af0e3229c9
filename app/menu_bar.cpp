#include "app/menu_bar.h"

#include "app/texts.h"
#include "app/zone_button.h"
#include "res/resources.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPolygonF>
#include <QStyle>

#include <algorithm>

namespace app {

namespace {

QString zoneName(MenuBarZone zone)
{
    switch (zone) {
    case MenuBarZone::Chat:
        return MenuBar::tr(text::kChat);
    case MenuBarZone::SendFile:
        return MenuBar::tr(text::kSendFile);
    case MenuBarZone::VoiceChat:
        return MenuBar::tr(text::kVoiceChat);
    case MenuBarZone::EncryptedChat:
        return MenuBar::tr(text::kEncryptedChat);
    case MenuBarZone::CtcpMenu:
        return MenuBar::tr(text::kCtcpQueries);
    case MenuBarZone::None:
        break;
    }
    return {};
}

// The button's picture where there is no skin to show it: a framed key with the icon that
// stands for the same thing elsewhere in the program.
QIcon zoneIcon(MenuBarZone zone)
{
    switch (zone) {
    case MenuBarZone::Chat:
        return res::icon(QStringLiteral("CHATWNDICON"));
    case MenuBarZone::SendFile:
        return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    case MenuBarZone::VoiceChat:
        return res::icon(QStringLiteral("MICROPHONE"));
    case MenuBarZone::EncryptedChat:
        return res::icon(QStringLiteral("SMALLCRYPTO"));
    case MenuBarZone::CtcpMenu:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
    case MenuBarZone::None:
        break;
    }
    return {};
}

ZoneButton::Glyph zoneGlyph(MenuBarZone zone)
{
    const QPixmap picture = zoneIcon(zone).pixmap(16, 16);
    return [picture, zone](QPainter& painter, const QRect& area) {
        // The picture's height: a taller bar keeps its buttons at the top, as the skin does.
        const QRect key(area.left(), area.top(), area.width(),
                        std::min(area.height(), MenuBar::kSkinSize.height()));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QColor(0xa8, 0xb4, 0xc4));
        painter.setBrush(QColor(0xf0, 0xf4, 0xfa));
        painter.drawRoundedRect(QRectF(key).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        const bool menu = zone == MenuBarZone::CtcpMenu;
        const QSize shown = picture.deviceIndependentSize().toSize().boundedTo(QSize(16, 16));
        const int left = key.left() + (key.width() - shown.width() - (menu ? 5 : 0)) / 2;
        const QRect at(QPoint(left, key.top() + (key.height() - shown.height()) / 2), shown);
        painter.drawPixmap(at, picture);
        if (zone == MenuBarZone::SendFile) { // the page goes out: an arrow leaving it
            const QPointF tip(at.right() + 2.5, at.bottom() - 3.5);
            painter.setPen(QPen(QColor(0x34, 0x78, 0xf6), 2));
            painter.drawLine(tip - QPointF(7, 0), tip - QPointF(2, 0));
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x34, 0x78, 0xf6));
            painter.drawPolygon(QPolygonF(
                {tip + QPointF(-3, -3.5), tip + QPointF(-3, 3.5), tip + QPointF(0.5, 0)}));
        }
        if (menu) { // it opens a menu: the small arrow every drop-down button has
            const QPointF tip(at.right() + 4.5, key.center().y() + 2.0);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x3a, 0x46, 0x52));
            painter.drawPolygon(
                QPolygonF({tip + QPointF(-2.5, -2.5), tip + QPointF(2.5, -2.5), tip}));
        }
    };
}

} // namespace

MenuBar::MenuBar(const QString& title, const Skin& skin, const Targets& targets, Edge edge,
                 QWidget* parent)
    : QFrame(parent)
    , m_targets(targets)
    , m_ctcp(targets.ctcp)
{
    setObjectName(title);
    setWindowTitle(title);
    setAccessibleName(title);
    if (edge == Edge::Sunken) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
    }
    // Composed once: the picture never changes while the bar lives.
    if (!skin.isNull())
        m_composed = composeSkin(skin.image(), kSkinSize);
    for (const ZoneSpan& span : kMenuBarZones) {
        auto* button = new ZoneButton(zoneName(span.zone), this);
        button->setProperty("zone", static_cast<int>(span.zone));
        if (m_composed.isNull())
            button->setGlyph(zoneGlyph(span.zone));
        const MenuBarZone zone = span.zone;
        connect(button, &QAbstractButton::pressed, this, [this, zone] { press(zone); });
    }
    placeButtons();
}

QWidget* MenuBar::button(MenuBarZone zone) const
{
    for (QWidget* child : findChildren<ZoneButton*>(Qt::FindDirectChildrenOnly)) {
        if (child->property("zone").toInt() == static_cast<int>(zone))
            return child;
    }
    return nullptr;
}

void MenuBar::press(MenuBarZone zone)
{
    QAction* action = nullptr;
    switch (zone) {
    case MenuBarZone::Chat:
        action = m_targets.chat;
        break;
    case MenuBarZone::SendFile:
        action = m_targets.sendFile;
        break;
    case MenuBarZone::VoiceChat:
        action = m_targets.voiceChat;
        break;
    case MenuBarZone::EncryptedChat:
        action = m_targets.encryptedChat;
        break;
    case MenuBarZone::CtcpMenu:
        if (m_ctcp)
            m_ctcp->popup(ctcpMenuPosition(QRect(mapToGlobal(QPoint(0, 0)), size())));
        return;
    case MenuBarZone::None:
        return;
    }
    if (action && action->isEnabled())
        action->trigger();
}

void MenuBar::paintEvent(QPaintEvent* event)
{
    if (!m_composed.isNull()) {
        QPainter painter(this);
        const QRect client = contentsRect();
        painter.setClipRect(client);
        painter.drawImage(client.topLeft(), m_composed);
    }
    QFrame::paintEvent(event); // the edge, over the picture's border
}

void MenuBar::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    placeButtons();
}

void MenuBar::placeButtons()
{
    // Only x counts: each button takes the whole height of the bar.
    const QRect client = contentsRect();
    for (const ZoneSpan& span : kMenuBarZones) {
        if (QWidget* zone = button(span.zone)) {
            zone->setGeometry(client.x() + span.first, client.y(), span.last - span.first + 1,
                              client.height());
        }
    }
}

} // namespace app
