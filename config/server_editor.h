#pragma once

#include "config/settings.h"

#include <QByteArray>
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace config {

class Prompter;
class Store;

// The longest UTF-8 prefix of `text` that fits `maxBytes` without splitting a character: a
// stored text longer than its field reads back as missing, so it is cut before it is saved.
QByteArray utf8Prefix(const QString& text, int maxBytes);

// "Add New Server": address, optional network and port of one new server, and whether it is
// reached over TLS. OK refuses a blank address, a missing port and port 0 with a box and stays
// open; Cancel checks nothing.
class AddServerDialog : public QDialog
{
    Q_OBJECT

public:
    AddServerDialog(Prompter& prompter, QWidget* parent = nullptr);

    // What OK accepted; meaningful only after the dialog was accepted.
    const ServerEntry& server() const { return m_server; }
    QLineEdit* addressEdit() const { return m_address; }
    QLineEdit* networkEdit() const { return m_network; }
    QLineEdit* portEdit() const { return m_port; }
    QCheckBox* tlsBox() const { return m_tls; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

public slots:
    void accept() override;

private:
    Prompter& m_prompter;
    ServerEntry m_server;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_network = nullptr;
    QLineEdit* m_port = nullptr;
    QCheckBox* m_tls = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

// "Edit Servers": lists the stored servers, adds and removes them straight in the store and
// lists the store again after every change. It closes only through OK.
class ServerEditor : public QDialog
{
    Q_OBJECT

public:
    ServerEditor(Store& store, Prompter& prompter, QWidget* parent = nullptr);

    QTreeWidget* list() const { return m_list; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* removeButton() const { return m_remove; }
    QPushButton* okButton() const { return m_ok; }

public slots:
    // Escape and the close box do nothing here.
    void reject() override;
    void refresh();

private:
    void add();
    void remove();
    void reportUnsaved(bool saved);
    void postRefresh();

    Store& m_store;
    Prompter& m_prompter;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_ok = nullptr;
};

} // namespace config
