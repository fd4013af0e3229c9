#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace test {

// A scripted IRC server on 127.0.0.1 with an ephemeral port. It records what each client
// connection wrote and sends whatever the test tells it to; it answers nothing by itself.
class FakeIrcServer : public QObject
{
    Q_OBJECT

public:
    explicit FakeIrcServer(QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return static_cast<int>(m_clients.size()); }
    // Bytes received on connection `index` (the latest when -1).
    QByteArray received(int index = -1) const;
    bool isClientConnected(int index = -1) const;

    void send(const QByteArray& bytes, int index = -1);
    void dropClient(int index = -1);

    // A loopback port on which nothing listens, for refused connections.
    static quint16 closedPort();

private:
    struct Client
    {
        QPointer<QTcpSocket> socket;
        QByteArray received;
        bool open = true;
    };
    Client* client(int index);
    const Client* client(int index) const;

    QTcpServer m_server;
    std::vector<std::unique_ptr<Client>> m_clients;
};

} // namespace test
