#pragma once

// The irc module's user-visible texts, in one place. They are the program's own wording and
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

// Reconnection after a lost link, and the login to an account named in the server password.
inline constexpr char kRetryingAt[] = "Can't connect to any servers! Trying again at %1.";
inline constexpr char kAccountLoginFailed[] = "Login to the account failed (SASL).";
inline constexpr char kAccountNickLocked[] =
    "Login to the account failed: the nick belongs to another account (SASL).";
inline constexpr char kAccountLoginAborted[] = "Login to the account was aborted (SASL).";
inline constexpr char kAccountAlreadyLoggedIn[] = "Already logged in to an account (SASL).";
inline constexpr char kAccountNoPlainLogin[] =
    "Login to the account failed: the server does not take passwords (SASL).";
inline constexpr char kNickRefused[] = "The server refused the nick %1: %2";
inline constexpr char kNicksTaken[] =
    "The nick and the alternate nick are both in use. Choose another in the settings.";
inline constexpr char kLogAccountLoggedIn[] = "Logged in to the account (SASL).";
inline constexpr char kLogAccountNoSasl[] =
    "The server offers no account login (SASL); the account went as the server password.";
inline constexpr char kLogAccountNoCapabilities[] =
    "The server does not negotiate capabilities; the account went as the server password.";
// The server asked (its "sts") to be reached over TLS only.
inline constexpr char kLogStsUpgrade[] = "The server asks to be reached over TLS only: port %1";
inline constexpr char kLogRegistrationTimedOut[] = "The server did not let us on in time";
inline constexpr char kLogRetryAt[] = "No server answered; next pass at %1 (in %2 s)";

// TLS: the secure link's status, a certificate the user has to judge, and one that was refused.
inline constexpr char kConnectedSecurelyTo[] = "Connected to server %1 (TLS).";
inline constexpr char kCertificateChanged[] =
    "The certificate of server %1 has changed! Connection refused.";
inline constexpr char kCertificateRefused[] =
    "The certificate of server %1 is not trusted. Connection refused.";
inline constexpr char kTrustTitle[] = "Unverified Certificate";
inline constexpr char kTrustQuestion[] =
    "The certificate of server %1 could not be verified:\n%2\n\n"
    "SHA-256 fingerprint:\n%3\n\n"
    "Trust this certificate for this server from now on?";

inline constexpr char kLogConnectionEstablished[] = "Connection Established";
inline constexpr char kLogConnectError[] = "connect() error";
inline constexpr char kLogSocketError[] = "socket() error - INVALID_SOCKET";
inline constexpr char kLogSendError[] = "send() error - SOCKET_ERROR";
inline constexpr char kLogRecvError[] = "recv() error (client read)- SOCKET_ERROR";
inline constexpr char kLogCertificateChanged[] =
    "Certificate of %1 does not match its pin: pinned %2, presented %3";
inline constexpr char kLogCertificatePinned[] = "Pinned certificate of %1: %2";
inline constexpr char kLogCertificateRefused[] = "Certificate of %1 not trusted: %2";
inline constexpr char kLogPinNotSaved[] = "Could not save the certificate pin of %1";

inline constexpr char kLogIdentAccepted[] = "Accepted identd connection";
inline constexpr char kLogIdentClosed[] = "identd closed";
inline constexpr char kLogBindError[] = "bind() error";
inline constexpr char kLogListenError[] = "listen() error";
inline constexpr char kLogAcceptError[] = "accept() error - INVALID_SOCKET";
inline constexpr char kLogIdentRecvError[] = "recv() error (identd)- SOCKET_ERROR";
inline constexpr char kLogSendShort[] = "send() error - not enough bytes sent";

inline constexpr char kTitleConnected[] = "Kivvo - v2.0 - %1";
inline constexpr char kTitleIdle[] = "Kivvo v2.0";

inline constexpr char kQuitReasonAtClose[] = "Kivvo is closing...";

// Why an attempt failed, after kLogConnectError in the debug window's info pane.
inline constexpr char kInvalidPort[] = "invalid port %1";
inline constexpr char kHandshakeTimedOut[] = "TLS handshake timed out";

// Presence: debug-window notes, each said once per connection.
inline constexpr char kNotePresenceUnknown[] =
    "The server refuses ISON and offers no MONITOR: contacts' presence is unknown here.";
inline constexpr char kNoteMonitorRefused[] =
    "The server refused MONITOR: asking with ISON every 10 seconds instead.";
inline constexpr char kNoteNotWatched[] =
    "The server's MONITOR list is full and it refuses ISON; not watched: %1";

// CTCP: the names of our queries, their reply boxes' titles (name and suffix) and texts.
inline constexpr char kCtcpFinger[] = "Finger";
inline constexpr char kCtcpVersion[] = "Version";
inline constexpr char kCtcpPing[] = "Ping";
inline constexpr char kCtcpTime[] = "Time";
inline constexpr char kCtcpSource[] = "Source";
inline constexpr char kCtcpReplySuffix[] = " Reply";
inline constexpr char kPingReplySeconds[] = "Ping Reply - %1 seconds";
inline constexpr char kPingReplyMs[] = "Ping Reply - %1 ms";
inline constexpr char kReplyFrom[] = "From %1\n%2";
inline constexpr char kNoReply[] = "No reply from %1 to %2.";

// DCC: an offer refused before anything connects, and why.
inline constexpr char kOfferRefused[] = "DCC offer from %1 refused: %2";
inline constexpr char kRefusedPassiveVoice[] = "voice chats are never passive";
inline constexpr char kRefusedNoPort[] = "it names no port and no token";
inline constexpr char kRefusedLowPort[] = "its port is below 1024";
inline constexpr char kRefusedNoAddress[] = "it names no address";
inline constexpr char kRefusedMulticast[] = "its address is a multicast address";
inline constexpr char kRefusedLinkLocal[] = "its address is a link-local address";
inline constexpr char kRefusedThisMachine[] = "its address is this machine";
inline constexpr char kRefusedReserved[] = "its address is a broadcast or reserved address";
inline constexpr char kRefusedNotHost[] = "its address is not a host address";

} // namespace irc::text
