#pragma once

#include <QByteArray>
#include <QList>
#include <QToolButton>

namespace app {

// The one entry for the people outside the contact list who wrote beyond the bound on new chat
// windows: "N more people wrote to you", whose menu lists them. Hidden while nobody waits.
class HeldChatsEntry : public QToolButton
{
    Q_OBJECT

public:
    explicit HeldChatsEntry(QWidget* parent = nullptr);

    void showNicks(const QList<QByteArray>& nicks);

signals:
    // The user picked `nick` from the menu.
    void chosen(const QByteArray& nick);
};

} // namespace app
