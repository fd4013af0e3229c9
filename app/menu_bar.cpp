#include "app/menu_bar.h"

#include "app/zone_button.h"

#include <QAction>
#include <QMenu>
#include <QPainter>

namespace app {

namespace {

QString zoneName(MenuBarZone zone)
{
    switch (zone) {
    case MenuBarZone::Chat:
        return MenuBar::tr("Chat");
    case MenuBarZone::SendFile:
        return MenuBar::tr("Send File");
    case MenuBarZone::VoiceChat:
        return MenuBar::tr("Voice Chat");
    case MenuBarZone::EncryptedChat:
        return MenuBar::tr("Encrypted Chat");
    case MenuBarZone::CtcpMenu:
        return MenuBar::tr("CTCP Queries");
    case MenuBarZone::None:
        break;
    }
    return {};
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
