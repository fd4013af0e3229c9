#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace config {

class Store;

// "Connect to Server": lists the stored servers and asks for the chosen one. It knows no server
// link: it requests the disconnect, then the connect, and the caller carries them out. It has
// no Cancel button; Escape closes it as the close box does, requesting nothing.
class ConnectDialog : public QDialog
{
    Q_OBJECT

public:
    // Opens with the row of `current` (the server in use, a position in Store::EnumServers())
    // selected, so that Connect or Enter reconnect to it.
    explicit ConnectDialog(Store& store, int current = -1, QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QPushButton* connectButton() const { return m_connect; }

public slots:
    void refresh();
    // Requests the disconnect whenever servers are stored; with a row selected it then requests
    // the connect to that row's server and closes, without one it stays open.
    void connectToSelected();

signals:
    void disconnectRequested();
    // `serverIndex` is the server's position in Store::EnumServers().
    void connectRequested(int serverIndex);

private:
    Store& m_store;
    QListWidget* m_list = nullptr;
    QPushButton* m_connect = nullptr;
};

} // namespace config
