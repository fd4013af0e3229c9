#pragma once

#include "config/contact_name.h"

#include <QByteArray>
#include <QDialog>

#include <optional>

class QListWidget;
class QPushButton;

namespace config {

class Prompter;
class Store;

// "Edit Contacts": adds, renames and removes contacts straight in the store and shows the
// store's list again after every change, also after one the store refused (then with a box).
// It closes only through OK.
class ContactEditor : public QDialog
{
    Q_OBJECT

public:
    // Names may be as long as `longestName` bytes: the server's NICKLEN once it said.
    ContactEditor(Store& store, Prompter& prompter, QWidget* parent = nullptr,
                  int longestName = kUnannouncedNickLength);

    QListWidget* list() const { return m_list; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* renameButton() const { return m_rename; }
    QPushButton* removeButton() const { return m_remove; }
    QPushButton* okButton() const { return m_ok; }

public slots:
    // Escape and the close box do nothing here.
    void reject() override;
    void refresh();

private:
    void add();
    void rename();
    void remove();
    // Asks until the user enters an acceptable name or cancels.
    std::optional<QString> askName(const QString& prompt, const QString& title,
                                   const QString& initial);
    std::optional<QString> selectedName();
    bool hasRoomFor(const QByteArray& nick) const;
    void reportFull();
    void reportUnsaved(bool saved);
    void postRefresh();

    Store& m_store;
    Prompter& m_prompter;
    QListWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_rename = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_ok = nullptr;
    int m_longestName;
};

} // namespace config
