#pragma once

#include "app/away_watch.h"
#include "app/chat_history.h"
#include "app/chat_keys.h"
#include "app/command_handlers.h"
#include "app/command_table.h"
#include "app/contact_pins.h"
#include "app/key_questions.h"
#include "app/notifier.h"
#include "app/offer_inbox.h"
#include "app/own_away.h"
#include "app/peer_services.h"
#include "app/title_bar.h"
#include "app/tray.h"
#include "config/prompter.h"
#include "config/secret_store.h"
#include "config/settings.h"
#include "config/store.h"
#include "diag/received_dump.h"
#include "irc/ctcp_service.h"
#include "irc/ident_responder.h"
#include "irc/line_router.h"
#include "irc/presence_poller.h"
#include "irc/server_events.h"
#include "irc/server_link.h"
#include "peer/chat/chat_deliveries.h"
#include "peer/chat/chat_sessions.h"
#include "peer/chat/typing_notices.h"
#include "peer/crypto/fish_chats.h"
#include "peer/search/chat_search.h"
#include "peer/search/log_search.h"
#include "peer/transfer/transfers.h"
#include "peer/voice/voice_chats.h"

#include <QObject>

#include <memory>

namespace config {
class Registry;
}

namespace app {

class MainWindow;

// The composition root: builds every part of the running program in one order, each part wiring
// itself to the link, the line events and the services it is given, and takes them down in one
// fixed order (windows, then links and sockets, then records), so that nothing outlives what it
// points to.
class Program : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        bool debugDump = false; // the "DEBUG" word: received lines go to out.txt
        // Where the ident responder listens; none without a port (tests that run many).
        std::optional<quint16> identPort;
        // Where voice chats get their sound devices; when null, the system's default devices
        // through the sound module, which the first voice chat loads (peer::ModuleSoundSystem).
        std::shared_ptr<peer::SoundSystem> sound;
        Tray::Availability tray = Tray::Availability::Detect;
        // The title bar's kind; by the windowing system when not given.
        std::optional<TitleBar::Mode> titleBar;
        // Where the main window's top-left corner goes instead of the screen's middle
        // (KIVVO_WINDOW_POSITION), so that two programs started together do not cover each other.
        std::optional<QPoint> windowPosition;
    };

    // `prompter` answers the questions; the real dialogs when null.
    Program(config::Registry& registry, Options options,
            std::unique_ptr<config::Prompter> prompter = nullptr);
    ~Program() override;

    // What the program does by itself once it exists: the automatic connection.
    void start();
    // Shows the main window, unless asked to start `hidden` in the tray. Without a tray there is
    // nothing to come back from, so the window shows anyway.
    void showAtStart(bool hidden);

    MainWindow& window() const { return *m_window; }
    CommandTable& commands() { return m_commands; }
    peer::ChatSessions& chats() { return m_chats; }
    peer::ChatSearch& chatSearch() { return m_chatSearch; }
    peer::LogSearch& logSearch() { return m_logSearch; }
    peer::FishChats& fish() { return m_fish; }
    peer::ChatDeliveries& deliveries() { return m_deliveries; }
    peer::TypingNotices& typing() { return m_typing; }
    peer::Transfers& transfers() { return m_transfers; }
    peer::VoiceChats& voiceChats() { return m_voice; }
    Tray& tray() { return m_tray; }
    Notifier& notifier() { return m_notifier; }
    irc::ServerLink& link() { return m_link; }
    irc::ServerEvents& events() { return m_events; }
    irc::CtcpService& ctcp() { return m_ctcp; }
    config::Store& store() { return m_store; }
    config::SecretStore& secrets() { return m_secrets; }
    const config::Settings& settings() const { return m_settings; }
    // Our IPv4 address as the server sees it, host byte order; 0 until the WHO reply resolves.
    quint32 serverSeenAddress() const { return m_services.serverSeenAddress(); }

public slots:
    // The close step of Exit, the close box, SIGTERM and SIGINT; runs once.
    void closeStep();
    // Exit from a menu or the close box: asks first when it would end a transfer, a voice chat
    // or a direct chat, then the close step.
    void exitAsked();
    // New settings (from the options dialog): every part that reads them gets them at once.
    void applySettings(const config::Settings& settings);

signals:
    void closeStepDone();
    void settingsChanged(const config::Settings& settings);

private:
    QByteArray foldNick(const QByteArray& nick) const;
    // Where the chat logs are, when logging is on.
    std::optional<QString> logsFolder() const;
    // Where the chat log with `nick` is, when logging is on.
    std::optional<QString> logPathOf(const QByteArray& nick) const;
    bool isContact(const QByteArray& nick) const;
    void followTheLink();
    void followCaseMapping();
    void wireWindow();
    void connectWhenPasswordsRead();
    void wireTray();
    // Whether nothing would end, or the user said to end it.
    bool mayExit();

    // Declared in the order of construction; destroyed the other way round, the main window
    // first and the store last.
    config::Store m_store;
    config::SecretStore m_secrets{m_store};
    ContactPins m_pins{m_store};
    config::Settings m_settings;
    // How chats, transfers and voice chats compare nicks: the server's CASEMAPPING once said.
    // Made before them and gone after them, since they ask it until their last record goes.
    peer::NickRule m_nicks;
    std::unique_ptr<config::Prompter> m_prompter;
    diag::ReceivedDump m_dump;
    irc::ServerLink m_link;
    irc::ServerEvents m_events;
    irc::LineRouter m_router;
    irc::CtcpService m_ctcp;
    irc::PresencePoller m_presence;
    irc::IdentResponder m_ident;
    CommandTable m_commands;
    PeerServices m_services;
    ChatKeys m_chatKeys{m_store, m_secrets};
    // Before the chats, which ask it until their last record goes.
    peer::FishChats m_fish;
    peer::ChatDeliveries m_deliveries;
    peer::TypingNotices m_typing;
    ChatHistory m_history;
    peer::ChatSessions m_chats;
    peer::LogSearch m_logSearch;
    peer::ChatSearch m_chatSearch;
    peer::Transfers m_transfers;
    std::shared_ptr<peer::SoundSystem> m_sound;
    peer::VoiceChats m_voice;
    OfferInbox m_offers;
    Tray m_tray;
    Notifier m_notifier;
    OwnAway m_ownAway{m_link, m_settings};
    // Made once the main window is, whose parts they act on or ask over.
    std::unique_ptr<KeyQuestions> m_keyQuestions;
    std::unique_ptr<AwayWatch> m_away;
    std::unique_ptr<CommandHandlers> m_handlers;
    std::unique_ptr<MainWindow> m_window;
    bool m_closed = false;
    bool m_autoconnectPosted = false;
    std::optional<quint16> m_identPort;
    std::optional<QPoint> m_windowPosition;
};

} // namespace app
