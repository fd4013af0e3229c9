#include "peer/chat_sessions.h"

#include "diag/debug_log.h"
#include "diag/secret_mask.h"
#include "irc/commands.h"
#include "irc/server_events.h"
#include "peer/chat_deliveries.h"
#include "peer/chat_host.h"
#include "peer/chat_log.h"
#include "peer/chat_text.h"
#include "peer/chat_window.h"
#include "peer/direct_chat_link.h"
#include "peer/peer_key_question.h"
#include "peer/typing_notices.h"

#include <algorithm>

namespace peer {

namespace {

const char kSendError[] = "send() error (CHATWINDOW send) - SOCKET_ERROR";

} // namespace

ChatSessions::ChatSessions(ChatHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{
    m_gate.setNickComparison(
        [this](QByteArrayView a, QByteArrayView b) { return m_host.nicks().same(a, b); });
    m_clock.start();
}

ChatSessions::~ChatSessions()
{
    closeAll();
}

ChatSession* ChatSessions::addRecord(const QByteArray& nick, bool routed, ChatMode mode)
{
    auto record = std::make_unique<ChatSession>();
    record->nick = nick;
    record->serverRouted = routed;
    record->mode = mode;
    return m_records.AppendRecord(std::move(record));
}

void ChatSessions::removeRecord(ChatSession* chat)
{
    delete chat->window.data();
    delete chat->link.data();
    m_records.RemoveRecord(chat);
}

void ChatSessions::closeAll()
{
    // A window and a link both point into their record, so neither may outlive it.
    for (const auto& chat : m_records)
        delete chat->window.data();
    for (const auto& chat : m_records)
        delete chat->link.data();
    m_records.FreeAllRecords();
    m_gate.clear();
}

ChatWindow* ChatSessions::windowOf(const ChatSession& chat) const
{
    return chat.window;
}

ChatWindow* ChatSessions::openWindow(ChatSession& chat, Activation activation)
{
    // Without an owner, as every chat window: it lives beside the main window, not inside it.
    auto* window = new ChatWindow(chat, m_host);
    ChatSession* record = &chat;
    auto noted = std::make_shared<bool>(false);
    log(chat, ChatLog::startedText(chat.nick), *noted);
    connect(window, &ChatWindow::lineShown, this,
            [this, record, noted](const QByteArray& line, const QDateTime& at) {
                if (m_showingLogged)
                    return;
                log(*record, ChatLog::stampedLine(at.isValid() ? at : m_host.nowUtc(), line),
                    *noted);
            });
    connect(window, &ChatWindow::textTyped, this,
            [this, record](const QByteArray& text) { send(*record, text); });
    connect(window, &ChatWindow::endEncryptionAsked, this, [record] {
        if (record->link)
            record->link->endEncryption();
    });
    if (!chat.isDirect()) {
        wireFishActions(window, chat);
        wireExtras(window, chat);
    } else {
        wireLinkComparison(window, chat);
    }
    m_placer->show(window, activation == Activation::Leave ? WindowPlacer::Opener::Network
                                                           : WindowPlacer::Opener::User);
    return window;
}

ChatWindow* ChatSessions::windowFor(ChatSession& chat)
{
    // A direct link outlives its window; what still arrives opens the window again.
    if (ChatWindow* window = windowOf(chat))
        return window;
    return openWindow(chat, Activation::Leave);
}

ChatWindow* ChatSessions::openChat(const QByteArray& nick)
{
    return openWindow(*addRecord(nick, true, ChatMode::Relayed));
}

void ChatSessions::send(ChatSession& chat, const QByteArray& text)
{
    // What the view, and so the log, keep of it: never a password sent to the nick services.
    const QByteArray shown = diag::maskSentText(chat.nick, text);
    if (chat.isDirect()) {
        if (!chat.link || !chat.link->send(text))
            diag::DebugLog(QString::fromLatin1(kSendError));
        if (ChatWindow* window = windowOf(chat))
            window->showLine("<" + m_host.nickInUse() + "> " + shown + "\r\n");
        return;
    }
    // Longer text goes out in several messages rather than being cut by the server.
    const qsizetype room = irc::Command::roomForText("PRIVMSG", chat.nick);
    const QList<QByteArray> pieces =
        m_fish ? m_fish->outgoing(chat.nick, text, room) : splitUtf8(text, int(room));
    // None for a chat whose key cannot be read: the chat says why, no line shows as sent, and
    // what the user wrote waits in the input for a key.
    if (pieces.isEmpty()) {
        if (ChatWindow* window = windowOf(chat))
            window->giveBackInput(text);
        return;
    }
    const std::optional<quint64> id = m_deliveries ? m_deliveries->newLine() : std::nullopt;
    const bool sent = sendRelayed(chat, pieces, id);
    if (!sent)
        diag::DebugLog(QString::fromLatin1(kSendError));
    if (m_typing)
        m_typing->sent(chat.nick);
    ChatWindow* window = windowOf(chat);
    if (!window)
        return;
    const QByteArray line = "<" + m_host.nickInUse() + "> " + shown + "\r\n";
    if (!id) {
        window->showLine(line);
        return;
    }
    m_pendingLines.insert(*id, {window, shown});
    window->showPendingLine(line, *id);
    if (!sent)
        lineDelivered(*id, false);
}

bool ChatSessions::sendRelayed(const ChatSession& chat, const QList<QByteArray>& pieces,
                               std::optional<quint64> id)
{
    bool sent = true;
    for (const QByteArray& piece : pieces) {
        std::optional<QByteArray> line = irc::Command::privmsg(chat.nick, piece);
        if (line && id && m_deliveries) {
            if (const std::optional<QByteArray> label =
                    m_deliveries->sending(*id, chat.nick, piece))
                line = irc::Command::tagged({{"label", *label}}, *line);
        }
        sent = line && m_host.sendServerLine(*line) && sent;
    }
    return sent;
}

void ChatSessions::log(const ChatSession& chat, const QByteArray& text, bool& noted)
{
    logTo(chat.nick, text, noted);
}

void ChatSessions::logUnshown(const QByteArray& nick,
                              const std::vector<NewChatGate::HeldLine>& lines, const QDateTime& at)
{
    const QDateTime stamp = at.isValid() ? at : m_host.nowUtc();
    QByteArray text;
    for (const NewChatGate::HeldLine& line : lines) {
        const QByteArray& who = line.awayEcho ? m_host.nickInUse() : nick;
        text += ChatLog::stampedLine(stamp, "<" + who + "> " + line.text + "\r\n");
    }
    if (!text.isEmpty())
        logTo(nick, text, m_unshownLogNoted);
}

void ChatSessions::logTo(const QByteArray& nick, const QByteArray& text, bool& noted)
{
    if (!m_host.loggingOn())
        return;
    const auto dir = m_host.installDir();
    if (!dir)
        return;
    const auto path = ChatLog::logFilePath(*dir, nick);
    // The chat goes on without its log, but the user learns once that lines are not kept.
    if (path && !ChatLog::append(*path, text) && !noted) {
        noted = true;
        diag::DebugLog(QStringLiteral("Could not write the chat log %1; this chat is not "
                                      "being logged")
                           .arg(*path));
    }
}

DirectChatLink* ChatSessions::makeLink(ChatSession& chat)
{
    auto* link = new DirectChatLink(chat, m_host, this);
    ChatSession* record = &chat;
    connect(link, &DirectChatLink::protectionChanged, this, [this, record] {
        if (ChatWindow* window = windowOf(*record))
            window->protectionChanged();
        sendFishCheck(*record);
    });
    connect(link, &DirectChatLink::connected, this,
            [this, record] { windowFor(*record)->connectionEstablished(); });
    connect(link, &DirectChatLink::peerKeyToAccept, this, [this, record, link] {
        auto* question = new PeerKeyQuestion(record->nick, record->peerFingerprint,
                                             link->ownFingerprint(), nullptr);
        question->overlay(windowFor(*record));
        connect(question, &PeerKeyQuestion::accepted, link, &DirectChatLink::acceptPeerKey);
        connect(question, &PeerKeyQuestion::refused, link, &DirectChatLink::refusePeerKey);
        // A window closed unanswered leaves nobody to accept the link: it goes unused.
        connect(question, &QObject::destroyed, link, [link] {
            if (link->awaitsPeerKey())
                link->close();
        });
    });
    connect(link, &DirectChatLink::textReceived, this, [this, record](const QByteArray& text) {
        if (!fishCheckArrived(*record, text))
            windowFor(*record)->lineArrived(text);
    });
    connect(link, &DirectChatLink::ciphertextReceived, this,
            [this, record](const QByteArray& ciphertext) {
                windowFor(*record)->showCiphertext(ciphertext);
            });
    connect(link, &DirectChatLink::keyChanged, this, [this, record] {
        if (ChatWindow* window = windowOf(*record))
            window->encryptionChanged();
    });
    connect(link, &DirectChatLink::noteShown, this,
            [this, record](const QByteArray& note) { windowFor(*record)->showLine(note); });
    connect(
        link, &DirectChatLink::closed, this,
        [this, record] {
            if (ChatWindow* window = windowOf(*record))
                window->showLine(text::kLinkClosed);
        },
        Qt::SingleShotConnection);
    return link;
}

bool ChatSessions::isContact(const QByteArray& nick) const
{
    const QList<QByteArray> contacts = m_host.contactNicks();
    return std::any_of(contacts.begin(), contacts.end(), [&](const QByteArray& contact) {
        return m_host.nicks().same(contact, nick);
    });
}

bool ChatSessions::mayOpenWindow(const QByteArray& sender, const std::optional<QByteArray>& text,
                                 const std::optional<QByteArray>& awayEcho, const QDateTime& at,
                                 bool unprotected)
{
    if (isContact(sender))
        return true;
    std::vector<NewChatGate::HeldLine> lines;
    if (text)
        lines.push_back({*text, false, unprotected});
    if (awayEcho)
        lines.push_back({*awayEcho, true});
    const int heldBefore = m_gate.heldCount();
    const NewChatGate::Verdict verdict = m_gate.arrive(sender, lines, m_clock.elapsed());
    if (verdict != NewChatGate::Verdict::Open)
        logUnshown(sender, lines, at);
    switch (verdict) {
    case NewChatGate::Verdict::Open:
        return true;
    case NewChatGate::Verdict::Held:
        // The entry lists people: more lines from one already listed change nothing there.
        if (m_gate.heldCount() != heldBefore)
            emit heldChanged();
        return false;
    case NewChatGate::Verdict::DroppedFirst:
        diag::DebugLog(QStringLiteral("Too many people outside the contact list wrote to you; "
                                      "what more of them write is dropped until you open theirs"));
        return false;
    case NewChatGate::Verdict::Dropped:
        return false;
    }
    return false;
}

void ChatSessions::showReleased(ChatWindow* window, const QByteArray& nick)
{
    const std::vector<NewChatGate::HeldLine> lines = m_gate.release(nick);
    m_showingLogged = true;
    for (const NewChatGate::HeldLine& line : lines)
        window->lineArrived(line.text, line.awayEcho, {}, line.unprotected);
    m_showingLogged = false;
    if (!lines.empty())
        emit heldChanged();
}

void ChatSessions::openHeld(const QByteArray& nick)
{
    // Asked for by the user, so it may come up in front; the lines were never shown before.
    ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks());
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    showReleased(window ? window : openChat(nick), nick);
}

void ChatSessions::deliverPrivateText(const QByteArray& sender,
                                      const std::optional<QByteArray>& received,
                                      const std::optional<QByteArray>& awayEcho,
                                      const QDateTime& at)
{
    if (m_typing && received)
        m_typing->messageFrom(sender);
    // Decrypted before anything else sees it: held lines and the log keep the plain text, and
    // what cannot be read is said, never shown as the garbage it would decrypt to.
    std::optional<QByteArray> text = received;
    bool unprotected = false;
    if (text && m_fish) {
        const FishChats::Incoming opened = m_fish->incoming(sender, *text);
        text = fishText::markedText(opened.protection, opened.text);
        unprotected = fishText::isUnprotected(opened.protection);
    }
    ChatSession* chat = FindRoutedChat(m_records, sender, m_host.nicks());
    if (chat && !chat->window) {
        // Its window is gone without closing; nothing may be lost, so a new chat takes over.
        chat->serverRouted = false;
        chat = nullptr;
    }
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    if (!window) {
        if (!mayOpenWindow(sender, text, awayEcho, at, unprotected))
            return;
        window = openWindow(*addRecord(sender, true, ChatMode::Relayed), Activation::Leave);
        // Held before and a contact since: what they wrote then comes first.
        showReleased(window, sender);
    }
    if (text)
        window->lineArrived(*text, false, at, unprotected);
    if (awayEcho)
        window->lineArrived(*awayEcho, true);
    if (!chat)
        emit chatStartedByPeer(sender);
}

void ChatSessions::follow(irc::ServerEvents& events)
{
    connect(&events, &irc::ServerEvents::privateText, this, [this](const irc::PrivateText& line) {
        deliverPrivateText(line.sender.toByteArray(),
                           line.text ? std::optional(line.text->toByteArray()) : std::nullopt,
                           line.awayEcho, line.stamp.at);
    });
}

} // namespace peer
