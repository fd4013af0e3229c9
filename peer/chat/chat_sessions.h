#pragma once

#include "irc/dcc_offer.h"
#include "irc/history_merge.h"
#include "peer/chat/chat_earlier.h"
#include "peer/chat/chat_extras.h"
#include "peer/chat/chat_fish.h"
#include "peer/chat/chat_logger.h"
#include "peer/chat/chat_offers.h"
#include "peer/chat/held_chats.h"
#include "peer/chat/new_chat_gate.h"
#include "peer/common/session_record.h"
#include "peer/common/texts.h"
#include "peer/common/window_placer.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <optional>

namespace irc {
class LineRouter;
class ServerEvents;
class ServerLink;
} // namespace irc

namespace peer {

class ChatDeliveries;
class ChatHost;
class FishChats;
class TypingNotices;
class ChatWindow;

// Every chat of the run: the records, the direct links that belong to them, and their windows.
// A record stays until the program ends (a closed window only stops server text from reaching
// it); a link lives and dies with its record, and windows go before both. It decides what each
// line of a chat is, shows it in the chat's window and logs it; the windows only show and hand
// on what the user does. Its helpers: ChatOffers (direct chats), ChatFish (the relayed chats'
// encryption), ChatExtras (delivery marks, typing, away), ChatLogger (the log) and ChatEarlier
// (what the windows show of it).
class ChatSessions : public QObject
{
    Q_OBJECT

public:
    // Takes the private text the server brings from now on.
    void follow(irc::ServerEvents& events);
    explicit ChatSessions(ChatHost& host, QObject* parent = nullptr);
    ~ChatSessions() override;
    ChatSessions(const ChatSessions&) = delete;
    ChatSessions& operator=(const ChatSessions&) = delete;

    const ChatList& records() const { return m_records; }
    // Shared with the other kinds of window, so that a new one of any kind keeps clear of all.
    void setPlacer(std::shared_ptr<WindowPlacer> placer) { m_placer = std::move(placer); }
    // The window of `chat`, if it is open.
    ChatWindow* windowOf(const ChatSession& chat) const;
    // A window for `chat` (a record of ours; a test's own record too): what the user types in it
    // is sent, and what it shows is logged. A window the user asked for comes up active; one the
    // network brings leaves the keyboard where it is, so that what the user types elsewhere
    // never lands in it.
    enum class Activation { Activate, Leave };
    ChatWindow* openWindow(ChatSession& chat, Activation activation = Activation::Activate);
    // The window of `chat`, opened without the keyboard if it is not: a direct link outlives its
    // window, and what still arrives opens it again.
    ChatWindow* windowFor(ChatSession& chat);

    // A relayed chat with `nick` and its window, with nothing shown yet (a double click).
    ChatWindow* openChat(const QByteArray& nick);
    // People outside the contact list who wrote while the bound on new windows was reached.
    QList<QByteArray> heldSenders() const { return m_held.gate().heldNicks(); }
    // The user asked for the chat of a held sender: it opens with what they wrote.
    void openHeld(const QByteArray& nick);
    // The user chose the line of the log with `nick` at `offset` (a search's result): their chat
    // shows it with the lines around it, opened if need be.
    void showLogged(const QByteArray& nick, qint64 offset);
    // What was held was written on a link that is gone: nobody is held any longer.
    void forgetHeld();
    // A chat started by the user: relayed, or a direct one whose offer goes to `nick` (private
    // when the host says so).
    void startChat(const QByteArray& nick, ChatMode mode) { m_offers.startChat(nick, mode); }
    // An incoming chat offer the user accepted: connects to the offering peer, or, for a
    // passive offer, listens and answers it.
    void acceptOffer(const irc::DccOffer& offer) { m_offers.acceptOffer(offer); }
    // Whether `offer` answers a passive chat offer of ours: the same nick and our token.
    bool answersOurOffer(const irc::DccOffer& offer) const
    {
        return m_offers.answersOurOffer(offer);
    }
    // Connects to the peer that answered our passive offer.
    void takeAnswer(const irc::DccOffer& offer) { m_offers.takeAnswer(offer); }
    // Server text from `sender`, to the chat routed to that nick or to a new one.
    // `at`: when the server says it was sent (server-time); invalid for now.
    void deliverPrivateText(const QByteArray& sender, const std::optional<QByteArray>& text,
                            const std::optional<QByteArray>& awayEcho, const QDateTime& at = {});
    // Lines of the conversation with `nick` that were missed (chathistory), new to the log and in
    // order: shown in its chat, opened if need be without the keyboard, and logged at their time.
    void showHistory(const QByteArray& nick, const QList<irc::HistoryLine>& lines);
    // Whether `nick` is away (away-notify); the chat's title says so.
    void setAway(const QByteArray& nick, const std::optional<QByteArray>& text)
    {
        m_extras.setAway(nick, text);
    }
    void clearAway() { m_extras.clearAway(); }

