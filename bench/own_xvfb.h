#pragma once

#include "bench/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace bench {

// An Xvfb of our own on whatever display it finds free.
class OwnXvfb
{
public:
    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                   "1280x1024x24", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            return false;
        }
        // Xvfb writes the display number once it accepts clients.
        std::string number;
        const double deadline = nowMs() + 10000;
        pollfd reader{fds[0], POLLIN, 0};
        while (number.find('\n') == std::string::npos && nowMs() < deadline) {
            if (poll(&reader, 1, 200) <= 0)
                continue;
            char buffer[32];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            number.append(buffer, size_t(n));
        }
        close(fds[0]);
        if (number.find('\n') == std::string::npos) {
            stop(m_pid);
            m_pid = -1;
            return false;
        }
        m_display = ":" + number.substr(0, number.find('\n'));
        return true;
    }
    ~OwnXvfb() { stop(m_pid); }
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

} // namespace bench
