#pragma once

#include <QString>

#include <optional>

namespace app {

// The pages of the Help menu's two online items, as the build configured them
// (-DKIVVO_HELP_URL=, -DKIVVO_SUPPORT_URL=); empty when it named none, or nothing but an http or
// https address.
QString helpOnlineAddress();
QString supportOnlineAddress();

// Hands `address` to the user's browser; false when the desktop found nothing to open it with.
bool OpenInBrowser(const QString& address);

// The help page to open: the first of the installed copies (findArtwork), or the program's own
// copy written out where a browser can read it; nothing when there is none.
std::optional<QString> localHelpPath(const std::optional<QString>& installDir);

// What the user is told when a help item cannot open; empty when it opened.
QString OpenLocalHelp(const std::optional<QString>& installDir);

// An online item: its page, or, where the build named none, the installed help page rather
// than an address that leads nowhere.
QString OpenOnlineOrLocalHelp(const QString& address, const std::optional<QString>& installDir);

} // namespace app
