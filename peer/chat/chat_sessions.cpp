#include "peer/chat/chat_sessions.h"

#include "diag/debug_log.h"
#include "diag/secret_mask.h"
#include "irc/commands.h"
#include "irc/server_events.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/link/private_link.h"

#include <QTimer>

#include <algorithm>

namespace peer {

namespace {

const char kSendError[] = "send() error (CHATWINDOW send) - SOCKET_ERROR";

} // namespace

ChatSessions::ChatSessions(ChatHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_logger(host)
    , m_earlier(m_logger)
    , m_held(host, m_logger)
    , m_fish(*this, host)
    , m_offers(*this, m_fish, host)
    , m_extras(*this, host)
{
    m_logger.written = [this](const QString& path) { emit logWritten(path); };
    connect(&m_offers, &ChatOffers::failed, this, &ChatSessions::failed);
    connect(&m_fish, &ChatFish::keyEntryRequested, this, &ChatSessions::keyEntryRequested);
    connect(&m_fish, &ChatFish::comparisonRequested, this, &ChatSessions::comparisonRequested);
    connect(&m_fish, &ChatFish::linkComparisonRequested, this,
            &ChatSessions::linkComparisonRequested);
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
    m_held.gate().clear();
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
    m_earlier.opened(*window, chat, m_held.gate().logStart(chat.nick));
    connect(window, &ChatWindow::textTyped, this,
            [this, record](const QByteArray& text) { send(*record, text); });
    connect(window, &ChatWindow::endEncryptionAsked, this, [record] {
        if (record->link)
            record->link->endEncryption();
    });
    if (!chat.isDirect()) {
        m_fish.wireWindow(window, chat);
        m_extras.wireWindow(window, chat);
    } else {
        m_fish.wireLinkComparison(window, chat);
    }
    emit windowOpened(window);
    m_placer->show(window, activation == Activation::Leave ? WindowPlacer::Opener::Network
                                                           : WindowPlacer::Opener::User);
    return window;
}

ChatWindow* ChatSessions::windowFor(ChatSession& chat)
{
    if (ChatWindow* window = windowOf(chat))
        return window;
    return openWindow(chat, Activation::Leave);
}

ChatWindow* ChatSessions::openChat(const QByteArray& nick)
{
    return openWindow(*addRecord(nick, true, ChatMode::Relayed));
}

ChatSession& ChatSessions::routedChat(const QByteArray& nick, bool* opened)
{
    ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks());
    const bool open = chat && windowOf(*chat);
    if (opened)
        *opened = !open;
    if (open)
        return *chat;
    chat = addRecord(nick, true, ChatMode::Relayed);
    openWindow(*chat, Activation::Leave);
    return *chat;
}

void ChatSessions::present(ChatSession& chat, const QByteArray& shown, const Shown& how)
{
    ChatWindow* window = windowOf(chat);
    if (!window || shown.isEmpty())
        return;
    // The view, the transcript and the log all take a line break as the end of a line; a nick or
    // a peer that could put one inside would write lines in the user's name.
    const QByteArray line = oneShownLine(shown);
    if (how.pending)
        window->showPendingLine(line, *how.pending);
    else
        window->showLine(line, how.unprotected);
    // Held lines were logged as they arrived.
    if (!how.logged)
        m_earlier.log(chat, line, how.at);
}

void ChatSessions::arrived(ChatSession& chat, const QByteArray& text, Said said, const Shown& how)
{
    // Flashed, never brought up: the keyboard stays where the user is typing, which may be a
    // password field, and the peer chooses when lines arrive.
    windowFor(chat)->flash();
    const QByteArray line = said == Said::ByAwayReply ? autoReplyLine(m_host.nickInUse(), text)
                            : said == Said::ByUs      ? saidLine(m_host.nickInUse(), text)
                                                      : saidLine(chat.nick, text);
    present(chat, line, how);
}

void ChatSessions::lineArrived(ChatSession& chat, const QByteArray& text, bool awayEcho,
                               const QDateTime& at, bool unprotected)
{
    arrived(chat, text, awayEcho ? Said::ByAwayReply : Said::ByPeer,
            {at, unprotected, false, std::nullopt});
}

void ChatSessions::showLine(ChatSession& chat, const QByteArray& line)
{
    present(chat, line, {});
}

void ChatSessions::showOwnLine(ChatSession& chat, const QByteArray& text, std::optional<quint64> id)
{
    ChatWindow* window = windowOf(chat);
    if (!window)
        return;
    Shown how;
    if (id) {
        m_extras.waitForEcho(*id, window, text);
        how.pending = id;
    }
    present(chat, saidLine(m_host.nickInUse(), text), how);
}

void ChatSessions::connectionEstablished(ChatSession& chat)
{
    ChatSession* record = &chat;
    QTimer::singleShot(0, windowFor(chat),
                       [this, record] { showLine(*record, text::kEstablished); });
}

void ChatSessions::protectionChanged(ChatSession& chat)
{
    ChatWindow* window = windowOf(chat);
    if (!window)
        return;
    window->encryptionChanged();
    // A relayed chat says what changed in its own lines.
    if (chat.isDirect())
        showLine(chat,
                 noteLine(protectionText(chat.linkProtection(), chat.peerFingerprint).toUtf8()));
}

void ChatSessions::send(ChatSession& chat, const QByteArray& text)
{
    // What the view, and so the log, keep of it: never a password sent to the nick services.
    const QByteArray shown = diag::maskSentText(chat.nick, text);
    if (chat.isDirect()) {
        // In lines no peer finds too long, as the server's are.
        bool sent = chat.link;
        for (const QByteArray& piece : splitAtWords(text, int(irc::kMaxLineContent)))
            sent = sent && chat.link->send(piece);
        if (!sent)
            return notSent(chat, shown, text,
                           chat.link ? text::kDirectRefused : text::kDirectLinkClosed);
        showOwnLine(chat, shown);
        return;
    }
    // Longer text goes out in several messages rather than being cut by the server.
    const qsizetype room =
        irc::Command::roomForRelayedText("PRIVMSG", chat.nick, m_host.nickInUse());
    const QList<QByteArray> pieces = m_fish.outgoing(chat.nick, text, room);
    // None for a chat whose key cannot be read: the chat says why, no line shows as sent, and
    // what the user wrote waits in the input for a key.
    if (pieces.isEmpty()) {
        if (ChatWindow* window = windowOf(chat))
            window->giveBackInput(text);
        return;
    }
    const std::optional<quint64> id = m_extras.newLine();
    if (!sendRelayed(chat, pieces, id))
        return notSent(chat, shown, text,
                       m_host.serverLinkUp() ? text::kServerRefused : text::kServerLinkDown);
    m_extras.sent(chat.nick);
    showOwnLine(chat, shown, id);
}

void ChatSessions::notSent(ChatSession& chat, const QByteArray& shown, const QByteArray& text,
                           const char* reason)
{
    diag::DebugLog(QString::fromLatin1(kSendError));
    ChatWindow* window = windowOf(chat);
    if (!window)
        return;
    // Never as a line that went: marked as not delivered, with why, and back in the input.
    const QByteArray line = oneShownLine(saidLine(m_host.nickInUse(), shown));
    window->showUnsentLine(line);
    m_earlier.log(chat, line, {});
    showLine(chat, QByteArray(text::kNotSentNote).replace("%1", reason));
    window->giveBackInput(text);
}

bool ChatSessions::sendRelayed(const ChatSession& chat, const QList<QByteArray>& pieces,
                               std::optional<quint64> id)
{
    bool sent = true;
    for (const QByteArray& piece : pieces) {
        std::optional<QByteArray> line = irc::Command::privmsg(chat.nick, piece);
        if (line && id) {
            if (const std::optional<QByteArray> label = m_extras.label(*id, chat.nick, piece))
                line = irc::Command::tagged({{"label", *label}}, *line);
        }
        sent = line && m_host.sendServerLine(*line) && sent;
    }
    return sent;
}

void ChatSessions::showReleased(ChatSession& chat, const QByteArray& nick)
{
    const std::vector<NewChatGate::HeldLine> lines = m_held.gate().release(nick);
    for (const NewChatGate::HeldLine& line : lines)
        arrived(chat, line.text, line.awayEcho ? Said::ByAwayReply : Said::ByPeer,
                {{}, line.unprotected, true, std::nullopt});
    if (!lines.empty())
        emit heldChanged();
}

void ChatSessions::showLogged(const QByteArray& nick, qint64 offset)
{
    // Asked for by the user: the chat comes up in front.
    const ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks());
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    if (window)
        window->activateWindow();
    m_earlier.showAt(window ? *window : *openChat(nick), offset);
}

