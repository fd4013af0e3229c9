#pragma once

// A real binary started as a user would start it on any run after the first: a fresh
// configuration and data folder that already hold a configuration, and an environment of its
// own (the display, the platform and the ident port the benchmark chooses).

#include "bench/child_process.h"
#include "config/installation.h"
#include "config/registry.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

extern char** environ;

namespace bench {

struct Home
{
    // With a server port the program connects to 127.0.0.1 there at once; without one it stays
    // offline (autoconnect off).
    explicit Home(std::optional<quint16> serverPort = std::nullopt)
    {
        configHome = dir.filePath(QStringLiteral("config"));
        dataHome = dir.filePath(QStringLiteral("data"));
        runtime = dir.filePath(QStringLiteral("runtime"));
        QDir().mkpath(configHome + QStringLiteral("/kivvo"));
        QDir().mkpath(dataHome);
        QDir().mkpath(runtime);
        chmod(runtime.toLocal8Bit().constData(), 0700);
        config::Registry registry(configHome + QStringLiteral("/kivvo/registry.db"));
        config::FirstRunDefaults defaults;
        defaults.installDir = dataHome + QStringLiteral("/kivvo");
        defaults.nick = "alice";
        defaults.autoconnect = serverPort.has_value();
        if (serverPort)
            defaults.serverPort = *serverPort;
        config::installIfMissing(registry, defaults);
    }

    QTemporaryDir dir;
    QString configHome;
    QString dataHome;
    QString runtime;
};

struct Launch
{
    pid_t pid = -1;
    double startedMs = 0;
};

// Starts `program` in `home` with `platform` ("xcb" with a display, "offscreen" without one).
// Its output goes to `log`, or nowhere when that is empty. Everything is built before the fork:
// the child only execs.
inline Launch launch(const std::string& program, const std::vector<std::string>& arguments,
                     const Home& home, const std::string& platform, const std::string& display,
                     const std::string& log = {})
{
    const char* dropped[] = {
        "DISPLAY=",         "XDG_CONFIG_HOME=",  "XDG_DATA_HOME=",  "XDG_RUNTIME_DIR=",
        "QT_QPA_PLATFORM=", "KIVVO_IDENT_PORT=", "WAYLAND_DISPLAY="};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const bool drop = std::any_of(std::begin(dropped), std::end(dropped), [&](const char* d) {
            return std::strncmp(*e, d, std::strlen(d)) == 0;
        });
        if (!drop)
            env.emplace_back(*e);
    }
    if (!display.empty())
        env.push_back("DISPLAY=" + display);
    env.push_back("QT_QPA_PLATFORM=" + platform);
    env.push_back("XDG_CONFIG_HOME=" + home.configHome.toStdString());
    env.push_back("XDG_DATA_HOME=" + home.dataHome.toStdString());
    env.push_back("XDG_RUNTIME_DIR=" + home.runtime.toStdString());
    // The ident listener opens as it always does, on a port nobody else holds.
    env.push_back("KIVVO_IDENT_PORT=" + std::to_string(freeLoopbackPort()));
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string cwd = home.dir.path().toStdString();

    Launch result;
    result.startedMs = nowMs();
    result.pid = fork();
    if (result.pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        const int out = log.empty() ? null : open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return result;
}

} // namespace bench
