// The skinned title bar and image buttons, the tray and the help links, on a whole program
// whose clicks go through the window system as a user's do.
#include "app/main_menu_bar.h"
#include "app/menu_bar.h"
#include "app/web_links.h"
#include "app/zone_button.h"
#include "config/installation.h"
#include "config/registry.h"
#include "config/settings_dialog.h"
#include "diag/debug_log.h"
#include "irc/texts.h"
#include "res/resources.h"
#include "tests/support/env_guard.h"
#include "tests/support/no_shared_artwork.h"
#include "tests/support/pixels.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

using app::Command;
using app::MenuBarZone;
using test::waitFor;

namespace {

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Receives what the program hands to the desktop to open, for the schemes given.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    explicit UrlCatcher(QStringList schemes)
        : m_schemes(std::move(schemes))
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl& url) { urls << url; }

private:
    QStringList m_schemes;
};

class BarsTest : public ::testing::Test
{
protected:
    void make(bool artwork, app::Tray::Availability tray = app::Tray::Availability::Absent)
    {
        test::CoreOptions options;
        options.autoconnect = false;
        options.artwork =
            artwork ? test::CoreOptions::Artwork::Installed : test::CoreOptions::Artwork::Emptied;
        options.tray = tray;
        core = std::make_unique<test::ProgramCore>(options);
        QTest::qWait(20);
    }
    app::MainWindow& window() { return core->window(); }
    app::TitleBar* titleBar() { return window().titleBar(); }

    // A press and release of the left button at `client`, a point of the title bar's client
    // area, delivered to its window as the window system would.
    void clickTitleBar(QPoint client)
    {
        QWindow* bar = titleBar()->windowHandle();
        const QPoint at = client + app::TitleBar::clientOrigin();
        QTest::mousePress(bar, Qt::LeftButton, {}, at);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
    }
    // The same on a bar of image buttons inside its window.
    static void clickBar(app::MenuBar* bar, QPoint local)
    {
        QWidget* top = bar->window();
        const QPoint at = bar->mapTo(top, local);
        QTest::mousePress(top->windowHandle(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(top->windowHandle(), Qt::LeftButton, {}, at);
    }
    // Records the commands the bars run, instead of running them.
    void recordCommands()
    {
        for (Command id : {Command::RelayedChat, Command::SendFileTo, Command::VoiceChat,
                           Command::EncryptedChat}) {
            core->program->commands().setHandler(id, [this, id](const auto& target) {
                ran << QString::number(int(id)) + ":" + QString::fromUtf8(target.value_or("-"));
            });
        }
    }
    static QMenu* shownMenu()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* menu = qobject_cast<QMenu*>(widget); menu && menu->isVisible())
                return menu;
        }
        return nullptr;
    }

    std::unique_ptr<test::ProgramCore> core;
    QStringList ran;
};

using test::inkIn;

TEST_F(BarsTest, TheTitleBarSitsOnTheWindowAndSplitsItsClicksByAreaAndItsCloseRunsTheCloseStep)
{
    make(false);
    ASSERT_TRUE(titleBar()->isVisible());
    EXPECT_EQ(titleBar()->size(), QSize(225, 20));
    EXPECT_EQ(titleBar()->pos(), window().pos() - QPoint(0, 19));
    EXPECT_EQ(titleBar()->windowTitle(), "titlebar");
    QSignalSpy done(core->program.get(), &app::Program::closeStepDone);
    clickTitleBar({215, 10});
    EXPECT_TRUE(waitFor([&] { return done.count() == 1; }));

    QSignalSpy minimise(titleBar(), &app::TitleBar::minimiseRequested);
    QSignalSpy close(titleBar(), &app::TitleBar::closeRequested);
    QSignalSpy drag(titleBar(), &app::TitleBar::dragStarted);
    // Disconnected from the window, so that each click only says what it asked for.
    titleBar()->disconnect(&window());
    struct Case
    {
        QPoint client;
        const char* expected;
    };
    // One point of each area and the gap between the buttons: titleBarAreaAt() has the edges.
    const Case cases[] = {
        {{196, 6}, "minimise"}, {{221, 14}, "close"}, {{210, 10}, "drag"}, {{3, 3}, "drag"}};
    for (const Case& c : cases) {
        minimise.clear();
        close.clear();
        drag.clear();
        clickTitleBar(c.client);
        const QString got = minimise.count() ? "minimise"
                            : close.count()  ? "close"
                            : drag.count()   ? "drag"
                                             : "nothing";
        EXPECT_EQ(got, c.expected) << c.client.x() << "," << c.client.y();
        EXPECT_EQ(minimise.count() + close.count() + drag.count(), 1);
    }
    EXPECT_FALSE(titleBar()->isDragging());
}

