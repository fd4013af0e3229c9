// The chat window test rig: a scripted host standing in for the server link, the settings and
// the clock, and chat sessions that open the window, send what is typed in it and log what it
// shows.
#pragma once

#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/common/chat_host.h"
#include "peer/common/session_record.h"
#include "tests/support/files.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace test {

class ScriptedHost : public peer::ChatHost
{
public:
    QByteArray nick = "alice_";
    bool logging = false;
    bool sendWorks = true;
    bool linkUp = true;
    std::optional<QString> dir;
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(5, 3, 9), Qt::UTC);
    QList<QByteArray> sent;

    QByteArray nickInUse() const override { return nick; }
    bool sendServerLine(const QByteArray& line) override
    {
        sent << line;
        return sendWorks;
    }
    bool serverLinkUp() const override { return linkUp; }
    bool loggingOn() const override { return logging; }
    std::optional<QString> installDir() const override { return dir; }
    QDateTime nowUtc() const override { return now; }
    QWidget* makeMenuBar(QWidget* parent, const QByteArray& peer) override
    {
        barsFor << peer;
        auto* bar = new QWidget(parent);
        bar->setObjectName("ChatMenuBar");
        return bar;
    }
    QList<QByteArray> barsFor;
};

class ChatWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        session.nick = "bob";
        session.serverRouted = true;
        host.dir = installDir.path();
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
    ScriptedHost host;
    peer::ChatSessions chats{host};
    peer::ChatSession session;
    QPointer<peer::ChatWindow> window;

    void TearDown() override { delete window.data(); }
};

} // namespace test