    // Relayed chats are encrypted with the contacts' keys held here (none: never).
    void setFish(FishChats* fish) { m_fish.setFish(fish); }
    // The relayed lines' delivery marks and the typing notices; none: neither is shown.
    void setDeliveries(ChatDeliveries* deliveries) { m_extras.setDeliveries(deliveries); }
    void setTyping(TypingNotices* typing) { m_extras.setTyping(typing); }

    // The two users compared the private link with `nick` whose certificate is `fingerprint`:
    // the pin says so, and the open links with that certificate may vouch from now on.
    void linkCompared(const QByteArray& nick, const QByteArray& fingerprint)
    {
        m_fish.linkCompared(nick, fingerprint);
    }

    // A line from the peer of `chat` (`awayEcho` false) or the away reply that just went to the
    // peer, shown as the user's own line, in its window (opened if need be, without the
    // keyboard, and flashed) and its log. `at`: when it was said (server-time, history); now
    // when invalid. `unprotected`: it came in clear, or unreadable, during an encrypted chat.
    void lineArrived(ChatSession& chat, const QByteArray& text, bool awayEcho = false,
                     const QDateTime& at = {}, bool unprotected = false);
    // One formatted line (a note, "*...*\r\n", say) in the open window of `chat`, and its log.
    void showLine(ChatSession& chat, const QByteArray& line);
    // The user's line, shown as the user's and logged; `id`: waiting for the server's echo.
    void showOwnLine(ChatSession& chat, const QByteArray& text,
                     std::optional<quint64> id = std::nullopt);
    // The peer connected to our offer: its window says so once the current event is done.
    void connectionEstablished(ChatSession& chat);
    // What protects the direct link of `chat` changed: its window shows it and says so.
    void protectionChanged(ChatSession& chat);
    // The chat routed to `nick`, a new relayed one with its window (without the keyboard) when
    // it has no open window; `opened` says which.
    ChatSession& routedChat(const QByteArray& nick, bool* opened = nullptr);

    // Records of our own chats; a removed one goes with its window and link.
    ChatSession* addRecord(const QByteArray& nick, bool routed, ChatMode mode);
    void removeRecord(ChatSession* chat);

    // Windows first, then links, then records; afterwards there are no chats.
    void closeAll();

signals:
    void failed(peer::ChatError error);
    // A chat window came up (its features may add to it), and a chat log was written to.
    void windowOpened(peer::ChatWindow* window);
    void logWritten(const QString& path);
    // Someone we had no open chat with wrote to us: a new window came up.
    void chatStartedByPeer(const QByteArray& nick);
    // Someone was held or let out: heldSenders() changed.
    void heldChanged();
    // The user asked, in the chat window `over`, for something about the encryption of the
    // relayed chats with `nick` that needs a question: a key to type, or the keys to compare.
    void keyEntryRequested(const QByteArray& nick, QWidget* over);
    void comparisonRequested(const QByteArray& nick, QWidget* over);
    // The user asked, in the private direct chat window `over`, to compare its link: both read
    // `comparison`; a Yes is told to linkCompared() with `fingerprint`, the peer's certificate.
    void linkComparisonRequested(const QByteArray& nick, const QString& comparison,
                                 const QByteArray& fingerprint, QWidget* over);

private:
    // How a line is shown: when it was said (invalid: now), whether it came in clear during an
    // encrypted chat, whether the log has it already (held lines), and the id of the user's line
    // waiting for the server's echo.
    struct Shown
    {
        QDateTime at;
        bool unprotected = false;
        bool logged = false;
        std::optional<quint64> pending;
    };
    // `line` shown in the open window of `chat` and logged: the one way a line reaches both.
    void present(ChatSession& chat, const QByteArray& line, const Shown& how);
    // Who said a line that arrived: the peer, we (a line of ours from the server's history), or
    // our away reply, which says it went by itself.
    enum class Said { ByPeer, ByUs, ByAwayReply };
    void arrived(ChatSession& chat, const QByteArray& text, Said said, const Shown& how);
    // The user's line goes to the peer, through the server or over the link, and is shown.
    void send(ChatSession& chat, const QByteArray& text);
    void notSent(ChatSession& chat, const QByteArray& shown, const QByteArray& text,
                 const char* reason);
    // The PRIVMSG texts of one typed line; `id`: the line's id while the server echoes what we
    // send.
    bool sendRelayed(const ChatSession& chat, const QList<QByteArray>& pieces,
                     std::optional<quint64> id = std::nullopt);
    void showReleased(ChatSession& chat, const QByteArray& nick);

    ChatHost& m_host;
    ChatList m_records;
    std::shared_ptr<WindowPlacer> m_placer = std::make_shared<WindowPlacer>();
    ChatLogger m_logger;
    ChatEarlier m_earlier;
    HeldChats m_held;
    ChatFish m_fish;
    ChatOffers m_offers;
    ChatExtras m_extras;
};

} // namespace peer
