#pragma once

// What memory_bench's parent and its child processes share.

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/types.h>

namespace bench {

// VmRSS of a process in kB; 0 when it cannot be read (the process is gone).
inline long rssKb(pid_t pid = 0)
{
    const std::string path =
        pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status");
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kb = std::atol(line + 6);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

// Under --smoke every wait is short: the run only has to show that it works.
inline bool g_quick = false;

// The in-process measurements, run in a child of their own: prints "@rss BEFORE AFTER" (kB).
int memoryChild(const std::string& mode, qint64 amount, int argc, char** argv);

} // namespace bench
