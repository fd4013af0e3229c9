// Start-up time of the real program against a minimal Qt Widgets program, and the delay between
// the server accepting the program's connection and its first registration line.
//   startup_bench [--repetitions N | N] [--smoke] [--app PATH] [--minimal PATH]
// N defaults to 10; --smoke is one repetition without warm-up. The programs default to
// the build's own (../kivvo and ./minimal_qt next to this binary).
//
// Both programs run on an Xvfb of our own (-displayfd picks a free display, -nolisten tcp), in a
// fresh XDG_CONFIG_HOME / XDG_DATA_HOME per run that already holds a configuration, so no
// first-run work is timed. The ident listener is moved to a free port, as it always starts.
//
// How "shown" is seen: from outside the process, with nothing added to the program. Before the
// fork this process selects SubstructureNotify on the root window, so it learns of every
// top-level window the moment the child creates it, and selects Exposure on each one then. With
// no window manager, the X server sends the first Expose as soon as the window is mapped and
// viewable; that is the moment the program may paint its first frame. The clock runs from just
// before fork() to the arrival of that Expose on a top-level whose title is the program's. Xlib
// rather than xdotool: xdotool polls (search --sync sleeps between tries), which would quantise a
// 20-50 ms figure, and its own start-up would be inside the measurement.
#include "bench/child_process.h"
#include "bench/figures.h"
#include "bench/own_xvfb.h"
#include "bench/program_args.h"
#include "bench/program_home.h"
#include "irc/texts.h"

#include <QByteArray>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::Home;
using bench::Launch;
using bench::nowMs;
using bench::OwnXvfb;
using bench::stop;

int ignoreXErrors(Display*, XErrorEvent*)
{
    // Windows come and go under us (a child that was stopped, Qt's helper windows): a request
    // about a window that is already gone is not an error here.
    return 0;
}

// Watches the root window for the children's top-level windows.
class Watcher
{
public:
    bool open(const std::string& display)
    {
        m_display = XOpenDisplay(display.c_str());
        if (!m_display)
            return false;
        XSetErrorHandler(ignoreXErrors);
        m_netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
        m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        XSync(m_display, False);
        return true;
    }
    ~Watcher()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    int fd() const { return ConnectionNumber(m_display); }

    // Handles what has arrived; the time the first Expose of a window titled `title` arrived, if
    // it has.
    std::optional<double> drain(const std::string& title)
    {
        std::optional<double> exposed;
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            const double at = nowMs();
            switch (event.type) {
            case CreateNotify:
                if (event.xcreatewindow.parent == DefaultRootWindow(m_display)
                    && !event.xcreatewindow.override_redirect)
                    follow(event.xcreatewindow.window);
                break;
            case MapNotify: {
                // Came through the root window, so it is never missed. It stands in for the
                // Expose only when that went to the program alone (see follow()): with no window
                // manager the server sends both while handling the same MapWindow request.
                const auto it = m_followed.find(event.xmap.window);
                if (!exposed && it != m_followed.end() && it->second
                    && titleOf(event.xmap.window) == title) {
                    exposed = at;
                    ++m_late;
                }
                break;
            }
            case Expose: {
                const auto it = m_followed.find(event.xexpose.window);
                if (!exposed && it != m_followed.end() && titleOf(event.xexpose.window) == title)
                    exposed = at;
                break;
            }
            case DestroyNotify:
                m_followed.erase(event.xdestroywindow.window);
                break;
            default:
                break;
            }
        }
        return exposed;
    }
    // How many windows were timed by their MapNotify.
    int lateSelections() const { return m_late; }

