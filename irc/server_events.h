#pragma once

#include "irc/capabilities.h"
#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/typing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVarLengthArray>

#include <optional>

namespace irc {

// When the server says a line was sent and under which id (server-time, msgid). Read only once
// server-time is granted: before that a tag is the sender's word, not the server's.
struct LineStamp
{
    QDateTime at; // invalid without one
    QByteArray msgId;

    bool isValid() const { return at.isValid(); }
};
LineStamp lineStamp(const Message& message, Capabilities granted);

// Text sent to us alone (or to a channel we are in) by someone else.
struct PrivateText
{
    QByteArrayView sender;
    std::optional<QByteArrayView> text; // absent when the line carried none
    // The away reply that went out for it, as the user's own line shows it.
    std::optional<QByteArray> awayEcho;
    LineStamp stamp;
};

// Names that view the line they came in.
using NameViews = QVarLengthArray<QByteArrayView, 32>;

// What the server's lines say, as typed events. The line router emits them once each line has
// passed its filters; every feature connects itself to the ones it handles. Views are valid only
// during the call (they view the line being delivered): a receiver that keeps one copies it.
class ServerEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void privateText(const irc::PrivateText& text);
    // A NOTICE to us alone that is no CTCP reply (a key exchange may come so).
    void privateNotice(QByteArrayView sender, QByteArrayView text);
    // A CTCP of the keyword table: a query in a PRIVMSG, a reply in a NOTICE.
    void ctcpQuery(QByteArrayView sender, const irc::Ctcp& query);
    void ctcpReply(QByteArrayView sender, const irc::Ctcp& reply);
    void dccOffer(const irc::DccOffer& offer);
    void dccResume(const irc::DccResume& resume);
    // A peer declined an offer of ours (or says so of one we never made).
    void dccReject(const irc::DccReject& reject);
    // The names of an ISON reply (303), in its order.
    void onlineNames(const irc::NameViews& names);
    // The tokens of an RPL_ISUPPORT (005) line.
    void serverSupport(const QList<QByteArray>& tokens);
    // MONITOR replies: 730 online, 731 offline, 734 not taken (the list is full).
    void monitorOnline(const QList<QByteArray>& nicks);
    void monitorOffline(const QList<QByteArray>& nicks);
    void monitorListFull(const QList<QByteArray>& nicks);
    // 421: the server does not know `command`.
    void commandRefused(const QByteArray& command);
    // `nick` went away with `text` (empty when only the fact is known), or came back.
    void awayChanged(const QByteArray& nick, const std::optional<QByteArray>& text);
    // `nick` left the network (QUIT), as far as the server tells us.
    void userQuit(const QByteArray& nick);
    // A "+typing" tag from `nick` to us alone.
    void typing(const QByteArray& nick, irc::TypingState state);
    // echo-message: a PRIVMSG or NOTICE of ours as the server relayed it, or its ACK.
    void ownLineEchoed(const irc::Message& message, const irc::LineStamp& stamp);
    // An error reply that may refuse a line we sent (no such nick, cannot send, ...).
    void lineRefused(const irc::Message& message);
    // A whois answer (311) about someone; whoisText() words it.
    void whois(const irc::Message& message);
    // Our host as the server sees it (the WHO reply about us), to be resolved without blocking.
    void ownHost(QByteArrayView host);
};

} // namespace irc
