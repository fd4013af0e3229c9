#pragma once

// The command line the start-up and memory benchmarks share:
//   [--repetitions N | N] [--smoke] [--app PATH] [--minimal PATH]
// The programs default to the build's own, ../kivvo and ./minimal_qt beside the benchmark.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

namespace bench {

struct ProgramArgs
{
    int repetitions = 5;
    bool smoke = false; // one repetition at tiny sizes
    std::string kivvo;
    std::string minimal;
};

// `relative` to the folder of this executable.
inline std::string besideSelf(const std::string& relative)
{
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string me = n > 0 ? std::string(self, size_t(n)) : std::string("./bench");
    return me.substr(0, me.rfind('/')) + "/" + relative;
}

// The arguments, with both programs as absolute paths (children start in folders of their
// own); nothing, after a message, when they are wrong or a program is missing.
inline std::optional<ProgramArgs> parseProgramArgs(int argc, char** argv, int repetitions)
{
    ProgramArgs args;
    args.repetitions = repetitions;
    args.kivvo = besideSelf("../kivvo");
    args.minimal = besideSelf("minimal_qt");
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--smoke")
            args.smoke = true;
        else if ((arg == "--app" || arg == "--kivvo") && hasValue)
            args.kivvo = argv[++i];
        else if (arg == "--minimal" && hasValue)
            args.minimal = argv[++i];
        else if (arg == "--repetitions" && hasValue)
            args.repetitions = std::max(1, std::atoi(argv[++i]));
        else if (!arg.empty() && std::isdigit(static_cast<unsigned char>(arg[0])))
            args.repetitions = std::max(1, std::atoi(arg.c_str()));
        else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return std::nullopt;
        }
    }
    for (std::string* program : {&args.kivvo, &args.minimal}) {
        char resolved[PATH_MAX];
        if (!realpath(program->c_str(), resolved) || access(resolved, X_OK) != 0) {
            std::fprintf(stderr, "no program at %s\n", program->c_str());
            return std::nullopt;
        }
        *program = resolved;
    }
    if (args.smoke)
        args.repetitions = 1;
    return args;
}

} // namespace bench
