#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

namespace test {

// Whether Debian's weechat-headless is installed with the plugins a peer needs (irc, xfer, fifo,
// logger; tools/test installs them).
bool haveTerminalClient();

// WeeChat without a terminal as the program's peer: one server on loopback, its own nick, every
// DCC file accepted into its own folder, driven through its fifo. Stopped by its PID when this
// goes.
class TerminalClient
{
public:
    TerminalClient() = default;
    TerminalClient(const TerminalClient&) = delete;
    TerminalClient& operator=(const TerminalClient&) = delete;
    ~TerminalClient();

    // Starts with `folder` as its home and connects to 127.0.0.1:`port` as `nick`; true once its
    // fifo is open. Registration with the server is the caller's to wait for. Each of `settings`
    // ("xfer.network.fast_send on") is set before it connects.
    bool start(const QString& folder, quint16 port, const QByteArray& nick,
               const QList<QByteArray>& settings = {});
    // Runs `command` ("/dcc send bob /tmp/f") in the server's buffer.
    bool run(const QByteArray& command);

    QString downloadFolder() const;
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Whether its buffers' logs hold `text` (say, "xfer: file f received from bob").
    bool logContains(const QByteArray& text) const;
    // What it printed and logged, for failure messages.
    QByteArray log() const;

private:
    QString fifoPath() const;

    QProcess m_process;
    QString m_folder;
};

} // namespace test
