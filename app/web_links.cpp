#include "app/web_links.h"

#include "app/skin.h"
#include "app/texts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#ifndef KIVVO_HELP_URL
#define KIVVO_HELP_URL ""
#endif
#ifndef KIVVO_SUPPORT_URL
#define KIVVO_SUPPORT_URL ""
#endif

namespace app {

namespace {

constexpr char kHelpPage[] = "help/kivvo_help.html";

QString webAddress(const char* configured)
{
    const QUrl url(QString::fromUtf8(configured), QUrl::StrictMode);
    const bool web =
        url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
    return web ? url.toString() : QString();
}

} // namespace

QString helpOnlineAddress()
{
    return webAddress(KIVVO_HELP_URL);
}

QString supportOnlineAddress()
{
    return webAddress(KIVVO_SUPPORT_URL);
}

bool OpenInBrowser(const QString& address)
{
    return QDesktopServices::openUrl(QUrl(address));
}

std::optional<QString> localHelpPath(const std::optional<QString>& installDir)
{
    const std::optional<QString> found = findArtwork(QString::fromLatin1(kHelpPage), installDir);
    if (!found || !found->startsWith(QLatin1Char(':')))
        return found;
    // A browser cannot read the program's resources: it gets a copy in the private runtime
    // folder, written afresh each time so that it is always this version's page.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return std::nullopt;
    const QString copy = folder + QStringLiteral("/kivvo_help.html");
    QFile::remove(copy);
    if (!QFile::copy(*found, copy))
        return std::nullopt;
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return copy;
}

QString OpenLocalHelp(const std::optional<QString>& installDir)
{
    const std::optional<QString> page = localHelpPath(installDir);
    if (!page)
        return QCoreApplication::translate("app", text::kHelpNotInstalled)
            .arg(QString::fromLatin1(kHelpPage));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(*page)))
        return QCoreApplication::translate("app", text::kNoProgramForHelp).arg(*page);
    return {};
}

QString OpenOnlineOrLocalHelp(const QString& address, const std::optional<QString>& installDir)
{
    if (address.isEmpty())
        return OpenLocalHelp(installDir);
    if (!OpenInBrowser(address))
        return QCoreApplication::translate("app", text::kNoBrowser).arg(address);
    return {};
}

} // namespace app
