#pragma once

#include "tests/support/stop_process.h"
#include "tests/support/wait_for.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <signal.h>
#include <sys/prctl.h>

namespace test {

// What `program` printed with `args`, or nothing when it failed or took longer than ten seconds.
inline std::optional<QByteArray> output(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000)) {
        stopProcess(process);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput().trimmed();
}

// xdotool run with `args` as a user's hand on the keyboard and mouse: what it printed, or nothing
// when it failed.
inline std::optional<QByteArray> xdotool(const QStringList& args)
{
    return output(QStringLiteral("xdotool"), args);
}

// The X window the window manager names active (_NET_ACTIVE_WINDOW), or 0.
inline quint64 activeXWindow()
{
    return xdotool({QStringLiteral("getactivewindow")}).value_or(QByteArray()).toULongLong();
}

// The last user time an X window gives the window manager (_NET_WM_USER_TIME, on the window it
// names in _NET_WM_USER_TIME_WINDOW when there is one), or nothing when it gives none.
inline std::optional<quint64> userTime(quint64 window)
{
    const auto property = [](const QString& id, const QString& name) -> QByteArray {
        const QByteArray line =
            output(QStringLiteral("xprop"), {QStringLiteral("-id"), id, name}).value_or("");
        const qsizetype at = line.lastIndexOf(' ');
        return line.contains(name.toLatin1() + "(") && at > 0 ? line.mid(at + 1) : QByteArray();
    };
    QString id = QString::number(window);
    if (const QByteArray own = property(id, QStringLiteral("_NET_WM_USER_TIME_WINDOW"));
        !own.isEmpty())
        id = QString::fromLatin1(own);
    bool ok = false;
    const quint64 time = property(id, QStringLiteral("_NET_WM_USER_TIME")).toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return time;
}

// Openbox, as Debian installs it, managing the display the tests draw on: it gives the keyboard
// to new windows as every EWMH window manager does, unless a window asks it not to. Started
// before the program's windows, as on a desk, and ended by its PID; it also ends with the test
// process, so that a test that crashed leaves no window manager behind for the next one.
class WindowManager
{
public:
    WindowManager()
    {
        if (!m_home.isValid())
            return;
        const QString ready = m_home.filePath(QStringLiteral("ready"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Its settings and caches in a folder of its own, never in the user's home.
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.insert(QString::fromLatin1(name), m_home.path());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        // The start-up command runs once it manages the screen.
        m_process.start(QStringLiteral("openbox"),
                        {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                         QStringLiteral("touch ") + ready});
        m_running =
            m_process.waitForStarted(5000)
            && waitFor(
                [&] {
                    return QFileInfo::exists(ready) || m_process.state() == QProcess::NotRunning;
                },
                10000)
            && m_process.state() == QProcess::Running;
    }
    ~WindowManager() { stopProcess(m_process); }
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Whether it manages the screen.
    bool isRunning() const { return m_running; }

private:
    QTemporaryDir m_home;
    QProcess m_process;
    bool m_running = false;
};

} // namespace test
