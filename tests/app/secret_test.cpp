// The account's password goes to the server and nowhere else: not to the server log window, the
// received-data dump, the debug window, a chat log or the program's own output, even when a
// server sends it back.
#include "app/main_window.h"
#include "app/program.h"
#include "config/store.h"
#include "diag/debug_log.h"
#include "diag/debug_window.h"
#include "diag/server_log_window.h"
#include "peer/chat/chat_window.h"
#include "tests/support/connected_program.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/files.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

QStringList g_output;

void capture(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_output << text;
}

} // namespace

TEST(AccountPassword, NeverReachesALogOrTheProgramsOutput)
{
    const QByteArray password = "Hunter2-Secret";
    const QByteArray serverpass = "alice:" + password;
    const QByteArray payload = QByteArray("alice\0alice\0", 12) + password;
    const QByteArray encoded = payload.toBase64();
    // Every form the password takes on the wire.
    const QList<QByteArray> secrets = {password, encoded, encoded.left(16)};

    QTemporaryDir cwd;
    ASSERT_TRUE(cwd.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path())); // out.txt goes to the current folder
    g_output.clear();
    const QtMessageHandler before = qInstallMessageHandler(capture);
    diag::DebugPanes::instance().clear();

    test::FakeIrcServer server;
    test::TempStore temp;
    temp.store().AddServer({"127.0.0.1", "Local", server.port()});
    ASSERT_TRUE(temp.store().setServerPassword({"127.0.0.1", "Local", server.port()}, serverpass));
    temp.store().AddContact("bob");
    config::Settings settings;
    settings.nick = "alice";
    settings.realname = "Alice";
    settings.email = "alice@example.org";
    settings.autoconnect = true;
    settings.logging = true;
    ASSERT_TRUE(temp.store().SaveSettings(settings));
    temp.registry().writeValue(config::kKeyRoot, "installdir", temp.dirPath().toUtf8());

    app::Program::Options options;
    options.debugDump = true;
    options.tray = app::Tray::Availability::Absent;
    {
        app::Program program(temp.registry(), options, std::make_unique<test::ScriptedPrompter>());
        program.window().show();
        program.start();
        ASSERT_TRUE(waitFor([&] { return server.received().contains("CAP LS 302"); }));
        server.send(":irc CAP * LS :sasl\r\n:irc CAP alice ACK :sasl\r\n");
        ASSERT_TRUE(waitFor([&] { return server.received().contains("AUTHENTICATE PLAIN"); }));
        server.send("AUTHENTICATE +\r\n");
        ASSERT_TRUE(waitFor([&] { return server.received().contains(encoded); }));
        // A careless server repeats what it got.
        server.send("PASS " + serverpass + "\r\nAUTHENTICATE " + encoded
                    + "\r\n"
                      ":irc 904 alice :SASL authentication failed\r\n"
                      ":irc 001 alice :Welcome\r\n"
                      ":bob!b@h PRIVMSG alice :hello\r\n");
        ASSERT_TRUE(waitFor([&] { return server.received().contains("WHO alice"); }));
        ASSERT_TRUE(waitFor([&] {
            return program.window().serverLogWindow()->view()->toPlainText().contains("hello");
        }));

        // The user types the password into the debug window's send box.
        diag::DebugWindow* debug = program.window().debugWindow();
        debug->sendBox()->setText(QString::fromUtf8("PASS " + serverpass));
        debug->sendLine();
        ASSERT_TRUE(
            waitFor([&] { return server.received().endsWith("PASS " + serverpass + "\r\n"); }));

        const QString serverLog = program.window().serverLogWindow()->view()->toPlainText();
        EXPECT_TRUE(serverLog.contains("PASS ****"));
        EXPECT_TRUE(serverLog.contains("AUTHENTICATE ****"));
        QString panes = diag::DebugPanes::instance().text(diag::Pane::Status)
                        + diag::DebugPanes::instance().text(diag::Pane::Info);
        EXPECT_TRUE(panes.contains("Login to the account failed (SASL)."));
        EXPECT_TRUE(panes.contains("PASS ****"));
        panes += debug->statusPane()->toPlainText() + debug->infoPane()->toPlainText();
        for (const QByteArray& secret : secrets) {
            EXPECT_FALSE(serverLog.contains(QString::fromLatin1(secret))) << secret.constData();
            EXPECT_FALSE(panes.contains(QString::fromLatin1(secret))) << secret.constData();
        }
        program.closeStep();
    }
    qInstallMessageHandler(before);
    QDir::setCurrent(previous);

    const QByteArray dump = test::readFile(cwd.filePath("out.txt"));
    EXPECT_TRUE(dump.contains("PASS ****"));
    EXPECT_FALSE(g_output.isEmpty());
    const QString output = g_output.join('\n');
    for (const QByteArray& secret : secrets) {
        EXPECT_FALSE(dump.contains(secret)) << secret.constData();
        EXPECT_FALSE(output.contains(QString::fromLatin1(secret))) << secret.constData();
    }
    // Every file the program wrote in its folder (the chat log with bob among them), save the
    // store that keeps the setting itself.
    int files = 0;
    for (QDirIterator it(temp.dirPath(), QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        if (path.startsWith(temp.path()))
            continue;
        ++files;
        const QByteArray text = test::readFile(path);
        for (const QByteArray& secret : secrets)
            EXPECT_FALSE(text.contains(secret)) << path.toStdString();
    }
    EXPECT_GT(files, 0);
}

