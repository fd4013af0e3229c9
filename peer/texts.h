#pragma once

#include <QString>

// The texts chat windows show about their link, in one place. They are the program's own
// wording and are kept exactly, blanks included.
namespace peer::text {

inline constexpr char kWaiting[] = "Waiting for user to accept chat connection...\r\n";
inline constexpr char kEstablished[] = "Connection established.\r\n";
inline constexpr char kLinkClosed[] = "*The direct connection was closed*\r\n";

} // namespace peer::text

namespace peer {

// Why a chat could not be started; errorTitle() and errorText() word it for a box.
enum class ChatError { NoPortForOffer, OfferNotSent };

QString errorTitle(ChatError error);
QString errorText(ChatError error);

} // namespace peer