TEST_F(BarsTest, ADragMovesTheWindowUnderTheCursorAndPaintsTheSideWhenPutDown)
{
    make(true);
    QPoint cursor(400, 200);
    titleBar()->setCursorSource([&] { return cursor; });
    {
        // A press and release without moving redraws nothing.
        PaintCounter paints(window().centralWidget());
        QTest::qWait(50);
        paints.count = 0;
        clickTitleBar({100, 10});
        QTest::qWait(60);
        EXPECT_EQ(paints.count, 0);
        EXPECT_TRUE(window().skinPainting());
    }
    const QPoint grab(50, 10);
    const QPoint side = window().centralWidget()->mapTo(&window(), QPoint(15 + 20, 75 + 85));
    const QRgb painted = window().grab().toImage().pixel(side);
    ASSERT_NE(painted, app::kSkinBackground) << "the side picture shows";

    QTest::mousePress(titleBar()->windowHandle(), Qt::LeftButton, {},
                      grab + app::TitleBar::clientOrigin());
    EXPECT_FALSE(window().skinPainting());
    cursor += QPoint(30, 40);
    const QPoint expected(cursor.x() - grab.x() - 1, cursor.y() - grab.y() + 18);
    ASSERT_TRUE(waitFor([&] { return window().pos() == expected; }));
    EXPECT_EQ(titleBar()->pos(), expected - QPoint(0, 19));
    // While it moves, the client area is painted plain and the menu bar keeps its skin.
    const QImage moving = window().grab().toImage();
    EXPECT_EQ(moving.pixel(side), app::kSkinBackground);
    EXPECT_NE(moving.pixel(20, 12), app::kSkinBackground);

    QTest::mouseRelease(titleBar()->windowHandle(), Qt::LeftButton, {},
                        grab + app::TitleBar::clientOrigin());
    EXPECT_TRUE(window().skinPainting());
    EXPECT_FALSE(titleBar()->isDragging());
    EXPECT_EQ(window().grab().toImage().pixel(side), painted);
}

TEST_F(BarsTest, TheUserMenuBarActsByColumnAndAChatWindowsOnItsPeer)
{
    make(false);
    recordCommands();
    app::MenuBar* bar = window().userMenuBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(50, 280, 150, 25));
    EXPECT_EQ(bar->objectName(), "UserMenuBar");
    const QString chat = QString::number(int(Command::RelayedChat)) + ":-";
    const QString file = QString::number(int(Command::SendFileTo)) + ":-";
    const QString voice = QString::number(int(Command::VoiceChat)) + ":-";
    const QString crypto = QString::number(int(Command::EncryptedChat)) + ":-";
    // A column of each button and a gap: menuBarZoneAt() has the edges.
    const std::pair<int, QString> cases[] = {{5, ""},      {6, chat},   {34, ""},
                                             {60, file},   {63, voice}, {85, ""},
                                             {86, crypto}, {116, ""},   {149, ""}};
    for (const auto& [x, expected] : cases) {
        for (int y : {0, 12, 24}) {
            ran.clear();
            clickBar(bar, {x, y});
            EXPECT_EQ(ran.join(','), expected) << x << "," << y;
        }
    }
    // The CTCP menu opens 119 pixels in from the bar's left edge and 5 above its bottom.
    for (int x : {119, 144}) {
        clickBar(bar, {x, 24});
        QMenu* menu = shownMenu();
        ASSERT_NE(menu, nullptr) << x;
        EXPECT_EQ(menu->pos(), bar->mapToGlobal(QPoint(119, 20)));
        QStringList items;
        for (QAction* item : menu->actions())
            items << item->text();
        EXPECT_EQ(items, (QStringList{"Whois", "Ping", "Finger", "Time", "Version", "Source"}));
        menu->hide();
    }

    // A chat window's bar acts on its peer inside its sunken edge.
    peer::ChatWindow* chatWindow = core->program->chats().openChat("bob");
    ASSERT_NE(chatWindow, nullptr);
    auto* chatBar = chatWindow->findChild<app::MenuBar*>("ChatMenuBar");
    ASSERT_NE(chatBar, nullptr);
    // The picture's place and size inside the two-pixel edge: the whole picture shows.
    EXPECT_EQ(chatBar->contentsRect().size(), app::MenuBar::kSkinSize);
    EXPECT_EQ(chatBar->mapTo(chatWindow, chatBar->contentsRect().topLeft()), QPoint(10, 5));
    // Inside the edge, x counts from the inner corner.
    const std::pair<int, Command> chatCases[] = {{6, Command::RelayedChat},
                                                 {36, Command::SendFileTo},
                                                 {63, Command::VoiceChat},
                                                 {115, Command::EncryptedChat}};
    for (const auto& [x, id] : chatCases) {
        ran.clear();
        clickBar(chatBar, {2 + x, 8});
        EXPECT_EQ(ran, QStringList{QString::number(int(id)) + ":bob"}) << x;
    }
    ran.clear();
    clickBar(chatBar, {2 + 5, 8});
    clickBar(chatBar, {1, 8});  // the edge itself
    EXPECT_TRUE(ran.isEmpty()); // text_fit_test names its buttons
}

