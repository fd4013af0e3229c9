// The program under a window manager, as a new user runs it: the keyboard stays where the user
// types, whatever the network brings. Without a window manager nobody hands the keyboard to a
// new window, so the other desktop tests cannot tell a box that would take it from one that
// does not.
#include "app/command_table.h"
#include "config/prompter.h"
#include "peer/transfer/transfer.h"
#include "tests/support/connected_program.h"
#include "tests/support/files.h"
#include "tests/support/window_manager.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using test::waitFor;
using test::xdotool;

namespace {

QString xId(const QWidget* window)
{
    return QString::number(window->winId());
}

// The question box that shows, if one does.
QMessageBox* shownBox()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (box && box->isVisible() && box->windowHandle() && box->windowHandle()->isExposed())
            return box;
    }
    return nullptr;
}

class UnderAWindowManager : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb")
            << "runs on the X server that tools/test starts (DISPLAY)";
        ASSERT_TRUE(wm.isRunning()) << "openbox did not start";
        test::CoreOptions options;
        options.nick = "bob";
        options.contacts = {"alice", "carol"};
        connect(options);
        ASSERT_TRUE(showOnline({"alice", "carol"}));
        server.send(":alice!a@example.org PRIVMSG bob :are you bringing the slides?\r\n");
        ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
        chat = core->chat(0);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(chat));
    }

    // bob turns to the chat as he would with the mouse, through the window manager.
    bool typeInChat()
    {
        chat->input()->setFocus();
        return xdotool({"windowactivate", "--sync", xId(chat)}).has_value()
               && waitFor([&] { return typingInChat(); });
    }
    bool typingInChat() const
    {
        return QApplication::activeWindow() == chat && QApplication::focusWidget() == chat->input();
    }
    // bob types `text` on the keyboard; true once the chat's input line reads `expected`.
    bool typed(const QString& text, const QString& expected)
    {
        return xdotool({"type", "--delay", "15", text}).has_value()
               && waitFor([&] { return chat->input()->text() == expected; });
    }

    test::WindowManager wm;
    peer::ChatWindow* chat = nullptr;
};

// A window manager gives the keyboard to every new window that does not ask it not to.
TEST_F(UnderAWindowManager, ChatsThatOthersOpenLeaveTheKeyboardWhereTheUserTypes)
{
    ASSERT_TRUE(typeInChat());
    ASSERT_TRUE(typed("see you ", "see you "));
    for (const QByteArray nick : {"carol", "zed"})
        server.send(":" + nick + "!u@example.org PRIVMSG bob :hello, are you there?\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(2) != nullptr; }));
    for (QWidget* opened : {core->chat(1), core->chat(2)}) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(opened));
        EXPECT_EQ(test::userTime(opened->winId()), std::optional<quint64>(0));
    }
    EXPECT_TRUE(typed("at eight", "see you at eight"))
        << "the chat reads \"" << chat->input()->text().toStdString() << "\"";
    EXPECT_TRUE(typingInChat());
    EXPECT_EQ(test::activeXWindow(), chat->winId());
}

// The answer to a query comes when the peer chooses, often while the user types elsewhere: a
// box shown with open() is modal to the main window, and the window manager gave it the keyboard.
TEST_F(UnderAWindowManager, AReplyBoxLeavesTheKeyboardWhereTheUserTypes)
{
    core->program->commands().run(app::Command::Version, QByteArray("alice"));
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("PRIVMSG alice :\x01VERSION\x01\r\n"); }));
    ASSERT_TRUE(typeInChat());
    ASSERT_TRUE(typed("see you ", "see you "));
    server.send(":alice!a@example.org NOTICE bob :\x01VERSION irssi 1.4\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return shownBox() != nullptr; }));
    QMessageBox* box = shownBox();
    EXPECT_EQ(box->windowTitle(), "Version Reply");
    EXPECT_EQ(test::userTime(box->winId()), std::optional<quint64>(0));
    EXPECT_TRUE(typed("at eight", "see you at eight"))
        << "the chat reads \"" << chat->input()->text().toStdString() << "\"";
    EXPECT_TRUE(typingInChat());
    EXPECT_EQ(test::activeXWindow(), chat->winId());
    // Typing in the main window's list is not blocked either.
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
}

// With the box modal and handed the keyboard, "no thanks" answered it: the "n" pressed No (its
// mnemonic) and the sentence bob was typing was lost.
TEST_F(UnderAWindowManager, AnOfferArrivingWhileTheUserTypesTakesNothingFromHim)
{
    core->prompter->boxes = std::make_unique<config::WidgetPrompter>();
    ASSERT_TRUE(typeInChat());
    const QString before = "I was saying ";
    ASSERT_TRUE(typed(before, before));

    bool asked = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QMessageBox* box = shownBox();
        if (!box)
            return;
        poll.stop();
        asked = true;
        const QPointer<QMessageBox> shown = box;
        // What tells every EWMH window manager to leave the keyboard where it is.
        EXPECT_EQ(test::userTime(box->winId()), std::optional<quint64>(0));
        const QString after = "no thanks, see you at eight";
        EXPECT_TRUE(typed(after, before + after))
            << "the chat reads \"" << chat->input()->text().toStdString() << "\"";
        ASSERT_TRUE(shown && shown->isVisible()) << "the typing answered the question";
        EXPECT_TRUE(core->prompter->requests.empty()) << "the question was answered";
        EXPECT_TRUE(typingInChat());
        EXPECT_NE(QApplication::activeWindow(), shown.data());
        EXPECT_EQ(test::activeXWindow(), chat->winId());
        // When bob turns to it, the box answers as ever.
        const QAbstractButton* yes = shown->button(QMessageBox::Yes);
        const QPoint at = yes->mapToGlobal(yes->rect().center());
        // Without --sync, which waits for ever when the pointer is there already.
        EXPECT_TRUE(
            xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"})
                .has_value());
    });
    poll.start();
    // A box left open when the test fails is closed, so that the test ends.
    QTimer::singleShot(20000, &poll, [] {
        if (QMessageBox* box = shownBox())
            box->done(QMessageBox::No);
    });
    server.send(":alice!a@example.org PRIVMSG bob :\x01"
                "DCC SEND slides.pdf 2130706433 5000 1024\x01\r\n");
    // Yes goes on to ask where the file should go.
    ASSERT_TRUE(waitFor([&] { return asked && !shownBox(); }, 25000));
    EXPECT_TRUE(waitFor([&] { return !core->prompter->requests.empty(); }));
    EXPECT_EQ(core->prompter->questionTitles(), std::vector<QString>{"Accept File?"});
}

