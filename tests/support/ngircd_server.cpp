#include "tests/support/ngircd_server.h"

#include "tests/support/stop_process.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

namespace test {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

static QString ngircdBinary()
{
    return QStandardPaths::findExecutable("ngircd", {"/usr/sbin", "/usr/bin", "/sbin"});
}

bool haveNgircd()
{
    return !ngircdBinary().isEmpty();
}

bool Ngircd::start(quint16 port, const ConfigEdits& edits)
{
    const QString binary = ngircdBinary();
    if (binary.isEmpty() || !m_folder.isValid())
        return false;
    m_port = port ? port : freePort();
    QFile config(m_folder.filePath("ngircd.conf"));
    QFile source(QStringLiteral(KIVVO_SOURCE_DIR "/tools/ngircd/test.conf.in"));
    if (!source.open(QIODevice::ReadOnly) || !config.open(QIODevice::WriteOnly))
        return false;
    const QByteArray portText = QByteArray::number(m_port);
    QByteArray text = source.readAll();
    for (const auto& [from, to] : edits) {
        if (!text.contains(from))
            return false;
        text.replace(from, to);
    }
    config.write(text.replace("@PORT@", portText)
                     .replace("@PIDFILE@", "/tmp/kivvo-ngircd-test-" + portText + ".pid"));
    config.close();
    // Started as root, ngircd reads its config after dropping to "nobody".
    config.setPermissions(config.permissions() | QFileDevice::ReadOther);
    QFile::setPermissions(m_folder.path(), QFile::permissions(m_folder.path())
                                               | QFileDevice::ExeOther | QFileDevice::ReadOther);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(binary, {"-n", "-f", config.fileName()});
    return waitFor(
        [this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            return probe.waitForConnected(100);
        },
        10000);
}

void Ngircd::stop()
{
    stopProcess(m_process);
}

Ngircd::~Ngircd()
{
    stop();
}

bool Watcher::connectTo(quint16 port, const QByteArray& nick)
{
    m_nick = nick;
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    if (!m_socket.waitForConnected(3000))
        return false;
    m_socket.write("NICK " + nick + "\r\nUSER " + nick + " 0 * :Watcher\r\n");
    return waitFor([&] { return received().contains(" 001 " + nick + " "); });
}

bool Watcher::isOnline(const QByteArray& nick)
{
    const QByteArray marker = " 303 " + m_nick + " :";
    const qsizetype start = m_received.size();
    m_socket.write("ISON " + nick + "\r\n");
    waitFor(
        [&] {
            const qsizetype reply = received().indexOf(marker, start);
            return reply >= 0 && m_received.indexOf("\r\n", reply) >= 0;
        },
        3000);
    const qsizetype reply = m_received.indexOf(marker, start);
    if (reply < 0)
        return false;
    const qsizetype end = m_received.indexOf("\r\n", reply);
    return m_received.mid(reply, end - reply).split(':').last().split(' ').contains(nick);
}

const QByteArray& Watcher::received()
{
    m_received += m_socket.readAll();
    return m_received;
}

} // namespace test