TEST_F(BarsTest, TheSkinsArePaintedComposedAndTheTitleDirect)
{
    make(true);
    const QString skins = core->temp.dirPath() + "/skin/";
    const app::Skin title = app::Skin::load(skins + "kivvo_skin_title.bmp");
    const app::Skin mainMenu = app::Skin::load(skins + "kivvo_skin_mainmenu.bmp");
    const app::Skin side = app::Skin::load(skins + "kivvo_skin_side.bmp");
    const app::Skin userMenu = app::Skin::load(skins + "kivvo_skin_usermenu.bmp");
    ASSERT_FALSE(title.isNull() || mainMenu.isNull() || side.isNull() || userMenu.isNull());
    EXPECT_EQ(title.image().size(), QSize(225, 20));
    EXPECT_EQ(mainMenu.image().size(), QSize(224, 24));
    EXPECT_EQ(side.image().size(), QSize(40, 170));
    EXPECT_EQ(userMenu.image().size(), QSize(150, 20));

    const QImage shot = window().grab().toImage();
    const QImage bar = titleBar()->grab().toImage();
    const QImage composedMenu = app::composeSkin(mainMenu.image(), {224, 24});
    const QImage composedSide = app::composeSkin(side.image(), {40, 170});
    const QImage composedUser = app::composeSkin(userMenu.image(), {150, 20});
    const QPoint client = window().centralWidget()->mapTo(&window(), QPoint(0, 0));
    const QPoint user = window().userMenuBar()->mapTo(&window(), QPoint(0, 0));
    for (int y = 0; y < 18; y += 3) {
        for (int x = 0; x < 223; x += 7)
            ASSERT_EQ(bar.pixel(x + 1, y + 1), title.image().pixel(x, y)) << x << "," << y;
    }
    for (int y = 0; y < 23; y += 2) {
        for (int x = 0; x < 223; x += 5)
            ASSERT_EQ(shot.pixel(x + 1, y + 1), composedMenu.pixel(x, y)) << x << "," << y;
    }
    // The contact list covers the picture's last five columns.
    for (int y = 0; y < 170; y += 5) {
        for (int x = 0; x < 35; x += 3)
            ASSERT_EQ(shot.pixel(client + QPoint(15 + x, 75 + y)), composedSide.pixel(x, y));
    }
    for (int y = 0; y < 20; y += 2) {
        for (int x = 0; x < 150; x += 3) {
            const QPoint at = user + QPoint(x, y);
            // Hover highlights aside, the strip shows its picture.
            ASSERT_EQ(shot.pixel(at), composedUser.pixel(x, y)) << x << "," << y;
        }
    }
    // The buttons draw nothing of their own over the skins.
    for (auto* button : window().userMenuBar()->findChildren<app::ZoneButton*>())
        EXPECT_FALSE(button->hasGlyph());
    for (auto* button : titleBar()->findChildren<app::ZoneButton*>())
        EXPECT_FALSE(button->hasGlyph());
}

