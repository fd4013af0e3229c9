// The program on a real X server with a notification area, as a user sees it: two programs
// side by side as the demo starts them (alice with the artwork of a new installation, bob with
// a store that names an installation folder without any, as the demo's do), the skins on the
// screen where they belong, every text whole, the tray icon in place. With KIVVO_SCREENSHOT set
// to a file name it also saves what the screen shows (tools/screenshot, for the README).
#include "app/main_menu_bar.h"
#include "app/menu_bar.h"
#include "app/zone_button.h"
#include "config/prompter.h"
#include "peer/chat/chat_log.h"
#include "peer/chat/earlier_lines.h"
#include "peer/common/window_place.h"
#include "peer/search/find_window.h"
#include "peer/transfer/transfer_window.h"
#include "peer/transfer/transfers.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_window.h"
#include "tests/app/text_fit.h"
#include "tests/support/connected_program.h"
#include "tests/support/files.h"
#include "tests/support/no_shared_artwork.h"
#include "tests/support/pixels.h"
#include "tests/support/scripted_sound.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>

using test::waitFor;

namespace {

constexpr QPoint kMainAt(30, 50);
constexpr QPoint kBobAt(285, 50);
constexpr QPoint kChatAt(540, 100);
constexpr QPoint kPlainAt(560, 390);

using test::inkIn;

QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

class DesktopTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb")
            << "runs on the X server that tools/test starts (DISPLAY)";
        test::CoreOptions options;
        options.contacts = {"bob", "carol", "dave", "erin"};
        options.artwork = test::CoreOptions::Artwork::Installed;
        options.tray = app::Tray::Availability::Detect;
        options.sound = std::make_shared<test::ScriptedSound>();
        connect(options);
        ASSERT_TRUE(showOnline({"bob", "carol", "erin"}));
        window().move(kMainAt);
        startBob();
        server.send(":bob!b@example.org PRIVMSG alice :hi alice! are you coming tonight?\r\n");
        ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
        chat = core->chat(0);
        chat->move(kChatAt);
        chat->input()->setText("yes, see you at eight \002:)\002");
        chat->send();
        server.send(":bob!b@example.org PRIVMSG alice :great, bring the slides\r\n");
        ASSERT_TRUE(waitFor([&] { return chat->viewText().contains("slides"); }));
        core->contacts()->selectContact("bob");
        // Mapped, placed and painted by the X server.
        QTest::qWait(400);
        screen = grabScreen();
    }

    // The demo's other program: its own store and server, placed as tools/run places it.
    void startBob()
    {
        bobServer.setWelcoming(true);
        test::CoreOptions options;
        options.nick = "bob";
        options.contacts = {"alice"};
        options.serverPort = bobServer.port();
        options.artwork = test::CoreOptions::Artwork::NotInstalled;
        options.windowPosition = kBobAt;
        bob = std::make_unique<test::ProgramCore>(options);
        ASSERT_TRUE(waitFor([&] { return bobServer.received().contains("WHO bob\r\n"); }));
        bobServer.send(":irc 303 bob :alice\r\n");
        ASSERT_TRUE(waitFor([&] { return bob->contacts()->count() == 1; }));
    }

    // The screen pixel at `at` of `widget`'s window-system position.
    QRgb onScreen(const QWidget* widget, QPoint at) const
    {
        return screen.pixel(widget->mapToGlobal(at));
    }

    // The user clicks into the chat and types there.
    bool typeInChat()
    {
        chat->activateWindow();
        chat->input()->setFocus();
        return waitFor([&] { return typingInChat(); });
    }
    bool typingInChat() const
    {
        return QApplication::activeWindow() == chat && QApplication::focusWidget() == chat->input();
    }
    // One of the chat menu bar's commands, clicked.
    void clickInChat(app::Command command)
    {
        for (auto* action : chat->findChildren<QAction*>()) {
            if (action->data().toInt() == static_cast<int>(command)) {
                action->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no such command in the chat window";
    }

    test::NoSharedArtwork noPackage;
    test::FakeIrcServer bobServer;
    std::unique_ptr<test::ProgramCore> bob;
    peer::ChatWindow* chat = nullptr;
    QImage screen;
};

bool onOneSpot(const QWidget* a, const QWidget* b)
{
    const QPoint p = a->frameGeometry().topLeft();
    const QPoint q = b->frameGeometry().topLeft();
    return std::abs(p.x() - q.x()) < peer::kCascadeStep
           && std::abs(p.y() - q.y()) < peer::kCascadeStep;
}

// The middle of `a` lies over `b`, or a couple of steps beside it.
bool near(const QWidget* a, const QWidget* b)
{
    const int margin = 2 * peer::kCascadeStep;
    return b->frameGeometry()
        .adjusted(-margin, -margin, margin, margin)
        .contains(a->frameGeometry().center());
}

TEST_F(DesktopTest, TheSkinsShowOnTheScreenWhereTheyBelongAndEveryTextWhole)
{
    const QString skins = core->temp.dirPath() + "/skin/";
    const QImage title = app::Skin::load(skins + "kivvo_skin_title.bmp").image();
    const QImage mainMenu =
        app::composeSkin(app::Skin::load(skins + "kivvo_skin_mainmenu.bmp").image(), {224, 24});
    const QImage side =
        app::composeSkin(app::Skin::load(skins + "kivvo_skin_side.bmp").image(), {40, 170});
    const QImage user =
        app::composeSkin(app::Skin::load(skins + "kivvo_skin_usermenu.bmp").image(), {150, 20});
    ASSERT_FALSE(title.isNull() || mainMenu.isNull() || side.isNull() || user.isNull());

    app::TitleBar* bar = window().titleBar();
    EXPECT_EQ(bar->mapToGlobal(QPoint(0, 0)), kMainAt - QPoint(0, 19));
    for (QPoint p : {QPoint(10, 8), QPoint(100, 4), QPoint(200, 10), QPoint(215, 10)})
        EXPECT_EQ(onScreen(bar, p + QPoint(1, 1)), title.pixel(p)) << "title " << p.x();
    for (QPoint p : {QPoint(5, 12), QPoint(50, 12), QPoint(150, 6), QPoint(222, 22)})
        EXPECT_EQ(onScreen(&window(), p + QPoint(1, 1)), mainMenu.pixel(p)) << "menu " << p.x();
    for (QPoint p : {QPoint(5, 5), QPoint(20, 85), QPoint(30, 160)})
        EXPECT_EQ(onScreen(window().centralWidget(), p + QPoint(15, 75)), side.pixel(p))
            << "side " << p.y();
    const app::MenuBar* users = window().userMenuBar();
    for (QPoint p : {QPoint(2, 2), QPoint(20, 10), QPoint(100, 10), QPoint(140, 15)})
        EXPECT_EQ(onScreen(users, p), user.pixel(p)) << "buttons " << p.x();
    const auto* chatBar = chat->findChild<app::MenuBar*>("ChatMenuBar");
    ASSERT_NE(chatBar, nullptr);
    for (QPoint p : {QPoint(20, 10), QPoint(100, 10)})
        EXPECT_EQ(onScreen(chatBar, p + QPoint(2, 2)), user.pixel(p)) << "chat buttons " << p.x();

    if (const QByteArray file = qgetenv("KIVVO_SCREENSHOT"); !file.isEmpty()) {
        const QRect shown = QRect(kMainAt - QPoint(0, 19), window().size() + QSize(0, 19))
                                .united(bob->window().frameGeometry())
                                .united(chat->frameGeometry())
                                .adjusted(-12, -12, 12, 12);
        // The windows as the screen shows them, on a quiet backdrop instead of the bare root.
        QImage picture(shown.size(), QImage::Format_RGB32);
        picture.fill(QColor(0x5b, 0x6e, 0x82));
        QPainter painter(&picture);
        const app::TitleBar* bobBar = bob->window().titleBar();
        for (const QRect& frame :
             {QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size()), window().frameGeometry(),
              QRect(bobBar->mapToGlobal(QPoint(0, 0)), bobBar->size()),
              bob->window().frameGeometry(), chat->frameGeometry()})
            painter.drawImage(frame.topLeft() - shown.topLeft(), screen, frame);
        ASSERT_TRUE(picture.save(QString::fromLocal8Bit(file)));
    }

    // Every text shows whole.
    EXPECT_EQ(test::cutTexts(&window()), QStringList());
    EXPECT_EQ(test::cutTexts(&bob->window()), QStringList());
    EXPECT_EQ(test::cutTexts(chat), QStringList());
    for (auto* button : window().mainMenuBar()->findChildren<QAbstractButton*>())
        EXPECT_FALSE(button->isVisible()) << "the menu bar overflows";
}

