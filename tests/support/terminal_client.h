#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace test {

// Whether Debian's weechat-headless is installed with the plugins a peer needs (irc, xfer, fifo,
// logger; tools/test installs them).
bool haveTerminalClient();
// Whether Debian's multiarch plugin folder of WeeChat holds `name` ("typing.so").
bool haveTerminalPlugin(const QString& name);

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

    // What a peer built on this one adds before start(): plugins beyond irc, xfer, fifo and
    // logger ("python"), commands run before it connects ("/python load fish.py") and variables
    // for its environment (PYTHONPATH).
    struct Extras
    {
        QList<QByteArray> plugins;
        QList<QByteArray> commands;
        QProcessEnvironment environment;
    };
    void setExtras(const Extras& extras) { m_extras = extras; }

    // Starts with `folder` as its home and connects to 127.0.0.1:`port` as `nick`; true once its
    // fifo is open. Registration with the server is the caller's to wait for. Each of `settings`
    // ("xfer.network.fast_send on") is set before it connects.
    bool start(const QString& folder, quint16 port, const QByteArray& nick,
               const QList<QByteArray>& settings = {});
    // Runs `command` ("/dcc send bob /tmp/f") in the server's buffer.
    bool run(const QByteArray& command);
    // Runs `command` in the buffer named `buffer` ("irc.kivvo.alice"), where a command such as
    // "/input insert" acts on that buffer's own input line; a line without "/" is sent there.
    // WeeChat drops it, with an error in its core buffer, when there is no such buffer.
    bool runIn(const QByteArray& buffer, const QByteArray& command);
    // Ends it by its PID (SIGTERM, then SIGKILL) and waits until it is gone.
    void stop();

    QString downloadFolder() const;
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Whether its buffers' logs hold `text` (say, "xfer: file f received from bob").
    bool logContains(const QByteArray& text) const;
    // The log of one buffer ("irc.server.kivvo", "irc.kivvo.alice"; names in lower case), or
    // "<missing>" before it has one.
    QByteArray bufferLog(const QByteArray& buffer) const;
    // The name of its one server, as its commands and buffers know it.
    static QByteArray serverName();
    // What it printed and logged, for failure messages.
    QByteArray log() const;

private:
    QString fifoPath() const;

    QProcess m_process;
    QString m_folder;
    Extras m_extras;
};

} // namespace test
