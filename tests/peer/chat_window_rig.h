// The chat window test rig: the scripted host standing in for the server link, the settings and
// the clock, and chat sessions that open the window, send what is typed in it and log what it
// shows.
#pragma once

#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/common/session_record.h"
#include "tests/support/files.h"
#include "tests/support/scripted_host.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace test {

class ChatWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        session.nick = "bob";
        session.serverRouted = true;
        host.dir = installDir.path();
        host.now = QDateTime(QDate(2026, 12, 7), QTime(5, 3, 9), Qt::UTC);
        host.address = 0;
        host.menuBars = true;
    }
    peer::ChatWindow& open()
    {
        window = chats.openWindow(session);
        return *window;
    }
    void type(const QString& text)
    {
        window->input()->setText(text);
        window->sendButton()->click();
    }
    QByteArray logFile() const { return readFile(installDir.filePath("logs/bob.txt")); }

    QTemporaryDir installDir;
    ScriptedHost host{"alice_"};
    peer::ChatSessions chats{host};
    peer::ChatSession session;
    QPointer<peer::ChatWindow> window;

    void TearDown() override { delete window.data(); }
};

} // namespace test
