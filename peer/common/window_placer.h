#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

namespace peer {

// Shows every new chat, transfer and voice window: near the window it belongs to, a step away
// from the others still open, and, when the network opened it, without taking the keyboard.
class WindowPlacer
{
public:
    // Who a window comes up for: the user (he clicked Chat, or Yes to an offer) or the network
    // (a stranger wrote), which must never take the keyboard from where the user types.
    enum class Opener { User, Network };

    // Windows that belong to no other window come up near this one.
    void setMainWindow(QWidget* main) { m_main = main; }

    // Places and shows `window` near `near`, or near the main window when that is null.
    void show(QWidget* window, Opener opener, const QWidget* near = nullptr);

private:
    QPointer<QWidget> m_main;
    QList<QPointer<QWidget>> m_placed;
};

} // namespace peer
