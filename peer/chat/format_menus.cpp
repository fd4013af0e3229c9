#include "peer/chat/format_menus.h"

#include "peer/chat/format_keys.h"
#include "peer/chat/format_runs.h"

#include <QLineEdit>
#include <QMenu>
#include <QWidget>

namespace peer {

FormatMenus::FormatMenus(QWidget* owner, QLineEdit* input)
    : QObject(owner)
    , m_owner(owner)
    , m_input(input)
{
    auto* keys = new FormatKeys(input);
    connect(keys, &FormatKeys::codeAsked, this, &FormatMenus::insert);
    connect(keys, &FormatKeys::colourMenuAsked, this, [this] {
        // Under the caret, where the user types: the mouse may be anywhere.
        const QRect caret = m_input->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        colour()->popup(m_input->mapToGlobal(caret.bottomLeft()));
    });
}

QMenu* FormatMenus::style()
{
    return menu(m_style, "Style Menu", kStyleMenuItems.data(), kStyleMenuItems.size());
}

QMenu* FormatMenus::colour()
{
    return menu(m_colour, "Color Menu", kColourMenuItems.data(), kColourMenuItems.size());
}

QMenu* FormatMenus::menu(QMenu*& menu, const char* title, const FormatMenuItem* items,
                         std::size_t count)
{
    if (!menu) {
        menu = new QMenu(tr(title), m_owner);
        for (std::size_t i = 0; i < count; ++i) {
            const int id = items[i].id;
            menu->addAction(tr(items[i].text), this, [this, id] { insert(id); });
        }
    }
    return menu;
}

void FormatMenus::insert(int id)
{
    m_input->setFocus();
    const int start =
        m_input->hasSelectedText() ? m_input->selectionStart() : m_input->cursorPosition();
    const int end = m_input->hasSelectedText() ? m_input->selectionEnd() : start;
    const FormatInsertion result = InsertFormatCode(m_input->text(), start, end, id);
    m_input->setText(result.text);
    m_input->setSelection(result.selectionStart, result.selectionEnd - result.selectionStart);
}

} // namespace peer