// Finding what was said, as the README shows it: the find window over alice's logs, the found
// text marked, and a chosen line opening bob's chat there. With KIVVO_SEARCH_SCREENSHOT set to
// a file name it saves the picture (tools/screenshot).
TEST_F(DesktopTest, FindMarksWhatWasSaidAndOpensTheChatThere)
{
    QDir().mkpath(core->temp.dirPath() + "/logs");
    const QDateTime monday(QDate(2026, 11, 30), QTime(18, 2, 0), Qt::UTC);
    const QList<std::pair<QByteArray, QByteArray>> said = {
        {"bob", "<bob> did you get the slides for friday?"},
        {"bob", "<alice> not yet, the printer is out of toner"},
        {"bob", "<bob> I can print the slides at the library"},
        {"bob", "<alice> great, thanks!"},
        {"carol", "<carol> the slides look good, one typo on page 4"},
        {"carol", "<alice> fixed it, thanks"},
    };
    for (int i = 0; i < said.size(); ++i) {
        QFile log(core->temp.dirPath() + "/logs/" + said[i].first + ".txt");
        ASSERT_TRUE(log.open(QIODevice::Append));
        log.write(peer::ChatLog::stampedLine(monday.addSecs(i * 3600 * 7), said[i].second));
    }
    config::Settings settings = core->program->settings();
    settings.logging = true;
    core->program->applySettings(settings);
    ASSERT_TRUE(waitFor([&] { return !core->program->logSearch().catchingUp(); }));

    core->run(app::Command::Find);
    peer::FindWindow* find = core->program->chatSearch().window();
    ASSERT_TRUE(find);
    find->setGeometry(40, 470, 600, 240);
    QTest::keyClicks(find->input(), "slides");
    ASSERT_TRUE(waitFor([&] { return find->results()->topLevelItemCount() == 3; }));
    EXPECT_EQ(find->results()->topLevelItem(0)->text(0), "carol");
    EXPECT_EQ(find->results()->topLevelItem(2)->text(2),
              "<bob> did you get the slides for friday?");
    find->results()->setCurrentItem(find->results()->topLevelItem(1));
    emit find->results()->itemActivated(find->results()->currentItem(), 0);
    EXPECT_EQ(chat->view()->textCursor().selectedText(),
              peer::EarlierLines::stampText(monday.addSecs(2 * 3600 * 7))
                  + "<bob> I can print the slides at the library");
    EXPECT_EQ(test::cutTexts(find), QStringList());
    QTest::qWait(400);

    if (const QByteArray file = qgetenv("KIVVO_SEARCH_SCREENSHOT"); !file.isEmpty()) {
        const QImage shown = grabScreen();
        const QRect area =
            find->frameGeometry().united(chat->frameGeometry()).adjusted(-12, -12, 12, 12);
        QImage picture(area.size(), QImage::Format_RGB32);
        picture.fill(QColor(0x5b, 0x6e, 0x82));
        QPainter painter(&picture);
        for (const QRect& frame : {chat->frameGeometry(), find->frameGeometry()})
            painter.drawImage(frame.topLeft() - area.topLeft(), shown, frame);
        ASSERT_TRUE(picture.save(QString::fromLocal8Bit(file)));
    }
}

