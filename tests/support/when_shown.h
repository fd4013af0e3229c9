#pragma once

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace test {

// Answers the next modal dialog of type T once its exec() shows it. Whatever else shows up is
// closed, so that a wrong dialog fails the test instead of hanging it.
template <typename T> void whenShown(std::function<void(T&)> answer)
{
    QTimer::singleShot(0, qApp, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<T*>(modal)) {
            answer(*dialog);
            return;
        }
        ADD_FAILURE() << "expected dialog not shown";
        if (auto* other = qobject_cast<QDialog*>(modal))
            other->done(QDialog::Rejected);
    });
}

// The text of the label that names `field` (its buddy) in `dialog`, or nothing.
inline QString labelFor(const QWidget& dialog, const QWidget* field)
{
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->buddy() == field)
            return label->text();
    }
    return {};
}

} // namespace test
