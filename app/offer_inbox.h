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

    OfferInbox(config::Prompter& prompter, peer::ChatSessions& chats,
               ServerOnLoopback serverOnLoopback, QObject* parent = nullptr);

    // The window that owns the questions.
    void setOwner(QWidget* owner) { m_owner = owner; }

public slots:
    void receive(const irc::DccOffer& offer);

signals:
    // A question is about to be asked: the main window comes to the front.
    void attentionNeeded();

private:
    void askChat(const irc::DccOffer& offer);
    void askFile(const irc::DccOffer& offer);
    void askVoice(const irc::DccOffer& offer);

    config::Prompter& m_prompter;
    peer::ChatSessions& m_chats;
    ServerOnLoopback m_serverOnLoopback;
    QPointer<QWidget> m_owner;
    irc::PendingOffers m_pending;
};

} // namespace app