// The demo's stores name an installation folder that holds nothing: the program's own skins
// show, and the two windows stand side by side, each saying whose it is.
TEST_F(DesktopTest, TheDemosSecondProgramShowsTheBuiltInSkinsBesideTheFirst)
{
    const QImage title = app::Skin::load(":/skin/kivvo_skin_title.bmp").image();
    const QImage mainMenu =
        app::composeSkin(app::Skin::load(":/skin/kivvo_skin_mainmenu.bmp").image(), {224, 24});
    const QImage user =
        app::composeSkin(app::Skin::load(":/skin/kivvo_skin_usermenu.bmp").image(), {150, 20});
    ASSERT_FALSE(title.isNull() || mainMenu.isNull() || user.isNull());
    const app::MainWindow& shown = bob->window();
    EXPECT_EQ(shown.pos(), kBobAt);
    EXPECT_FALSE(shown.frameGeometry().intersects(window().frameGeometry()));
    const app::TitleBar* bar = shown.titleBar();
    EXPECT_EQ(bar->mapToGlobal(QPoint(0, 0)), kBobAt - QPoint(0, 19));
    for (QPoint p : {QPoint(10, 8), QPoint(200, 10), QPoint(215, 10)})
        EXPECT_EQ(onScreen(bar, p + QPoint(1, 1)), title.pixel(p)) << "title " << p.x();
    for (QPoint p : {QPoint(5, 12), QPoint(50, 12), QPoint(222, 22)})
        EXPECT_EQ(onScreen(&shown, p + QPoint(1, 1)), mainMenu.pixel(p)) << "menu " << p.x();
    for (QPoint p : {QPoint(2, 2), QPoint(20, 10), QPoint(100, 10), QPoint(140, 15)})
        EXPECT_EQ(onScreen(shown.userMenuBar(), p), user.pixel(p)) << "buttons " << p.x();
    EXPECT_EQ(bar->nick(), "bob");
    EXPECT_EQ(window().titleBar()->nick(), "alice");
    // The nick is written on the bar, between the skin's name and its buttons.
    const QRect nick(bar->mapToGlobal(QPoint(73, 1)), QSize(110, 18));
    int differs = 0;
    for (int y = 0; y < nick.height(); ++y) {
        for (int x = 0; x < nick.width(); ++x)
            differs += screen.pixel(nick.topLeft() + QPoint(x, y)) != title.pixel(72 + x, y);
    }
    EXPECT_GT(differs, 20);
}

