#include "app/program.h"

#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/web_links.h"
#include "config/connect_dialog.h"
#include "config/contact_editor.h"
#include "config/errors.h"
#include "config/paths.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/settings_dialog.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/isupport.h"
#include "peer/chat/chat_log.h"
#include "peer/chat/chat_window.h"
#include "peer/common/window_placer.h"
#include "peer/link/private_link.h"
#include "peer/voice/sound_module.h"
#include "res/resources.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace app {

namespace {

constexpr char kConnectingWait[] = "Connecting...please wait";
// How long the automatic connection waits for the secret service's passwords; past it the
// store's copies count, and an answer that comes later still counts for the next attempt.
constexpr int kPasswordReadWaitMs = 3000;

// A Wayland client cannot place its own windows, so there the caption is part of the window.
TitleBar::Mode titleBarMode(const Program::Options& options)
{
    if (options.titleBar)
        return *options.titleBar;
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
               ? TitleBar::Mode::Embedded
               : TitleBar::Mode::Separate;
}

SkinSet skinsOf(const config::Store& store)
{
    // The built-in copies are among the places a skin may come from.
    res::initResources();
    return SkinSet::load(store.GetInstallDir());
}

} // namespace

Program::Program(config::Registry& registry, Options options,
                 std::unique_ptr<config::Prompter> prompter)
    : m_store(registry)
    , m_settings(m_store.LoadSettings())
    , m_prompter(prompter ? std::move(prompter) : std::make_unique<config::WidgetPrompter>())
    , m_dump(QStringLiteral("out.txt"), options.debugDump)
    , m_link(m_store, m_settings)
    , m_actions(m_link)
    , m_dispatcher(m_settings, m_actions)
    , m_presence([this] { return m_store.EnumContacts(); },
                 [this](const QByteArray& line) { return m_link.sendLine(line); })
    , m_ident([this] { return m_link.nickInUse(); })
    , m_fish(*this, m_chatKeys)
    , m_history(
          m_store, [this](const QByteArray& line) { return m_link.sendLine(line); },
          [this](const QByteArray& nick) -> std::optional<QString> {
              const std::optional<QString> dir = installDir();
              return loggingOn() && dir ? peer::ChatLog::logFilePath(*dir, nick) : std::nullopt;
          },
          [this](const QByteArray& nick) {
              return irc::foldNick(nick, m_nicks.caseMapping().value_or(irc::CaseMapping::Rfc1459));
          },
          [this](const QByteArray& nick) {
              const QList<QByteArray> contacts = m_store.EnumContacts();
              return std::any_of(contacts.begin(), contacts.end(), [&](const QByteArray& contact) {
                  return m_nicks.same(contact, nick);
              });
          })
    , m_chats(*this)
    , m_transfers(*this)
    , m_sound(options.sound ? std::move(options.sound)
                            : std::make_shared<peer::ModuleSoundSystem>())
    , m_voice(*this, *m_sound)
    , m_offers(*m_prompter, m_chats, m_transfers, m_voice,
               [this] { return m_link.peerAddress().isLoopback(); })
    , m_tray(options.tray)
    , m_notifier(m_tray.icon())
    , m_window(std::make_unique<MainWindow>(
          m_commands, [this](const QByteArray& bytes) { return m_link.sendRaw(bytes); },
          skinsOf(m_store), titleBarMode(options)))
    , m_identPort(options.identPort)
{
    // Said once: every later change the user makes fails with a box of its own.
    if (registry.isReadOnly())
        diag::DebugLog(config::errorText(config::Error::StoreReadOnly, registry.path()));
    // An older store's one server password moves to the entry it was always sent to first.
    m_store.migrateServerPass();
    m_link.setPasswordSource(
        [this](const config::ServerEntry& server) { return m_secrets.serverPassword(server); });
    if (options.windowPosition)
        m_window->move(*options.windowPosition);
    m_offers.setOwner(m_window.get());
    m_transfers.setWindowOwner(m_window.get());
    m_voice.setWindowOwner(m_window.get());
    // One placer for every kind of window, so that a new one keeps clear of all that are open.
    const auto placer = std::make_shared<peer::WindowPlacer>();
    placer->setMainWindow(m_window.get());
    m_chats.setPlacer(placer);
    m_transfers.setPlacer(placer);
    m_voice.setPlacer(placer);
    m_transfers.setFastSend(m_settings.fastsend);
    m_commands.setSelection([this] { return m_window->contactList()->selectedContact(); });
    wireLink();
    wirePins();
    wireFish();
    wireExtras();
    registerCommands();
    registerChatCommands();
    registerTransferCommands();
    registerSettingsCommands();
    registerHelpCommands();
    m_window->setHideWhenMinimised(m_tray.isPresent());
    connect(&m_tray, &Tray::restoreRequested, m_window.get(), &MainWindow::bringToFront);
    connect(&m_chats, &peer::ChatSessions::chatStartedByPeer, &m_notifier, &Notifier::newChat);
    connect(&m_transfers, &peer::Transfers::transferCompleted, &m_notifier,
            &Notifier::transferCompleted);
    connect(&m_transfers, &peer::Transfers::transferStoppedShort, &m_notifier,
            &Notifier::transferStoppedShort);
    connect(this, &Program::settingsChanged, &m_link, &irc::ServerLink::setSettings);
    m_notifier.setEnabled(m_settings.notify);
    connect(this, &Program::settingsChanged, this, [this](const config::Settings& settings) {
        m_dispatcher.setSettings(settings);
        m_typing.setSending(settings.typing);
        m_notifier.setEnabled(settings.notify);
        m_transfers.setFastSend(settings.fastsend);
    });
}