// The tray's icon and menu on a desktop with a notification area (tools/test starts trayer).
class TrayUnderAWindowManager : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb")
            << "runs on the X server that tools/test starts (DISPLAY)";
        ASSERT_TRUE(wm.isRunning()) << "openbox did not start";
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "tools/test starts trayer";
        test::CoreOptions options;
        options.nick = "bob";
        options.contacts = {"alice"};
        options.tray = app::Tray::Availability::Detect;
        connect(options);
        ASSERT_TRUE(showOnline({"alice"}));
        icon = core->program->tray().icon();
        ASSERT_NE(icon, nullptr);
        ASSERT_TRUE(waitFor([&] { return icon->geometry().isValid(); }));
    }
    // The menu that shows, if one does.
    static QMenu* shownMenu()
    {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* menu = qobject_cast<QMenu*>(top);
            if (menu && menu->isVisible())
                return menu;
        }
        return nullptr;
    }

    test::WindowManager wm;
    QSystemTrayIcon* icon = nullptr;
    QTemporaryDir files;
};

// The tip said only "Kivvo v2.0", and the right button did nothing: to leave, the user had to
// bring the window back first.
TEST_F(TrayUnderAWindowManager, TheIconNamesTheNickAndStateAndItsRightButtonOpensTheMenu)
{
    EXPECT_EQ(icon->toolTip(), "Kivvo v2.0 - bob (connected)");
    const QPoint at = icon->geometry().center();
    ASSERT_TRUE(
        xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "3"})
            .has_value());
    ASSERT_TRUE(waitFor([&] { return shownMenu() != nullptr; }));
    QStringList items;
    for (const QAction* action : shownMenu()->actions())
        items << action->text();
    EXPECT_EQ(items, (QStringList{"&Show", "Set &Away", "", "&Exit"}));
    shownMenu()->close();

    // Set Away takes the away text of the options, and the tip says so.
    config::Settings settings = core->program->settings();
    settings.away = "at lunch";
    core->program->applySettings(settings);
    core->program->tray().menu()->actions().at(1)->trigger();
    EXPECT_TRUE(core->program->settings().awayset);
    EXPECT_TRUE(core->temp.store().LoadSettings().awayset);
    EXPECT_EQ(icon->toolTip(), "Kivvo v2.0 - bob (away)");
    core->program->tray().menu()->actions().at(1)->trigger();
    EXPECT_FALSE(core->program->settings().awayset);

    server.dropClient();
    EXPECT_TRUE(waitFor([&] { return !icon->toolTip().endsWith("(connected)"); }));
    EXPECT_TRUE(icon->toolTip().startsWith("Kivvo v2.0 - bob ("));
}

// Exit from the tray ended a transfer that was running, without a word.
TEST_F(TrayUnderAWindowManager, ExitAsksFirstWithTheKeyboardAndEnterKeepsTheTransfer)
{
    core->prompter->boxes = std::make_unique<config::WidgetPrompter>();
    QSignalSpy closed(core->program.get(), &app::Program::closeStepDone);
    core->contacts()->selectContact("alice");
    core->prompter->filesToSend = {
        config::FileToSend{"alice", test::writeFile(files, "notes.txt", QByteArray(3000, 'n'))}};
    core->run(app::Command::SendFile);
    ASSERT_EQ(core->program->transfers().count(), 1);

    QString asked;
    bool hadKeyboard = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QMessageBox* box = shownBox();
        if (!box || !box->isActiveWindow())
            return;
        poll.stop();
        asked = box->text();
        // The window manager says so a moment after Qt does.
        const quint64 id = box->winId();
        hadKeyboard = waitFor([&] { return test::activeXWindow() == id; });
        // Enter, as a user pressing it from habit: the default is No.
        EXPECT_TRUE(xdotool({"key", "Return"}).has_value());
    });
    poll.start();
    QTimer::singleShot(20000, &poll, [] {
        if (QMessageBox* box = shownBox())
            box->done(QMessageBox::Yes);
    });
    core->program->tray().menu()->actions().last()->trigger();
    EXPECT_EQ(asked, "Exiting now ends:\n- the transfer of \"notes.txt\" with alice (0%)\n\n"
                     "Exit anyway?");
    EXPECT_TRUE(hadKeyboard);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_FALSE(core->program->transfers().at(0)->isFinished());
}

} // namespace