// A user who emptied the skin folder: the five buttons and the two areas of the title bar still
// show on the screen, and the first-run hint shows whole.
TEST(DesktopWithoutSkins, TheButtonsAndTheTitleBarsAreasShow)
{
    test::CoreOptions options;
    options.autoconnect = false;
    options.artwork = test::CoreOptions::Artwork::Emptied;
    options.windowPosition = kPlainAt;
    test::ProgramCore core(options);
    core.contacts()->showHint();
    const app::TitleBar* bar = core.window().titleBar();
    const app::MenuBar* buttons = core.window().userMenuBar();
    const QRect minimise(bar->mapToGlobal(app::kMinimiseArea.topLeft() + QPoint(1, 1)),
                         app::kMinimiseArea.size());
    const QRect close(bar->mapToGlobal(app::kCloseArea.topLeft() + QPoint(1, 1)),
                      app::kCloseArea.size());
    const QPoint strip = buttons->mapToGlobal(QPoint(0, 0));
    QImage screen;
    // Drawn once the X server has mapped and exposed the windows.
    EXPECT_TRUE(test::waitFor([&] {
        screen = grabScreen();
        return inkIn(screen, minimise) > 15 && inkIn(screen, close) > 15;
    }));
    for (const app::ZoneSpan& span : app::kMenuBarZones) {
        const QRect zone(strip + QPoint(span.first + 1, 1), QSize(span.last - span.first - 1, 18));
        EXPECT_GT(inkIn(screen, zone), 60) << int(span.zone);
    }
    EXPECT_EQ(test::cutTexts(&core.window()), QStringList());
    const app::ContactListView* list = core.contacts();
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(0))));
}