void ChatSessions::openHeld(const QByteArray& nick)
{
    // Asked for by the user, so it may come up in front; the lines were never shown before.
    ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks());
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    showReleased((window ? window : openChat(nick))->session(), nick);
}

void ChatSessions::deliverPrivateText(const QByteArray& sender,
                                      const std::optional<QByteArray>& received,
                                      const std::optional<QByteArray>& awayEcho,
                                      const QDateTime& at)
{
    if (received)
        m_extras.messageFrom(sender);
    const ChatFish::Opened opened =
        received ? m_fish.incoming(sender, *received) : ChatFish::Opened{};
    const std::optional<QByteArray> text =
        received ? std::optional<QByteArray>(opened.text) : std::nullopt;
    ChatSession* chat = FindRoutedChat(m_records, sender, m_host.nicks());
    if (chat && !chat->window) {
        // Its window is gone without closing; nothing may be lost, so a new chat takes over.
        chat->serverRouted = false;
        chat = nullptr;
    }
    const bool started = !chat;
    if (!chat) {
        const HeldChats::Admission admission =
            m_held.admit(sender, text, awayEcho, at, opened.unprotected);
        if (admission == HeldChats::Admission::KeptNewly)
            emit heldChanged();
        if (admission != HeldChats::Admission::Open)
            return;
        chat = addRecord(sender, true, ChatMode::Relayed);
        openWindow(*chat, Activation::Leave);
        // Held before and a contact since: what they wrote then comes first.
        showReleased(*chat, sender);
    }
    if (text)
        arrived(*chat, *text, Said::ByPeer, {at, opened.unprotected, false, std::nullopt});
    if (awayEcho)
        arrived(*chat, *awayEcho, Said::ByAwayReply, {});
    if (started)
        emit chatStartedByPeer(sender);
}

