#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <utility>

// The real IRC server of the end-to-end suites and the peer benchmark, without the test
// framework (the benchmarks are built without it).
namespace test {

// A free TCP port on loopback at the time of asking.
quint16 freePort();

// Whether Debian's ngircd is installed (tools/test installs it).
bool haveNgircd();

// Changes to tools/ngircd/test.conf.in: each `first` is replaced by its `second`.
using ConfigEdits = QList<std::pair<QByteArray, QByteArray>>;

// A real ngircd on a free loopback port, with the settings tests need (no DNS, no ident, no flood
// penalties), stopped when this goes.
class Ngircd
{
public:
    // On `port` when given (a server started again where it was), else on a free one. False
    // when one of `edits` finds nothing to replace, so that a changed template cannot quietly
    // leave a test on the settings it meant to change.
    bool start(quint16 port = 0, const ConfigEdits& edits = {});
    // Ends the server as its operator would (SIGTERM) and waits until it is gone.
    void stop();
    ~Ngircd();
    quint16 port() const { return m_port; }

private:
    QTemporaryDir m_folder;
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
