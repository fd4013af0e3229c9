// The IRCv3 features in the program: what the server granted reaches every part that uses it,
// history batches are taken out before dispatch, and away, typing and delivery are wired from the
// server's lines to the chats and the contact list.
#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "app/program.h"
#include "irc/commands.h"

namespace app {

void Program::takeServerMessage(const irc::Message& message)
{
    if (m_history.isOn()) {
        const irc::HistoryBatches::Taken taken = m_historyBatches.take(message);
        if (taken.finished)
            m_history.batchFinished(*taken.finished, m_link.nickInUse());
        if (taken.kept)
            return;
    }
    m_actions.beginLine(message);
    m_dispatcher.HandleServerLine(message);
}

void Program::wireExtras()
{
    ContactListView* contacts = m_window->contactList();
    m_typing.setSending(m_settings.typing);
    m_typing.setFold([this](const QByteArray& nick) {
        return irc::foldNick(nick, m_nicks.caseMapping().value_or(irc::CaseMapping::Rfc1459));
    });
    m_chats.setDeliveries(&m_deliveries);
    m_chats.setTyping(&m_typing);
    // A batch for a conversation nobody asked for is dropped as it comes, never held.
    m_historyBatches.setWanted(
        [this](const QByteArray& target) { return m_history.isAsked(target); });

    connect(&m_link, &irc::ServerLink::capabilitiesChanged, this,
            [this, contacts](irc::Capabilities capabilities) {
                m_dispatcher.setCapabilities(capabilities);
                m_actions.setCapabilities(capabilities);
                m_deliveries.setCapabilities(capabilities);
                m_typing.setCapabilities(capabilities);
                m_history.setCapabilities(capabilities);
                if (!capabilities.has(irc::Capability::AwayNotify)) {
                    contacts->clearAway();
                    m_chats.clearAway();
                }
            });
    connect(&m_link, &irc::ServerLink::registered, this, [this] {
        m_historyBatches.clear();
        m_history.fetch(m_store.EnumContacts());
    });
    for (auto ended : {&irc::ServerLink::lost, &irc::ServerLink::closedByUser,
                       &irc::ServerLink::attemptFailed}) {
        connect(&m_link, ended, this, [this, contacts] {
            contacts->clearAway();
            m_chats.clearAway();
        });
    }

    connect(&m_actions, &ServerActions::awayArrived, this,
            [this, contacts](const QByteArray& nick, const std::optional<QByteArray>& text) {
                contacts->setAway(nick, text);
                m_chats.setAway(nick, text);
            });
    // The server's word that a watched contact is online says nothing of its absence; away-notify
    // tells only of later changes, so the state at hand is asked for.
    connect(&m_actions, &ServerActions::monitorOnlineArrived, this,
            [this](const QList<QByteArray>& nicks) {
                const irc::Capabilities granted = m_link.capabilities();
                if (!granted.has(irc::Capability::AwayNotify)
                    || !granted.has(irc::Capability::ExtendedMonitor))
                    return;
                for (const QByteArray& line : irc::Command::userhost(nicks))
                    m_link.sendLine(line);
            });
    // Gone is not away: a contact that comes back starts afresh.
    connect(&m_actions, &ServerActions::monitorOfflineArrived, this,
            [this, contacts](const QList<QByteArray>& nicks) {
                for (const QByteArray& nick : nicks) {
                    contacts->setAway(nick, std::nullopt);
                    m_chats.setAway(nick, std::nullopt);
                }
            });
    connect(&m_actions, &ServerActions::typingArrived, &m_typing, &peer::TypingNotices::received);
    connect(&m_typing, &peer::TypingNotices::tagToSend, this,
            [this](const QByteArray& nick, irc::TypingState state) {
                if (const auto line = irc::Command::tagMsg(nick, {irc::typingTag(state)}))
                    m_link.sendLine(*line);
            });
    connect(
        &m_actions, &ServerActions::ownLineEchoedArrived, this,
        [this](const irc::Message& message) { m_deliveries.echoed(message, m_link.nickInUse()); });
    connect(&m_actions, &ServerActions::lineRefusedArrived, &m_deliveries,
            &peer::ChatDeliveries::refused);
    connect(&m_actions, &ServerActions::privateLineStamped, &m_history, &ChatHistory::noteLine);
    connect(&m_history, &ChatHistory::linesMissed, &m_chats, &peer::ChatSessions::showHistory);
}

} // namespace app
