#pragma once

// The server link's user-visible texts, in one place. They are the program's own wording and
// are kept exactly, blanks included.
namespace irc::text {

inline constexpr char kNoServers[] = "There are no servers defined!";
inline constexpr char kAllServersFailed[] = "Can't connect to any servers!";
inline constexpr char kTryingServer[] = "Trying to connect to server #%1:";
inline constexpr char kResolveFailed[] = "Could not resolve server! Trying again...";
inline constexpr char kSendingUserInfo[] = "Sending user info...";
inline constexpr char kConnectedTo[] = "Connected to server %1.";
inline constexpr char kReconnecting[] = "Disconnected!  Trying to reconnect... (server #%1)";
inline constexpr char kDisconnected[] = "Disconnected.";

inline constexpr char kLogConnectionEstablished[] = "Connection Established";
inline constexpr char kLogConnectError[] = "connect() error";
inline constexpr char kLogSocketError[] = "socket() error - INVALID_SOCKET";
inline constexpr char kLogSendError[] = "send() error - SOCKET_ERROR";
inline constexpr char kLogRecvError[] = "recv() error (client read)- SOCKET_ERROR";

inline constexpr char kLogIdentAccepted[] = "Accepted identd connection";
inline constexpr char kLogIdentClosed[] = "identd closed";
inline constexpr char kLogBindError[] = "bind() error";
inline constexpr char kLogListenError[] = "listen() error";
inline constexpr char kLogAcceptError[] = "accept() error - INVALID_SOCKET";
inline constexpr char kLogIdentRecvError[] = "recv() error (identd)- SOCKET_ERROR";
inline constexpr char kLogSendShort[] = "send() error - not enough bytes sent";

inline constexpr char kTitleConnected[] = "Kivvo - v2.0 - %1";
inline constexpr char kTitleIdle[] = "Kivvo v2.0";

inline constexpr char kQuitAtClose[] = "QUIT :Kivvo is closing...";

} // namespace irc::text
