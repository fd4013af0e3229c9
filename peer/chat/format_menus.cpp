#include "peer/chat/format_menus.h"

#include "peer/chat/format_runs.h"

#include <QMenu>
#include <QWidget>

namespace peer {

FormatMenus::FormatMenus(QWidget* owner)
    : QObject(owner)
    , m_owner(owner)
{}

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
            menu->addAction(tr(items[i].text), this, [this, id] { emit codeChosen(id); });
        }
    }
    return menu;
}

} // namespace peer
