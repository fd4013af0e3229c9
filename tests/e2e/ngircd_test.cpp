// The real program against a real ngircd on loopback: it registers, learns its address from the
// WHO reply, and quits cleanly on SIGTERM.
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using test::waitFor;

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A local ngircd with the settings that tests need (no DNS, no ident, no flood penalties).
class Ngircd
{
public:
    bool start(const QString& folder)
    {
        const QString binary = QStandardPaths::findExecutable("ngircd", {"/usr/sbin", "/usr/bin"});
        if (binary.isEmpty())
            return false;
        m_port = freePort();
        QFile config(QDir(folder).filePath("ngircd.conf"));
        QFile source(KIVVO_SOURCE_DIR "/tools/ngircd/test.conf.in");
        if (!source.open(QIODevice::ReadOnly) || !config.open(QIODevice::WriteOnly))
            return false;
        const QByteArray port = QByteArray::number(m_port);
        config.write(source.readAll()
                         .replace("@PORT@", port)
                         .replace("@PIDFILE@", "/tmp/kivvo-ngircd-test-" + port + ".pid"));
        config.close();
        config.setPermissions(config.permissions() | QFileDevice::ReadOther);
        QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ExeOther
                                          | QFileDevice::ReadOther);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(binary, {"-n", "-f", config.fileName()});
        return waitFor([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            return probe.waitForConnected(100);
        }, 10000);
    }
    ~Ngircd()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// A plain IRC client of the test's own, to ask the server who is online.
class Watcher
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(3000))
            return false;
        m_socket.write("NICK watcher\r\nUSER watcher 0 * :Watcher\r\n");
        return waitFor([this] { return received().contains(" 001 watcher "); });
    }
    // Whether the server lists `nick` as online now.
    bool isOnline(const QByteArray& nick)
    {
        const qsizetype start = m_received.size();
        m_socket.write("ISON " + nick + "\r\n");
        waitFor([&] {
            const qsizetype reply = received().indexOf(" 303 watcher :", start);
            return reply >= 0 && m_received.indexOf("\r\n", reply) >= 0;
        }, 3000);
        const qsizetype reply = m_received.indexOf(" 303 watcher :", start);
        if (reply < 0)
            return false;
        const qsizetype end = m_received.indexOf("\r\n", reply);
        return m_received.mid(reply, end - reply).split(':').last().split(' ').contains(nick);
    }
    const QByteArray& received()
    {
        m_received += m_socket.readAll();
        return m_received;
    }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

void seedStore(const QString& seedScript, const QString& path, quint16 port)
{
    QProcess seed;
    seed.start("python3", {seedScript, path, "--nick", "e2ealice", "--realname", "E2E Alice",
                           "--server", QStringLiteral("127.0.0.1:%1=Local").arg(port),
                           "--autoconnect", "1"});
    ASSERT_TRUE(seed.waitForFinished(10000));
    ASSERT_EQ(seed.exitCode(), 0) << seed.readAllStandardError().toStdString();
}

} // namespace

TEST(EndToEnd, RegistersLearnsItsAddressAndQuitsCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Ngircd server;
    if (QStandardPaths::findExecutable("ngircd", {"/usr/sbin", "/usr/bin"}).isEmpty())
        GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
    ASSERT_TRUE(server.start(dir.path()));
    seedStore(KIVVO_SOURCE_DIR "/tools/seed-store", dir.filePath("config/kivvo/registry.db"),
              server.port());

    QDir(dir.path()).mkpath("cwd");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KIVVO_IDENT_PORT", QString::number(freePort()));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.filePath("cwd"));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(KIVVO_BINARY, {"DEBUG"});
    ASSERT_TRUE(program.waitForStarted(5000));

    Watcher watcher;
    ASSERT_TRUE(watcher.connectTo(server.port()));
    EXPECT_TRUE(waitFor([&] { return watcher.isOnline("e2ealice"); }, 15000));

    // The WHO reply for our own nick reaches the program and its dump.
    const QString dumpPath = dir.filePath("cwd/out.txt");
    EXPECT_TRUE(waitFor([&] {
        QFile dump(dumpPath);
        return dump.open(QIODevice::ReadOnly) && dump.readAll().contains("\nCommand: 352\n");
    }, 10000));

    program.terminate(); // SIGTERM runs the normal close step
    ASSERT_TRUE(waitFor([&] { return program.state() == QProcess::NotRunning; }, 10000))
        << program.readAll().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(waitFor([&] { return !watcher.isOnline("e2ealice"); }, 5000));
}
