#include "app/web_links.h"

#include <QDesktopServices>
#include <QUrl>

namespace app {

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

} // namespace app
