#include "tests/support/fish_hexchat.h"

#include "peer/crypto/fish.h"
#include "tests/support/file_bytes.h"
#include "tests/support/unprivileged_user.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace test {

namespace {

// fishlim keeps each key in its file sealed with this password unless the user gave another.
constexpr char kKeyFilePassword[] = "blowinikey";
constexpr int kStartMs = 8000;

bool havePlugin(const QString& name)
{
    for (const QString& arch : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (QFileInfo::exists("/usr/lib/" + arch + "/hexchat/plugins/" + name))
            return true;
    }
    return QFileInfo::exists("/usr/lib/hexchat/plugins/" + name);
}

// Each command is a file named by its number, renamed into place whole; the addon runs them in
// order, removes them and notes "ran <number>". Print events come as "<event>\t<words...>".
constexpr char kAddon[] = R"(import os
import hexchat

__module_name__ = "kivvo_driver"
__module_version__ = "1"
__module_description__ = "Runs the commands a test leaves and notes what HexChat shows"

EVENTS = "@EVENTS@"
COMMANDS = "@COMMANDS@"


def note(*fields):
    with open(EVENTS, "a", encoding="utf-8") as log:
        log.write("\t".join(fields) + "\n")


def shown(word, word_eol, event):
    note(event, *word)
    return hexchat.EAT_NONE


for event in ("Private Message to Dialog", "Private Message", "Your Message",
              "Notice", "Server Text", "Motd"):
    hexchat.hook_print(event, shown, event)


def received(word, word_eol, userdata):
    note("received", word_eol[0])
    return hexchat.EAT_NONE


# Ahead of fishlim, which eats the key exchange and the sealed lines it opens.
for command in ("PRIVMSG", "NOTICE"):
    hexchat.hook_server(command, received, priority=hexchat.PRI_HIGHEST)


def run_commands(userdata):
    names = [n for n in os.listdir(COMMANDS) if n.endswith(".cmd")]
    for name in sorted(names, key=lambda n: int(n[:-4])):
        path = os.path.join(COMMANDS, name)
        with open(path, encoding="utf-8") as f:
            command = f.read()
        os.remove(path)
        hexchat.command(command)
        note("ran", name[:-4])
    return True


hexchat.hook_timer(100, run_commands)
note("loaded")
)";

void startGroupLeader(QProcess& process)
{
    // Its own process group, so that stop() reaches whatever it started too; and gone with the
    // test process even when that one is killed.
    process.setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
}

void stopGroup(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    const pid_t group = pid_t(process.processId());
    ::kill(-group, SIGTERM);
    if (!process.waitForFinished(3000))
        ::kill(-group, SIGKILL);
    process.waitForFinished(2000);
    ::kill(-group, SIGKILL);
}

} // namespace

bool haveFishHexchat()
{
    const bool asNobody = unprivilegedUser() != nullptr;
    return !QStandardPaths::findExecutable("hexchat").isEmpty()
           && !QStandardPaths::findExecutable("Xvfb").isEmpty() && havePlugin("fishlim.so")
           && havePlugin("python.so")
           && (::geteuid() != 0
               || (asNobody && !QStandardPaths::findExecutable("setpriv").isEmpty()));
}

FishHexchat::~FishHexchat()
{
    stop();
}

bool FishHexchat::start(quint16 port, const QByteArray& nick)
{
    if (!m_folder.isValid())
        return false;
    m_nick = nick;
    if (!writeConfig() || !startDisplay() || !startHexchat(port))
        return false;
    const QByteArray welcome = "Welcome to the Internet Relay Network " + nick + "!";
    return waitFor(
               [&] {
                   return m_hexchat.state() == QProcess::NotRunning || events().contains(welcome);
               },
               kStartMs)
           && m_hexchat.state() == QProcess::Running;
}

