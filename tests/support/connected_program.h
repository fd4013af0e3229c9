#pragma once

#include "tests/support/fake_irc_server.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QSignalSpy>
#include <QStringList>
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
        return waitFor([&] { return core->contacts()->count() == online.size(); });
    }
    QStringList items() const
    {
        QStringList texts;
        for (int row = 0; row < core->contacts()->count(); ++row)
            texts << core->contacts()->item(row)->text();
        return texts;
    }
    const peer::ChatList& records() const { return core->records(); }
    app::MainWindow& window() const { return core->window(); }

    FakeIrcServer server;
    std::unique_ptr<ProgramCore> core;
};

} // namespace test