Program::~Program()
{
    // The members go in reverse order anyway; this makes the close step's order explicit even
    // when the program ends without one (a test, an early return from main).
    m_window.reset();
    m_voice.closeAll();
    m_transfers.closeAll();
    m_chats.closeAll();
}

void Program::wireLink()
{
    MainWindow* window = m_window.get();
    connect(&m_link, &irc::ServerLink::statusChanged, window, &MainWindow::showLinkStatus);
    connect(&m_link, &irc::ServerLink::registered, window, &MainWindow::showNick);
    connect(&m_link, &irc::ServerLink::closedByUser, window, &MainWindow::showDisconnected);
    connect(&m_link, &irc::ServerLink::batchReceived, this,
            [this](const QList<QByteArrayView>& lines) { m_dump.DumpReceivedLines(lines); });
    connect(&m_link, &irc::ServerLink::messageReceived, this, &Program::takeServerMessage);
    connect(&m_link, &irc::ServerLink::lineReceived, this, &Program::onServerLine);
    m_link.setTrustQuestion(
        [this](const QByteArray& address, const QString& problems, const QByteArray& fingerprint) {
            return m_prompter->askWarning(m_window.get(), irc::trustTitle(),
                                          irc::trustQuestion(address, problems, fingerprint));
        });
    wirePresence();
    wireArrivals();
}

void Program::wirePresence()
{
    MainWindow* window = m_window.get();
    connect(&m_link, &irc::ServerLink::registered, &m_presence, &irc::PresencePoller::start);
    connect(&m_link, &irc::ServerLink::attemptFailed, &m_presence, &irc::PresencePoller::stop);
    connect(&m_link, &irc::ServerLink::lost, &m_presence, &irc::PresencePoller::stop);
    connect(&m_link, &irc::ServerLink::closedByUser, &m_presence, &irc::PresencePoller::stop);
    connect(&m_actions, &ServerActions::onlineNamesArrived, &m_presence,
            &irc::PresencePoller::takeReply);
    connect(&m_presence, &irc::PresencePoller::onlineChanged, window->contactList(),
            &ContactListView::showOnline);
    connect(&m_presence, &irc::PresencePoller::noContacts, window->contactList(),
            &ContactListView::showHint);
    connect(&m_presence, &irc::PresencePoller::presenceUnknown, window->contactList(),
            &ContactListView::showUnknown);
    connect(&m_presence, &irc::PresencePoller::caseMappingChanged, window->contactList(),
            &ContactListView::setCaseMapping);
    connect(&m_actions, &ServerActions::serverSupportArrived, &m_presence,
            &irc::PresencePoller::takeSupport);
    // Private text, answers and resumes go to the chat or transfer of the same user as the
    // server compares nicks, once it has said how; until then, and on each new connection, by the
    // rule each kind of match always had.
    connect(&m_link, &irc::ServerLink::registered, this, [this] {
        m_nicks.setCaseMapping(std::nullopt);
        m_actions.forgetQueries();
    });
    connect(&m_actions, &ServerActions::serverSupportArrived, this,
            [this](const QList<QByteArray>& tokens) {
                for (const QByteArray& token : tokens) {
                    if (!token.startsWith("CASEMAPPING="))
                        continue;
                    irc::ServerSupport support;
                    irc::applyIsupportTokens(support, {token});
                    const irc::CaseMapping mapping = support.caseMapping;
                    m_actions.setCaseMapping(mapping);
                    m_nicks.setCaseMapping(mapping);
                }
            });
    connect(&m_actions, &ServerActions::monitorOnlineArrived, &m_presence,
            &irc::PresencePoller::takeMonitorOnline);
    connect(&m_actions, &ServerActions::monitorOfflineArrived, &m_presence,
            &irc::PresencePoller::takeMonitorOffline);
    connect(&m_actions, &ServerActions::monitorListFullArrived, &m_presence,
            &irc::PresencePoller::takeMonitorFull);
    connect(&m_actions, &ServerActions::commandRefusedArrived, &m_presence,
            &irc::PresencePoller::takeRefusal);
}