TEST_F(DesktopTest, NewWindowsComeUpApartWithoutTakingTheKeyboard)
{
    ASSERT_TRUE(typeInChat());
    for (const QByteArray nick : {"carol", "erin", "zed"})
        server.send(":" + nick + "!u@example.org PRIVMSG alice :hello, are you there?\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(3) != nullptr; }));
    QList<QWidget*> opened{core->chat(1), core->chat(2), core->chat(3)};
    for (QWidget* opener : opened)
        ASSERT_TRUE(QTest::qWaitForWindowExposed(opener));
    EXPECT_TRUE(typingInChat()) << "a window from the network took the keyboard";
    for (QWidget* opener : opened)
        EXPECT_TRUE(near(opener, &window())) << "a new chat far from the main window";

    // A file and a voice chat from bob's chat window come up beside it.
    QTemporaryDir dir;
    core->prompter->filesToSend.push_back(
        config::FileToSend{"bob", test::writeFile(dir, "slides.pdf", "slides")});
    ASSERT_TRUE(typeInChat());
    clickInChat(app::Command::SendFileTo);
    ASSERT_TRUE(typeInChat());
    clickInChat(app::Command::VoiceChat);
    peer::Transfers& transfers = core->program->transfers();
    peer::VoiceChats& voice = core->program->voiceChats();
    ASSERT_TRUE(waitFor([&] { return transfers.count() == 1 && voice.count() == 1; }));
    QWidget* transfer = transfers.windowOf(transfers.at(0));
    QWidget* voiceWindow = voice.windowOf(voice.at(0));
    ASSERT_TRUE(transfer && voiceWindow);
    for (QWidget* fromChat : {transfer, voiceWindow}) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(fromChat));
        EXPECT_TRUE(near(fromChat, chat)) << "a window from a chat far from that chat";
        opened << fromChat;
    }

    opened << chat;
    for (int i = 0; i < opened.size(); ++i) {
        for (int j = i + 1; j < opened.size(); ++j)
            EXPECT_FALSE(onOneSpot(opened[i], opened[j]))
                << opened[i]->windowTitle().toStdString() << " and "
                << opened[j]->windowTitle().toStdString() << " on one spot";
    }
}

TEST_F(DesktopTest, AQuestionComesUpOverTheMainWindow)
{
    window().move(400, 250);
    ASSERT_TRUE(waitFor([&] { return window().frameGeometry().topLeft() == QPoint(400, 250); }));
    config::WidgetPrompter prompter;
    QRect asked;
    bool answered = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (!box || !box->isVisible() || !box->windowHandle()->isExposed())
                continue;
            asked = box->frameGeometry();
            answered = true;
            box->done(QMessageBox::No);
        }
    });
    poll.start();
    // Answered by the poll once it shows; a box that never shows fails the wait below instead
    // of hanging the test.
    QTimer::singleShot(5000, &poll, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(top))
                box->done(QMessageBox::No);
        }
    });
    EXPECT_FALSE(prompter.ask(&window(), "Accept DCC Chat?",
                              "User \"zed\" wants to DCC chat (secure chat) with you.  Do you "
                              "want to accept?"));
    ASSERT_TRUE(answered);
    const QPoint apart = asked.center() - window().frameGeometry().center();
    EXPECT_LE(apart.manhattanLength(), 4) << "the question at " << asked.x() << "," << asked.y();
}

} // namespace
