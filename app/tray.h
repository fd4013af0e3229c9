#pragma once

#include <QByteArray>
#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace irc {
class ServerLink;
}

namespace app {

// The program's icon in the desktop's notification area: a left click brings the main window
// back, its tip names our nick and the link's state, and its menu shows the window, sets away
// and exits. Many Linux desktops have no such area; there the program says so once and keeps
// its window on the screen, since a hidden window could never be brought back.
class Tray : public QObject
{
    Q_OBJECT

public:
    // Whether to look for the desktop's tray, or (tests) to take it as there or not.
    enum class Availability { Detect, Present, Absent };

    explicit Tray(Availability availability, QObject* parent = nullptr);
    ~Tray() override;

    bool isPresent() const { return m_icon != nullptr; }
    QSystemTrayIcon* icon() const { return m_icon; }
    QMenu* menu() const { return m_menu; }
    // The close step takes the icon away before the window goes.
    void remove();

    // The tip follows the nick the server knows us by and the link's state.
    void follow(irc::ServerLink& link);
    // The nick we ask for until the server names us.
    void setNick(const QByteArray& nick);
    void setAway(bool away);

signals:
    void restoreRequested();
    // The user asked to be away (or back) from the menu.
    void awayRequested(bool away);
    void exitRequested();

private:
    enum class State { NotConnected, Connecting, Connected };
    void setState(State state);
    void showTip();

    QSystemTrayIcon* m_icon = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_away = nullptr;
    QByteArray m_nick;
    State m_state = State::NotConnected;
    bool m_isAway = false;
};

} // namespace app
