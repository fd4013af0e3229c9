#pragma once

// What the benchmarks that run the real binaries share: a monotonic clock, waiting for and
// stopping a child, a free loopback port, and the summary line printed beside each figure.

#include "bench/figures.h"

#include <QtGlobal>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bench {

inline double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Waits for a child to end, at most `timeoutMs`; true when it did (or was never ours).
inline bool reap(pid_t pid, int timeoutMs, int* status = nullptr)
{
    const double deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        int s = 0;
        const pid_t got = waitpid(pid, &s, WNOHANG);
        if (got == pid) {
            if (status)
                *status = s;
            return true;
        }
        if (got < 0 && errno == ECHILD)
            return true;
        usleep(2000);
    }
    return false;
}

inline void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!reap(pid, 5000)) {
        kill(pid, SIGKILL);
        reap(pid, 5000);
    }
}

// A port nobody holds right now; 0 when none could be had (the caller's default then applies).
inline quint16 freeLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                       && getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(s);
    return bound ? ntohs(address.sin_port) : 0;
}

// The least, median and greatest value on one line for the reader, then the figure itself.
inline void report(const std::string& name, const std::vector<double>& values, const char* note,
                   int nameWidth, int decimals)
{
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-*s %8.*f %8.*f %8.*f  %s\n", nameWidth, name.c_str(), decimals, sorted.front(),
                decimals, sorted[sorted.size() / 2], decimals, sorted.back(), note);
    printFigure(name, values);
}

} // namespace bench
