#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// InspIRCd 3 as the real server of the suites that need what ngircd lacks (MONITOR and the
// IRCv3 capabilities), without the test framework.
namespace test {

// Whether Debian's inspircd is installed (tools/test installs it).
bool haveInspircd();

// What the server offers beyond MONITOR (tools/inspircd/test.conf.in).
enum class Ircv3 {
    Off,
    // The modules of tools/inspircd/ircv3.conf.in: away-notify, account-notify, extended-join,
    // extended-monitor, cap-notify, message-tags with TAGMSG, echo-message, server-time, batch,
    // labeled-response and msgid.
    On,
    // As On, plus a TLS listener (tlsPort()) with the fixed certificate kCertificateA of
    // tls_irc_server.h and an sts policy naming it. A client that honours sts leaves the plain
    // port at once, so only the suites about sts ask for this.
    WithSts,
};

// A real InspIRCd on a free loopback port, stopped when this goes.
class Inspircd
{
public:
    // `monitorLimit` is the MONITOR list's size; true once the port takes connections.
    bool start(int monitorLimit = 100, Ircv3 ircv3 = Ircv3::Off);
    // Ends the server as its operator would (SIGTERM) and waits until it is gone.
    void stop();
    ~Inspircd();

    quint16 port() const { return m_port; }
    // The TLS port with Ircv3::WithSts, else 0.
    quint16 tlsPort() const { return m_tlsPort; }
    // What it printed, for failure messages.
    QByteArray log() const;

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
};

} // namespace test
