#include "tests/support/fake_irc_server.h"

namespace test {

FakeIrcServer::FakeIrcServer(QObject* parent)
    : QObject(parent)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            m_clients.push_back(std::make_unique<Client>());
            Client* entry = m_clients.back().get();
            entry->socket = socket;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, entry, socket] {
                entry->received += socket->readAll();
                welcomeOnUser(*entry);
            });
            connect(socket, &QTcpSocket::disconnected, this, [entry, socket] {
                entry->received += socket->readAll();
                entry->open = false;
            });
        }
    });
}

void FakeIrcServer::welcomeOnUser(Client& entry)
{
    if (!m_welcoming || entry.welcomed || !entry.socket)
        return;
    const qsizetype user = entry.received.indexOf("USER ");
    if (user < 0 || (user > 0 && entry.received[user - 1] != '\n')
        || entry.received.indexOf("\r\n", user) < 0)
        return;
    // Welcomed under the last nick it asked for before its USER.
    QByteArray nick = "*";
    const qsizetype nickAt = entry.received.lastIndexOf("NICK ", user);
    if (nickAt >= 0 && (nickAt == 0 || entry.received[nickAt - 1] == '\n'))
        nick = entry.received.mid(nickAt + 5, entry.received.indexOf("\r\n", nickAt) - nickAt - 5);
    entry.welcomed = true;
    entry.socket->write(":irc 001 " + nick + " :Welcome\r\n");
    entry.socket->flush();
}

FakeIrcServer::Client* FakeIrcServer::client(int index)
{
    if (m_clients.empty())
        return nullptr;
    if (index < 0)
        return m_clients.back().get();
    return index < static_cast<int>(m_clients.size()) ? m_clients[size_t(index)].get() : nullptr;
}

const FakeIrcServer::Client* FakeIrcServer::client(int index) const
{
    if (m_clients.empty())
        return nullptr;
    if (index < 0)
        return m_clients.back().get();
    return index < static_cast<int>(m_clients.size()) ? m_clients[size_t(index)].get() : nullptr;
}

QByteArray FakeIrcServer::received(int index) const
{
    const Client* entry = client(index);
    return entry ? entry->received : QByteArray();
}

bool FakeIrcServer::isClientConnected(int index) const
{
    const Client* entry = client(index);
    return entry && entry->open;
}

void FakeIrcServer::send(const QByteArray& bytes, int index)
{
    if (Client* entry = client(index); entry && entry->socket) {
        entry->socket->write(bytes);
        entry->socket->flush();
    }
}

void FakeIrcServer::dropClient(int index)
{
    if (Client* entry = client(index); entry && entry->socket) {
        entry->socket->disconnectFromHost();
        entry->open = false;
    }
}

quint16 FakeIrcServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace test
