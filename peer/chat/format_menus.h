#pragma once

#include <QObject>

#include <cstddef>

class QMenu;
class QWidget;

namespace peer {

struct FormatMenuItem;

// The style and colour menus of a chat window's input, each built at its first use: with their
// actions they were a good part of what an idle window cost, and most windows never show them.
class FormatMenus : public QObject
{
    Q_OBJECT

public:
    explicit FormatMenus(QWidget* owner);

    QMenu* style();
    QMenu* colour();

signals:
    // The id of the formatting code the user chose (`InsertFormatCode`).
    void codeChosen(int id);

private:
    QMenu* menu(QMenu*& menu, const char* title, const FormatMenuItem* items, std::size_t count);

    QWidget* m_owner;
    QMenu* m_style = nullptr;
    QMenu* m_colour = nullptr;
};

} // namespace peer
