#include "peer/common/window_placer.h"

#include "peer/common/window_place.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include <utility>

namespace peer {

void WindowPlacer::show(QWidget* window, Opener opener, const QWidget* near)
{
    const QWidget* owner = near ? near : m_main.data();
    m_placed.removeIf([](const QPointer<QWidget>& placed) { return placed.isNull(); });
    QList<QPoint> open;
    for (const QPointer<QWidget>& placed : std::as_const(m_placed)) {
        if (placed->isVisible())
            open << placed->pos();
    }
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        window->move(cascadePosition(owner ? owner->frameGeometry() : area,
                                     window->frameGeometry().size(), open, area));
    }
    m_placed << window;
    if (opener == Opener::User) {
        window->show();
        return;
    }
    QWidget* typing = QApplication::activeWindow();
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->show();
    // A new window goes on top of the stack; the one being typed in stays over it.
    if (typing && typing != window)
        typing->raise();
    QApplication::alert(window);
}

} // namespace peer
