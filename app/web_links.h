#pragma once

#include <QString>

#include <optional>

namespace app {

// The pages of the Help menu's two online items, as the build configured them
// (-DKIVVO_HELP_URL=, -DKIVVO_SUPPORT_URL=); empty when it named none, or nothing but an http or
// https address.
QString helpOnlineAddress();
QString supportOnlineAddress();

// Hands `address` to the user's browser. Whether one opened is not checked: there is nothing
// the user could do about it, so a failure stays silent.
void OpenInBrowser(const QString& address);

// The help page the installation put into `installDir`, opened with the desktop's handler for
// local HTML files.
QString localHelpPath(const QString& installDir);
void OpenLocalHelp(const QString& installDir);

// An online item: its page, or, where the build named none, the installed help page rather
// than an address that leads nowhere.
void OpenOnlineOrLocalHelp(const QString& address, const std::optional<QString>& installDir);

} // namespace app
