#pragma once

#include "irc/dcc_offer.h"
#include "irc/history_merge.h"
#include "peer/dcc_endpoint.h"
#include "peer/fish_chats.h"
#include "peer/new_chat_gate.h"
#include "peer/session_record.h"
#include "peer/texts.h"
#include "peer/window_placer.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>

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
class TypingNotices;
class ChatWindow;
class DirectChatLink;

// Every chat of the run: the records, the direct links that belong to them, and their windows.
// A record stays until the program ends (a closed window only stops server text from reaching
// it); a link lives and dies with its record, and windows go before both.
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

    // A relayed chat with `nick` and its window, with nothing shown yet (a double click).
    ChatWindow* openChat(const QByteArray& nick);
    // People outside the contact list who wrote while the bound on new windows was reached.
    QList<QByteArray> heldSenders() const { return m_gate.heldNicks(); }
    // The user asked for the chat of a held sender: it opens with what they wrote.
    void openHeld(const QByteArray& nick);
    // A chat started by the user: relayed, or a direct one whose offer goes to `nick` (private
    // when the host says so).
    void startChat(const QByteArray& nick, ChatMode mode);
    // An incoming chat offer the user accepted: connects to the offering peer, or, for a
    // passive offer, listens and answers it.
    void acceptOffer(const irc::DccOffer& offer);
    // Whether `offer` answers a passive chat offer of ours: the same nick and our token.
    bool answersOurOffer(const irc::DccOffer& offer) const;
    // Connects to the peer that answered our passive offer.
    void takeAnswer(const irc::DccOffer& offer);
    // Server text from `sender`, to the chat routed to that nick or to a new one.
    // `at`: when the server says it was sent (server-time); invalid for now.
    void deliverPrivateText(const QByteArray& sender, const std::optional<QByteArray>& text,
                            const std::optional<QByteArray>& awayEcho, const QDateTime& at = {});
    // Lines of the conversation with `nick` that were missed (chathistory), new to the log and in
    // order: shown in its chat, opened if need be without the keyboard, and logged at their time.
    void showHistory(const QByteArray& nick, const QList<irc::HistoryLine>& lines);
    // Whether `nick` is away (away-notify); the chat's title says so.
    void setAway(const QByteArray& nick, const std::optional<QByteArray>& text);
    void clearAway();

    // Relayed chats are encrypted with the contacts' keys held here (none: never).
    void setFish(FishChats* fish);
    // The relayed lines' delivery marks and the typing notices; none: neither is shown.
    void setDeliveries(ChatDeliveries* deliveries);
    void setTyping(TypingNotices* typing);

    // The two users compared the private link with `nick` whose certificate is `fingerprint`:
    // the pin says so, and the open links with that certificate may vouch from now on.
    void linkCompared(const QByteArray& nick, const QByteArray& fingerprint);

    // Windows first, then links, then records; afterwards there are no chats.
    void closeAll();

signals:
    void failed(peer::ChatError error);
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
    ChatSession* addRecord(const QByteArray& nick, bool routed, ChatMode mode);
    void removeRecord(ChatSession* chat);
    // The user's line goes to the peer, through the server or over the link, and is shown.
    void send(ChatSession& chat, const QByteArray& text);
    // The PRIVMSG texts of one typed line; `id`: the line's id while the server echoes what we
    // send.
    bool sendRelayed(const ChatSession& chat, const QList<QByteArray>& pieces,
                     std::optional<quint64> id = std::nullopt);
    // A line shown in a window goes to the chat's log when logging is on; a log that cannot be
    // written is said once per window (`noted`).
    void log(const ChatSession& chat, const QByteArray& text, bool& noted);
    void logTo(const QByteArray& nick, const QByteArray& text, bool& noted);
    // The lines of someone whose window was held or refused: the log is their record, so they
    // are logged as they arrive, and not again when the window shows them.
    void logUnshown(const QByteArray& nick, const std::vector<NewChatGate::HeldLine>& lines,
                    const QDateTime& at);
    // An offer or answer of ours that did not go out: the chat goes, and the user learns why.
    void offerFailed(ChatSession* chat, DccEndpoint::Failure failure);
    bool mayOpenWindow(const QByteArray& sender, const std::optional<QByteArray>& text,
                       const std::optional<QByteArray>& awayEcho, const QDateTime& at,
                       bool unprotected);
    bool isContact(const QByteArray& nick) const;
    void showReleased(ChatWindow* window, const QByteArray& nick);
    ChatWindow* windowFor(ChatSession& chat);
    DirectChatLink* makeLink(ChatSession& chat);
    ChatSession* waitingForAnswer(const irc::DccOffer& offer) const;
    // FiSH: the status pushed into the relayed records of `nick`, a note shown in their
    // window, and the comparison over a compared private link to them.
    void fishStatusChanged(const QByteArray& nick);
    void showFishNote(const QByteArray& nick, const QByteArray& line);
    static bool mayVouch(const ChatSession& chat);
    void sendFishCheck(ChatSession& chat);
    void sendFishChecks(const QByteArray& nick);
    bool fishCheckArrived(ChatSession& chat, const QByteArray& text);
    void wireFishActions(ChatWindow* window, ChatSession& chat);
    void wireLinkComparison(ChatWindow* window, ChatSession& chat);
    // The IRCv3 parts of a relayed chat's window: typing, delivery, away.
    void wireExtras(ChatWindow* window, ChatSession& chat);
    void lineDelivered(quint64 id, bool delivered);
    void showTypingOf(const QByteArray& nick);
    QString windowTitle(const QByteArray& nick) const;

    ChatHost& m_host;
    QPointer<FishChats> m_fish;
    QPointer<ChatDeliveries> m_deliveries;
    QPointer<TypingNotices> m_typing;
    // The user's lines waiting for the server's echo: their window and text.
    struct PendingLine
    {
        QPointer<ChatWindow> window;
        QByteArray text;
    };
    QHash<quint64, PendingLine> m_pendingLines;
    // Contacts away, by folded nick, with their away text.
    QHash<QByteArray, QByteArray> m_away;
    ChatList m_records;
    NewChatGate m_gate;
    // Held lines being shown, logged already when they arrived.
    bool m_showingLogged = false;
    bool m_unshownLogNoted = false;
    QElapsedTimer m_clock;
    std::shared_ptr<WindowPlacer> m_placer = std::make_shared<WindowPlacer>();
};

} // namespace peer