void ChatSessions::showHistory(const QByteArray& nick, const QList<irc::HistoryLine>& lines)
{
    if (lines.isEmpty())
        return;
    bool opened = false;
    ChatSession& chat = routedChat(nick, &opened);
    for (const irc::HistoryLine& line : lines) {
        const bool ours =
            m_host.nicks().same(line.sender, m_host.nickInUse(), NickRule::Unsaid::IgnoreAsciiCase);
        // Our own lines of an encrypted chat went out sealed with the same key.
        const ChatFish::Opened text = m_fish.incoming(nick, line.text);
        arrived(chat, text.text, ours ? Said::ByUs : Said::ByPeer,
                {line.time, text.unprotected, false, std::nullopt});
    }
    if (opened)
        emit chatStartedByPeer(nick);
}

void ChatSessions::forgetHeld()
{
    if (m_held.gate().heldCount() == 0)
        return;
    m_held.gate().clear();
    emit heldChanged();
}

void ChatSessions::follow(irc::ServerEvents& events)
{
    connect(&events, &irc::ServerEvents::dccReject, &m_offers, &ChatOffers::takeReject);
    // Someone held who has quit is no one to open a chat with.
    connect(&events, &irc::ServerEvents::userQuit, this, [this](const QByteArray& nick) {
        const int before = m_held.gate().heldCount();
        m_held.gate().release(nick);
        if (m_held.gate().heldCount() != before)
            emit heldChanged();
    });
    connect(&events, &irc::ServerEvents::privateText, this, [this](const irc::PrivateText& line) {
        deliverPrivateText(line.sender.toByteArray(),
                           line.text ? std::optional(line.text->toByteArray()) : std::nullopt,
                           line.awayEcho, line.stamp.at);
    });
}

} // namespace peer
