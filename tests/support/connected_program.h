#pragma once

#include "tests/support/fake_irc_server.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace test {

// A program registered with a scripted server on loopback: the fixture of the suites that drive
// the whole program through its windows and commands.
class ConnectedProgramTest : public ::testing::Test
{
protected:
    // Starts the program on `server` and waits until it has registered and been welcomed.
    void connect(CoreOptions options = {})
    {
        options.serverPort = server.port();
        server.setWelcoming(true);
        core = std::make_unique<ProgramCore>(options);
        QSignalSpy welcomed(&core->program->link(), &irc::ServerLink::registered);
        ASSERT_TRUE(waitFor([&] {
            return server.received().contains("WHO " + options.nick + "\r\n")
                   && !welcomed.isEmpty();
        }));
    }
    // The server answers a poll with `online`; returns once the list shows them.
    bool showOnline(const QList<QByteArray>& online)
    {
        server.send(":irc 303 " + core->program->link().nickInUse() + " :" + online.join(' ')
                    + "\r\n");
        QStringList shown;
        for (const QByteArray& nick : online)
            shown << QString::fromUtf8(nick);
        shown.sort(Qt::CaseInsensitive);
        return waitFor([&] { return items() == shown; });
    }
    // Once the server's PING after the lines sent so far has its PONG, the program has read
    // them all and is still answering.
    bool linesRead(const QByteArray& token)
    {
        server.send("PING :" + token + "\r\n");
        return waitFor([&] { return server.received().contains("PONG :" + token + "\r\n"); });
    }
    // Runs `query` on bob; true once its `line` has gone out once more.
    bool ask(app::Command query, const QByteArray& line)
    {
        const qsizetype before = server.received().count(line);
        core->program->commands().run(query, QByteArray("bob"));
        return waitFor([&] { return server.received().count(line) == before + 1; });
    }
    // bob offers `kind` ("CHAT chat", "VOICE", "SEND f.txt") at the test's own `listener`, with
    // `rest` after the port.
    void offerFromBob(QTcpServer& listener, const QByteArray& kind, const QByteArray& rest = {})
    {
        EXPECT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
        server.send(":bob!b@h PRIVMSG alice :\x01"
                    "DCC "
                    + kind + " 2130706433 " + QByteArray::number(listener.serverPort()) + rest
                    + "\x01\r\n");
    }
    // The port of the newest offer to `nick` that went out, waiting for the first; 0 if none
    // came. `offer` is what follows "DCC " up to the port, as a pattern ("CHAT chat \\d+").
    quint16 offeredPort(const QByteArray& nick, const QString& offer)
    {
        const QRegularExpression pattern("PRIVMSG " + QString::fromUtf8(nick)
                                         + " :\x01"
                                           "DCC "
                                         + offer + " (\\d+)[ \x01]");
        quint16 port = 0;
        waitFor([&] {
            for (auto it = pattern.globalMatch(QString::fromLatin1(server.received()));
                 it.hasNext();)
                port = it.next().captured(1).toUShort();
            return port != 0;
        });
        return port;
    }
    QList<QMessageBox*> boxes() const { return window().findChildren<QMessageBox*>(); }
    QStringList items() const { return core->shownContacts(); }
    // The contact list's row that reads `text`, if there is one.
    QListWidgetItem* item(const QString& text) const
    {
        const auto found = core->contacts()->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    const peer::ChatList& records() const { return core->records(); }
    app::MainWindow& window() const { return core->window(); }

    FakeIrcServer server;
    std::unique_ptr<ProgramCore> core;
};

} // namespace test
