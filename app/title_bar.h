#pragma once

#include "app/bar_areas.h"
#include "app/skin.h"

#include <QTimer>
#include <QWidget>

#include <functional>

namespace app {

// The skinned caption of the main window: a minimise and a close button, and everywhere else a
// handle that drags the main window. Where the windowing system lets a program place its own
// windows (X11) it is a window of its own sitting on the main window's top edge, and the drag
// follows the cursor on a timer; where it does not (Wayland) it is the top row of the main
// window and the drag is the system's own move.
class TitleBar : public QWidget
{
    Q_OBJECT

public:
    enum class Mode { Separate, Embedded };
    static constexpr int kDragTickMs = 20;

    // A separate bar is a tool window of `mainWindow`; an embedded one its child.
    TitleBar(const Skin& skin, Mode mode, QWidget* mainWindow);

    Mode mode() const { return m_mode; }
    // Whose window this is, written on the bar; nobody's when empty.
    void setNick(const QString& nick);
    QString nick() const { return m_nick; }
    bool isDragging() const { return m_drag.isActive(); }
    // Where the cursor is on the screen; tests replace it.
    void setCursorSource(std::function<QPoint()> cursor) { m_cursor = std::move(cursor); }
    // The bar's client area lies inside its one-pixel border.
    static QPoint clientOrigin() { return {1, 1}; }

signals:
    void minimiseRequested();
    void closeRequested();
    void dragStarted();
    // Where the main window's top-left corner belongs now.
    void dragMoved(QPoint windowPosition);
    // `moved`: the cursor ended somewhere else than it started.
    void dragFinished(bool moved);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void dragStep();

    QImage m_skin;
    Mode m_mode;
    QString m_nick;
    QTimer m_drag;
    QPoint m_dragStart; // screen
    QPoint m_grab;      // client
    std::function<QPoint()> m_cursor;
};

} // namespace app
