#include "app/offer_inbox.h"

#include "config/prompter.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "peer/chat_sessions.h"
#include "peer/file_receiver.h"
#include "peer/transfers.h"
#include "peer/voice_chats.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {

namespace {

QString nickText(const QByteArray& nick)
{
    return diag::decodeServerText(nick);
}

} // namespace

OfferInbox::OfferInbox(config::Prompter& prompter, peer::ChatSessions& chats,
                       peer::Transfers& transfers, peer::VoiceChats& voice,
                       ServerOnLoopback serverOnLoopback, QObject* parent)
    : QObject(parent)
    , m_prompter(prompter)
    , m_chats(chats)
    , m_transfers(transfers)
    , m_voice(voice)
    , m_serverOnLoopback(std::move(serverOnLoopback))
{}

void OfferInbox::receive(const irc::DccOffer& offer)
{
    if (const auto refusal = irc::offerRefusal(offer, m_serverOnLoopback())) {
        diag::DebugLog(*refusal);
        return;
    }
    // The answer to a voice chat the user started is part of it: no question, no waiting.
    if (m_voice.answersOurOffer(offer)) {
        m_voice.accept(offer);
        return;
    }
    // So is the answer to a passive offer of ours: the peer listens where it says.
    if (m_transfers.answersOurOffer(offer)) {
        m_transfers.takeAnswer(offer);
        return;
    }
    if (m_chats.answersOurOffer(offer)) {
        m_chats.takeAnswer(offer);
        return;
    }
    if (!offer.token.isEmpty() && offer.port != 0) {
        // An answer to an offer we never made, or no longer wait on.
        diag::DebugLog(QStringLiteral("DCC offer from %1 refused: its token matches no offer of "
                                      "ours")
                           .arg(nickText(offer.sender)));
        return;
    }
    switch (m_pending.tryBegin()) {
    case irc::PendingOffers::Admission::Admitted:
        break;
    case irc::PendingOffers::Admission::RefusedFirst:
        diag::DebugLog(QStringLiteral("Too many DCC offers waiting for an answer; more are "
                                      "refused until they are answered"));
        return;
    case irc::PendingOffers::Admission::Refused:
        return;
    }
    emit attentionNeeded();
    switch (offer.kind) {
    case irc::DccKind::Chat:
        askChat(offer);
        break;
    case irc::DccKind::Send:
        askFile(offer);
        break;
    case irc::DccKind::Voice:
        askVoice(offer);
        break;
    }
    m_pending.end();
}

void OfferInbox::askChat(const irc::DccOffer& offer)
{
    if (m_prompter.ask(m_owner, tr("Accept DCC Chat?"),
                       tr("User \"%1\" wants to DCC chat (secure chat) with you.  Do you want "
                          "to accept?")
                           .arg(nickText(offer.sender))))
        m_chats.acceptOffer(offer);
}

void OfferInbox::askFile(const irc::DccOffer& offer)
{
    const auto name = irc::SafeFileName(offer.fileName);
    if (!name) {
        diag::DebugLog(QStringLiteral("DCC file offer from %1 refused: no usable file name")
                           .arg(nickText(offer.sender)));
        return;
    }
    if (!m_prompter.ask(m_owner, tr("Accept File?"),
                        tr("User \"%1\" wants to send you a file named \"%2\".  Do you want to "
                           "accept?")
                            .arg(nickText(offer.sender), diag::decodeServerText(*name))))
        return;
    // A bare name would land in whatever folder the program was started from.
    const QString proposed = QDir(downloadFolder()).filePath(diag::decodeServerText(*name));
    const auto path = askDestination(proposed);
    if (!path)
        return;
    // What an earlier, broken-off transfer left behind can be carried on from where it ended.
    quint64 resumeFrom = 0;
    const QFileInfo part(peer::FileReceiver::partPath(*path));
    if (part.exists() && part.size() > 0 && quint64(part.size()) < offer.size
        && m_prompter.ask(m_owner, tr("Resume File?"),
                          tr("Part of \"%1\" was received before (%2 of %3 bytes).  Do you want "
                             "to resume it?")
                              .arg(*path)
                              .arg(part.size())
                              .arg(offer.size)))
        resumeFrom = quint64(part.size());
    m_transfers.receive(offer, *path, resumeFrom);
}

std::optional<QString> OfferInbox::askDestination(const QString& proposed)
{
    config::InputRequest request{tr("Please enter a destination filename for the incoming file:"),
                                 tr("Save Incoming File"), proposed, true};
    while (true) {
        auto path = m_prompter.getInput(m_owner, request);
        if (!path || path->isEmpty())
            return std::nullopt;
        // The file is written fresh, so replacing one is the user's decision.
        if (!QFileInfo::exists(*path)
            || m_prompter.ask(
                m_owner, tr("Replace File?"),
                tr("The file \"%1\" already exists.  Do you want to replace it?").arg(*path)))
            return path;
        request.text = *path;
    }
}

QString OfferInbox::downloadFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || folder == QDir::homePath())
        folder = QDir::home().filePath(QStringLiteral("Downloads"));
    QDir().mkpath(folder);
    return folder;
}

void OfferInbox::askVoice(const irc::DccOffer& offer)
{
    if (m_prompter.ask(m_owner, tr("Accept voice chat?"),
                       tr("User \"%1\" wants to voice chat with you.  Do you want to accept?")
                           .arg(nickText(offer.sender))))
        m_voice.accept(offer);
}

} // namespace app
