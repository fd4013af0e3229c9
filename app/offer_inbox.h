#pragma once

#include "irc/dcc_offer.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace config {
class Prompter;
}

namespace peer {
class ChatSessions;
class Transfers;
class VoiceChats;
} // namespace peer

namespace irc {
class ServerEvents;
}

namespace app {

// Every DCC offer that arrives: refuses the hostile ones with a note in the debug window, keeps
// the open questions bounded, asks the user, and hands what was accepted to the feature that
// takes it up.
class OfferInbox : public QObject
{
    Q_OBJECT

public:
    using ServerOnLoopback = std::function<bool()>;

    OfferInbox(config::Prompter& prompter, peer::ChatSessions& chats, peer::Transfers& transfers,
               peer::VoiceChats& voice, ServerOnLoopback serverOnLoopback,
               QObject* parent = nullptr);

    // Where an offered file is proposed to go: the user's download folder. It is made only once
    // the user has chosen a file in it.
    static QString downloadFolder();
    // What a question about `offer` shows beside its text: the address and port we would
    // connect to, and whether that is this machine.
    static QString whereText(const irc::DccOffer& offer);
    // Whether the link would be encrypted, and how: plain, TLS, or Blowfish started on the link.
    static QString protectionText(const irc::DccOffer& offer);

    // The window that owns the questions.
    void setOwner(QWidget* owner) { m_owner = owner; }

public slots:
    void receive(const irc::DccOffer& offer);
    // Takes the offers the server brings from now on.
    void follow(irc::ServerEvents& events);

signals:
    // A question is about to be asked: the main window comes to the front.
    void attentionNeeded();
    // The user said no to a chat or file offer (or gave no place for the file): the sender is
    // told, so that it does not wait on.
    void declined(const irc::DccOffer& offer);

private:
    void askChat(const irc::DccOffer& offer);
    void askFile(const irc::DccOffer& offer);
    void askVoice(const irc::DccOffer& offer);
    std::optional<QString> askDestination(const QString& proposed);
    // The position to resume `path` at, or 0 to receive it afresh.
    quint64 askResume(const irc::DccOffer& offer, const QString& path);

    config::Prompter& m_prompter;
    peer::ChatSessions& m_chats;
    peer::Transfers& m_transfers;
    peer::VoiceChats& m_voice;
    ServerOnLoopback m_serverOnLoopback;
    QPointer<QWidget> m_owner;
    irc::PendingOffers m_pending;
};

} // namespace app