TEST_F(BarsTest, WithoutSkinsTheMenuTitlesFitAndTheButtonsAreStillDrawn)
{
    make(false);
    app::MainMenuBar* bar = window().mainMenuBar();
    ASSERT_FALSE(bar->hasSkin());
    EXPECT_EQ(bar->height(), 24);
    const QFontMetrics metrics(bar->titleFont());
    const QList<QAction*> items = bar->actions();
    ASSERT_EQ(items.size(), 5);
    int x = 0;
    for (int i = 0; i < 5; ++i) {
        const QRect item = bar->actionGeometry(items[i]);
        EXPECT_EQ(item, QRect(x, 0, app::MainMenuBar::kItemWidths[size_t(i)], 24)) << i;
        EXPECT_LE(metrics.horizontalAdvance(items[i]->text()), item.width() - 2) << i;
        x += item.width();
    }
    // All five show: no overflow button.
    for (auto* button : bar->findChildren<QToolButton*>())
        EXPECT_FALSE(button->isVisible());
    EXPECT_GE(bar->titleFont().pixelSize(), 8) << "still legible";

    // The buttons and the title bar's two areas are still drawn.
    const QImage title = titleBar()->grab().toImage();
    const QPoint origin = app::TitleBar::clientOrigin();
    EXPECT_GT(inkIn(title, app::kMinimiseArea.translated(origin)), 15) << "minimise";
    EXPECT_GT(inkIn(title, app::kCloseArea.translated(origin)), 15) << "close";
    const QImage buttons = window().userMenuBar()->grab().toImage();
    for (const app::ZoneSpan& span : app::kMenuBarZones) {
        const QRect zone(span.first, 0, span.last - span.first + 1, 20);
        EXPECT_GT(inkIn(buttons, zone.adjusted(1, 1, -1, -1)), 60) << int(span.zone);
    }
    // The gaps between them stay plain, so that five buttons show and not one strip.
    EXPECT_EQ(inkIn(buttons, QRect(34, 0, 2, 20)), 0);
}

TEST_F(BarsTest, AStoreWithoutArtworkShowsTheProgramsOwnSkinsAndHelpPage)
{
    // As the demo's stores are: an installation folder named, with nothing in it.
    test::NoSharedArtwork noPackage;
    test::CoreOptions options;
    options.autoconnect = false;
    options.artwork = test::CoreOptions::Artwork::NotInstalled;
    core = std::make_unique<test::ProgramCore>(options);
    const QImage builtIn = app::Skin::load(":/skin/kivvo_skin_title.bmp").image();
    ASSERT_FALSE(builtIn.isNull());
    const QImage bar = titleBar()->grab().toImage();
    for (QPoint p : {QPoint(10, 8), QPoint(120, 4), QPoint(200, 10), QPoint(215, 10)})
        EXPECT_EQ(bar.pixel(p + app::TitleBar::clientOrigin()), builtIn.pixel(p)) << p.x();
    EXPECT_TRUE(window().mainMenuBar()->hasSkin());

    UrlCatcher catcher({"file"});
    core->run(Command::Help);
    ASSERT_EQ(catcher.urls.size(), 1);
    QFile page(catcher.urls[0].toLocalFile());
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << "a file a browser can read";
    QFile original(":/help/kivvo_help.html");
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(page.readAll(), original.readAll());
    EXPECT_TRUE(window().statusBar()->currentMessage().isEmpty());
}

// The menu titles are set close together; each stands on a key of its own with plain columns
// between the keys, with the skin and without it.
TEST_F(BarsTest, TheTitleBarSaysWhoseWindowItIsAndTheFiveMenuTitlesStandApart)
{
    for (bool artwork : {false, true}) {
        make(artwork);
        app::MainMenuBar* bar = window().mainMenuBar();
        ASSERT_EQ(bar->hasSkin(), artwork);
        const QImage shot = bar->grab().toImage();
        const QList<QAction*> items = bar->actions();
        ASSERT_EQ(items.size(), 5);
        for (int i = 1; i < 5; ++i) {
            const int boundary = bar->actionGeometry(items[i]).left();
            EXPECT_EQ(inkIn(shot, QRect(boundary - 1, 0, 2, 21)), 0) << artwork << " " << i;
            for (int x : {boundary - 3, boundary + 2})
                EXPECT_NE(shot.pixel(x, 4), app::kSkinBackground) << artwork << " " << x;
        }

        const QImage before = titleBar()->grab().toImage();
        window().showNick("alice");
        EXPECT_EQ(titleBar()->nick(), "alice");
        const QImage after = titleBar()->grab().toImage();
        int changed = 0;
        for (int y = 0; y < before.height(); ++y) {
            for (int x = 0; x < 190; ++x)
                changed += before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
        }
        EXPECT_GT(changed, 20) << artwork;
        // The two areas are left as they were.
        for (const QRect& area : {app::kMinimiseArea, app::kCloseArea})
            EXPECT_EQ(before.copy(area.translated(1, 1)), after.copy(area.translated(1, 1)));
        window().showDisconnected();
        EXPECT_EQ(titleBar()->nick(), "");
    }
}

