#pragma once

#include "app/command_table.h"
#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "app/program.h"
#include "config/store.h"
#include "peer/chat/chat_window.h"
#include "peer/common/session_record.h"
#include "res/resources.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/scripted_sound.h"
#include "tests/support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <optional>

namespace test {

struct CoreOptions
{
    QByteArray nick = "alice";
    QByteArray altnick;
    QByteArray realname;
    QList<QByteArray> contacts;
    std::optional<quint16> serverPort; // one server, `serverHost` at this port
    QByteArray serverHost = "127.0.0.1";
    bool autoconnect = true;
    bool logging = false;
    bool fastSend = false;
    bool passiveDcc = false;
    bool ircv3 = true;                // the IRCv3 extensions asked for
    bool typing = true;               // our typing told
    bool start = true;                // shown and started, as main() does
    std::optional<quint16> identPort; // no ident responder without one
    // The voice chats' devices; scripted ones when null, so that no suite reaches for the sound
    // module (which lies beside the program, not the suites) or the desk's real devices unasked.
    std::shared_ptr<peer::SoundSystem> sound;
    app::Tray::Availability tray = app::Tray::Availability::Absent;
    // What the store's folder holds of the skins and the help page: what a new installation
    // gets, empty folders (the user took them out, so there are none), or no folders at all
    // (a store made elsewhere: the shared data folders' or the program's own copies show).
    enum class Artwork { Installed, Emptied, NotInstalled };
    Artwork artwork = Artwork::Emptied;
    std::optional<app::TitleBar::Mode> titleBar;
    std::optional<QPoint> windowPosition;
};

// One program: its own store, the program with its main window, answering questions from a
// script. With `logging`, chat logs go to its store's folder.
struct ProgramCore
{
    explicit ProgramCore(const CoreOptions& options)
    {
        for (const QByteArray& contact : options.contacts)
            temp.store().AddContact(contact);
        if (options.serverPort)
            temp.store().AddServer({options.serverHost, "Local", *options.serverPort});
        config::Settings settings;
        settings.nick = options.nick;
        settings.altnick = options.altnick;
        settings.realname = options.realname;
        settings.fastsend = options.fastSend;
        settings.passivedcc = options.passiveDcc;
        settings.autoconnect = options.autoconnect;
        settings.logging = options.logging;
        settings.ircv3 = options.ircv3;
        settings.typing = options.typing;
        temp.store().SaveSettings(settings);
        temp.registry().writeValue(config::kKeyRoot, "installdir", temp.dirPath().toUtf8());
        if (options.artwork == CoreOptions::Artwork::Emptied) {
            QDir().mkpath(temp.dirPath() + "/skin");
            QDir().mkpath(temp.dirPath() + "/help");
        } else if (options.artwork == CoreOptions::Artwork::Installed) {
            for (const auto& [source, target] : res::installedFiles()) {
                QDir().mkpath(QFileInfo(temp.dirPath() + '/' + target).absolutePath());
                QFile::copy(source, temp.dirPath() + '/' + target);
            }
        }
        auto scripted = std::make_unique<ScriptedPrompter>();
        prompter = scripted.get();
        app::Program::Options programOptions;
        programOptions.identPort = options.identPort;
        programOptions.sound = options.sound ? options.sound : std::make_shared<ScriptedSound>();
        programOptions.tray = options.tray;
        programOptions.titleBar = options.titleBar;
        programOptions.windowPosition = options.windowPosition;
        program =
            std::make_unique<app::Program>(temp.registry(), programOptions, std::move(scripted));
        if (options.start) {
            window().show();
            program->start();
        }
    }
    ProgramCore(quint16 serverPort, const QByteArray& nick, const QList<QByteArray>& contacts,
                bool logging = false)
        : ProgramCore(optionsFor(serverPort, nick, contacts, logging))
    {}
    static CoreOptions optionsFor(quint16 serverPort, const QByteArray& nick,
                                  const QList<QByteArray>& contacts, bool logging)
    {
        CoreOptions options;
        options.nick = nick;
        options.contacts = contacts;
        options.serverPort = serverPort;
        options.logging = logging;
        return options;
    }

    app::MainWindow& window() const { return program->window(); }
    app::ContactListView* contacts() const { return window().contactList(); }
    const peer::ChatList& records() const { return program->chats().records(); }
    // Runs a command as its menu item would, on whatever is selected.
    bool run(app::Command id) const { return program->commands().run(id); }

    peer::ChatWindow* chat(int index = 0) const
    {
        if (records().CountRecords() <= index)
            return nullptr;
        return program->chats().windowOf(*records().at(index));
    }
    // The window of the chat with `nick` that is direct (or relayed), if there is one.
    peer::ChatWindow* chatWith(const QByteArray& nick, bool direct) const
    {
        for (const auto& record : records()) {
            if (record->nick == nick && record->isDirect() == direct)
                return program->chats().windowOf(*record);
        }
        return nullptr;
    }
    bool showsContact(const QByteArray& nick) const { return contacts()->showsContact(nick); }
    // The contact list's lines as the user reads them.
    QStringList shownContacts() const
    {
        QStringList texts;
        for (int row = 0; row < contacts()->count(); ++row)
            texts << contacts()->item(row)->text();
        return texts;
    }
    // Sends `path` to `nick` as the Send File command does, the file already chosen.
    bool sendFile(const QByteArray& nick, const QString& path) const
    {
        prompter->filesToSend.push_back(config::FileToSend{QString::fromUtf8(nick), path});
        return program->commands().run(app::Command::SendFileTo, nick);
    }

    TempStore temp;
    ScriptedPrompter* prompter = nullptr;
    std::unique_ptr<app::Program> program;
};

} // namespace test
