#include "app/web_links.h"

#include <QDesktopServices>
#include <QUrl>

#ifndef KIVVO_HELP_URL
#define KIVVO_HELP_URL ""
#endif
#ifndef KIVVO_SUPPORT_URL
#define KIVVO_SUPPORT_URL ""
#endif

namespace app {

namespace {

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

void OpenInBrowser(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}

QString localHelpPath(const QString& installDir)
{
    return installDir + QStringLiteral("/help/kivvo_help.html");
}

void OpenLocalHelp(const QString& installDir)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(localHelpPath(installDir)));
}

void OpenOnlineOrLocalHelp(const QString& address, const std::optional<QString>& installDir)
{
    if (!address.isEmpty())
        OpenInBrowser(address);
    else if (installDir)
        OpenLocalHelp(*installDir);
}

} // namespace app
