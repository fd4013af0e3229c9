#include "peer/chat/chat_fish.h"

#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/common/texts.h"
#include "peer/crypto/fish_chats.h"
#include "peer/crypto/link_check.h"
#include "peer/link/private_link.h"

namespace peer {

ChatFish::ChatFish(ChatSessions& sessions, ChatHost& host)
    : m_sessions(sessions)
    , m_host(host)
{}

void ChatFish::setFish(FishChats* fish)
{
    m_fish = fish;
    if (!fish)
        return;
    connect(fish, &FishChats::statusChanged, this, &ChatFish::statusChanged);
    connect(fish, &FishChats::noteShown, this, &ChatFish::showNote);
    connect(fish, &FishChats::keyChanged, this, &ChatFish::sendChecks);
}

QList<QByteArray> ChatFish::outgoing(const QByteArray& nick, const QByteArray& text, qsizetype room)
{
    return m_fish ? m_fish->outgoing(nick, text, room) : splitAtWords(text, int(room));
}

ChatFish::Opened ChatFish::incoming(const QByteArray& nick, const QByteArray& text)
{
    // Decrypted before anything else sees it: held lines and the log keep the plain text, and
    // what cannot be read is said, never shown as the garbage it would decrypt to.
    if (!m_fish)
        return {text, false};
    const FishChats::Incoming opened = m_fish->incoming(nick, text);
    return {fishText::markedText(opened.protection, opened.text),
            fishText::isUnprotected(opened.protection)};
}

void ChatFish::wireWindow(ChatWindow* window, ChatSession& chat)
{
    if (m_fish)
        chat.fish = m_fish->status(chat.nick);
    m_sessions.protectionChanged(chat);
    const QByteArray nick = chat.nick;
    connect(window, &ChatWindow::encryptAsked, this, [this, nick] {
        if (m_fish)
            m_fish->startExchange(nick);
    });
    connect(window, &ChatWindow::stopEncryptingAsked, this, [this, nick] {
        if (m_fish)
            m_fish->stopEncrypting(nick);
    });
    connect(window, &ChatWindow::keyEntryAsked, this,
            [this, nick, window] { emit keyEntryRequested(nick, window); });
    connect(window, &ChatWindow::comparisonAsked, this,
            [this, nick, window] { emit comparisonRequested(nick, window); });
}

void ChatFish::statusChanged(const QByteArray& nick)
{
    if (!m_fish)
        return;
    const FishStatus status = m_fish->status(nick);
    for (const auto& chat : m_sessions.records()) {
        if (chat->isDirect()
            || !m_host.nicks().same(chat->nick, nick, NickRule::Unsaid::IgnoreAsciiCase))
            continue;
        chat->fish = status;
        m_sessions.protectionChanged(*chat);
    }
}

void ChatFish::showNote(const QByteArray& nick, const QByteArray& line)
{
    // Said where the user looks for it: the chat with them, opened if need be.
    m_sessions.showLine(m_sessions.routedChat(nick), line);
}

void ChatFish::wireLinkComparison(ChatWindow* window, ChatSession& chat)
{
    ChatSession* record = &chat;
    connect(window, &ChatWindow::linkComparisonAsked, this, [this, record, window] {
        if (!record->isPrivate() || record->tls == LinkProtection::None || !record->link)
            return;
        const LinkEnds ends = record->link->ends();
        emit linkComparisonRequested(record->nick,
                                     linkComparison(ends.ownFingerprint, ends.peerFingerprint),
                                     ends.peerFingerprint, window);
    });
}

void ChatFish::linkCompared(const QByteArray& nick, const QByteArray& fingerprint)
{
    // The certificate pinned by now, if another: the comparison was of a link that has gone.
    const std::optional<QByteArray> pinned = m_host.peerPin(nick);
    if (fingerprint.isEmpty() || (pinned && *pinned != fingerprint))
        return;
    const bool kept = m_host.pinPeer(nick, fingerprint, PinKind::Compared);
    for (const auto& chat : m_sessions.records()) {
        if (!chat->isPrivate() || chat->tls == LinkProtection::None
            || chat->tls == LinkProtection::TlsCompared || chat->peerFingerprint != fingerprint
            || !m_host.nicks().same(chat->nick, nick, NickRule::Unsaid::IgnoreAsciiCase))
            continue;
        if (!kept) {
            m_sessions.showLine(*chat, noteLine(comparisonNotKeptText().toUtf8()));
            continue;
        }
        chat->tls = LinkProtection::TlsCompared;
        m_sessions.protectionChanged(*chat);
        sendCheck(*chat);
    }
}

bool ChatFish::mayVouch(const ChatSession& chat)
{
    // Only a link whose certificate the two users compared can vouch for a key: a first-seen or
    // merely accepted one may belong to whoever stood between us when it was pinned (the server
    // that relayed the offer, say).
    return chat.isPrivate() && chat.tls == LinkProtection::TlsCompared && chat.link;
}

void ChatFish::sendCheck(ChatSession& chat)
{
    if (!m_fish || !mayVouch(chat))
        return;
    if (const auto check = m_fish->checkMessage(chat.nick, chat.link->ends()))
        chat.link->send(*check);
}

void ChatFish::sendChecks(const QByteArray& nick)
{
    for (const auto& chat : m_sessions.records()) {
        if (m_host.nicks().same(chat->nick, nick, NickRule::Unsaid::IgnoreAsciiCase))
            sendCheck(*chat);
    }
}

bool ChatFish::checkArrived(ChatSession& chat, const QByteArray& text)
{
    if (!FishChats::isCheckMessage(text))
        return false;
    // From a link that cannot vouch, it changes nothing: it neither verifies a key nor ends
    // the verification of one.
    if (!m_fish || !mayVouch(chat))
        return true;
    const bool before = m_fish->status(chat.nick).verified;
    m_fish->takeCheck(chat.nick, text, chat.link->ends());
    // Ours may have gone out before our key existed: the answer lets the other side verify too.
    if (!before && m_fish->status(chat.nick).verified)
        sendCheck(chat);
    return true;
}

} // namespace peer
