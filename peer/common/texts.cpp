#include "peer/common/texts.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "peer/crypto/fish_chats.h"
#include "peer/link/dcc_tls.h"

#include <QCoreApplication>

#include <algorithm>

namespace peer {

QString errorTitle(ChatError /*error*/)
{
    return QCoreApplication::translate("peer", "DCC Chat");
}

QString errorText(ChatError error)
{
    switch (error) {
    case ChatError::NoPortForOffer:
        return QCoreApplication::translate(
            "peer", "No port could be opened for a direct chat, so no offer was sent.");
    case ChatError::OfferNotSent:
        return QCoreApplication::translate("peer",
                                           "The chat offer could not be sent to the server.");
    case ChatError::NoIdentity:
        return QCoreApplication::translate(
            "peer", "No certificate for private links could be made, so no offer was sent.");
    }
    return {};
}

QString errorTitle(TransferError /*error*/)
{
    return QCoreApplication::translate("peer", "Error");
}

QString errorText(TransferError error, const QString& detail)
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("peer", text); };
    const auto withDetail = [&](const QString& text) {
        return detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')');
    };
    switch (error) {
    case TransferError::FileUnreadable:
        return tr("Cannot open the file you specified");
    case TransferError::DestinationFailed:
        return tr("There was an error upon trying to open the file you specified.");
    case TransferError::NoPort:
        return tr("No port could be opened for the transfer, so no offer was sent.");
    case TransferError::OfferNotSent:
        return tr("The file offer could not be sent to the server.");
    case TransferError::Cancelled:
        return tr("Transfer cancelled; the file is incomplete.");
    case TransferError::PeerClosed:
        return tr("The connection closed before the whole file was transferred; the file is "
                  "incomplete.");
    case TransferError::ConnectFailed:
        return withDetail(tr("Could not connect to the sender; nothing was received."));
    case TransferError::WriteFailed:
        return withDetail(tr("The received data could not be written; the transfer was stopped "
                             "and the file is incomplete."));
    case TransferError::ReadFailed:
        return withDetail(tr("The file could not be read; the transfer was stopped."));
    case TransferError::BeyondSent:
        return tr("The other side acknowledged more than was sent; the transfer was stopped.");
    case TransferError::PeerRefused:
        return detail.isEmpty() ? tr("The private link was refused.") : detail;
    case TransferError::ResumeUnanswered:
        return tr("The sender did not agree to resume the file; the part received is kept.");
    case TransferError::NoIdentity:
        return tr("No certificate for private links could be made, so no offer was sent.");
    case TransferError::OfferExpired:
        return detail.isEmpty() ? tr("No one connected; the offer has expired.") : detail;
    case TransferError::Declined:
        return detail.isEmpty() ? tr("The offer was declined.") : detail;
    case TransferError::DestinationNotAFile:
        return withDetail(tr("The destination is not a regular file (it is a folder, a link, a "
                             "device or a pipe), so the file is not saved there."));
    case TransferError::RenameFailed:
        return withDetail(tr("The whole file was received, but could not be renamed from its "
                             ".part name."));
    }
    return {};
}

QString errorTitle(VoiceError /*error*/)
{
    return QCoreApplication::translate("peer", "Voice Chat");
}

QString errorText(VoiceError error)
{
    switch (error) {
    case VoiceError::NoPort:
        return QCoreApplication::translate(
            "peer", "No port could be opened for the voice chat, so no offer was sent.");
    case VoiceError::OfferNotSent:
        return QCoreApplication::translate("peer",
                                           "The voice chat offer could not be sent to the server.");
    }
    return {};
}

QString soundModuleFailedText(const QString& path, const QString& detail)
{
    return QCoreApplication::translate("peer",
                                       "Voice chat is not available: the sound module %1 could "
                                       "not be loaded (%2).")
        .arg(path, detail);
}

namespace {

// "3 minutes", "30 seconds", "1 second": whole minutes where the time is some, else seconds,
// never rounded down to nothing.
QString durationText(std::chrono::milliseconds waited)
{
    using namespace std::chrono;
    const auto tr = [](const char* text, int n) {
        return QCoreApplication::translate("peer", text, nullptr, n);
    };
    if (waited >= minutes(1) && waited % minutes(1) == milliseconds(0)) {
        const int count = int(duration_cast<minutes>(waited).count());
        return count == 1 ? tr("1 minute", count) : tr("%n minutes", count);
    }
    const int count = std::max(1, int((waited.count() + 999) / 1000));
    return count == 1 ? tr("1 second", count) : tr("%n seconds", count);
}

} // namespace

QString offerExpiredText(std::chrono::milliseconds waited)
{
    return QCoreApplication::translate("peer", "No one connected within %1; the offer has expired.")
        .arg(durationText(waited));
}

QString offerUnansweredText(const QByteArray& nick, std::chrono::milliseconds waited)
{
    return QCoreApplication::translate("peer",
                                       "No answer from %1 within %2; the offer has expired.")
        .arg(diag::decodeServerText(nick), durationText(waited));
}

QString handshakeTimedOutText(const QString& who, std::chrono::milliseconds waited)
{
    return QCoreApplication::translate(
               "peer", "The private link with %1 did not complete its handshake within %2.")
        .arg(who, durationText(waited));
}

QString peerKeyQuestionText(const QByteArray& nick, const QByteArray& theirFingerprint,
                            const QByteArray& ourFingerprint)
{
    // One line: a nick may not make up the fingerprint lines below it.
    const QString who = diag::escapeControls(diag::decodeServerText(nick));
    return QCoreApplication::translate(
               "peer", "Someone connected as %1 with a certificate not seen before.\n"
                       "Theirs: %2\nOurs: %3\n"
                       "Compare both with %1, by voice or another way you trust, before you "
                       "accept. Nothing goes over the link until then.")
        .arg(who, displayFingerprint(theirFingerprint), displayFingerprint(ourFingerprint));
}

