#include "config/paths.h"

#include <QDir>

namespace config {

namespace {

constexpr quint16 kDefaultIdentPort = 113;

// The XDG rules: a relative value is invalid and has to be ignored, not resolved against the
// current folder.
QString xdgBase(const char* variable, const char* fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackUnderHome);
}

} // namespace

QString configDir()
{
    return xdgBase("XDG_CONFIG_HOME", ".config") + QStringLiteral("/kivvo");
}

QString registryPath()
{
    return configDir() + QStringLiteral("/registry.db");
}

QString defaultInstallDir()
{
    return xdgBase("XDG_DATA_HOME", ".local/share") + QStringLiteral("/kivvo");
}

quint16 identPort()
{
    bool ok = false;
    const int port = qEnvironmentVariable("KIVVO_IDENT_PORT").toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? quint16(port) : kDefaultIdentPort;
}

} // namespace config
