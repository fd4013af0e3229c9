#pragma once

#include "app/command_table.h"

#include <QObject>

#include <functional>
#include <optional>

namespace config {
class Prompter;
class SecretStore;
class Store;
struct Settings;
} // namespace config

namespace irc {
class CtcpService;
class PresencePoller;
class ServerLink;
} // namespace irc

namespace peer {
class ChatSessions;
class NickRule;
class Transfers;
class VoiceChats;
} // namespace peer

namespace app {

class MainWindow;

// A chat window's menu bar: its CTCP menu and the image buttons, each acting on `peer`.
QWidget* makeChatMenuBar(CommandTable& commands, QWidget* parent, const QByteArray& peer,
                         const std::optional<QString>& installDir);

// The handlers of the program's commands: what each menu item, button and contact-list action
// does, on the parts it is given.
class CommandHandlers : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        CommandTable& commands;
        config::Store& store;
        config::SecretStore& secrets;
        config::Prompter& prompter;
        irc::ServerLink& link;
        irc::PresencePoller& presence;
        irc::CtcpService& ctcp;
        peer::ChatSessions& chats;
        peer::Transfers& transfers;
        peer::VoiceChats& voice;
        const peer::NickRule& nicks;
        MainWindow& window;
    };
    // `exit` runs the close step; `applySettings` hands new settings to every part.
    CommandHandlers(Parts parts, std::function<void()> exit,
                    std::function<void(const config::Settings&)> applySettings,
                    QObject* parent = nullptr);

private:
    void registerLinkCommands();
    void registerChatCommands();
    void registerTransferCommands();
    void registerSettingsCommands();
    void registerHelpCommands();
    // A feature that could not do what the user asked says so in a box over the main window.
    void showFailures();
    // The chat window with `nick` that a command for `nick` came from, if it did.
    const QWidget* chatWindowInUse(const QByteArray& nick) const;

    Parts m_parts;
    std::function<void()> m_exit;
    std::function<void(const config::Settings&)> m_applySettings;
};

} // namespace app
