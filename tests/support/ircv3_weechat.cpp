#include "tests/support/ircv3_weechat.h"

#include "tests/support/file_bytes.h"
#include "tests/support/wait_for.h"

namespace test {

namespace {

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

} // namespace

bool haveIrcv3Weechat()
{
    return haveTerminalClient() && haveTerminalPlugin("typing.so")
           && haveTerminalPlugin("python.so");
}

bool Ircv3Weechat::start(quint16 port, const QByteArray& nick)
{
    if (!m_folder.isValid())
        return false;
    const QString script = m_folder.filePath("kivvo_typing.py");
    if (!writeTo(script, QByteArray(kTypingScript).replace("@STATES@", statesPath().toUtf8())))
        return false;
    TerminalClient::Extras extras;
    extras.plugins = {"typing", "python"};
    extras.commands = {"/python load " + script.toUtf8()};
    m_client.setExtras(extras);
    // Both halves of typing are off by default, in each of the two plugins. The flood queue
    // would hold every command after the first few back by two seconds.
    const QList<QByteArray> settings{
        "irc.server_default.capabilities \"*\"",
        "irc.server_default.anti_flood_prio_high 0",
        "irc.server_default.anti_flood_prio_low 0",
        "irc.look.typing_status_nicks on",
        "irc.look.typing_status_self on",
        "typing.look.enabled_nicks on",
        "typing.look.enabled_self on",
    };
    if (!m_client.start(m_folder.filePath("weechat"), port, nick, settings))
        return false;
    // ngircd and InspIRCd both word their 001 "Welcome to the ... Network <nick>!<user>@<host>".
    return waitFor(
        [&] { return m_client.bufferLog(serverLog()).contains(" Network " + nick + "!"); }, 10000);
}

void Ircv3Weechat::stop()
{
    m_client.stop();
}

QByteArray Ircv3Weechat::queryBuffer(const QByteArray& nick)
{
    return "irc." + TerminalClient::serverName() + "." + nick;
}

QString Ircv3Weechat::statesPath() const
{
    return m_folder.filePath("typing_states");
}

bool Ircv3Weechat::openQuery(const QByteArray& nick)
{
    // The fifo takes lines in order: once a mark printed in the buffer is logged, it exists.
    const QByteArray mark = "kivvo-query-open-" + QByteArray::number(++m_marks);
    return m_client.run("/query " + nick) && m_client.runIn(queryBuffer(nick), "/print " + mark)
           && waitFor([&] { return queryLog(nick).contains("\t" + mark + "\n"); });
}

bool Ircv3Weechat::type(const QByteArray& nick, const QByteArray& text)
{
    return m_client.runIn(queryBuffer(nick), "/input insert " + text);
}

bool Ircv3Weechat::clearInput(const QByteArray& nick)
{
    return m_client.runIn(queryBuffer(nick), "/input delete_line");
}

bool Ircv3Weechat::sendInput(const QByteArray& nick)
{
    return m_client.runIn(queryBuffer(nick), "/input return");
}

bool Ircv3Weechat::say(const QByteArray& nick, const QByteArray& text)
{
    return m_client.run("/msg " + nick + " " + text);
}

bool Ircv3Weechat::confirmed(const QByteArray& command, const QByteArray& reply, int timeoutMs)
{
    const qsizetype before = m_client.bufferLog(serverLog()).count(reply);
    return m_client.run(command)
           && waitFor([&] { return m_client.bufferLog(serverLog()).count(reply) > before; },
                      timeoutMs);
}

bool Ircv3Weechat::setAway(const QByteArray& text, int timeoutMs)
{
    return confirmed("/away " + text, kAwayText, timeoutMs);
}

bool Ircv3Weechat::setBack(int timeoutMs)
{
    return confirmed("/away", kBackText, timeoutMs);
}

QByteArray Ircv3Weechat::typingState(const QByteArray& nick) const
{
    QByteArray state;
    for (const QByteArray& line : readFile(statesPath()).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3 && fields[2].toLower() == nick.toLower())
            state = fields[1];
    }
    return state;
}

bool Ircv3Weechat::waitForTypingState(const QByteArray& nick, const QByteArray& state,
                                      int timeoutMs) const
{
    return waitFor([&] { return typingState(nick) == state; }, timeoutMs);
}

bool Ircv3Weechat::waitForText(const QByteArray& peer, const QByteArray& speaker,
                               const QByteArray& text, int timeoutMs) const
{
    const QByteArray line = "\t" + speaker + "\t" + text + "\n";
    return waitFor([&] { return queryLog(peer).contains(line); }, timeoutMs);
}

QByteArray Ircv3Weechat::queryLog(const QByteArray& nick) const
{
    // The logger names its files in lower case.
    return m_client.bufferLog(queryBuffer(nick).toLower());
}

QByteArray Ircv3Weechat::log() const
{
    return m_client.log() + "--- typing states\n" + readFile(statesPath());
}

} // namespace test