private:
    void follow(Window window)
    {
        XSelectInput(m_display, window, ExposureMask | StructureNotifyMask);
        // Had the window been mapped before our selection reached the server, its first Expose
        // went to the program alone; then its MapNotify, queued behind this CreateNotify, times
        // it. The reply to this request tells which, as the server answers it after the
        // selection took effect.
        XWindowAttributes attributes{};
        const bool late = XGetWindowAttributes(m_display, window, &attributes)
                          && attributes.map_state != IsUnmapped;
        m_followed[window] = late;
    }

    std::string titleOf(Window window)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::string title;
        if (XGetWindowProperty(m_display, window, m_netWmName, 0, 1024, False, m_utf8, &type,
                               &format, &count, &after, &data)
                == Success
            && data && format == 8) {
            title.assign(reinterpret_cast<char*>(data), count);
        }
        if (data)
            XFree(data);
        if (title.empty()) {
            char* name = nullptr;
            if (XFetchName(m_display, window, &name) && name) {
                title = name;
                XFree(name);
            }
        }
        return title;
    }

    Display* m_display = nullptr;
    Atom m_netWmName = None;
    Atom m_utf8 = None;
    std::map<Window, bool> m_followed; // each top-level, and whether its Expose was missed
    int m_late = 0;
};

void showLog(const std::string& log)
{
    if (FILE* f = std::fopen(log.c_str(), "r")) {
        char line[512];
        for (int i = 0; i < 20 && std::fgets(line, sizeof line, f); ++i)
            std::fprintf(stderr, "    | %s", line);
        std::fclose(f);
    }
}

// Milliseconds from fork to the first Expose of the window titled `title`, or nothing.
std::optional<double> timeStart(Watcher& watcher, const std::string& display,
                                const std::string& program, const std::vector<std::string>& args,
                                const std::string& title)
{
    Home home;
    const std::string log = home.dir.filePath(QStringLiteral("output.txt")).toStdString();
    watcher.drain({}); // whatever a previous run left
    const Launch child = bench::launch(program, args, home, "xcb", display, log);
    std::optional<double> exposed;
    const double deadline = child.startedMs + 10000;
    while (!exposed && nowMs() < deadline) {
        pollfd x{watcher.fd(), POLLIN, 0};
        poll(&x, 1, 50);
        exposed = watcher.drain(title);
    }
    stop(child.pid);
    if (!exposed) {
        std::fprintf(stderr, "%s showed no window titled \"%s\" within 10 s\n", program.c_str(),
                     title.c_str());
        showLog(log);
        return std::nullopt;
    }
    return *exposed - child.startedMs;
}

struct Registration
{
    double acceptToLineMs = 0;
    double startToAcceptMs = 0;
};

// The program, with one server (ours on loopback) and autoconnect on: from our accept() of its
// connection to its first registration line.
std::optional<Registration> timeRegistration(Watcher& watcher, const std::string& display,
                                             const std::string& program)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(listener, 4) != 0
        || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "no loopback listener: %s\n", std::strerror(errno));
        close(listener);
        return std::nullopt;
    }

    Home home(ntohs(address.sin_port));
    const std::string log = home.dir.filePath(QStringLiteral("output.txt")).toStdString();
    const Launch child = bench::launch(program, {}, home, "xcb", display, log);
    const double deadline = child.startedMs + 10000;
    int connection = -1;
    double acceptedAt = 0;
    std::string received;
    std::optional<Registration> result;
    while (!result && nowMs() < deadline) {
        pollfd fds[2] = {{watcher.fd(), POLLIN, 0},
                         {connection >= 0 ? connection : listener, POLLIN, 0}};
        poll(fds, 2, 50);
        watcher.drain({});
        if (connection < 0) {
            connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
            if (connection >= 0)
                acceptedAt = nowMs();
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(connection, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0)
            continue;
        const double at = nowMs();
        received.append(buffer, size_t(n));
        const size_t end = received.find("\r\n");
        if (end == std::string::npos)
            continue;
        const std::string first = received.substr(0, end);
        // CAP LS opens the registration when the IRCv3 extensions are asked for (the default).
        if (first.rfind("NICK", 0) == 0 || first.rfind("USER", 0) == 0
            || first.rfind("PASS", 0) == 0 || first.rfind("CAP LS", 0) == 0) {
            result = Registration{at - acceptedAt, acceptedAt - child.startedMs};
        } else {
            std::fprintf(stderr, "first line was not a registration line: %s\n", first.c_str());
            break;
        }
    }
    stop(child.pid);
    if (connection >= 0)
        close(connection);
    close(listener);
    if (!result) {
        std::fprintf(stderr, "no registration line from %s within 10 s\n", program.c_str());
        showLog(log);
    }
    return result;
}

