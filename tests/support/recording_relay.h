#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace test {

// Passes one client's bytes to a server on loopback and back, keeping what each side sent. The
// server's bytes can be held back for a while, as a slow link would: the client then reads them
// later than the server wrote them.
class RecordingRelay : public QObject
{
public:
    bool listen(quint16 serverPort)
    {
        m_serverPort = serverPort;
        connect(&m_listener, &QTcpServer::newConnection, this, &RecordingRelay::accept);
        return m_listener.listen(QHostAddress::LocalHost, 0);
    }
    // The sockets go with this object, and each one's end would reach the other through the
    // handlers below while it is half destroyed: cut them first.
    ~RecordingRelay() override
    {
        if (m_client)
            m_client->disconnect(this);
        if (m_server)
            m_server->disconnect(this);
    }
    quint16 port() const { return m_listener.serverPort(); }
    // What the client sent, and what the server sent (held bytes included).
    const QByteArray& sent() const { return m_sent; }
    const QByteArray& received() const { return m_received; }
    // What the client sent after `marker`, or nothing while the marker has not been sent.
    QByteArray sentAfter(const QByteArray& marker) const
    {
        const qsizetype at = m_sent.indexOf(marker);
        return at < 0 ? QByteArray() : m_sent.mid(at + marker.size());
    }

    // From now on the server's bytes wait here until release().
    void hold() { m_holding = true; }
    const QByteArray& held() const { return m_held; }
    void release()
    {
        m_holding = false;
        if (m_client)
            m_client->write(m_held);
        m_held.clear();
    }

private:
    void accept()
    {
        m_client = m_listener.nextPendingConnection();
        m_server = new QTcpSocket(this);
        m_server->connectToHost(QHostAddress::LocalHost, m_serverPort);
        connect(m_client, &QTcpSocket::readyRead, this, [this] {
            const QByteArray bytes = m_client->readAll();
            m_sent += bytes;
            m_pending += bytes;
            flush();
        });
        connect(m_server, &QTcpSocket::connected, this, &RecordingRelay::flush);
        connect(m_server, &QTcpSocket::readyRead, this, [this] {
            const QByteArray bytes = m_server->readAll();
            m_received += bytes;
            if (m_holding)
                m_held += bytes;
            else if (m_client)
                m_client->write(bytes);
        });
        connect(m_server, &QTcpSocket::disconnected, this, [this] {
            if (m_client)
                m_client->disconnectFromHost();
        });
        connect(m_client, &QTcpSocket::disconnected, this, [this] {
            if (m_server)
                m_server->disconnectFromHost();
        });
    }
    void flush()
    {
        if (m_server && m_server->state() == QAbstractSocket::ConnectedState) {
            m_server->write(m_pending);
            m_pending.clear();
        }
    }

    QTcpServer m_listener;
    quint16 m_serverPort = 0;
    QPointer<QTcpSocket> m_client;
    QPointer<QTcpSocket> m_server;
    QByteArray m_sent;
    QByteArray m_received;
    QByteArray m_pending;
    QByteArray m_held;
    bool m_holding = false;
};

} // namespace test
