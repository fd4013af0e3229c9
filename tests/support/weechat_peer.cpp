#include "tests/support/weechat_peer.h"

#include "tests/support/file_bytes.h"
#include "tests/support/wait_for.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace test {

namespace {

constexpr char kFishScript[] = "/usr/share/weechat/python/fish.py";
constexpr char kDistPackages[] = "/usr/lib/python3/dist-packages";

// The irc plugin hands each typing state it takes from a TAGMSG to the typing plugin as the
// signal "typing_set_nick" ("<buffer pointer>;<state>;<nick>"); the typing plugin keeps them
// where no script can read them, so the script notes the signal instead, one
// "<buffer> <state> <nick>" line each.
constexpr char kTypingScript[] = R"(import weechat

weechat.register("kivvo_typing", "kivvo", "1", "GPL3", "Notes the typing states of others", "", "")
STATES = "@STATES@"


def noted(data, signal, signal_data):
    buffer, state, nick = signal_data.split(";", 2)
    with open(STATES, "a") as states:
        states.write("%s %s %s\n" % (weechat.buffer_get_string(buffer, "full_name"), state, nick))
    return weechat.WEECHAT_RC_OK


weechat.hook_signal("typing_set_nick", "noted", "")
)";

constexpr char kAwayText[] = "You have been marked as being away";
constexpr char kBackText[] = "You are no longer marked as being away";

