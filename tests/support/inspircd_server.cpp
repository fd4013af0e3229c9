#include "tests/support/inspircd_server.h"

#include "tests/support/file_bytes.h"
#include "tests/support/ngircd_server.h"
#include "tests/support/stop_process.h"
#include "tests/support/tls_irc_server.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QStandardPaths>
#include <QTcpSocket>

namespace test {

namespace {

QString inspircdBinary()
{
    return QStandardPaths::findExecutable("inspircd", {"/usr/sbin", "/usr/bin", "/sbin"});
}

QByteArray configPart(const char* name)
{
    return readFile(QStringLiteral(KIVVO_SOURCE_DIR "/tools/inspircd/") + name);
}

bool takesConnections(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(100);
}

} // namespace

bool haveInspircd()
{
    return !inspircdBinary().isEmpty();
}

bool Inspircd::start(int monitorLimit, Ircv3 ircv3)
{
    const QString binary = inspircdBinary();
    if (binary.isEmpty() || !m_folder.isValid())
        return false;
    m_port = freePort();
    QByteArray modules;
    if (ircv3 != Ircv3::Off)
        modules += configPart("ircv3.conf.in");
    if (ircv3 == Ircv3::WithSts) {
        // Two free ports asked one after the other may be the same one.
        do
            m_tlsPort = freePort();
        while (m_tlsPort == m_port);
        const QString key = m_folder.filePath("key.pem");
        const QString certificate = m_folder.filePath("certificate.pem");
        if (!writeTo(key, kKeyA) || !writeTo(certificate, kCertificateA))
            return false;
        modules += configPart("sts.conf.in")
                       .replace("@TLSPORT@", QByteArray::number(m_tlsPort))
                       .replace("@CERT@", certificate.toUtf8())
                       .replace("@KEY@", key.toUtf8());
    }
    const QByteArray config = configPart("test.conf.in")
                                  .replace("@PORT@", QByteArray::number(m_port))
                                  .replace("@MONITOR@", QByteArray::number(monitorLimit))
                                  .replace("@MODULES@", modules);
    const QString configPath = m_folder.filePath("inspircd.conf");
    if (config.contains("<missing>") || !writeTo(configPath, config))
        return false;
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_folder.filePath("inspircd.out"));
    m_process.start(binary, {"--nofork", "--nopid", "--config", configPath, "--runasroot"});
    // A module it cannot load ends it at once, before the port opens.
    return waitFor(
               [this] {
                   return m_process.state() == QProcess::NotRunning || takesConnections(m_port);
               },
               10000)
           && m_process.state() != QProcess::NotRunning;
}

void Inspircd::stop()
{
    stopProcess(m_process);
}

Inspircd::~Inspircd()
{
    stop();
}

QByteArray Inspircd::log() const
{
    return readFile(m_folder.filePath("inspircd.out"));
}

} // namespace test