TEST_F(BarsTest, TheTrayBringsTheWindowBackOnALeftClickOnlyAndWithoutOneItIsNeverLost)
{
    make(false, app::Tray::Availability::Present);
    QSystemTrayIcon* icon = core->program->tray().icon();
    ASSERT_NE(icon, nullptr);
    // Not connected here: the tip names the nick we would ask for.
    EXPECT_EQ(icon->toolTip(), "Kivvo v2.0 - alice (not connected)");
    clickTitleBar({200, 10}); // minimise
    ASSERT_TRUE(waitFor([&] { return !window().isVisible(); }));
    EXPECT_FALSE(titleBar()->isVisible());

    for (auto reason :
         {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
        emit icon->activated(reason);
        QTest::qWait(10);
        EXPECT_FALSE(window().isVisible()) << reason;
    }
    emit icon->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(window().isMinimized());
    EXPECT_TRUE(titleBar()->isVisible());
    EXPECT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window(); }));

    // Started hidden, only the tray shows it.
    window().hide();
    core->program->showAtStart(true);
    EXPECT_FALSE(window().isVisible());

    // Without a tray the window can never be lost.
    diag::DebugPanes::instance().clear();
    make(false, app::Tray::Availability::Absent);
    EXPECT_EQ(core->program->tray().icon(), nullptr);
    const QString status = diag::DebugPanes::instance().text(diag::Pane::Status);
    EXPECT_EQ(status.count("No system tray"), 1) << status.toStdString();

    window().hide();
    core->program->showAtStart(true); // "HIDE"
    EXPECT_TRUE(window().isVisible());
    clickTitleBar({200, 10});
    QTest::qWait(30);
    EXPECT_TRUE(window().isVisible());
}

// A build that names no online pages must not send the user to an address that leads nowhere.
TEST_F(BarsTest, TheHelpItemsOpenTheLocalPageAndTheConfiguredAddressesOrSaySoInTheStatusBar)
{
    make(true);
    const QString page = core->temp.dirPath() + "/help/kivvo_help.html";
    {
        UrlCatcher catcher({"https", "file"});
        core->run(Command::Help);
        core->run(Command::HelpOnline);
        core->run(Command::SupportOnline);
        ASSERT_EQ(catcher.urls.size(), 3);
        EXPECT_EQ(catcher.urls[0], QUrl::fromLocalFile(page));
        EXPECT_TRUE(QFile::exists(page));
        const auto expected = [&](const QString& address) {
            return address.isEmpty() ? QUrl::fromLocalFile(page) : QUrl(address);
        };
        EXPECT_EQ(catcher.urls[1], expected(app::helpOnlineAddress()));
        EXPECT_EQ(catcher.urls[2], expected(app::supportOnlineAddress()));
    }

    // The user took the help page out.
    ASSERT_TRUE(QFile::remove(page));
    const QString idle = window().statusText();
    core->run(Command::Help);
    EXPECT_EQ(window().statusBar()->currentMessage(),
              "Kivvo Help is not installed (help/kivvo_help.html).");
    if (app::helpOnlineAddress().isEmpty()) {
        window().statusBar()->clearMessage();
        core->run(Command::HelpOnline);
        EXPECT_TRUE(window().statusBar()->currentMessage().contains("not installed"));
    }
    // A page that is there, but nothing on this desktop opens it (no browser on the path).
    QTemporaryDir help;
    core->temp.registry().writeValue(config::kKeyRoot, "installdir", help.path().toUtf8());
    QDir(help.path()).mkpath("help");
    QFile helpPage(help.filePath("help/kivvo_help.html"));
    ASSERT_TRUE(helpPage.open(QIODevice::WriteOnly));
    helpPage.close();
    {
        test::EnvGuard path("PATH", help.path().toLocal8Bit());
        core->run(Command::Help);
    }
    EXPECT_EQ(window().statusBar()->currentMessage(),
              "No program could open the help page " + helpPage.fileName() + ".");
    // Only for a while: the connection's status is still there underneath.
    window().statusBar()->clearMessage();
    EXPECT_EQ(window().statusText(), idle);
}

