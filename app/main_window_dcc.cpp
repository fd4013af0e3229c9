// Direct chats: offers made here, offers received, and the links they become.
#include "app/app_context.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "config/prompter.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/dcc_offer.h"
#include "peer/chat_window.h"
#include "peer/direct_chat_link.h"
#include "peer/session_record.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace app {

namespace {

constexpr char kWaiting[] = "Waiting for user to accept chat connection...\r\n";
constexpr char kEstablished[] = "Connection established.\r\n";
constexpr char kLinkClosed[] = "*The direct connection was closed*\r\n";

QString nickText(const QByteArray& nick)
{
    return diag::decodeServerText(nick);
}

} // namespace

quint32 MainWindow::offerAddress() const
{
    const QHostAddress local = m_context.link.localAddress();
    bool ok = false;
    const quint32 ipv4 = local.toIPv4Address(&ok);
    return irc::GetLocalAddress(m_context.settings.queryip, m_context.serverSeenAddress,
                                ok ? std::optional<quint32>(ipv4) : std::nullopt);
}

void MainWindow::startChat(const QByteArray& nick, bool direct, bool encrypted)
{
    auto record = std::make_unique<peer::ChatSession>();
    record->nick = nick;
    record->serverRouted = true;
    record->isDcc = direct;
    record->encrypted = encrypted;
    peer::ChatSession* chat = m_context.chats.AppendRecord(std::move(record));
    if (direct) {
        auto* link = new peer::DirectChatLink(*chat, this);
        const auto port =
            link->listen(irc::offerPortsToTry(QRandomGenerator::global()->generate()));
        const auto offer = port ? irc::formatChatOffer(nick, offerAddress(), *port) : std::nullopt;
        if (!offer || !m_context.link.sendLine(*offer)) {
            // An offer nobody can take up is worse than none: say so instead.
            delete link;
            m_context.chats.RemoveRecord(chat);
            m_prompter->showError(this, tr("DCC Chat"),
                                  port ? tr("The chat offer could not be sent to the server.")
                                       : tr("No port could be opened for a direct chat, so no "
                                            "offer was sent."));
            return;
        }
        wireLink(link, *chat);
    }
    openChatWindow(*chat)->showLine(kWaiting);
}

void MainWindow::wireLink(peer::DirectChatLink* link, peer::ChatSession& chat)
{
    peer::ChatSession* record = &chat;
    connect(link, &peer::DirectChatLink::connected, this,
            [this, record] { chatWindowFor(*record)->connectionEstablished(); });
    connect(link, &peer::DirectChatLink::textReceived, this,
            [this, record](const QByteArray& text) { chatWindowFor(*record)->lineArrived(text); });
    connect(link, &peer::DirectChatLink::ciphertextReceived, this,
            [this, record](const QByteArray& ciphertext) {
                chatWindowFor(*record)->showCiphertext(ciphertext);
            });
    connect(link, &peer::DirectChatLink::keyChanged, this, [record] {
        if (auto* window = qobject_cast<peer::ChatWindow*>(record->window.data()))
            window->encryptionChanged();
    });
    connect(link, &peer::DirectChatLink::noteShown, this,
            [this, record](const QByteArray& note) { chatWindowFor(*record)->showLine(note); });
    connect(
        link, &peer::DirectChatLink::closed, this,
        [record] {
            if (auto* window = qobject_cast<peer::ChatWindow*>(record->window.data()))
                window->showLine(kLinkClosed);
        },
        Qt::SingleShotConnection);
}

void MainWindow::handleChatRequest(peer::ChatSession* chat, peer::ChatRequest request,
                                   const QByteArray& nick)
{
    switch (request) {
    case peer::ChatRequest::EncryptedChat:
        startChat(nick, true, true);
        break;
    case peer::ChatRequest::RelayedChat:
        startChat(nick, false, false);
        break;
    case peer::ChatRequest::EndEncryption:
        if (auto* link = qobject_cast<peer::DirectChatLink*>(chat->socket.data()))
            link->endEncryption();
        break;
    case peer::ChatRequest::VoiceChat:
    case peer::ChatRequest::SendFile:
        m_lastUnhandled = request == peer::ChatRequest::VoiceChat ? cmd::VoiceChat : cmd::SendFile;
        break;
    }
}

