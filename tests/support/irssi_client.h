#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>
#include <thread>

namespace test {

// Whether Debian's irssi is installed with its perl module, which drives it (tools/test installs
// it).
bool haveIrssi();

// irssi as the program's peer: the one terminal client at hand that speaks passive DCC (SEND and
// CHAT with port 0 and a token), RESUME/ACCEPT, and IPv6 addresses in offers. It runs in a
// pseudo-terminal of its own; a small perl script loaded at startup reads commands from a FIFO
// in its folder and writes every DCC event and every line it prints to events.log, and the raw
// server traffic goes to raw.log. Stopped by its PID when this goes.
//
// Files are not fetched unless asked: run("/dcc get bob f"), or run("/set dcc_autoget on")
// (port-0 offers are then accepted too, since dcc_autoaccept_lowports is on). Chats likewise:
// run("/dcc chat bob") or run("/set dcc_autochat_masks bob").
class IrssiClient
{
public:
    IrssiClient() = default;
    IrssiClient(const IrssiClient&) = delete;
    IrssiClient& operator=(const IrssiClient&) = delete;
    ~IrssiClient();

    // Starts with `folder` as its home and connects to `host`:`port` as `nick` ("::1" for IPv6);
    // true once it reads commands. Registration is the caller's to wait for (isRegistered()).
    bool start(const QString& folder, quint16 port, const QByteArray& nick,
               const QByteArray& host = "127.0.0.1");
    // Runs `command` ("/dcc send -passive bob /tmp/f") in its server's context.
    bool run(const QByteArray& command);

    QString downloadFolder() const;
    pid_t pid() const { return m_pid; }
    bool isRunning() const;
    // Whether the server has welcomed it (001).
    bool isRegistered() const { return logContains("registered "); }
    // Whether its event log or its raw log holds `text` (say, "DCC sent file f.bin", or the
    // CTCP "DCC SEND f.bin 16843009 0 5000 ").
    bool logContains(const QByteArray& text) const;
    // Its event log alone: one line per event, a DCC event's fields as key=value ("size=5000",
    // "transferred=5000", "at=<seconds since the epoch>").
    QByteArray events() const;
    // Its event log, raw log and the tail of its screen, for failure messages.
    QByteArray log() const;

private:
    QString homePath() const;
    QString fifoPath() const;
    void stop();

    pid_t m_pid = -1;
    // Set once the child has been reaped, which isRunning() may do.
    mutable bool m_exited = false;
    int m_terminal = -1;
    std::thread m_drain;
    QString m_folder;
};

} // namespace test