QString peerKeyRefusedText(const QByteArray& nick)
{
    return QCoreApplication::translate("peer",
                                       "You refused the certificate of %1. Connection refused.")
        .arg(diag::decodeServerText(nick));
}

} // namespace peer

namespace peer::fishText {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("peer", text);
}

QString modeName(FishMode mode)
{
    return mode == FishMode::Cbc ? QStringLiteral("FiSH CBC") : QStringLiteral("FiSH ECB");
}

QString nickText(const QByteArray& nick)
{
    return diag::escapeControls(diag::decodeServerText(nick));
}

} // namespace

QString status(const FishStatus& status)
{
    if (status.unreadable && !status.keyed)
        return tr("Encryption key unreadable, nothing is sent");
    if (!status.keyed)
        return status.exchanging ? tr("Not encrypted, key exchange waiting") : tr("Not encrypted");
    const QString how = tr("Encrypted (%1)").arg(modeName(status.mode));
    if (status.typed)
        return tr("%1, key entered by hand").arg(how);
    return status.verified ? tr("%1, verified").arg(how) : tr("%1, key not verified").arg(how);
}

QByteArray lineMark(LineProtection protection)
{
    switch (protection) {
    case LineProtection::None:
    case LineProtection::Encrypted:
        return {};
    case LineProtection::Clear:
        return tr("[not encrypted]").toUtf8();
    case LineProtection::Undecryptable:
        return tr("[an encrypted message that could not be decrypted]").toUtf8();
    case LineProtection::StillEncrypted:
        return tr("[encrypted]").toUtf8();
    }
    return {};
}

QByteArray markedText(LineProtection protection, const QByteArray& text)
{
    const QByteArray mark = lineMark(protection);
    return mark.isEmpty() ? text : text.isEmpty() ? mark : mark + ' ' + text;
}

bool isUnprotected(LineProtection protection)
{
    return protection == LineProtection::Clear || protection == LineProtection::Undecryptable;
}

QString exchangeStarted(const QByteArray& nick)
{
    return tr("Key exchange sent to %1; waiting for their answer").arg(nickText(nick));
}

QString exchangeUnanswered(const QByteArray& nick)
{
    return tr("%1 did not answer the key exchange; nothing changed").arg(nickText(nick));
}

QString exchangeNotSent()
{
    return tr("The key exchange could not be sent to the server");
}

QString keyNotStored()
{
    return tr("The key could not be stored; it holds until the program ends");
}

QString notSentKeyUnreadable()
{
    return tr("Not sent: this chat is encrypted, but its key cannot be read (the desktop's secret "
              "service is locked or failing, or the stored key is damaged), and nothing goes to "
              "this contact in clear. Unlock the secret service and start Kivvo again, or give "
              "the chat a new key with \"Encrypt this chat\" or \"Set key...\"; \"Stop "
              "encrypting\" writes in clear from then on");
}

QString keyChangedUnverified()
{
    return tr("The key changed in a new exchange; it is no longer verified");
}

QString encryptedWith(FishMode mode, const QString& comparison)
{
    return tr("This chat is now encrypted (%1). To verify the key, compare %2 with your contact "
              "by voice or another channel")
        .arg(modeName(mode), comparison);
}

QString keyTyped(FishMode mode)
{
    return tr("This chat is now encrypted (%1) with the key you entered").arg(modeName(mode));
}

QString stopped()
{
    return tr("This chat is no longer encrypted");
}

QString stillEncrypts(const QByteArray& nick)
{
    return tr("%1 still encrypts this chat; Encrypt again?").arg(nickText(nick));
}

QString verifiedByUser()
{
    return tr("You confirmed that the comparison matched: the key is verified");
}

QString verifiedOverLink()
{
    return tr("The key was compared over your private link and matches: the key is verified");
}

QString checkMismatch(const QByteArray& nick)
{
    return tr("%1's program holds another key for this chat: someone may have tampered with the "
              "exchange. Exchange keys again")
        .arg(nickText(nick));
}

QString offerTitle()
{
    return tr("Encrypted Chat");
}

QString offerQuestion(const QByteArray& nick, bool replacesVerified)
{
    if (replacesVerified)
        return tr("%1 wants to encrypt your chat with a new key. Accepting replaces your "
                  "verified key; the new one is not verified until you compare keys again")
            .arg(nickText(nick));
    return tr("%1 wants to encrypt your chat").arg(nickText(nick));
}

QString offerDetails()
{
    return tr("Yes answers their key exchange (DH1080); every line between you is encrypted from "
              "then on. Compare the verification code with them afterwards.");
}

QString keyEntryTitle()
{
    return tr("Set Key");
}

QString keyEntryPrompt(const QByteArray& nick)
{
    return tr("The key you share with %1 (\"cbc:\" before it for CBC):").arg(nickText(nick));
}

QString keyInvalid()
{
    return tr("A key has 1 to 56 characters.");
}

QString compareTitle()
{
    return tr("Compare Keys");
}

QString compareQuestion(const QByteArray& nick, const QString& comparison)
{
    return tr("Read this to %1 by voice or another channel, and have them read theirs:\n\n%2\n\n"
              "A matching key keeps others from reading the chat, but FiSH cannot tell whether a "
              "line arrived whole: one that lost its first 8 bytes, or was cut after any 8, still "
              "reads as an encrypted line.\n\nDo both show the same?")
        .arg(nickText(nick), comparison);
}

QString nothingToCompare()
{
    return tr("This chat's key was entered by hand or is not set, so there is no exchange to "
              "compare.");
}

} // namespace peer::fishText