void MainWindow::handleDccOffer(irc::DccKind kind, const QByteArray& line)
{
    const auto offer = irc::parseDccOffer(kind, line);
    if (!offer) {
        diag::DebugLog(QStringLiteral("DCC offer dropped: a field is missing"));
        return;
    }
    const QHostAddress server = m_context.link.peerAddress();
    if (const auto refusal = irc::offerRefusal(*offer, server.isLoopback())) {
        diag::DebugLog(*refusal);
        return;
    }
    switch (m_pendingOffers.tryBegin()) {
    case irc::PendingOffers::Admission::Admitted:
        break;
    case irc::PendingOffers::Admission::RefusedFirst:
        diag::DebugLog(QStringLiteral("Too many DCC offers waiting for an answer; more are "
                                      "refused until they are answered"));
        return;
    case irc::PendingOffers::Admission::Refused:
        return;
    }
    showNormal();
    raise();
    activateWindow();
    switch (kind) {
    case irc::DccKind::Chat:
        acceptChatOffer(*offer);
        break;
    case irc::DccKind::Send:
        acceptFileOffer(*offer);
        break;
    case irc::DccKind::Voice:
        acceptVoiceOffer(*offer);
        break;
    }
    m_pendingOffers.end();
}

void MainWindow::acceptChatOffer(const irc::DccOffer& offer)
{
    if (!m_prompter->ask(this, tr("Accept DCC Chat?"),
                         tr("User \"%1\" wants to DCC chat (secure chat) with you.  Do you want "
                            "to accept?")
                             .arg(nickText(offer.sender))))
        return;
    auto record = std::make_unique<peer::ChatSession>();
    record->nick = offer.sender;
    record->isDcc = true;
    peer::ChatSession* chat = m_context.chats.AppendRecord(std::move(record));
    auto* link = new peer::DirectChatLink(*chat, this);
    wireLink(link, *chat);
    link->connectTo(QHostAddress(offer.address), offer.port);
    openChatWindow(*chat)->showLine(kEstablished);
}

void MainWindow::acceptFileOffer(const irc::DccOffer& offer)
{
    const auto name = irc::SafeFileName(offer.fileName);
    if (!name) {
        diag::DebugLog(QStringLiteral("DCC file offer from %1 refused: no usable file name")
                           .arg(nickText(offer.sender)));
        return;
    }
    if (!m_prompter->ask(this, tr("Accept File?"),
                         tr("User \"%1\" wants to send you a file named \"%2\".  Do you want to "
                            "accept?")
                             .arg(nickText(offer.sender), diag::decodeServerText(*name))))
        return;
    // A bare name would land in whatever folder the program was started from.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString proposed =
        QDir(folder.isEmpty() ? QDir::homePath() : folder).filePath(diag::decodeServerText(*name));
    config::InputRequest request{tr("Please enter a destination filename for the incoming file:"),
                                 tr("Save Incoming File"), proposed, true};
    if (!m_prompter->getInput(this, request))
        return;
    m_prompter->showError(this, tr("File Transfer"),
                          tr("Receiving files is not available in this version yet."));
}

void MainWindow::acceptVoiceOffer(const irc::DccOffer& offer)
{
    if (!m_prompter->ask(this, tr("Accept voice chat?"),
                         tr("User \"%1\" wants to voice chat with you.  Do you want to accept?")
                             .arg(nickText(offer.sender))))
        return;
    m_prompter->showError(this, tr("Voice Chat"),
                          tr("Voice chat is not available in this version yet."));
}

} // namespace app