void report(const char* name, const std::vector<double>& values, const char* note)
{
    bench::report(name, values, note, 32, 1);
}

} // namespace

int main(int argc, char** argv)
{
    const auto args = bench::parseProgramArgs(argc, argv, 10);
    if (!args)
        return 2;
    const int repetitions = args->repetitions;
    const bool smoke = args->smoke;
    const std::string& kivvo = args->kivvo;
    const std::string& minimal = args->minimal;
    std::signal(SIGPIPE, SIG_IGN);

    OwnXvfb xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    Watcher watcher;
    if (!watcher.open(xvfb.display())) {
        std::fprintf(stderr, "could not open display %s\n", xvfb.display().c_str());
        return 1;
    }
    const std::string kivvoTitle = irc::text::kTitleIdle;
    const std::string minimalTitle = "minimal Qt";

    // One untimed run of each first: the libraries come into the page cache, as they are on any
    // start but the first after boot.
    if (!smoke) {
        timeStart(watcher, xvfb.display(), minimal, {minimalTitle}, minimalTitle);
        timeStart(watcher, xvfb.display(), kivvo, {}, kivvoTitle);
        timeRegistration(watcher, xvfb.display(), kivvo);
    }
    std::vector<double> program, reference, registration, connectAfter;
    for (int i = 0; i < repetitions; ++i) {
        const auto ours = timeStart(watcher, xvfb.display(), kivvo, {}, kivvoTitle);
        const auto theirs =
            timeStart(watcher, xvfb.display(), minimal, {minimalTitle}, minimalTitle);
        const auto registered = timeRegistration(watcher, xvfb.display(), kivvo);
        if (!ours || !theirs || !registered)
            return 1;
        program.push_back(*ours);
        reference.push_back(*theirs);
        registration.push_back(registered->acceptToLineMs);
        connectAfter.push_back(registered->startToAcceptMs);
    }
    std::printf("%d repetitions on Xvfb %s%16s %8s %8s %8s\n", repetitions, xvfb.display().c_str(),
                "", "min", "median", "max");
    report("start-up ms", program, "fork to first Expose; target within 1.5x of minimal Qt");
    report("minimal Qt start-up ms", reference, "the same for bench/minimal_qt");
    report("registration line ms", registration,
           "accept() to first CAP/NICK/USER/PASS; target <= 5");
    // Each repetition starts both programs back to back, so their ratio drifts less with the
    // machine's load than the ratio of the medians does.
    std::vector<double> ratios;
    ratios.reserve(program.size());
    for (size_t i = 0; i < program.size(); ++i)
        ratios.push_back(program[i] / reference[i]);
    std::sort(ratios.begin(), ratios.end());
    std::printf("%-32s %8.2f %8.2f %8.2f  %s\n", "(start-up / minimal, paired)", ratios.front(),
                ratios[ratios.size() / 2], ratios.back(), "for reading only");
    std::vector<double> sorted = connectAfter;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-32s %8.1f %8.1f %8.1f  %s\n", "(connection after start ms)", sorted.front(),
                sorted[sorted.size() / 2], sorted.back(), "fork to accept(), for reading only");
    if (watcher.lateSelections() > 0)
        std::printf("note: %d windows were timed by their MapNotify (mapped before the watcher "
                    "could select their Expose)\n",
                    watcher.lateSelections());
    return 0;
}
