#include "config/installation.h"

#include "config/paths.h"
#include "config/registry.h"
#include "config/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace config {

namespace {

constexpr int kMaxNickLength = 9;
const QByteArray kNickSymbols("[]\\`_^{|}-");

bool isNickChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || kNickSymbols.contains(c);
}

} // namespace

QByteArray nickFromLoginName(const QString& loginName)
{
    QByteArray nick;
    for (char c : loginName.toUtf8()) {
        if (!isNickChar(c))
            continue;
        // A nick may not start with a digit or '-'; dropping them keeps the rest of the name.
        if (nick.isEmpty() && ((c >= '0' && c <= '9') || c == '-'))
            continue;
        nick.append(c);
        if (nick.size() == kMaxNickLength)
            break;
    }
    return nick.isEmpty() ? QByteArray("kivvo") : nick;
}

bool installIfMissing(Registry& registry, const FirstRunDefaults& defaults)
{
    // A read-only store cannot take the installation; claiming one would only hide that.
    if (!registry.isOpen() || registry.hasKey(kKeyRoot) || !registry.createKey(kKeyRoot))
        return false;
    registry.createKey(kKeyServers);
    registry.createKey(kKeyContacts);

    // Log paths are built as installdir + "/logs/...", so the stored folder has no trailing '/'
    // (cleanPath drops it).
    const QString installDir =
        QDir::cleanPath(defaults.installDir.isEmpty() ? defaultInstallDir() : defaults.installDir);
    registry.writeValue(kKeyRoot, "installdir", installDir.toUtf8());
    makePrivateFolder(installDir + QStringLiteral("/logs"));
    for (const auto& [source, target] : defaults.files) {
        const QString path = installDir + QLatin1Char('/') + target;
        QDir().mkpath(QFileInfo(path).absolutePath());
        // Copies keep the source's permissions, and the program's own artwork is read-only.
        if (QFile::copy(source, path))
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }

    Store store(registry);
    store.AddServer({defaults.serverAddress, defaults.network, defaults.serverPort});

    Settings settings;
    settings.nick =
        defaults.nick.isEmpty() ? nickFromLoginName(qEnvironmentVariable("USER")) : defaults.nick;
    settings.altnick = settings.nick + '_';
    settings.realname = defaults.realname;
    settings.autoconnect = defaults.autoconnect;
    store.SaveSettings(settings);
    return true;
}

} // namespace config