bool FishHexchat::writeConfig()
{
    // No dialog may wait for a click: the network list, the join and quit dialogs, the tray.
    const QByteArray config = "irc_nick1 = " + m_nick + "\nirc_nick2 = " + m_nick
                              + "_\nirc_nick3 = " + m_nick + "__\nirc_user_name = " + m_nick
                              + "\nirc_real_name = " + m_nick
                              + "\n"
                                "gui_slist_skip = 1\n"
                                "gui_join_dialog = 0\n"
                                "gui_quit_dialog = 0\n"
                                "gui_tray = 0\n"
                                "net_throttle = 0\n"
                                "irc_logging = 0\n"
                                "text_replay = 0\n";
    const QString configDir = m_folder.filePath("config");
    QByteArray addon = kAddon;
    addon.replace("@EVENTS@", QFile::encodeName(m_folder.filePath("events.log")));
    addon.replace("@COMMANDS@", QFile::encodeName(m_folder.filePath("commands")));
    if (!writeTo(configDir + "/hexchat.conf", config)
        || !writeTo(configDir + "/addons/kivvo_driver.py", addon)
        || !QDir().mkpath(m_folder.filePath("commands"))
        || !QDir().mkpath(m_folder.filePath("runtime")))
        return false;
    QFile::setPermissions(m_folder.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const passwd* user = unprivilegedUser();
    return !user || handOver(m_folder.path(), user);
}

bool FishHexchat::startDisplay()
{
    // Xvfb picks a free display and writes its number to the given descriptor, here its
    // standard output, once it accepts clients.
    startGroupLeader(m_xvfb);
    m_xvfb.setStandardInputFile(QProcess::nullDevice());
    m_xvfb.setStandardErrorFile(m_folder.filePath("xvfb.err"));
    m_xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    if (!m_xvfb.waitForStarted(3000))
        return false;
    QByteArray number;
    waitFor(
        [&] {
            number += m_xvfb.readAllStandardOutput();
            return number.contains('\n') || m_xvfb.state() == QProcess::NotRunning;
        },
        5000);
    if (!number.contains('\n'))
        return false;
    m_display = ":" + number.trimmed();
    return true;
}

bool FishHexchat::startHexchat(quint16 port)
{
    const QString binary = QStandardPaths::findExecutable("hexchat");
    QStringList command{binary, "--cfgdir=" + m_folder.filePath("config"),
                        "--display=" + QString::fromLatin1(m_display),
                        "irc://127.0.0.1:" + QString::number(port) + "/"};
    // As root HexChat opens a modal warning before anything else.
    if (const passwd* user = unprivilegedUser()) {
        command = runAs(user, binary, command.mid(1));
        if (command.isEmpty())
            return false;
    }
    // A bus that cannot be reached: no session bus, accessibility bus or settings daemon is
    // started on its behalf, so nothing outlives it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_folder.path());
    environment.insert("XDG_CONFIG_HOME", m_folder.filePath("config-home"));
    environment.insert("XDG_DATA_HOME", m_folder.filePath("data-home"));
    environment.insert("XDG_CACHE_HOME", m_folder.filePath("cache-home"));
    environment.insert("XDG_RUNTIME_DIR", m_folder.filePath("runtime"));
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_folder.filePath("no-bus"));
    environment.insert("NO_AT_BRIDGE", "1");
    environment.insert("GSETTINGS_BACKEND", "memory");
    environment.insert("DISPLAY", QString::fromLatin1(m_display));
    m_hexchat.setProcessEnvironment(environment);
    startGroupLeader(m_hexchat);
    m_hexchat.setStandardInputFile(QProcess::nullDevice());
    m_hexchat.setProcessChannelMode(QProcess::MergedChannels);
    m_hexchat.setStandardOutputFile(m_folder.filePath("hexchat.out"));
    m_hexchat.start(command.first(), command.mid(1));
    return m_hexchat.waitForStarted(3000);
}

void FishHexchat::stop()
{
    stopGroup(m_hexchat);
    stopGroup(m_xvfb);
}

bool FishHexchat::run(const QByteArray& command)
{
    const QByteArray number = QByteArray::number(++m_commands);
    const QString staged = m_folder.filePath("commands/" + QString::fromLatin1(number) + ".tmp");
    if (!writeTo(staged, command)
        || !QFile::rename(staged,
                          m_folder.filePath("commands/" + QString::fromLatin1(number) + ".cmd")))
        return false;
    const QByteArray ran = "ran\t" + number + "\n";
    return waitFor([&] { return events().contains(ran); }, 5000);
}

bool FishHexchat::setKey(const QByteArray& nick, const QByteArray& key)
{
    return run("setkey " + nick + " " + key);
}

bool FishHexchat::startKeyExchange(const QByteArray& nick)
{
    return run("keyx " + nick);
}

bool FishHexchat::say(const QByteArray& nick, const QByteArray& text)
{
    return run("msg+ " + nick + " " + text);
}

bool FishHexchat::waitForText(const QByteArray& from, const QByteArray& text, int timeoutMs)
{
    const QList<QByteArray> shown{"Private Message to Dialog\t" + from + "\t" + text,
                                  "Private Message\t" + from + "\t" + text};
    return waitFor(
        [&] {
            for (const QByteArray& line : events().split('\n')) {
                for (const QByteArray& event : shown) {
                    if (line == event || line.startsWith(event + "\t"))
                        return true;
                }
            }
            return false;
        },
        timeoutMs);
}

QByteArray FishHexchat::key(const QByteArray& nick) const
{
    // A GKeyFile of "[nick]" groups, each with "key=" and "mode=".
    bool inGroup = false;
    QByteArray value;
    for (const QByteArray& raw :
         readFile(m_folder.filePath("config/addon_fishlim.conf")).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('['))
            inGroup = line.toLower() == "[" + nick.toLower() + "]";
        else if (inGroup && line.startsWith("key="))
            value = line.mid(4);
    }
    if (!value.startsWith("+OK "))
        return value;
    peer::FishKey sealing;
    sealing.set(kKeyFilePassword);
    const peer::OpenedFishText opened = peer::openFishText(sealing, value);
    return opened.status == peer::OpenedFishText::Status::Opened ? opened.text : QByteArray();
}

QByteArray FishHexchat::events() const
{
    return readFile(m_folder.filePath("events.log"));
}

QByteArray FishHexchat::versions()
{
    auto output = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        return process.waitForFinished(5000) ? process.readAllStandardOutput().trimmed()
                                             : QByteArray("?");
    };
    // "hexchat 2.16.1"; fishlim reports no version of its own beyond its package's.
    const QByteArray hexchat = output(QStandardPaths::findExecutable("hexchat"), {"--version"});
    const QByteArray plugins = output(QStandardPaths::findExecutable("dpkg-query"),
                                      {"--showformat=${Version}", "--show", "hexchat-plugins"});
    return "HexChat " + hexchat.mid(hexchat.indexOf(' ') + 1) + ", fishlim of hexchat-plugins "
           + plugins;
}

QByteArray FishHexchat::log() const
{
    return "--- hexchat output\n" + readFile(m_folder.filePath("hexchat.out"))
           + "--- what the addon noted\n" + events() + "--- addon_fishlim.conf\n"
           + readFile(m_folder.filePath("config/addon_fishlim.conf")) + "--- xvfb\n"
           + readFile(m_folder.filePath("xvfb.err"));
}

} // namespace test
