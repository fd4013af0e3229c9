#pragma once

#include "app/skin.h"

#include <QImage>
#include <QWidget>

namespace app {

class MainWindow;

// The main window's area between the menu bar and the status bar, with the side picture. The
// picture waits while the window says its skins are not painted (a drag of the title bar).
class ClientArea : public QWidget
{
public:
    ClientArea(const Skin& side, const MainWindow& window);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const MainWindow& m_window;
    QImage m_side;
};

} // namespace app