QByteArray serverLog()
{
    return "irc.server." + TerminalClient::serverName();
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

bool WeechatPeer::available(Part part)
{
    if (!haveTerminalClient() || !haveTerminalPlugin("python.so"))
        return false;
    if (part == Part::Ircv3)
        return haveTerminalPlugin("typing.so");
    return QFileInfo::exists(kFishScript)
           && (haveClassicCrypto()
               || QFileInfo::exists(QString(kDistPackages) + "/Cryptodome/Cipher/Blowfish.py"));
}

QByteArray WeechatPeer::fishVersions()
{
    QProcess weechat;
    weechat.setStandardInputFile(QProcess::nullDevice());
    weechat.start(QStandardPaths::findExecutable("weechat-headless"), {"--version"});
    const bool ran = weechat.waitForFinished(5000);
    const QByteArray weechatVersion = ran ? weechat.readAllStandardOutput().trimmed() : "?";
    const QRegularExpression scriptVersion(QStringLiteral("SCRIPT_VERSION\\s*=\\s*\"([^\"]*)\""));
    const QRegularExpressionMatch match =
        scriptVersion.match(QString::fromUtf8(readFile(kFishScript)));
    return "WeeChat " + weechatVersion + ", fish.py "
           + (match.hasMatch() ? match.captured(1).toUtf8() : QByteArray("?"));
}

bool WeechatPeer::loadFish(TerminalClient::Extras& extras)
{
    extras.plugins = {"python"};
    extras.commands = {"/python load " + QByteArray(kFishScript)};
    if (haveClassicCrypto())
        return true;
    const QString alias = m_folder.filePath("python");
    extras.environment.insert("PYTHONPATH", alias);
    return writeCryptoAlias(alias);
}

bool WeechatPeer::loadTypingNotes(TerminalClient::Extras& extras)
{
    const QString script = m_folder.filePath("kivvo_typing.py");
    extras.plugins = {"typing", "python"};
    extras.commands = {"/python load " + script.toUtf8()};
    return writeTo(script, QByteArray(kTypingScript).replace("@STATES@", statesPath().toUtf8()));
}

bool WeechatPeer::start(quint16 port, const QByteArray& nick)
{
    TerminalClient::Extras extras;
    if (!m_folder.isValid() || !(m_part == Part::Fish ? loadFish(extras) : loadTypingNotes(extras)))
        return false;
    m_client.setExtras(extras);
    // Both halves of typing are off by default, in each of the two plugins. The flood queue
    // would hold every command after the first few back by two seconds.
    QList<QByteArray> settings;
    if (m_part == Part::Ircv3) {
        settings = {
            "irc.server_default.capabilities \"*\"",
            "irc.server_default.anti_flood_prio_high 0",
            "irc.server_default.anti_flood_prio_low 0",
            "irc.look.typing_status_nicks on",
            "irc.look.typing_status_self on",
            "typing.look.enabled_nicks on",
            "typing.look.enabled_self on",
        };
    }
    if (!m_client.start(m_folder.filePath("weechat"), port, nick, settings))
        return false;
    // ngircd and InspIRCd both word their 001 "Welcome to the ... Network <nick>!<user>@<host>".
    return waitFor(
        [&] { return m_client.bufferLog(serverLog()).contains(" Network " + nick + "!"); }, 10000);
}

bool WeechatPeer::say(const QByteArray& nick, const QByteArray& text)
{
    return m_client.run("/msg " + nick + " " + text);
}

bool WeechatPeer::waitForText(const QByteArray& peer, const QByteArray& speaker,
                              const QByteArray& text, int timeoutMs) const
{
    const QByteArray line = "\t" + speaker + "\t" + text + "\n";
    return waitFor([&] { return queryLog(peer).contains(line); }, timeoutMs);
}

QByteArray WeechatPeer::queryBuffer(const QByteArray& nick)
{
    return "irc." + TerminalClient::serverName() + "." + nick;
}

QByteArray WeechatPeer::queryLog(const QByteArray& nick) const
{
    // The logger names its files in lower case.
    return m_client.bufferLog(queryBuffer(nick).toLower());
}

QByteArray WeechatPeer::log() const
{
    return m_client.log() + "--- typing states\n" + readFile(statesPath());
}

bool WeechatPeer::setKey(const QByteArray& nick, const QByteArray& key)
{
    return m_client.run("/blowkey set -server " + TerminalClient::serverName() + " " + nick + " "
                        + key);
}

bool WeechatPeer::startKeyExchange(const QByteArray& nick)
{
    return m_client.run("/blowkey exchange -server " + TerminalClient::serverName() + " " + nick);
}

QByteArray WeechatPeer::key(const QByteArray& nick, int timeoutMs)
{
    // The listing goes to the server buffer's log; a line printed after it marks its end.
    const QByteArray end = "kivvo-listed-" + QByteArray::number(++m_marks);
    if (!m_client.run("/blowkey") || !m_client.run("/print " + end))
        return {};
    QByteArray text;
    if (!waitFor(
            [&] {
                text = m_client.bufferLog(serverLog());
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

bool WeechatPeer::openQuery(const QByteArray& nick)
{
    // The fifo takes lines in order: once a mark printed in the buffer is logged, it exists.
    const QByteArray mark = "kivvo-query-open-" + QByteArray::number(++m_marks);
    return m_client.run("/query " + nick) && m_client.runIn(queryBuffer(nick), "/print " + mark)
           && waitFor([&] { return queryLog(nick).contains("\t" + mark + "\n"); });
}

bool WeechatPeer::type(const QByteArray& nick, const QByteArray& text)
{
    return m_client.runIn(queryBuffer(nick), "/input insert " + text);
}

bool WeechatPeer::clearInput(const QByteArray& nick)
{
    return m_client.runIn(queryBuffer(nick), "/input delete_line");
}

bool WeechatPeer::sendInput(const QByteArray& nick)
{
    return m_client.runIn(queryBuffer(nick), "/input return");
}

bool WeechatPeer::confirmed(const QByteArray& command, const QByteArray& reply, int timeoutMs)
{
    const qsizetype before = m_client.bufferLog(serverLog()).count(reply);
    return m_client.run(command)
           && waitFor([&] { return m_client.bufferLog(serverLog()).count(reply) > before; },
                      timeoutMs);
}

bool WeechatPeer::setAway(const QByteArray& text, int timeoutMs)
{
    return confirmed("/away " + text, kAwayText, timeoutMs);
}

bool WeechatPeer::setBack(int timeoutMs)
{
    return confirmed("/away", kBackText, timeoutMs);
}

QByteArray WeechatPeer::typingState(const QByteArray& nick) const
{
    QByteArray state;
    for (const QByteArray& line : readFile(statesPath()).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3 && fields[2].toLower() == nick.toLower())
            state = fields[1];
    }
    return state;
}

bool WeechatPeer::waitForTypingState(const QByteArray& nick, const QByteArray& state,
                                     int timeoutMs) const
{
    return waitFor([&] { return typingState(nick) == state; }, timeoutMs);
}

} // namespace test
