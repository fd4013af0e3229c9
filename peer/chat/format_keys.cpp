#include "peer/chat/format_keys.h"

#include "peer/chat/format_runs.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace peer {

namespace {

enum class FormatKey { None, Bold, Underline, Colour };

FormatKey formatKey(const QKeyEvent& key)
{
    // Shift and keypad make no other binding of these; Alt and Meta do.
    const Qt::KeyboardModifiers mods = key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (mods != Qt::ControlModifier)
        return FormatKey::None;
    switch (key.key()) {
    case Qt::Key_B:
        return FormatKey::Bold;
    case Qt::Key_U:
        return FormatKey::Underline;
    case Qt::Key_K:
        return FormatKey::Colour;
    default:
        return FormatKey::None;
    }
}

} // namespace

FormatKeys::FormatKeys(QLineEdit* input)
    : QObject(input)
{
    input->installEventFilter(this);
}

bool FormatKeys::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::KeyPress;
    if (!press && event->type() != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    const FormatKey key = formatKey(*static_cast<QKeyEvent*>(event));
    if (key == FormatKey::None)
        return QObject::eventFilter(watched, event);
    if (!press) {
        // Ours, not a window's or the application's shortcut: the press comes here next.
        event->accept();
        return true;
    }
    if (key == FormatKey::Bold)
        emit codeAsked(kBoldCommand);
    else if (key == FormatKey::Underline)
        emit codeAsked(kUnderlineCommand);
    else
        emit colourMenuAsked();
    return true;
}

} // namespace peer
