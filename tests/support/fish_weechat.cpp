#include "tests/support/fish_weechat.h"

#include "tests/support/file_bytes.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace test {

namespace {

constexpr char kScript[] = "/usr/share/weechat/python/fish.py";
constexpr char kDistPackages[] = "/usr/lib/python3/dist-packages";

bool havePythonPlugin()
{
    for (const QString& arch : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (QFileInfo::exists("/usr/lib/" + arch + "/weechat/plugins/python.so"))
            return true;
    }
    return QFileInfo::exists("/usr/lib/weechat/plugins/python.so");
}

bool haveClassicCrypto()
{
    return QFileInfo::exists(QString(kDistPackages) + "/Crypto/Cipher/Blowfish.py");
}

// fish.py imports Crypto.Cipher.Blowfish, but Debian 12 ships pycryptodome under the name
// Cryptodome only: a package of three lines on PYTHONPATH lends it the old name, leaving the
// script itself as shipped.
bool writeCryptoAlias(const QString& root)
{
    return writeTo(root + "/Crypto/__init__.py", "")
           && writeTo(root + "/Crypto/Cipher/__init__.py", "")
           && writeTo(root + "/Crypto/Cipher/Blowfish.py",
                      "from Cryptodome.Cipher.Blowfish import *\n");
}

} // namespace

bool haveFishWeechat()
{
    return haveTerminalClient() && havePythonPlugin() && QFileInfo::exists(kScript)
           && (haveClassicCrypto()
               || QFileInfo::exists(QString(kDistPackages) + "/Cryptodome/Cipher/Blowfish.py"));
}

bool FishWeechat::start(quint16 port, const QByteArray& nick)
{
    if (!m_folder.isValid())
        return false;
    m_nick = nick;
    TerminalClient::Extras extras;
    extras.plugins = {"python"};
    extras.commands = {"/python load " + QByteArray(kScript)};
    if (!haveClassicCrypto()) {
        const QString alias = m_folder.filePath("python");
        if (!writeCryptoAlias(alias))
            return false;
        extras.environment.insert("PYTHONPATH", alias);
    }
    m_client.setExtras(extras);
    if (!m_client.start(m_folder.filePath("weechat"), port, nick))
        return false;
    const QByteArray serverLog = "irc.server." + TerminalClient::serverName();
    const QByteArray welcome = "Welcome to the Internet Relay Network " + nick + "!";
    return waitFor([&] { return m_client.bufferLog(serverLog).contains(welcome); }, 10000);
}

void FishWeechat::stop()
{
    m_client.stop();
}

bool FishWeechat::setKey(const QByteArray& nick, const QByteArray& key)
{
    return m_client.run("/blowkey set -server " + TerminalClient::serverName() + " " + nick + " "
                        + key);
}

bool FishWeechat::startKeyExchange(const QByteArray& nick)
{
    return m_client.run("/blowkey exchange -server " + TerminalClient::serverName() + " " + nick);
}

bool FishWeechat::say(const QByteArray& nick, const QByteArray& text)
{
    return m_client.run("/msg " + nick + " " + text);
}

bool FishWeechat::waitForText(const QByteArray& from, const QByteArray& text, int timeoutMs)
{
    const QByteArray query = "irc." + TerminalClient::serverName() + "." + from.toLower();
    const QByteArray line = "\t" + from + "\t" + text + "\n";
    return waitFor([&] { return m_client.bufferLog(query).contains(line); }, timeoutMs);
}

QByteArray FishWeechat::key(const QByteArray& nick, int timeoutMs)
{
    // The listing goes to the server buffer's log; a line printed after it marks its end.
    const QByteArray end = "kivvo-listed-" + QByteArray::number(++m_listings);
    const QByteArray serverLog = "irc.server." + TerminalClient::serverName();
    if (!m_client.run("/blowkey") || !m_client.run("/print " + end))
        return {};
    QByteArray text;
    if (!waitFor(
            [&] {
                text = m_client.bufferLog(serverLog);
                return text.contains("\t" + end + "\n");
            },
            timeoutMs))
        return {};
    const qsizetype stop = text.lastIndexOf("\t" + end + "\n");
    const qsizetype listing = text.lastIndexOf("FiSH Keys:", stop);
    const QByteArray entry = "\t" + nick.toLower() + "(" + TerminalClient::serverName() + "): ";
    const qsizetype at = text.indexOf(entry, listing);
    if (listing < 0 || at < 0 || at > stop)
        return {};
    const qsizetype from = at + entry.size();
    return text.mid(from, text.indexOf('\n', from) - from);
}

QByteArray FishWeechat::versions()
{
    QProcess weechat;
    weechat.setStandardInputFile(QProcess::nullDevice());
    weechat.start(QStandardPaths::findExecutable("weechat-headless"), {"--version"});
    const bool ran = weechat.waitForFinished(5000);
    const QByteArray weechatVersion = ran ? weechat.readAllStandardOutput().trimmed() : "?";
    const QRegularExpression scriptVersion(QStringLiteral("SCRIPT_VERSION\\s*=\\s*\"([^\"]*)\""));
    const QRegularExpressionMatch match = scriptVersion.match(QString::fromUtf8(readFile(kScript)));
    return "WeeChat " + weechatVersion + ", fish.py "
           + (match.hasMatch() ? match.captured(1).toUtf8() : QByteArray("?"));
}

} // namespace test
