#pragma once

#include "tests/support/wait_for.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

namespace test {

// Another window of ours where the user is typing (a password, say): whatever arrives from the
// network must leave the keyboard there. The offscreen platform tracks the active window and
// activates a window on request, so a window that takes the keyboard shows here.
class TypingElsewhere
{
public:
    TypingElsewhere()
        : m_field(new QLineEdit(&m_window))
    {
        m_window.setWindowTitle(QStringLiteral("Elsewhere"));
        m_window.show();
        takeKeyboard();
    }

    // Back to this window, as the user would click it; true once it has the keyboard.
    bool takeKeyboard()
    {
        m_window.activateWindow();
        m_field->setFocus();
        return waitFor([&] { return hasKeyboard(); });
    }
    bool hasKeyboard() const
    {
        return QApplication::activeWindow() == &m_window && QApplication::focusWidget() == m_field;
    }
    // Lets every activation already requested take effect (window system events go in the same
    // pass as the posted marker), then tells whether the keyboard stayed here.
    bool keptKeyboard()
    {
        bool settled = false;
        QTimer::singleShot(0, &m_window, [&] { settled = true; });
        waitFor([&] { return settled; });
        QCoreApplication::processEvents();
        return hasKeyboard();
    }

private:
    QWidget m_window;
    QLineEdit* m_field;
};

} // namespace test