TEST(FirstRun, InstallsTheSkinsAndTheHelpPageAsTheUsersOwnFiles)
{
    QTemporaryDir dir;
    config::Registry registry(dir.filePath("store.db"));
    config::FirstRunDefaults defaults;
    defaults.installDir = dir.filePath("kivvo");
    defaults.files = res::installedFiles();
    ASSERT_TRUE(config::installIfMissing(registry, defaults));
    for (const char* name :
         {"skin/kivvo_skin_title.bmp", "skin/kivvo_skin_usermenu.bmp",
          "skin/kivvo_skin_mainmenu.bmp", "skin/kivvo_skin_side.bmp", "help/kivvo_help.html"}) {
        const QFileInfo file(defaults.installDir + "/" + name);
        EXPECT_TRUE(file.exists()) << name;
        EXPECT_TRUE(file.permissions() & QFileDevice::WriteOwner) << name;
    }
    // A skin the user removed stays removed: only a new installation brings the files.
    QFile::remove(defaults.installDir + "/skin/kivvo_skin_side.bmp");
    EXPECT_FALSE(config::installIfMissing(registry, defaults));
    EXPECT_FALSE(QFile::exists(defaults.installDir + "/skin/kivvo_skin_side.bmp"));
}

TEST_F(BarsTest, TheWindowGoesWhereItWasToldAndOnWaylandTheCaptionIsItsTopRow)
{
    test::CoreOptions options;
    options.autoconnect = false;
    options.windowPosition = QPoint(300, 60);
    core = std::make_unique<test::ProgramCore>(options);
    EXPECT_EQ(window().pos(), QPoint(300, 60));
    EXPECT_EQ(titleBar()->pos(), QPoint(300, 41));

    options.windowPosition.reset();
    options.titleBar = app::TitleBar::Mode::Embedded;
    core = std::make_unique<test::ProgramCore>(options);
    EXPECT_EQ(titleBar()->window(), &window());
    EXPECT_EQ(window().height(), 380);
    QSignalSpy minimise(titleBar(), &app::TitleBar::minimiseRequested);
    QTest::mousePress(titleBar(), Qt::LeftButton, {}, QPoint(50, 10)); // a system move
    QTest::mouseRelease(titleBar(), Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_FALSE(titleBar()->isDragging());
}

} // namespace

#include "bars_test.moc"

// The help page described an 8 kHz voice chat, Ping in seconds and the options of long ago; it
// knew nothing of the lock button, typing, delivery marks or Opus.
TEST(HelpPage, NamesWhatTheProgramHas)
{
    res::initResources();
    QFile file(QStringLiteral(":/help/kivvo_help.html"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());
    QStringList missing;
    const auto expect = [&](const QString& text) {
        if (!page.contains(text))
            missing << text;
    };
    // Every option the Options window offers, by its own words.
    test::ScriptedPrompter prompter;
    test::TempStore store;
    config::SettingsDialog options(store.store(), prompter);
    for (const QCheckBox* box : options.findChildren<QCheckBox*>()) {
        QString text = box->text();
        expect(text.remove(QLatin1Char('&')).toHtmlEscaped().replace("&#39;", "'"));
    }
    // Ping as it is shown, measured in milliseconds.
    expect(QString::fromLatin1(irc::text::kPingReplyMs).arg(120));
    EXPECT_FALSE(page.contains("Ping Reply - 1 seconds"));
    for (const char* text : {"Opus 48 kHz", "The voice chat has ended.", "Encrypt this chat",
                             "Set key...", "Compare keys...", "Stop encrypting", "is typing",
                             "Not delivered", "DCC REJECT", "Exit Kivvo?", "Set Away"})
        expect(QString::fromUtf8(text));
    EXPECT_EQ(missing, QStringList());
}
