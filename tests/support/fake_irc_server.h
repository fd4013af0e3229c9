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
// connection wrote and sends whatever the test tells it to; it answers nothing by itself unless
// told to welcome: then it answers each connection's first USER with the 001 that lets the
// client on, as the program's own suites need for what starts at the welcome.
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
    void setWelcoming(bool welcoming) { m_welcoming = welcoming; }
    void dropClient(int index = -1);

    // A loopback port on which nothing listens, for refused connections.
    static quint16 closedPort();

private:
    struct Client
    {
        QPointer<QTcpSocket> socket;
        QByteArray received;
        bool open = true;
        bool welcomed = false;
    };
    void welcomeOnUser(Client& entry);
    Client* client(int index);
    const Client* client(int index) const;

    QTcpServer m_server;
    std::vector<std::unique_ptr<Client>> m_clients;
    bool m_welcoming = false;
};

} // namespace test