namespace {

class ServicesPasswordTest : public test::ConnectedProgramTest
{};

} // namespace

// What the user sends the nick services to register, change, ghost or recover a nick carries a
// password: it goes to the server, and every echo of it, and the chat with NickServ and its log,
// keep it masked.
TEST_F(ServicesPasswordTest, NeverReachesALogOrAnEcho)
{
    test::CoreOptions options;
    options.logging = true;
    connect(options);
    diag::DebugPanes::instance().clear();
    peer::ChatWindow* chat = core->program->chats().openChat("NickServ");
    ASSERT_NE(chat, nullptr);
    const struct
    {
        QByteArray typed;
        QByteArray masked;
        QByteArray secret;
    } cases[] = {
        {"REGISTER Reg1stered alice@example.org", "REGISTER ****", "Reg1stered"},
        {"SET PASSWORD N3wPass", "SET PASSWORD ****", "N3wPass"},
        {"GHOST alice Gh0stPass", "GHOST alice ****", "Gh0stPass"},
        {"RECOVER alice Rec0verPass", "RECOVER alice ****", "Rec0verPass"},
    };
    for (const auto& c : cases) {
        chat->input()->setText(QString::fromUtf8(c.typed));
        chat->send();
        const QByteArray sent = "PRIVMSG NickServ :" + c.typed + "\r\n";
        ASSERT_TRUE(waitFor([&] { return server.received().contains(sent); })) << c.typed.data();
        // The server repeats it, as an echo and in a refusal.
        server.send(":alice!a@h PRIVMSG NickServ :" + c.typed
                    + "\r\n:irc 417 alice :Line too long: " + sent);
    }
    // The user types one by hand in the debug window, in the short form.
    diag::DebugWindow* debug = window().debugWindow();
    debug->sendBox()->setText(QStringLiteral("NS REGISTER ByHandPass a@b.c"));
    debug->sendLine();
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("NS REGISTER ByHandPass a@b.c"); }));
    ASSERT_TRUE(linesRead("echoed"));

    const QString serverLog = window().serverLogWindow()->view()->toPlainText();
    const QString panes = diag::DebugPanes::instance().text(diag::Pane::Status)
                          + diag::DebugPanes::instance().text(diag::Pane::Info)
                          + debug->statusPane()->toPlainText() + debug->infoPane()->toPlainText();
    QFile logFile(core->temp.dirPath() + "/logs/NickServ.txt");
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QByteArray log = logFile.readAll();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        EXPECT_TRUE(serverLog.contains("PRIVMSG NickServ :" + c.masked));
        EXPECT_TRUE(log.contains("<alice> " + c.masked + "\r\n")) << log.constData();
        EXPECT_TRUE(chat->transcript().contains("<alice> " + c.masked + "\r\n"));
        EXPECT_FALSE(serverLog.contains(c.secret));
        EXPECT_FALSE(panes.contains(c.secret));
        EXPECT_FALSE(log.contains(c.secret));
        EXPECT_FALSE(chat->viewText().contains(c.secret));
    }
    EXPECT_TRUE(panes.contains("NS REGISTER ****"));
    EXPECT_FALSE(panes.contains("ByHandPass"));
}
