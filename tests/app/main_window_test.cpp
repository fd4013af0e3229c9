#include "app/app_context.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "diag/debug_window.h"
#include "diag/server_log_window.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    void makeWindow()
    {
        context = std::make_unique<app::AppContext>(temp.registry());
        context->settings.nick = "alice";
        context->settings.realname = "Alice";
        window = std::make_unique<app::MainWindow>(*context);
    }
    void setAutoconnect(bool on)
    {
        config::Settings settings = temp.store().LoadSettings();
        settings.autoconnect = on;
        temp.store().SaveSettings(settings);
    }

    test::TempStore temp;
    std::unique_ptr<app::AppContext> context;
    std::unique_ptr<app::MainWindow> window;
};

} // namespace

TEST_F(MainWindowTest, StartsWithItsTitleSizeAndStatus)
{
    makeWindow();
    EXPECT_EQ(window->windowTitle(), "Kivvo v2.0");
    EXPECT_EQ(window->size(), QSize(225, 360));
    EXPECT_EQ(window->statusText(), "Not Connected.");
    for (int id : {app::cmd::Connect, app::cmd::Disconnect, app::cmd::Exit, app::cmd::SendRawData,
                   app::cmd::ShowServerLog, app::cmd::ShowDebugWindow})
        EXPECT_NE(window->commandAction(id), nullptr) << id;
}

TEST_F(MainWindowTest, AutoconnectWithNoServersSaysSo)
{
    setAutoconnect(true);
    makeWindow();
    window->start();
    EXPECT_EQ(window->statusText(), "Connecting...please wait");
    ASSERT_TRUE(waitFor([&] { return window->statusText() == "There are no servers defined!"; }));
}

TEST_F(MainWindowTest, NoAutoconnectMeansNoAttempt)
{
    test::FakeIrcServer server;
    temp.store().AddServer({"127.0.0.1", "", server.port()});
    setAutoconnect(false);
    makeWindow();
    window->start();
    QTest::qWait(150);
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(window->statusText(), "Not Connected.");
}

TEST_F(MainWindowTest, EchoesServerLinesToTheLogExceptPresenceReplies)
{
    test::FakeIrcServer server;
    temp.store().AddServer({"127.0.0.1", "", server.port()});
    setAutoconnect(true);
    makeWindow();
    window->start();
    ASSERT_TRUE(waitFor([&] { return server.received().contains("WHO alice\r\n"); }));
    EXPECT_EQ(window->windowTitle(), "Kivvo - v2.0 - alice");
    EXPECT_EQ(window->statusText(), "Connected to server 127.0.0.1.");
    server.send(":irc 001 alice :Welcome\r\n:irc 303 alice :bob\r\n\r\n:irc 005 alice :x\r\n");
    QPlainTextEdit* view = window->serverLogWindow()->view();
    ASSERT_TRUE(waitFor([&] { return view->toPlainText().contains("005"); }));
    EXPECT_EQ(view->toPlainText(), ":irc 001 alice :Welcome\n\n:irc 005 alice :x");
}

TEST_F(MainWindowTest, ExitSendsTheQuitLineOnce)
{
    test::FakeIrcServer server;
    temp.store().AddServer({"127.0.0.1", "", server.port()});
    setAutoconnect(true);
    makeWindow();
    QSignalSpy done(window.get(), &app::MainWindow::closeStepDone);
    window->start();
    ASSERT_TRUE(waitFor([&] { return server.received().contains("WHO alice\r\n"); }));
    window->commandAction(app::cmd::Exit)->trigger();
    window->close(); // the close box afterwards runs nothing twice
    ASSERT_TRUE(waitFor([&] { return !server.isClientConnected(); }));
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(server.received().count("QUIT"), 1);
    EXPECT_TRUE(server.received().endsWith("QUIT :Kivvo is closing...\r\n"));
}

TEST_F(MainWindowTest, ClosingBeforeAnyAttemptSendsNothing)
{
    makeWindow();
    QSignalSpy done(window.get(), &app::MainWindow::closeStepDone);
    window->runCommand(app::cmd::Exit);
    EXPECT_EQ(done.count(), 1);
    EXPECT_FALSE(context->link.hasSocket());
}

TEST_F(MainWindowTest, ViewCommandsShowTheDiagnosticWindows)
{
    makeWindow();
    EXPECT_FALSE(window->serverLogWindow()->isVisible());
    window->runCommand(app::cmd::ShowServerLog);
    EXPECT_TRUE(window->serverLogWindow()->isVisible());
    window->runCommand(app::cmd::ShowDebugWindow);
    EXPECT_TRUE(window->debugWindow()->isVisible());
}
