// The program on a real X server with a notification area, as a user sees it: the skins on the
// screen where they belong, every text whole, the tray icon in place. With KIVVO_SCREENSHOT set
// to a file name it also saves what the screen shows (tools/screenshot, for the README).
#include "app/main_menu_bar.h"
#include "app/menu_bar.h"
#include "tests/support/connected_program.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

using test::waitFor;

namespace {

constexpr QPoint kMainAt(30, 50);
constexpr QPoint kChatAt(275, 31);

// Every visible text of `window` that its widget cannot show whole.
QStringList clippedTexts(QWidget* window)
{
    QStringList clipped;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap())
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        if (text.isEmpty())
            continue;
        const QSize hint = widget->sizeHint();
        if (hint.width() > widget->width() || hint.height() > widget->height()) {
            clipped << QStringLiteral("%1 \"%2\": %3x%4 shown, %5x%6 needed")
                           .arg(QString::fromLatin1(widget->metaObject()->className()), text)
                           .arg(widget->width())
                           .arg(widget->height())
                           .arg(hint.width())
                           .arg(hint.height());
        }
    }
    return clipped;
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
        connect(options);
        ASSERT_TRUE(showOnline({"bob", "carol", "erin"}));
        window().move(kMainAt);
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
        screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    }

    // The screen pixel at `at` of `widget`'s window-system position.
    QRgb onScreen(const QWidget* widget, QPoint at) const
    {
        return screen.pixel(widget->mapToGlobal(at));
    }

    peer::ChatWindow* chat = nullptr;
    QImage screen;
};

TEST_F(DesktopTest, TheSkinsShowOnTheScreenWhereTheyBelong)
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
                                .united(chat->frameGeometry())
                                .adjusted(-12, -12, 12, 12);
        // The windows as the screen shows them, on a quiet backdrop instead of the bare root.
        QImage picture(shown.size(), QImage::Format_RGB32);
        picture.fill(QColor(0x5b, 0x6e, 0x82));
        QPainter painter(&picture);
        for (const QRect& frame : {QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size()),
                                   window().frameGeometry(), chat->frameGeometry()})
            painter.drawImage(frame.topLeft() - shown.topLeft(), screen, frame);
        ASSERT_TRUE(picture.save(QString::fromLocal8Bit(file)));
    }
}

TEST_F(DesktopTest, EveryTextShowsWhole)
{
    EXPECT_EQ(clippedTexts(&window()), QStringList());
    EXPECT_EQ(clippedTexts(chat), QStringList());
    for (auto* button : window().mainMenuBar()->findChildren<QAbstractButton*>())
        EXPECT_FALSE(button->isVisible()) << "the menu bar overflows";
}

TEST_F(DesktopTest, TheTrayIconIsInTheNotificationArea)
{
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "tools/test starts trayer";
    QSystemTrayIcon* icon = core->program->tray().icon();
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(waitFor([&] { return icon->geometry().isValid(); }));
    EXPECT_EQ(icon->toolTip(), "Kivvo v2.0");
}

} // namespace
