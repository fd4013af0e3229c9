#pragma once

#include "app/app_context.h"
#include "app/main_window.h"
#include "config/store.h"
#include "peer/chat_window.h"
#include "peer/session_record.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"

#include <QListWidget>

#include <memory>

namespace test {

// One program core: its own store, context and main window, connected to a server on loopback
// and answering questions from a script. With `logging`, chat logs go to its store's folder.
struct ProgramCore
{
    ProgramCore(quint16 serverPort, const QByteArray& nick, const QList<QByteArray>& contacts,
                bool logging = false)
    {
        for (const QByteArray& contact : contacts)
            temp.store().AddContact(contact);
        temp.store().AddServer({"127.0.0.1", "Local", serverPort});
        config::Settings settings;
        settings.nick = nick;
        settings.autoconnect = true;
        settings.logging = logging;
        temp.store().SaveSettings(settings);
        temp.registry().writeValue(config::kKeyRoot, "installdir", temp.dirPath().toUtf8());
        context = std::make_unique<app::AppContext>(temp.registry());
        window = std::make_unique<app::MainWindow>(*context);
        auto scripted = std::make_unique<ScriptedPrompter>();
        prompter = scripted.get();
        window->setPrompter(std::move(scripted));
        window->show();
        window->start();
    }
    peer::ChatWindow* chat(int index = 0) const
    {
        if (context->chats.CountRecords() <= index)
            return nullptr;
        return qobject_cast<peer::ChatWindow*>(context->chats.at(index)->window.data());
    }
    // The window of the chat with `nick` that is direct (or relayed), if there is one.
    peer::ChatWindow* chatWith(const QByteArray& nick, bool direct) const
    {
        for (int i = 0; i < context->chats.CountRecords(); ++i) {
            const peer::ChatSession* record = context->chats.at(i);
            if (record->nick == nick && record->isDcc == direct)
                return qobject_cast<peer::ChatWindow*>(record->window.data());
        }
        return nullptr;
    }
    bool showsContact(const QByteArray& nick) const
    {
        return !window->contactList()->findItems(QString::fromUtf8(nick), Qt::MatchExactly).empty();
    }

    TempStore temp;
    std::unique_ptr<app::AppContext> context;
    std::unique_ptr<app::MainWindow> window;
    ScriptedPrompter* prompter = nullptr;
};

} // namespace test
