#pragma once

#include "app/message_boxes.h"
#include "app/skin.h"
#include "app/title_bar.h"
#include "diag/line_sender.h"
#include "irc/ctcp.h"
#include "irc/link_status.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QLabel;

namespace diag {
class DebugWindow;
class RawDataWindow;
class ServerLogWindow;
} // namespace diag

namespace irc {
class CtcpService;
struct Message;
class PresencePoller;
class ServerEvents;
class ServerLink;
} // namespace irc

namespace app {

class ClientArea;
class CommandTable;
class ContactListView;
class StatusLabel;
class HeldChatsEntry;
class MainMenuBar;
class MenuBar;

// The contact list window: its menus, the contact list, the status bar and the diagnostic
// windows. It shows what the program tells it and forwards what the user asks for; the
// program's features live elsewhere.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kWidth = 225;
    static constexpr int kHeight = 360;

    // `sender` puts the diagnostic windows' typed lines on the server link.
    MainWindow(CommandTable& commands, const diag::LineSender& sender, const SkinSet& skins = {},
               TitleBar::Mode titleMode = TitleBar::Mode::Separate, QWidget* parent = nullptr);
    ~MainWindow() override;

    TitleBar* titleBar() const { return m_titleBar; }
    MainMenuBar* mainMenuBar() const { return m_mainMenu; }
    MenuBar* userMenuBar() const { return m_userMenu; }
    // Off while the title bar drags the window: the skins wait until it is put down.
    void setSkinPainting(bool on);
    bool skinPainting() const { return m_skinPainting; }
    // Where there is no tray to come back from, minimising only minimises.
    void setHideWhenMinimised(bool hide) { m_hideWhenMinimised = hide; }
    // Asked before the close box ends the program; a false answer keeps it running.
    void setCloseCheck(std::function<bool()> check) { m_closeCheck = std::move(check); }

    QString statusText() const;
    ContactListView* contactList() const { return m_contacts; }
    // The "N more people wrote to you" entry under the contacts.
    HeldChatsEntry* heldChats() const { return m_held; }
    // The diagnostic windows come into being when first needed: most runs never open them, and
    // building them (two text panes that lay out a document each) cost start-up time.
    diag::DebugWindow* debugWindow() const;
    diag::ServerLogWindow* serverLogWindow() const;
    diag::RawDataWindow* rawDataWindow() const;

    // Echoes a server line to the server log, except the presence replies that come every ten
    // seconds and would drown it.
    void logServerLine(QByteArrayView line, const irc::Message* message);
    // Shows what the link, its events, the CTCP replies and the presence report from now on.
    void follow(irc::ServerLink& link, irc::ServerEvents& events, irc::CtcpService& ctcp,
                irc::PresencePoller& presence);

public slots:
    void setStatusText(const QString& text);
    void showLinkStatus(const irc::LinkStatus& status);
    // Registered, or known by a new nick after a collision.
    void showNick(const QByteArray& nick);
    // The user ended the link: the idle title and no contacts.
    void showDisconnected();
    void showWhois(const QString& text) { m_boxes.showWhois(text); }
    void showCtcpReply(irc::CtcpCode code, const QString& title, const QString& text)
    {
        m_boxes.showCtcpReply(code, title, text);
    }
    // The tray's click: the window and its title bar come back in front with the focus.
    void bringToFront();
    // Something from the network waits for the user (an offer): the window is marked in the
    // task bar, and the keyboard stays where the user is typing.
    void flash();
    // People outside the contact list who wrote beyond the bound on new chat windows: one entry
    // under the contacts lists them, and choosing one asks for their chat. None when empty.
    void showHeldChats(const QList<QByteArray>& nicks);

signals:
    // The close box: the program runs its close step.
    void closeRequested();
    void heldChatRequested(const QByteArray& nick);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildMenus();
    void buildBars(const SkinSet& skins, TitleBar::Mode titleMode);
    // Owned by the caption, as it always was.
    void showAbout()
    {
        showAboutBox(m_titleBar->mode() == TitleBar::Mode::Separate
                         ? static_cast<QWidget*>(m_titleBar)
                         : this);
    }
    void centreOnScreen();
    void placeTitleBar();
    void followDrag(QPoint position);

    CommandTable& m_commands;
    diag::LineSender m_sender;
    StatusLabel* m_status = nullptr;
    ContactListView* m_contacts = nullptr;
    HeldChatsEntry* m_held = nullptr;
    ClientArea* m_client = nullptr;
    MainMenuBar* m_mainMenu = nullptr;
    MenuBar* m_userMenu = nullptr;
    TitleBar* m_titleBar = nullptr;
    bool m_skinPainting = true;
    bool m_hideWhenMinimised = true;
    std::function<bool()> m_closeCheck;
    MessageBoxes m_boxes{*this};
    mutable std::unique_ptr<diag::DebugWindow> m_debugWindow;
    mutable std::unique_ptr<diag::ServerLogWindow> m_serverLog;
    mutable std::unique_ptr<diag::RawDataWindow> m_rawData;
};

} // namespace app
