#pragma once

#include <QObject>

#include <cstddef>

class QLineEdit;
class QMenu;
class QWidget;

namespace peer {

struct FormatMenuItem;

// The style and colour menus of a chat window's input and its formatting keys (`FormatKeys`):
// each puts its code into the input at the caret (`InsertFormatCode`). The menus are built at
// their first use: with their actions they were a good part of what an idle window cost, and
// most windows never show them.
class FormatMenus : public QObject
{
    Q_OBJECT

public:
    FormatMenus(QWidget* owner, QLineEdit* input);

    QMenu* style();
    QMenu* colour();

    // Puts the code of menu item `id` in front of the input's selection, or at its caret.
    void insert(int id);

private:
    QMenu* menu(QMenu*& menu, const char* title, const FormatMenuItem* items, std::size_t count);

    QWidget* m_owner;
    QLineEdit* m_input;
    QMenu* m_style = nullptr;
    QMenu* m_colour = nullptr;
};

} // namespace peer