// What the server brings for the windows and the features, and what they report back.
void Program::wireArrivals()
{
    MainWindow* window = m_window.get();
    connect(&m_link, &irc::ServerLink::nickChanged, window, &MainWindow::showNick);
    connect(&m_actions, &ServerActions::whoisArrived, window, &MainWindow::showWhois);
    connect(&m_actions, &ServerActions::ctcpReplyArrived, window, &MainWindow::showCtcpReply);
    connect(&m_actions, &ServerActions::ownAddressResolved, this,
            [this](quint32 address) { m_serverSeenAddress = address; });
    connect(&m_actions, &ServerActions::privateTextArrived, &m_chats,
            &peer::ChatSessions::deliverPrivateText);
    connect(&m_actions, &ServerActions::dccOfferArrived, &m_offers, &OfferInbox::receive);
    connect(&m_actions, &ServerActions::dccResumeArrived, &m_transfers,
            &peer::Transfers::takeResume);
    // Marked, never brought to the front: the keyboard stays where the user types.
    connect(&m_offers, &OfferInbox::attentionNeeded, &m_notifier, &Notifier::offerWaiting);
    connect(&m_offers, &OfferInbox::attentionNeeded, window, &MainWindow::flash);
    connect(&m_chats, &peer::ChatSessions::heldChanged, window,
            [this] { m_window->showHeldChats(m_chats.heldSenders()); });
    connect(window, &MainWindow::heldChatRequested, &m_chats, &peer::ChatSessions::openHeld);

    connect(window, &MainWindow::closeRequested, this, &Program::closeStep);
    connect(window->contactList(), &ContactListView::chatRequested, this,
            [this](const QByteArray& nick) { m_commands.run(Command::Chat, nick); });
    connect(&m_chats, &peer::ChatSessions::failed, this, [this](peer::ChatError error) {
        m_prompter->showError(m_window.get(), peer::errorTitle(error), peer::errorText(error));
    });
    connect(&m_transfers, &peer::Transfers::failed, this,
            [this](peer::TransferError error, const QString& detail) {
                m_prompter->showError(m_window.get(), peer::errorTitle(error),
                                      peer::errorText(error, detail));
            });
    connect(&m_voice, &peer::VoiceChats::failed, this, [this](peer::VoiceError error) {
        m_prompter->showError(m_window.get(), peer::errorTitle(error), peer::errorText(error));
    });
    connect(&m_voice, &peer::VoiceChats::alreadyOpen, this, [this] {
        m_prompter->showNotice(m_window.get(), QString::fromLatin1(peer::kVoiceChatOpenTitle),
                               QString::fromLatin1(peer::kVoiceChatOpenText));
    });
}

void Program::applySettings(const config::Settings& settings)
{
    m_settings = settings;
    emit settingsChanged(m_settings);
}

void Program::start()
{
    // Servers may ask who we are before registration completes: answer from the start.
    if (m_identPort)
        m_ident.start(*m_identPort);
    const bool autoconnect = m_store.autoconnectRequested();
    if (autoconnect)
        m_window->setStatusText(QString::fromLatin1(kConnectingWait));
    if (!m_secrets.isActive()) {
        if (autoconnect)
            connectWhenPasswordsRead();
        return;
    }
    if (autoconnect) {
        connect(&m_secrets, &config::SecretStore::loaded, this, &Program::connectWhenPasswordsRead);
        QTimer::singleShot(kPasswordReadWaitMs, this, &Program::connectWhenPasswordsRead);
    }
    m_secrets.load();
}

void Program::connectWhenPasswordsRead()
{
    // Posted once, by whichever comes first: the last answer or the end of the wait.
    if (m_autoconnectPosted)
        return;
    m_autoconnectPosted = true;
    QMetaObject::invokeMethod(
        this, [this] { m_commands.run(Command::ConnectCurrent, std::nullopt); },
        Qt::QueuedConnection);
}

void Program::showAtStart(bool hidden)
{
    if (!hidden || !m_tray.isPresent())
        m_window->show();
}

void Program::onServerLine(QByteArrayView line)
{
    m_window->logServerLine(line);
}

void Program::closeStep()
{
    if (m_closed)
        return;
    m_closed = true;
    m_tray.remove();
    m_presence.stop();
    m_link.quitForClose();
    m_ident.stop();
    m_voice.closeAll();
    m_transfers.closeAll();
    m_chats.closeAll();
    m_fish.closeAll();
    emit closeStepDone();
    QCoreApplication::quit();
}

void Program::wirePins()
{
    ContactListView* contacts = m_window->contactList();
    contacts->setPinCheck([this](const QByteArray& nick) { return m_pins.find(nick).has_value(); });
    connect(contacts, &ContactListView::forgetKeyRequested, this, [this](const QByteArray& nick) {
        if (!m_pins.forget(nick)) {
            m_prompter->showError(
                m_window.get(), config::errorTitle(),
                config::errorText(config::Error::SaveFailed, m_store.registry().path()));
            return;
        }
        diag::DebugLog(QStringLiteral("The private link key of %1 was forgotten; the next private "
                                      "link with them starts afresh.")
                           .arg(diag::decodeServerText(nick)));
    });
    connect(&m_chats, &peer::ChatSessions::linkComparisonRequested, this,
            [this](const QByteArray& nick, const QString& comparison, const QByteArray& fingerprint,
                   QWidget* over) {
                if (m_prompter->ask(over, peer::linkCompareTitle(),
                                    peer::linkCompareQuestion(nick, comparison)))
                    m_chats.linkCompared(nick, fingerprint);
            });
}

} // namespace app
