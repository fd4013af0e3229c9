#include "tests/support/terminal_client.h"

#include "tests/support/file_bytes.h"
#include "tests/support/stop_process.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace test {

namespace {

constexpr char kServerName[] = "kivvo";

QString clientBinary()
{
    return QStandardPaths::findExecutable("weechat-headless");
}

} // namespace

// Debian puts the plugins under the multiarch folder.
bool haveTerminalPlugin(const QString& name)
{
    QStringList roots{"/usr/lib"};
    for (const QString& arch : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        roots << "/usr/lib/" + arch;
    for (const QString& root : roots) {
        if (QFileInfo::exists(root + "/weechat/plugins/" + name))
            return true;
    }
    return false;
}

// fifo and xfer come in packages of their own.
bool haveTerminalClient()
{
    return !clientBinary().isEmpty() && haveTerminalPlugin("fifo.so")
           && haveTerminalPlugin("xfer.so") && haveTerminalPlugin("irc.so");
}

TerminalClient::~TerminalClient()
{
    stop();
}

void TerminalClient::stop()
{
    stopProcess(m_process);
}

QString TerminalClient::downloadFolder() const
{
    return QDir(m_folder).filePath("downloads");
}

QString TerminalClient::fifoPath() const
{
    return QDir(m_folder).filePath("home/fifo");
}

bool TerminalClient::start(const QString& folder, quint16 port, const QByteArray& nick,
                           const QList<QByteArray>& settings)
{
    const QString binary = clientBinary();
    if (binary.isEmpty())
        return false;
    m_folder = folder;
    const QString home = QDir(folder).filePath("home");
    if (!QDir().mkpath(home) || !QDir().mkpath(downloadFolder()))
        return false;
    // The settings come first, so that no file can arrive before the folder is set. Its own
    // address goes into its offers: whatever it guessed might not be loopback. The logs are
    // flushed at once, since tests wait on them.
    const QByteArray server = kServerName;
    QByteArray extra;
    for (const QByteArray& setting : settings)
        extra += ";/set " + setting;
    for (const QByteArray& command : m_extras.commands)
        extra += ";" + command;
    QStringList plugins{"irc", "xfer", "fifo", "logger"};
    for (const QByteArray& plugin : m_extras.plugins)
        plugins << QString::fromUtf8(plugin);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(m_extras.environment);
    m_process.setProcessEnvironment(environment);
    const QByteArray commands = "/set fifo.file.path \"" + fifoPath().toUtf8()
                                + "\";/fifo enable"
                                  ";/set logger.file.flush_delay 0"
                                  ";/set xfer.file.auto_accept_files on"
                                  ";/set xfer.file.download_path \""
                                + downloadFolder().toUtf8()
                                + "\""
                                  ";/set xfer.file.use_nick_in_filename off"
                                  ";/set xfer.network.own_ip \"127.0.0.1\""
                                + extra + ";/server add " + server + " 127.0.0.1/"
                                + QByteArray::number(port) + ";/set irc.server." + server
                                + ".nicks \"" + nick
                                + "\""
                                  ";/connect "
                                + server;
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(QDir(folder).filePath("client.out"));
    m_process.start(binary, {"--dir", home, "--stdout", "--no-script", "-P", plugins.join(','),
                             "-r", QString::fromUtf8(commands)});
    if (!m_process.waitForStarted(5000))
        return false;
    return waitFor([this] { return !isRunning() || QFileInfo::exists(fifoPath()); }, 10000)
           && isRunning();
}

bool TerminalClient::run(const QByteArray& command)
{
    return runIn("irc.server." + QByteArray(kServerName), command);
}

bool TerminalClient::runIn(const QByteArray& buffer, const QByteArray& command)
{
    // Non-blocking: with no reader on the other end the open fails instead of hanging.
    const int fd =
        ::open(QFile::encodeName(fifoPath()).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // One line under PIPE_BUF goes in whole.
    const QByteArray line = buffer + " *" + command + "\n";
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
    return written == line.size();
}

bool TerminalClient::logContains(const QByteArray& text) const
{
    const QDir logs(QDir(m_folder).filePath("home/logs"));
    for (const QString& name : logs.entryList({"*.weechatlog"}, QDir::Files)) {
        if (readFile(logs.filePath(name)).contains(text))
            return true;
    }
    return false;
}

QByteArray TerminalClient::bufferLog(const QByteArray& buffer) const
{
    return readFile(
        QDir(m_folder).filePath("home/logs/" + QString::fromUtf8(buffer) + ".weechatlog"));
}

QByteArray TerminalClient::serverName()
{
    return kServerName;
}

QByteArray TerminalClient::log() const
{
    QByteArray text = "--- client output\n" + readFile(QDir(m_folder).filePath("client.out"));
    const QDir logs(QDir(m_folder).filePath("home/logs"));
    for (const QString& name : logs.entryList({"*.weechatlog"}, QDir::Files, QDir::Name))
        text += "--- " + name.toUtf8() + "\n" + readFile(logs.filePath(name));
    return text;
}

} // namespace test
