#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// The texts chat windows show about their link, in one place. They are the program's own
// wording and are kept exactly, blanks included.
namespace peer::text {

inline constexpr char kWaiting[] = "Waiting for user to accept chat connection...\r\n";
inline constexpr char kEstablished[] = "Connection established.\r\n";
inline constexpr char kLinkClosed[] = "*The direct connection was closed*\r\n";
// A line of ours the server refused or never echoed.
inline constexpr char kNotDeliveredNote[] = "*Not delivered: %1*\r\n";
// In front of our away reply, so that it does not read as typed.
inline constexpr char kAutoReply[] = "(auto-reply) ";
// The peer said no to our offer (DCC REJECT); the nick is the one it went to.
inline constexpr char kDeclinedFile[] = "%1 declined the file";
inline constexpr char kDeclinedChat[] = "%1 declined the chat";
// The input refused more of what was typed or pasted.
inline constexpr char kInputFull[] =
    "The input holds %1 characters; the rest was not taken. Send this, then the rest";
// A line of ours that never left: why, and that it waits in the input.
inline constexpr char kNotSentNote[] = "*Not sent: %1. It waits in the input.*\r\n";
inline constexpr char kServerLinkDown[] = "not connected to the server";
inline constexpr char kServerRefused[] = "the connection to the server did not take it";
inline constexpr char kDirectLinkClosed[] = "the direct connection is closed";
inline constexpr char kDirectRefused[] = "the direct connection did not take it";

} // namespace peer::text

namespace peer {

// Why a chat could not be started; errorTitle() and errorText() word it for a box.
enum class ChatError { NoPortForOffer, OfferNotSent, NoIdentity };

QString errorTitle(ChatError error);
QString errorText(ChatError error);

// Why a file transfer stopped or could not start.
enum class TransferError {
    FileUnreadable,    // the file to send cannot be opened
    DestinationFailed, // the destination cannot be opened for writing
    NoPort,            // nothing could listen for the peer
    OfferNotSent,
    Cancelled,
    PeerClosed,          // the connection ended before the whole file
    ConnectFailed,       // the peer's offer could not be reached
    WriteFailed,         // the received data could not be stored (disk full, permission)
    ReadFailed,          // the file to send could not be read
    BeyondSent,          // the peer acknowledged data that was never sent
    PeerRefused,         // a private link whose certificate is not the pinned one, or none
    ResumeUnanswered,    // the sender never agreed to resume
    RenameFailed,        // complete, but the finished file could not take its name
    NoIdentity,          // a private offer, but we have no certificate to offer it with
    DestinationNotAFile, // the destination or its part is a folder, a link, a device or a pipe
    OfferExpired,        // nobody connected to our listening socket in time
    Declined,            // the peer said no to our offer (DCC REJECT)
};

QString errorTitle(TransferError error);
// `detail` is the system's own words, where there are any.
QString errorText(TransferError error, const QString& detail = {});

// Why a voice chat could not be offered.
enum class VoiceError { NoPort, OfferNotSent };

QString errorTitle(VoiceError error);
QString errorText(VoiceError error);
// The voice window's line when the sound module at `path` could not be loaded; `detail` is
// the loader's own words.
QString soundModuleFailedText(const QString& path, const QString& detail);

// What the window of an offer says when nobody connected to it within `waited`: "No one
// connected within 3 minutes; the offer has expired."
QString offerExpiredText(std::chrono::milliseconds waited);
// The same for an offer of ours to `nick` that `nick` never took up, whether by connecting or by
// answering a passive one: "No answer from bob within 3 minutes; the offer has expired."
QString offerUnansweredText(const QByteArray& nick, std::chrono::milliseconds waited);
// What a private link's handshake that did not end within `waited` is told with.
QString handshakeTimedOutText(const QString& who, std::chrono::milliseconds waited);

// The question a window asks when a peer connected to our private offer with a certificate we
// have no pin for: theirs and ours, to compare before the link carries anything.
QString peerKeyQuestionText(const QByteArray& nick, const QByteArray& theirFingerprint,
                            const QByteArray& ourFingerprint);
// The refusal of a certificate the user would not accept.
QString peerKeyRefusedText(const QByteArray& nick);

} // namespace peer

namespace peer {

enum class FishMode;
struct FishStatus;
enum class LineProtection;

// What relayed chats say about their encryption.
namespace fishText {

QString status(const FishStatus& status);
// The mark of a received line that was not decrypted with the contact's key, or nothing.
QByteArray lineMark(LineProtection protection);
// A received line's text as shown: its mark, if any, before what it says.
QByteArray markedText(LineProtection protection, const QByteArray& text);
// Whether the line came in clear, or unreadable, in a chat that is encrypted.
bool isUnprotected(LineProtection protection);
QString exchangeStarted(const QByteArray& nick);
QString exchangeUnanswered(const QByteArray& nick);
QString exchangeNotSent();
QString keyNotStored();
// A line the user typed to a contact whose stored key cannot be read: refused, and what to do.
QString notSentKeyUnreadable();
QString keyChangedUnverified();
QString encryptedWith(FishMode mode, const QString& comparison);
QString keyTyped(FishMode mode);
QString stopped();
// A line the contact encrypted came after we stopped: read with the key we had.
QString stillEncrypts(const QByteArray& nick);
QString verifiedByUser();
QString verifiedOverLink();
QString checkMismatch(const QByteArray& nick);
// The question put when a contact starts a key exchange.
QString offerTitle();
// `replacesVerified`: the chat has a verified key, which a Yes replaces.
QString offerQuestion(const QByteArray& nick, bool replacesVerified = false);
QString offerDetails();
// The user's own actions.
QString keyEntryTitle();
QString keyEntryPrompt(const QByteArray& nick);
QString keyInvalid();
QString compareTitle();
QString compareQuestion(const QByteArray& nick, const QString& comparison);
QString nothingToCompare();

} // namespace fishText
} // namespace peer
