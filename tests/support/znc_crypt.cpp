#include "tests/support/znc_crypt.h"

#include "tests/support/file_bytes.h"
#include "tests/support/ngircd_server.h"
#include "tests/support/stop_process.h"
#include "tests/support/unprivileged_user.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace test {

namespace {

constexpr char kNetwork[] = "kivvo";
constexpr char kPassword[] = "kivvo-secret";

QString zncBinary()
{
    return QStandardPaths::findExecutable("znc");
}

} // namespace

bool haveZnc()
{
    if (zncBinary().isEmpty())
        return false;
    QStringList folders{"/usr/lib/znc"};
    for (const QString& arch : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        folders << "/usr/lib/" + arch + "/znc";
    for (const QString& folder : folders) {
        if (QFileInfo::exists(folder + "/crypt.so"))
            return true;
    }
    return false;
}

ZncCrypt::~ZncCrypt()
{
    stop();
}

bool ZncCrypt::writeConfig(quint16 ircPort, quint16 listenPort)
{
    // No delays between connections, no throttling of reconnections, and a flood burst no test
    // reaches: each would hold a test back for seconds.
    const QByteArray port = QByteArray::number(listenPort);
    const QByteArray config = "Version = 1.8.2\n"
                              "ConnectDelay = 0\n"
                              "ServerThrottle = 0\n"
                              "<Listener kivvo>\n"
                              "    Host = 127.0.0.1\n"
                              "    Port = "
                              + port
                              + "\n"
                                "    IPv4 = true\n"
                                "    IPv6 = false\n"
                                "    SSL = false\n"
                                "    AllowIRC = true\n"
                                "    AllowWeb = false\n"
                                "</Listener>\n"
                                "<User "
                              + m_nick + ">\n    Pass = plain#" + kPassword + "\n    Nick = "
                              + m_nick + "\n    AltNick = " + m_nick + "_\n    Ident = " + m_nick
                              + "\n    RealName = " + m_nick + "\n    <Network " + kNetwork
                              + ">\n"
                                "        LoadModule = crypt\n"
                                "        FloodBurst = 100\n"
                                "        Server = 127.0.0.1 "
                              + QByteArray::number(ircPort)
                              + "\n"
                                "    </Network>\n"
                                "</User>\n";
    return writeTo(m_folder.filePath("data/configs/znc.conf"), config);
}

bool ZncCrypt::start(quint16 port, const QByteArray& nick)
{
    const QString binary = zncBinary();
    if (binary.isEmpty() || !m_folder.isValid())
        return false;
    m_nick = nick;
    const quint16 listenPort = freePort();
    if (!writeConfig(port, listenPort))
        return false;
    const QString data = m_folder.filePath("data");
    QStringList command{binary, "--datadir", data, "--foreground"};
    // ZNC run as root waits 30 seconds before it starts.
    if (const passwd* user = unprivilegedUser()) {
        if (!handOver(m_folder.path(), user))
            return false;
        command = runAs(user, binary, command.mid(1));
        if (command.isEmpty())
            return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", data);
    m_process.setProcessEnvironment(environment);
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_folder.filePath("znc.out"));
    m_process.start(command.first(), command.mid(1));
    return m_process.waitForStarted(5000) && connectClient(listenPort);
}

bool ZncCrypt::connectClient(quint16 listenPort)
{
    const bool listening = waitFor(
        [&] {
            if (m_process.state() == QProcess::NotRunning)
                return true;
            m_socket.abort();
            m_socket.connectToHost(QHostAddress::LocalHost, listenPort);
            return m_socket.waitForConnected(100);
        },
        10000);
    if (!listening || m_socket.state() != QAbstractSocket::ConnectedState)
        return false;
    send("PASS " + m_nick + "/" + kNetwork + ":" + kPassword);
    send("NICK " + m_nick);
    send("USER " + m_nick + " 0 * :" + m_nick);
    if (!waitForLine(0, " 001 " + m_nick + " ", 10000))
        return false;
    // ZNC welcomes its client before it has reached the server; an ISON only the server
    // answers tells when it has.
    const QByteArray answer = " 303 " + m_nick + " :" + m_nick;
    return waitFor(
        [&] {
            const qsizetype from = received().size();
            send("ISON " + m_nick);
            return waitForLine(from, answer, 300);
        },
        10000);
}

void ZncCrypt::stop()
{
    m_socket.abort();
    stopProcess(m_process);
}

bool ZncCrypt::waitForLine(qsizetype from, const QByteArray& marker, int timeoutMs)
{
    return waitFor([&] { return received().indexOf(marker, from) >= 0; }, timeoutMs);
}

bool ZncCrypt::setKey(const QByteArray& nick, const QByteArray& key)
{
    const qsizetype from = received().size();
    send("PRIVMSG *crypt :SetKey " + nick + " " + key);
    return waitForLine(from, "Set encryption key for [" + nick + "]", 5000);
}

bool ZncCrypt::startKeyExchange(const QByteArray& nick)
{
    const qsizetype from = received().size();
    send("PRIVMSG *crypt :KeyX " + nick);
    return waitForLine(from, "Sent my DH1080 public key to " + nick, 5000);
}

bool ZncCrypt::say(const QByteArray& nick, const QByteArray& text)
{
    send("PRIVMSG " + nick + " :" + text);
    return m_socket.waitForBytesWritten(3000) || m_socket.bytesToWrite() == 0;
}

bool ZncCrypt::waitForMessage(const QByteArray& from, const QByteArray& text, int timeoutMs)
{
    const QByteArray sender = ":" + from + "!";
    const QByteArray body = " PRIVMSG " + m_nick + " :" + text;
    return waitFor(
        [&] {
            for (const QByteArray& line : received().split('\n')) {
                if (line.startsWith(sender) && line.trimmed().endsWith(body))
                    return true;
            }
            return false;
        },
        timeoutMs);
}

QByteArray ZncCrypt::key(const QByteArray& nick, int timeoutMs)
{
    // ZNC answers its client's PING itself, after what crypt wrote before it.
    const QByteArray token = "kivvo-listed-" + QByteArray::number(++m_listings);
    const qsizetype from = received().size();
    send("PRIVMSG *crypt :ListKeys");
    send("PING :" + token);
    if (!waitForLine(from, token, timeoutMs))
        return {};
    // A listing of few columns comes as "<bold>target<reset>: key" lines.
    const QByteArray entry = " :" + nick.toLower() + ": ";
    for (QByteArray line : m_received.mid(from).split('\n')) {
        line.replace('\x02', QByteArray()).replace('\x0f', QByteArray());
        const qsizetype at = line.indexOf(entry);
        if (line.startsWith(":*crypt!") && at >= 0)
            return line.mid(at + entry.size()).trimmed();
    }
    return {};
}

const QByteArray& ZncCrypt::received()
{
    m_received += m_socket.readAll();
    return m_received;
}

QByteArray ZncCrypt::version()
{
    QProcess znc;
    znc.setStandardInputFile(QProcess::nullDevice());
    znc.start(zncBinary(), {"--version"});
    if (!znc.waitForFinished(5000))
        return "?";
    return znc.readAllStandardOutput().split('\n').value(0).trimmed();
}

QByteArray ZncCrypt::log()
{
    return "--- znc output\n" + readFile(m_folder.filePath("znc.out")) + "--- its client received\n"
           + received();
}

} // namespace test
