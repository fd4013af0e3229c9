#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTcpSocket>

namespace test {

// A free TCP port on loopback at the time of asking.
quint16 freePort();

// Whether Debian's ngircd is installed (tools/test installs it).
bool haveNgircd();

// A real ngircd on a free loopback port, with the settings tests need (no DNS, no ident, no flood
// penalties), stopped when this goes.
class Ngircd
{
public:
    // `configTemplate` is tools/ngircd/test.conf.in; the config goes into `folder`. On `port`
    // when given (a server started again where it was), else on a free one. `listen` replaces
    // the template's loopback address list when given ("127.0.0.1,::1" adds IPv6).
    bool start(const QString& folder, const QString& configTemplate, quint16 port = 0,
               const QByteArray& listen = {});
    // Ends the server as its operator would (SIGTERM) and waits until it is gone.
    void stop();
    ~Ngircd();
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// A plain IRC client of the test's own: asks the server who is online, sends raw lines.
class Watcher
{
public:
    bool connectTo(quint16 port, const QByteArray& nick = "watcher");
    // Whether the server lists `nick` as online now.
    bool isOnline(const QByteArray& nick);
    void send(const QByteArray& line) { m_socket.write(line + "\r\n"); }
    const QByteArray& received();

private:
    QTcpSocket m_socket;
    QByteArray m_nick;
    QByteArray m_received;
};

} // namespace test
