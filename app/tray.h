#pragma once

#include <QObject>

class QSystemTrayIcon;

namespace app {

// The program's icon in the desktop's notification area: a left click brings the main window
// back. Many Linux desktops have no such area; there the program says so once and keeps its
// window on the screen, since a hidden window could never be brought back.
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
    // The close step takes the icon away before the window goes.
    void remove();

signals:
    void restoreRequested();

private:
    QSystemTrayIcon* m_icon = nullptr;
};

} // namespace app
