// The handlers of the program's commands, and the menus built from them.
#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/program.h"
#include "app/web_links.h"
#include "config/connect_dialog.h"
#include "config/contact_editor.h"
#include "config/errors.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/settings_dialog.h"
#include "irc/commands.h"
#include "irc/ctcp.h"

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

void Program::registerCommands()
{
    m_commands.setHandler(Command::ConnectCurrent,
                          [this](auto&) { m_link.connectToCurrentServer(); });
    m_commands.setHandler(Command::Disconnect, [this](auto&) { m_link.disconnectFromServer(); });
    m_commands.setHandler(Command::Exit, [this](auto&) { closeStep(); });
    m_commands.setHandler(Command::EditContacts, [this](auto&) {
        config::ContactEditor editor(m_store, *m_prompter, m_window.get());
        editor.exec();
        m_presence.contactsChanged();
    });
    m_commands.setHandler(Command::RemoveSelectedContact, [this](const auto& nick) {
        if (!nick)
            return;
        if (!m_store.RemoveContact(*nick)) {
            m_prompter->showError(
                m_window.get(), config::errorTitle(),
                config::errorText(config::Error::SaveFailed, m_store.registry().path()));
        }
        m_presence.poll();
    });
    for (const QueryCommand& entry : kQueries) {
        const irc::ContactQuery query = entry.query;
        m_commands.setHandler(entry.id, [this, query](const auto& nick) {
            // Without a target nothing goes out: a query to nobody only draws a server error.
            if (!nick)
                return;
            const auto line = irc::buildCtcpQuery(query, *nick, QDateTime::currentSecsSinceEpoch());
            if (line && m_link.sendLine(*line))
                m_actions.queryAsked(*nick, query);
        });
    }
}

void Program::registerChatCommands()
{
    m_commands.setHandler(Command::Chat, [this](const auto& nick) {
        if (nick)
            m_chats.openChat(*nick);
    });
    m_commands.setHandler(Command::DccChat, [this](const auto& nick) {
        if (!nick) {
            m_prompter->showError(m_window.get(), tr("Select Contact"),
                                  tr("You have to select a contact from the list before you "
                                     "can DCC chat with them"));
            return;
        }
        startChatWith(nick, peer::ChatMode::Direct);
    });
    m_commands.setHandler(Command::EncryptedChat, [this](const auto& nick) {
        startChatWith(nick, peer::ChatMode::Encrypted);
    });
    m_commands.setHandler(Command::RelayedChat, [this](const auto& nick) {
        startChatWith(nick, peer::ChatMode::Relayed);
    });
}

void Program::registerTransferCommands()
{
    // From the contact list the selection, from a chat window its peer; without one, nothing.
    const auto sendFile = [this](const CommandTable::Target& nick) {
        if (!nick)
            return;
        // Taken before the dialog, which has the keyboard while it is open.
        const QPointer<const QWidget> from = chatWindowInUse(*nick);
        const auto choice = m_prompter->askFileToSend(m_window.get(), QString::fromUtf8(*nick));
        if (choice)
            m_transfers.offerFile(choice->nick.toUtf8(), choice->path, from.data());
    };
    m_commands.setHandler(Command::SendFile, sendFile);
    m_commands.setHandler(Command::SendFileTo, sendFile);
    m_commands.setHandler(Command::VoiceChat, [this](const CommandTable::Target& nick) {
        if (nick)
            m_voice.start(*nick, chatWindowInUse(*nick));
    });
}

void Program::registerSettingsCommands()
{
    m_commands.setHandler(Command::ProgramSettings, [this](auto&) {
        const std::vector<config::ServerEntry> before = m_store.EnumServers();
        config::SettingsDialog dialog(m_store, *m_prompter, m_link.serverIndex(), nullptr,
                                      &m_secrets);
        const int result = dialog.exec();
        // Its Edit Servers button may have removed entries.
        m_secrets.forgetRemoved(before);
        if (result != QDialog::Accepted)
            return;
        applySettings(m_store.LoadSettings());
        // The server learns the new nick; whether it takes it, its reply says (a collision is
        // handled as at registration).
        m_link.askForNick(m_settings.nick);
    });
    m_commands.setHandler(Command::EditServers, [this](auto&) {
        const std::vector<config::ServerEntry> before = m_store.EnumServers();
        config::ServerEditor editor(m_store, *m_prompter, m_window.get());
        editor.exec();
        m_secrets.forgetRemoved(before);
    });
    m_commands.setHandler(Command::Connect, [this](auto&) {
        config::ConnectDialog dialog(m_store, m_window.get());
        connect(&dialog, &config::ConnectDialog::disconnectRequested, &m_link,
                &irc::ServerLink::disconnectFromServer);
        connect(&dialog, &config::ConnectDialog::connectRequested, this, [this](int index) {
            m_link.setServerIndex(index);
            m_link.connectToCurrentServer();
        });
        dialog.exec();
    });
}

void Program::registerHelpCommands()
{
    // A help item that cannot open says so in the status bar for a while; the connection's
    // status comes back after it.
    const auto tell = [this](const QString& problem) {
        if (!problem.isEmpty())
            m_window->statusBar()->showMessage(problem, kHelpProblemShownMs);
    };
    m_commands.setHandler(Command::Help,
                          [this, tell](auto&) { tell(OpenLocalHelp(m_store.GetInstallDir())); });
    m_commands.setHandler(Command::HelpOnline, [this, tell](auto&) {
        tell(OpenOnlineOrLocalHelp(helpOnlineAddress(), m_store.GetInstallDir()));
    });
    m_commands.setHandler(Command::SupportOnline, [this, tell](auto&) {
        tell(OpenOnlineOrLocalHelp(supportOnlineAddress(), m_store.GetInstallDir()));
    });
}

void Program::startChatWith(const CommandTable::Target& nick, peer::ChatMode mode)
{
    if (nick)
        m_chats.startChat(*nick, mode);
}

QWidget* Program::makeMenuBar(QWidget* parent, const QByteArray& peer)
{
    auto* ctcp = new QMenu(tr("CTCPPopup"), parent);
    for (const QueryCommand& entry : kQueries)
        m_commands.addTargeted(ctcp, entry.id, peer);
    MenuBar::Targets targets;
    targets.chat = m_commands.targeted(parent, Command::RelayedChat, peer);
    targets.sendFile = m_commands.targeted(parent, Command::SendFileTo, peer);
    targets.voiceChat = m_commands.targeted(parent, Command::VoiceChat, peer);
    targets.encryptedChat = m_commands.targeted(parent, Command::EncryptedChat, peer);
    targets.ctcp = ctcp;
    // Each bar reads the picture again, so a skin replaced on disk shows in the next chat.
    return new MenuBar(QStringLiteral("ChatMenuBar"), SkinSet::loadUserMenu(installDir()), targets,
                       MenuBar::Edge::Sunken, parent);
}

} // namespace app
