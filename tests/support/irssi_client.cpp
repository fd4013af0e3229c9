#include "tests/support/irssi_client.h"

#include "tests/support/file_bytes.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace test {

namespace {

QString clientBinary()
{
    return QStandardPaths::findExecutable("irssi");
}

// Debian builds irssi with perl, but the module lives under the multiarch folder.
bool havePerlModule()
{
    QStringList roots{"/usr/lib"};
    for (const QString& arch : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        roots << "/usr/lib/" + arch;
    for (const QString& root : roots) {
        if (QFileInfo::exists(root + "/irssi/modules/libperl_core.so"))
            return true;
    }
    return false;
}

// irssi has no FIFO of its own. This reads one command a line from home/commands (opened for
// reading and writing, so that a writer going away is no end of file) and runs it on the
// server; it notes every DCC event (with the wall-clock time it came, for the peer benchmark)
// and every printed line in home/events.log, flushed at once since tests wait on it.
constexpr char kScript[] = R"PERL(use strict;
use Irssi;
use Time::HiRes ();
our $VERSION = '1';
our %IRSSI = (name => 'kivvo_driver');
my $home = Irssi::get_irssi_dir();
my $pending = '';
open(my $fifo, '+<', "$home/commands") or die "commands: $!";
open(my $events, '>>', "$home/events.log") or die "events.log: $!";
$events->autoflush(1);
sub note { print $events join(' ', @_), "\n"; }
sub describe {
    my ($d) = @_;
    return join(' ', $d->{type}, $d->{nick}, ($d->{arg} // ''),
        'addr=' . ($d->{addr} // ''), 'port=' . ($d->{port} // ''),
        'size=' . ($d->{size} // ''), 'transferred=' . ($d->{transfd} // ''),
        'skipped=' . ($d->{skipped} // ''), 'file=' . ($d->{file} // ''),
        'id=' . ($d->{id} // ''), sprintf('at=%.6f', Time::HiRes::time()));
}
Irssi::input_add(fileno($fifo), Irssi::INPUT_READ, sub {
    my $count = sysread($fifo, my $chunk, 4096);
    return unless $count;
    $pending .= $chunk;
    while ($pending =~ s/^([^\n]*)\n//) {
        my $line = $1;
        next if $line eq '';
        note('command', $line);
        my $server = Irssi::active_server() || (Irssi::servers())[0];
        if ($server) { $server->command($line); } else { Irssi::command($line); }
    }
}, '');
for my $event ('request', 'created', 'connected', 'closed', 'destroyed', 'rejected') {
    Irssi::signal_add("dcc $event", sub { note("dcc-$event", describe($_[0])); });
}
Irssi::signal_add('dcc error connect', sub { note('dcc-error-connect', describe($_[0])); });
Irssi::signal_add('dcc error file create', sub { note('dcc-error-file-create', describe($_[0]), $_[1]); });
Irssi::signal_add('dcc error file open', sub { note('dcc-error-file-open', @_[0 .. 2]); });
Irssi::signal_add('dcc chat message', sub { note('dcc-chat-message', $_[0]->{id}, $_[1]); });
Irssi::signal_add('event 001', sub { note('registered', $_[0]->{nick}); });
Irssi::signal_add('print text', sub { note('print', $_[2]); });
note('loaded');
)PERL";

} // namespace

bool haveIrssi()
{
    return !clientBinary().isEmpty() && havePerlModule();
}

IrssiClient::~IrssiClient()
{
    stop();
}

QString IrssiClient::homePath() const
{
    return QDir(m_folder).filePath("home");
}

QString IrssiClient::fifoPath() const
{
    return QDir(homePath()).filePath("commands");
}

QString IrssiClient::downloadFolder() const
{
    return QDir(m_folder).filePath("downloads");
}

bool IrssiClient::isRunning() const
{
    if (m_pid <= 0 || m_exited)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
        m_exited = true;
    return !m_exited;
}

bool IrssiClient::start(const QString& folder, quint16 port, const QByteArray& nick,
                        const QByteArray& host)
{
    const QString binary = clientBinary();
    if (binary.isEmpty() || m_pid > 0)
        return false;
    m_folder = folder;
    const QString home = homePath();
    if (!QDir().mkpath(home + "/scripts/autorun") || !QDir().mkpath(downloadFolder()))
        return false;
    if (!writeTo(home + "/scripts/autorun/kivvo_driver.pl", kScript))
        return false;
    QFile::remove(fifoPath());
    if (::mkfifo(QFile::encodeName(fifoPath()).constData(), 0600) != 0)
        return false;
    // Settings first, so that nothing arrives before the folder is set. Without the flood queue
    // off, CTCP replies wait seconds. Port-0 (passive) offers count as "low ports", which
    // autoget refuses unless told otherwise. Its own address goes into active offers; over
    // IPv6 it is left to irssi, which names the connection's own address (::1).
    const bool ipv6 = host.contains(':');
    QByteArray startup = "/set settings_autosave off\n"
                         "/set cmd_queue_speed 0\n"
                         "/set dcc_autoaccept_lowports on\n"
                         "/set dcc_download_path "
                         + QFile::encodeName(downloadFolder()) + "\n";
    if (!ipv6)
        startup += "/set dcc_own_ip " + host + "\n";
    startup += "/connect " + QByteArray(ipv6 ? "-6 " : "-4 ") + "-rawlog "
               + QFile::encodeName(home + "/raw.log") + " " + host + " " + QByteArray::number(port)
               + " \"\" " + nick + "\n";
    if (!writeTo(home + "/startup", startup))
        return false;

    // Everything the child needs is built before the fork: a threaded parent's child may do
    // little more than exec.
    const QByteArray program = QFile::encodeName(binary);
    const QByteArray homeArgument = "--home=" + QFile::encodeName(home);
    const QByteArray nickArgument = "--nick=" + nick;
    std::vector<char*> argv{const_cast<char*>(program.constData()),
                            const_cast<char*>(homeArgument.constData()),
                            const_cast<char*>(nickArgument.constData()), nullptr};
    QList<QByteArray> environment{"TERM=xterm", "LANG=C.UTF-8", "HOME=" + QFile::encodeName(home),
                                  "PATH=/usr/local/bin:/usr/bin:/bin"};
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int screenFile =
        ::open(QFile::encodeName(QDir(folder).filePath("screen.out")).constData(),
               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (screenFile < 0)
        return false;

    // It draws with curses and will not start without a terminal.
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 200;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child < 0) {
        ::close(screenFile);
        return false;
    }
    if (child == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    m_pid = child;
    m_exited = false;
    m_terminal = terminal;
    // Its screen must be read all along, or it stops once the terminal's buffer fills. The
    // read fails (EIO) once irssi is gone.
    m_drain = std::thread([terminal, screenFile] {
        char buffer[16384];
        for (;;) {
            const ssize_t count = ::read(terminal, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            if (::write(screenFile, buffer, size_t(count)) < 0)
                break;
        }
        ::close(screenFile);
    });
    return waitFor([this] { return !isRunning() || logContains("loaded"); }, 10000) && isRunning();
}

void IrssiClient::stop()
{
    if (m_pid > 0 && !m_exited) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int tries = 0; tries < 300; ++tries) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                break;
            }
            ::usleep(10000);
        }
        if (!m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_exited = true;
        }
    }
    if (m_drain.joinable())
        m_drain.join();
    if (m_terminal >= 0)
        ::close(m_terminal);
    m_terminal = -1;
}

bool IrssiClient::run(const QByteArray& command)
{
    // Non-blocking: with no reader on the other end the open fails instead of hanging.
    const int fd =
        ::open(QFile::encodeName(fifoPath()).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // One line under PIPE_BUF goes in whole.
    const QByteArray line = command + "\n";
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
    return written == line.size();
}

bool IrssiClient::logContains(const QByteArray& text) const
{
    return readFile(QDir(homePath()).filePath("events.log")).contains(text)
           || readFile(QDir(homePath()).filePath("raw.log")).contains(text);
}

QByteArray IrssiClient::events() const
{
    return readFile(QDir(homePath()).filePath("events.log"));
}

QByteArray IrssiClient::log() const
{
    const QByteArray screen = readFile(QDir(m_folder).filePath("screen.out"));
    return "--- events\n" + readFile(QDir(homePath()).filePath("events.log")) + "--- raw\n"
           + readFile(QDir(homePath()).filePath("raw.log")) + "--- screen (tail)\n"
           + screen.right(4000) + "\n";
}

} // namespace test
