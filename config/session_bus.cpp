#include "config/session_bus.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

namespace config {

bool sessionBusPossible(const SessionBusClues& clues)
{
    if (!clues.address.isEmpty())
        return clues.address != kNoSessionBusAddress;
    return clues.runtimeSocket || clues.launcher;
}

SessionBusClues sessionBusClues()
{
    SessionBusClues clues;
    clues.address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    clues.runtimeSocket = !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
    // libdbus runs its own build's copy first, then whichever the search path finds.
    clues.launcher = QFileInfo::exists(QStringLiteral("/usr/bin/dbus-launch"))
                     || !QStandardPaths::findExecutable(QStringLiteral("dbus-launch")).isEmpty();
    return clues;
}

bool ruleOutSessionBus()
{
    // A given address is the environment's word, even the one of none.
    const SessionBusClues clues = sessionBusClues();
    if (!clues.address.isEmpty() || sessionBusPossible(clues))
        return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBusAddress);
    return true;
}

bool hasSessionBusAddress()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    return !address.isEmpty() && address != kNoSessionBusAddress;
}

} // namespace config
