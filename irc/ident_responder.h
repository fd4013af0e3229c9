#pragma once

#include "irc/ident.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;

namespace irc {

// Answers the ident queries (RFC 1413) that servers make while we register, naming the nick in
// use. One query connection at a time: the listener is closed while one is served, so the
// system refuses the others, and opened again once that connection ends, whoever ends it.
class IdentResponder : public QObject
{
    Q_OBJECT

public:
    enum class State { Off, Listening, Serving };

    // A querying side that completes no request for this long loses its connection, so that it
    // cannot keep every later query out.
    static constexpr std::chrono::milliseconds kIdleTimeout{30000};
    // However busy it keeps its connection, a querying side is cut off after this long: the
    // idle limit alone would let one request every 29 s hold the only slot for good.
    static constexpr std::chrono::milliseconds kMaxLifetime{120000};
    // Replies that a querying side leaves unread beyond this end its connection.
    static constexpr qint64 kMaxUnsentBytes = 64 * 1024;

    using NickSource = std::function<QByteArray()>;

    explicit IdentResponder(NickSource nickInUse, QObject* parent = nullptr);
    IdentResponder(NickSource nickInUse, std::chrono::milliseconds idleTimeout,
                   QObject* parent = nullptr);
    IdentResponder(NickSource nickInUse, std::chrono::milliseconds idleTimeout,
                   std::chrono::milliseconds lifetime, QObject* parent = nullptr);
    ~IdentResponder() override;

    // KIVVO_IDENT_PORT when it holds a port from 1 to 65535, else 113.
    static quint16 portFromEnvironment();

    // Listens on portFromEnvironment() on every local address. False, with the failure in the
    // debug window ("bind() error" when the port is taken or privileged), when it cannot; the
    // responder then stays off.
    bool start();
    // The same on a chosen port and address; port 0 takes a free port, which port() then gives.
    bool start(quint16 port, const QHostAddress& address = QHostAddress::Any);

    // The program is closing: the listener and any query connection go, and nothing listens
    // again.
    void stop();

    quint16 port() const { return m_port; }
    State state() const { return m_state; }

private:
    bool listen();
    void accept();
    void answer();
    bool sendReply(const QByteArray& request);
    void onSocketError();
    void endConnection();

    NickSource m_nickInUse;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_connection;
    IdentRequestFramer m_framer;
    QTimer m_idleTimer;
    QTimer m_lifetimeTimer;
    QHostAddress m_address;
    quint16 m_port = 0;
    State m_state = State::Off;
};

} // namespace irc
