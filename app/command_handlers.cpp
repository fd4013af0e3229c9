#include "app/command_handlers.h"

#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/texts.h"
#include "app/web_links.h"
#include "config/connect_dialog.h"
#include "config/contact_editor.h"
#include "config/errors.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/secret_store.h"
#include "config/server_editor.h"
#include "config/settings_dialog.h"
#include "config/store.h"
#include "irc/commands.h"
#include "irc/ctcp.h"
#include "irc/ctcp_service.h"
#include "irc/presence_poller.h"
#include "irc/server_link.h"
#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/common/texts.h"
#include "peer/transfer/transfers.h"
#include "peer/voice/voice_chats.h"

#include <QApplication>
#include <QDateTime>
#include <QMenu>
#include <QStatusBar>

namespace app {

namespace {

// A help page that cannot be opened says so this long in the status bar.
constexpr int kHelpProblemShownMs = 15000;

struct QueryCommand
{
    Command id;
    irc::ContactQuery query;
};

// The chat window's CTCP menu, in its order.
constexpr QueryCommand kQueries[] = {
    {Command::Whois, irc::ContactQuery::Whois},     {Command::Ping, irc::ContactQuery::Ping},
    {Command::Finger, irc::ContactQuery::Finger},   {Command::Time, irc::ContactQuery::Time},
    {Command::Version, irc::ContactQuery::Version}, {Command::Source, irc::ContactQuery::Source},
};

} // namespace

CommandHandlers::CommandHandlers(Parts parts, std::function<void()> exit,
                                 std::function<void(const config::Settings&)> applySettings,
                                 QObject* parent)
    : QObject(parent)
    , m_parts(parts)
    , m_exit(std::move(exit))
    , m_applySettings(std::move(applySettings))
{
    registerLinkCommands();
    registerChatCommands();
    registerTransferCommands();
    registerSettingsCommands();
    registerHelpCommands();
    showFailures();
}

void CommandHandlers::registerLinkCommands()
{
    m_parts.commands.setHandler(Command::ConnectCurrent,
                                [this](auto&) { m_parts.link.connectToCurrentServer(); });
    m_parts.commands.setHandler(Command::Disconnect,
                                [this](auto&) { m_parts.link.disconnectFromServer(); });
    m_parts.commands.setHandler(Command::Exit, [this](auto&) { m_exit(); });
    m_parts.commands.setHandler(Command::EditContacts, [this](auto&) {
        const int nickLen = m_parts.presence.support().nickLen;
        config::ContactEditor editor(
            m_parts.store, m_parts.prompter, &m_parts.window,
            nickLen == irc::ServerSupport::kNoNickLimit ? config::kUnannouncedNickLength : nickLen);
        editor.exec();
        m_parts.presence.contactsChanged();
    });
    m_parts.commands.setHandler(Command::RemoveSelectedContact, [this](const auto& nick) {
        if (!nick)
            return;
        if (!m_parts.store.RemoveContact(*nick)) {
            m_parts.prompter.showError(
                &m_parts.window, config::errorTitle(),
                config::errorText(config::Error::SaveFailed, m_parts.store.registry().path()));
        }
        m_parts.presence.poll();
    });
    for (const QueryCommand& entry : kQueries) {
        const irc::ContactQuery query = entry.query;
        m_parts.commands.setHandler(entry.id, [this, query](const auto& nick) {
            // Without a target nothing goes out: a query to nobody only draws a server error.
            if (!nick)
                return;
            const auto line = irc::buildCtcpQuery(query, *nick, QDateTime::currentSecsSinceEpoch());
            if (line && m_parts.link.sendLine(*line))
                m_parts.ctcp.queryAsked(*nick, query);
        });
    }
}

void CommandHandlers::registerChatCommands()
{
    m_parts.commands.setHandler(Command::Chat, [this](const auto& nick) {
        if (nick)
            m_parts.chats.openChat(*nick);
    });
    m_parts.commands.setHandler(Command::DccChat, [this](const auto& nick) {
        if (!nick) {
            m_parts.prompter.showError(&m_parts.window, tr(text::kSelectContact),
                                       tr(text::kSelectBeforeDccChat));
            return;
        }
        m_parts.chats.startChat(*nick, peer::ChatMode::Direct);
    });
    m_parts.commands.setHandler(Command::EncryptedChat, [this](const auto& nick) {
        if (nick)
            m_parts.chats.startChat(*nick, peer::ChatMode::Encrypted);
    });
    m_parts.commands.setHandler(Command::RelayedChat, [this](const auto& nick) {
        if (nick)
            m_parts.chats.startChat(*nick, peer::ChatMode::Relayed);
    });
}

void CommandHandlers::registerTransferCommands()
{
    // From the contact list the selection, from a chat window its peer; without one, nothing.
    const auto sendFile = [this](const CommandTable::Target& nick) {
        if (!nick)
            return;
        // Taken before the dialog, which has the keyboard while it is open.
        const QPointer<const QWidget> from = chatWindowInUse(*nick);
        const auto choice =
            m_parts.prompter.askFileToSend(&m_parts.window, QString::fromUtf8(*nick));
        if (choice)
            m_parts.transfers.offerFile(choice->nick.toUtf8(), choice->path, from.data());
    };
    m_parts.commands.setHandler(Command::SendFile, sendFile);
    m_parts.commands.setHandler(Command::SendFileTo, sendFile);
    m_parts.commands.setHandler(Command::VoiceChat, [this](const CommandTable::Target& nick) {
        if (nick)
            m_parts.voice.start(*nick, chatWindowInUse(*nick));
    });
}

void CommandHandlers::registerSettingsCommands()
{
    m_parts.commands.setHandler(Command::ProgramSettings, [this](auto&) {
        const std::vector<config::ServerEntry> before = m_parts.store.EnumServers();
        config::SettingsDialog dialog(m_parts.store, m_parts.prompter, m_parts.link.serverIndex(),
                                      nullptr, &m_parts.secrets);
        const int result = dialog.exec();
        // Its Edit Servers button may have removed entries.
        m_parts.secrets.forgetRemoved(before);
        if (result != QDialog::Accepted)
            return;
        const config::Settings settings = m_parts.store.LoadSettings();
        m_applySettings(settings);
        // The server learns the new nick; whether it takes it, its reply says (a collision is
        // handled as at registration).
        m_parts.link.askForNick(settings.nick);
    });
    m_parts.commands.setHandler(Command::EditServers, [this](auto&) {
        const std::vector<config::ServerEntry> before = m_parts.store.EnumServers();
        config::ServerEditor editor(m_parts.store, m_parts.prompter, &m_parts.window);
        editor.exec();
        m_parts.secrets.forgetRemoved(before);
    });
    m_parts.commands.setHandler(Command::Connect, [this](auto&) {
        config::ConnectDialog dialog(m_parts.store, m_parts.link.serverIndex(), &m_parts.window);
        connect(&dialog, &config::ConnectDialog::disconnectRequested, &m_parts.link,
                &irc::ServerLink::disconnectFromServer);
        connect(&dialog, &config::ConnectDialog::connectRequested, this, [this](int index) {
            m_parts.link.setServerIndex(index);
            m_parts.link.connectToCurrentServer();
        });
        dialog.exec();
    });
}

void CommandHandlers::registerHelpCommands()
{
    // A help item that cannot open says so in the status bar for a while; the connection's
    // status comes back after it.
    const auto tell = [this](const QString& problem) {
        if (!problem.isEmpty())
            m_parts.window.statusBar()->showMessage(problem, kHelpProblemShownMs);
    };
    m_parts.commands.setHandler(
        Command::Help, [this, tell](auto&) { tell(OpenLocalHelp(m_parts.store.GetInstallDir())); });
    m_parts.commands.setHandler(Command::HelpOnline, [this, tell](auto&) {
        tell(OpenOnlineOrLocalHelp(helpOnlineAddress(), m_parts.store.GetInstallDir()));
    });
    m_parts.commands.setHandler(Command::SupportOnline, [this, tell](auto&) {
        tell(OpenOnlineOrLocalHelp(supportOnlineAddress(), m_parts.store.GetInstallDir()));
    });
}

// A feature that could not do what the user asked says so in a box over the main window.
void CommandHandlers::showFailures()
{
    connect(&m_parts.chats, &peer::ChatSessions::failed, this, [this](peer::ChatError error) {
        m_parts.prompter.showError(&m_parts.window, peer::errorTitle(error),
                                   peer::errorText(error));
    });
    connect(&m_parts.transfers, &peer::Transfers::failed, this,
            [this](peer::TransferError error, const QString& detail) {
                m_parts.prompter.showError(&m_parts.window, peer::errorTitle(error),
                                           peer::errorText(error, detail));
            });
    connect(&m_parts.voice, &peer::VoiceChats::failed, this, [this](peer::VoiceError error) {
        m_parts.prompter.showError(&m_parts.window, peer::errorTitle(error),
                                   peer::errorText(error));
    });
    connect(&m_parts.voice, &peer::VoiceChats::alreadyOpen, this, [this] {
        m_parts.prompter.showNotice(&m_parts.window, QString::fromLatin1(peer::kVoiceChatOpenTitle),
                                    QString::fromLatin1(peer::kVoiceChatOpenText));
    });
}

const QWidget* CommandHandlers::chatWindowInUse(const QByteArray& nick) const
{
    // A chat's menu bar names its peer, and the click on it made that chat the active window.
    const auto* chat = qobject_cast<const peer::ChatWindow*>(QApplication::activeWindow());
    return chat && m_parts.nicks.same(chat->session().nick, nick) ? chat : nullptr;
}

QWidget* makeChatMenuBar(CommandTable& commands, QWidget* parent, const QByteArray& peer,
                         const std::optional<QString>& installDir)
{
    auto* ctcp = new QMenu(QObject::tr(text::kCtcpPopup), parent);
    for (const QueryCommand& entry : kQueries)
        commands.addTargeted(ctcp, entry.id, peer);
    MenuBar::Targets targets;
    targets.chat = commands.targeted(parent, Command::RelayedChat, peer);
    targets.sendFile = commands.targeted(parent, Command::SendFileTo, peer);
    targets.voiceChat = commands.targeted(parent, Command::VoiceChat, peer);
    targets.encryptedChat = commands.targeted(parent, Command::EncryptedChat, peer);
    targets.ctcp = ctcp;
    // Each bar reads the picture again, so a skin replaced on disk shows in the next chat.
    return new MenuBar(QStringLiteral("ChatMenuBar"), SkinSet::loadUserMenu(installDir), targets,
                       MenuBar::Edge::Sunken, parent);
}

} // namespace app
