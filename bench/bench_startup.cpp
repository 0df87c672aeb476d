// Whole-program start-up and memory: the time from spawning a program until its
// first top-level window is mapped, and its peak resident memory, for the real
// program beside a minimal Qt Widgets program, alternating, under an Xvfb of our
// own. Usage: bench_startup <program> <reference program> [runs] [idle ms]
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what.c_str());
    std::exit(1);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Spawns with stdout and stderr on /dev/null, so the programs' warnings
// neither cost terminal time nor clutter the figures.
pid_t spawn(const std::vector<std::string>& args, char* const* env, int keepFd = -1)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    (void)keepFd; // inherited: it is opened without close-on-exec
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        fail("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

// Starts Xvfb on a free display it picks itself (-displayfd) and returns it.
std::string startXvfb(pid_t& pid)
{
    int fds[2];
    if (pipe(fds) != 0)
        fail("pipe failed");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset"},
                environ, fds[1]);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 10'000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        fail("Xvfb did not report its display (is the xvfb package installed?)");
    return ":" + number;
}

struct Run {
    double startupMs;
    double peakMiB;
    std::string title;
};

std::string windowTitle(xcb_connection_t* conn, xcb_window_t window)
{
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(conn, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(conn, cookie, nullptr);
    std::string title;
    if (reply) {
        title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
    }
    return title;
}

// One start: spawn, wait for the first mapped top-level window (a popup, which
// bypasses the window manager, does not count), idle, stop, collect.
Run runOnce(xcb_connection_t* conn, const std::string& program, char* const* env, int idleMs)
{
    while (xcb_generic_event_t* e = xcb_poll_for_event(conn))
        std::free(e); // left over from the previous program
    const auto start = Clock::now();
    const pid_t pid = spawn({program}, env);
    const int xfd = xcb_get_file_descriptor(conn);
    xcb_window_t mapped = XCB_NONE;
    auto shown = start;
    while (mapped == XCB_NONE) {
        if (Clock::now() - start > std::chrono::seconds(30))
            fail(program + " showed no window within 30 s");
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            fail(program + " ended before showing a window");
        if (xcb_connection_has_error(conn))
            fail("lost the connection to Xvfb");
        while (xcb_generic_event_t* e = xcb_poll_for_event(conn)) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY && mapped == XCB_NONE) {
                const auto* m = reinterpret_cast<const xcb_map_notify_event_t*>(e);
                if (!m->override_redirect) {
                    shown = Clock::now();
                    mapped = m->window;
                }
            }
            std::free(e);
        }
        if (mapped == XCB_NONE) {
            pollfd p{xfd, POLLIN, 0};
            poll(&p, 1, 100);
        }
    }
    const std::string title = windowTitle(conn, mapped);
    if (idleMs > 0)
        usleep(static_cast<useconds_t>(idleMs) * 1000);
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        fail("could not collect " + program);
    return {std::chrono::duration<double, std::milli>(shown - start).count(),
            static_cast<double>(usage.ru_maxrss) / 1024.0, title};
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <program> <reference program> [runs] [idle ms]\n", argv[0]);
        return 2;
    }
    const std::string ours = argv[1];
    const std::string reference = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
    const int idleMs = argc > 4 ? std::max(0, std::atoi(argv[4])) : 500;
    for (const std::string& p : {ours, reference})
        if (access(p.c_str(), X_OK) != 0)
            fail(p + " is not an executable (build it first)");

    pid_t xvfb = 0;
    const std::string display = startXvfb(xvfb);
    xcb_connection_t* conn = nullptr;
    for (int attempt = 0; attempt < 50; ++attempt) {
        conn = xcb_connect(display.c_str(), nullptr);
        if (!xcb_connection_has_error(conn))
            break;
        xcb_disconnect(conn);
        conn = nullptr;
        usleep(100'000);
    }
    if (!conn)
        fail("cannot connect to Xvfb on " + display);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_void_cookie_t selected = xcb_change_window_attributes_checked(conn, root, XCB_CW_EVENT_MASK, &mask);
    if (xcb_generic_error_t* error = xcb_request_check(conn, selected)) {
        std::free(error);
        fail("cannot watch the root window");
    }

    // Both programs get the same environment: this one, on our display, xcb.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            envStrings.emplace_back(*e);
    envStrings.push_back("DISPLAY=" + display);
    envStrings.emplace_back("QT_QPA_PLATFORM=xcb");
    std::vector<char*> env;
    for (std::string& s : envStrings)
        env.push_back(s.data());
    env.push_back(nullptr);

    // One start each first, unmeasured, so that both find the libraries cached.
    const Run firstOurs = runOnce(conn, ours, env.data(), 0);
    const Run firstReference = runOnce(conn, reference, env.data(), 0);
    std::printf("first mapped windows: \"%s\" and \"%s\"\n", firstOurs.title.c_str(), firstReference.title.c_str());

    std::vector<double> oursMs, oursMiB, refMs, refMiB;
    for (int i = 0; i < runs; ++i) {
        // Alternating which goes first keeps a drift of the machine from favouring one.
        for (int k = 0; k < 2; ++k) {
            const bool isOurs = (i + k) % 2 == 0;
            const Run r = runOnce(conn, isOurs ? ours : reference, env.data(), idleMs);
            (isOurs ? oursMs : refMs).push_back(r.startupMs);
            (isOurs ? oursMiB : refMiB).push_back(r.peakMiB);
        }
    }
    xcb_disconnect(conn);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);

    std::printf("start-up to first window mapped, median of %d: %.1f ms vs %.1f ms; peak RSS %.1f MiB vs %.1f MiB "
                "(idle %d ms before stopping)\n",
                runs, median(oursMs), median(refMs), median(oursMiB), median(refMiB), idleMs);
    std::printf("RESULT | start-up to the start window shown | %.1f | %.1f | minimal Qt Widgets program | ms | <=1.25\n",
                median(oursMs), median(refMs));
    std::printf("RESULT | peak memory (RSS) | %.1f | %.1f | minimal Qt Widgets program | MiB | <=1.15\n",
                median(oursMiB), median(refMiB));
    return 0;
}
