#include "app/tray.h"

#include "app/texts.h"
#include "diag/debug_log.h"
#include "irc/link_status.h"
#include "res/resources.h"

#include <QIcon>
#include <QSystemTrayIcon>

namespace app {

Tray::Tray(Availability availability, QObject* parent)
    : QObject(parent)
{
    const bool present = availability == Availability::Detect
                             ? QSystemTrayIcon::isSystemTrayAvailable()
                             : availability == Availability::Present;
    if (!present) {
        diag::DebugLog(tr(text::kLogNoTray));
        return;
    }
    res::initResources();
    m_icon = new QSystemTrayIcon(res::icon(QStringLiteral("SMALLICON")), this);
    m_icon->setToolTip(irc::idleTitle());
    // A left click only; the right button, a double click and the wheel do nothing.
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    emit restoreRequested();
            });
    m_icon->show();
}

Tray::~Tray() = default;

void Tray::remove()
{
    if (m_icon)
        m_icon->hide();
}

} // namespace app
