#include "app/program.h"

#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "app/quit_question.h"
#include "app/texts.h"
#include "config/errors.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "diag/debug_log.h"
#include "irc/isupport.h"
#include "irc/texts.h"
#include "peer/chat/chat_log.h"
#include "peer/common/texts.h"
#include "peer/common/window_placer.h"
#include "peer/voice/sound_module.h"
#include "res/resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

namespace app {

namespace {

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
    , m_router(m_events, m_settings, irc::LineRouter::servicesOf(m_link))
    , m_ctcp(m_link, m_events)
    , m_presence([this] { return m_store.EnumContacts(); },
                 [this](const QByteArray& line) { return m_link.sendLine(line); })
    , m_ident([this] { return m_link.nickInUse(); })
    , m_services(m_link, m_events, m_store, m_settings, m_pins, m_nicks,
                 [this](QWidget* parent, const QByteArray& peer) {
                     return makeChatMenuBar(m_commands, parent, peer, m_store.GetInstallDir());
                 })
    , m_fish(m_services, m_chatKeys)
    , m_history(
          m_store, [this](const QByteArray& line) { return m_link.sendLine(line); },
          [this](const QByteArray& nick) { return logPathOf(nick); },
          [this](const QByteArray& nick) { return foldNick(nick); },
          [this](const QByteArray& nick) { return isContact(nick); })
    , m_chats(m_services)
    , m_logSearch(QFileInfo(registry.path()).absoluteDir().filePath(QStringLiteral("log-index.db")))
    , m_chatSearch(m_logSearch, m_chats)
    , m_transfers(m_services)
    , m_sound(options.sound ? std::move(options.sound)
                            : std::make_shared<peer::ModuleSoundSystem>())
    , m_voice(m_services, *m_sound)
    , m_offers(*m_prompter, m_chats, m_transfers, m_voice,
               [this] { return m_link.peerAddress().isLoopback(); })
    , m_tray(options.tray)
    , m_notifier(m_tray.icon())
    , m_window(std::make_unique<MainWindow>(
          m_commands, [this](const QByteArray& bytes) { return m_link.sendRaw(bytes); },
          skinsOf(m_store), titleBarMode(options)))
    , m_identPort(options.identPort)
    , m_windowPosition(options.windowPosition)
{
    // Said once: every later change the user makes fails with a box of its own.
    if (registry.isReadOnly())
        diag::DebugLog(config::errorText(config::Error::StoreReadOnly, registry.path()));
    // An older store's one server password moves to the entry it was always sent to first.
    m_store.migrateServerPass();
    m_link.setPasswordSource(
        [this](const config::ServerEntry& server) { return m_secrets.serverPassword(server); });
    m_link.setTrustQuestion(
        [this](const QByteArray& address, const QString& problems, const QByteArray& fingerprint) {
            return m_prompter->askWarning(m_window.get(), irc::trustTitle(),
                                          irc::trustQuestion(address, problems, fingerprint));
        });
    followTheLink();
    wireWindow();
    m_handlers = std::make_unique<CommandHandlers>(
        CommandHandlers::Parts{m_commands, m_store, m_secrets, *m_prompter, m_link, m_presence,
                               m_ctcp, m_chats, m_transfers, m_voice, m_nicks, *m_window},
        [this] { exitAsked(); }, [this](const config::Settings& s) { applySettings(s); });
    wireTray();
}

// Each part follows what it handles, in this order: a line's listeners run as they follow.
void Program::followTheLink()
{
    m_router.follow(m_link);
    followCaseMapping();
    m_presence.follow(m_link, m_events);
    m_history.follow(m_link, m_events, m_router);
    m_fish.follow(m_events, m_router);
    m_deliveries.follow(m_link, m_events);
    m_typing.follow(m_link, m_events);
    m_chats.follow(m_events);
    m_chatSearch.follow();
    m_transfers.follow(m_events);
    m_offers.follow(m_events);
    m_typing.setSending(m_settings.typing);
    m_typing.setFold([this](const QByteArray& nick) { return foldNick(nick); });
    m_chats.setFish(&m_fish);
    m_chats.setDeliveries(&m_deliveries);
    m_chats.setTyping(&m_typing);
    m_transfers.setFastSend(m_settings.fastsend);
    m_notifier.setEnabled(m_settings.notify);
    connect(this, &Program::settingsChanged, this, [this](const config::Settings& settings) {
        m_link.setSettings(settings);
        m_router.setSettings(settings);
        m_typing.setSending(settings.typing);
        m_notifier.setEnabled(settings.notify);
        m_transfers.setFastSend(settings.fastsend);
        m_ownAway.setSettings(settings);
        m_logSearch.setLogsFolder(logsFolder());
    });
    m_commands.setHandler(Command::Find, [this](auto&) { m_chatSearch.open(); });
    // A declined offer is answered, so that its sender does not wait on.
    connect(&m_offers, &OfferInbox::declined, this, [this](const irc::DccOffer& offer) {
        if (const auto line = irc::formatDccReject(offer))
            m_link.sendLine(*line);
    });
}

Program::~Program()
{
    // The members go in reverse order anyway; this makes the close step's order explicit even
    // when the program ends without one (a test, an early return from main).
    m_handlers.reset();
    m_away.reset();
    m_keyQuestions.reset();
    m_window.reset();
    m_voice.closeAll();
    m_transfers.closeAll();
    m_chats.closeAll();
}

std::optional<QString> Program::logsFolder() const
{
    const std::optional<QString> dir = m_store.GetInstallDir();
    return m_settings.logging && dir ? std::optional(*dir + QStringLiteral("/logs")) : std::nullopt;
}

std::optional<QString> Program::logPathOf(const QByteArray& nick) const
{
    const std::optional<QString> dir = m_store.GetInstallDir();
    return m_settings.logging && dir ? peer::ChatLog::logFilePath(*dir, nick) : std::nullopt;
}

bool Program::isContact(const QByteArray& nick) const
{
    const QList<QByteArray> contacts = m_store.EnumContacts();
    return std::any_of(contacts.begin(), contacts.end(),
                       [&](const QByteArray& contact) { return m_nicks.same(contact, nick); });
}

QByteArray Program::foldNick(const QByteArray& nick) const
{
    return irc::foldNick(nick, m_nicks.caseMapping().value_or(irc::CaseMapping::Rfc1459));
}

void Program::followCaseMapping()
{
    // Private text, answers and resumes go to the chat or transfer of the same user as the
    // server compares nicks, once it has said how; until then, and on each new connection, by the
    // rule each kind of match always had.
    connect(&m_link, &irc::ServerLink::registered, this,
            [this] { m_nicks.setCaseMapping(std::nullopt); });
    connect(&m_events, &irc::ServerEvents::serverSupport, this,
            [this](const QList<QByteArray>& tokens) {
                for (const QByteArray& token : tokens) {
                    if (!token.startsWith("CASEMAPPING="))
                        continue;
                    irc::ServerSupport support;
                    irc::applyIsupportTokens(support, {token});
                    m_nicks.setCaseMapping(support.caseMapping);
                }
            });
}

// The main window shows what the link, the presence and the features report, and forwards what
// the user asks; each feature's own questions go through the prompter over it.
void Program::wireWindow()
{
    MainWindow* window = m_window.get();
    ContactListView* contacts = window->contactList();
    if (m_windowPosition)
        window->move(*m_windowPosition);
    m_offers.setOwner(window);
    m_transfers.setWindowOwner(window);
    m_voice.setWindowOwner(window);
    // One placer for every kind of window, so that a new one keeps clear of all that are open.
    const auto placer = std::make_shared<peer::WindowPlacer>();
    placer->setMainWindow(window);
    m_chats.setPlacer(placer);
    m_transfers.setPlacer(placer);
    m_voice.setPlacer(placer);
    m_commands.setSelection([contacts] { return contacts->selectedContact(); });
    window->setHideWhenMinimised(m_tray.isPresent());
    window->follow(m_link, m_events, m_ctcp, m_presence);
    window->showHeldChats(m_chats.heldSenders());
    connect(&m_link, &irc::ServerLink::batchReceived, this,
            [this](const QList<QByteArrayView>& lines) { m_dump.DumpReceivedLines(lines); });
    m_notifier.follow(m_chats, m_transfers, m_offers);
    // Marked, never brought to the front: the keyboard stays where the user types.
    connect(&m_offers, &OfferInbox::attentionNeeded, window, &MainWindow::flash);
    connect(&m_chats, &peer::ChatSessions::heldChanged, window,
            [this] { m_window->showHeldChats(m_chats.heldSenders()); });
    connect(window, &MainWindow::heldChatRequested, &m_chats, &peer::ChatSessions::openHeld);
    // Held on one link, they are not known on the next.
    for (const auto changed : {&irc::ServerLink::lost, &irc::ServerLink::closedByUser})
        connect(&m_link, changed, &m_chats, &peer::ChatSessions::forgetHeld);
    connect(&m_link, &irc::ServerLink::registered, &m_chats, &peer::ChatSessions::forgetHeld);
    connect(window, &MainWindow::closeRequested, this, &Program::closeStep);
    window->setCloseCheck([this] { return mayExit(); });
    connect(contacts, &ContactListView::chatRequested, this,
            [this](const QByteArray& nick) { m_commands.run(Command::Chat, nick); });
    connect(&m_history, &ChatHistory::linesMissed, &m_chats, &peer::ChatSessions::showHistory);
    m_keyQuestions = std::make_unique<KeyQuestions>(KeyQuestions::Parts{
        *m_prompter, m_store, m_secrets, m_pins, m_fish, m_chats, m_nicks, *contacts, window});
    m_away = std::make_unique<AwayWatch>(m_link, m_events, *contacts, m_chats);
}

void Program::wireTray()
{
    m_tray.setNick(m_settings.nick);
    m_tray.setAway(m_settings.awayset);
    m_tray.follow(m_link);
    connect(&m_tray, &Tray::restoreRequested, m_window.get(), &MainWindow::bringToFront);
    connect(&m_tray, &Tray::exitRequested, this, [this] { m_commands.run(Command::Exit); });
    connect(&m_tray, &Tray::awayRequested, this, [this](bool away) {
        // The away text is set in the options, where it is checked.
        if (away && m_settings.away.isEmpty()) {
            m_commands.run(Command::ProgramSettings);
            return;
        }
        config::Settings settings = m_settings;
        settings.awayset = away;
        if (m_store.SaveSettings(settings))
            applySettings(settings);
    });
    connect(this, &Program::settingsChanged, &m_tray, [this](const config::Settings& settings) {
        m_tray.setNick(settings.nick);
        m_tray.setAway(settings.awayset);
    });
}

bool Program::mayExit()
{
    if (m_closed)
        return true;
    const auto question = quitQuestion(runningWork(m_transfers, m_voice, m_chats));
    return !question || m_prompter->confirm(m_window.get(), *question);
}

void Program::exitAsked()
{
    if (mayExit())
        closeStep();
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
    // On its own thread: the first run indexes every log while the user goes on.
    m_logSearch.setLogsFolder(logsFolder());
    const bool autoconnect = m_store.autoconnectRequested();
    if (autoconnect)
        m_window->setStatusText(QString::fromLatin1(text::kConnectingWait));
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

} // namespace app
