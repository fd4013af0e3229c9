#pragma once

#include <QString>

namespace app {

// The pages of the Help menu's two online items.
inline constexpr char kHelpOnlineAddress[] = "https://kivvo.example/help/";
inline constexpr char kSupportOnlineAddress[] = "https://kivvo.example/support/";

// Hands `address` to the user's browser. Whether one opened is not checked: there is nothing
// the user could do about it, so a failure stays silent.
void OpenInBrowser(const QString& address);

// The help page the installation put into `installDir`, opened with the desktop's handler for
// local HTML files.
QString localHelpPath(const QString& installDir);
void OpenLocalHelp(const QString& installDir);

} // namespace app
