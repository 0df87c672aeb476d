// Whole-program start-up and memory: the time from spawning a program until its
// first top-level window is mapped, and its peak resident memory, for the real
// program beside a minimal Qt Widgets program, alternating, under an Xvfb of our
// own. Usage: bench_startup <program> <reference program> [runs] [idle ms]
#include "xsession.h"

#include <chrono>
#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;
using xsession::fail;
using xsession::median;
using xsession::spawn;

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

    xsession::benchName = "bench_startup";
    pid_t xvfb = 0;
    const std::string display = xsession::startXvfb(xvfb);
    xcb_connection_t* conn = xsession::connect(display);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_void_cookie_t selected = xcb_change_window_attributes_checked(conn, root, XCB_CW_EVENT_MASK, &mask);
    if (xcb_generic_error_t* error = xcb_request_check(conn, selected)) {
        std::free(error);
        fail("cannot watch the root window");
    }

    // Both programs get the same environment: this one, on our display, xcb.
    xsession::Environment env(display);

    // One start each first, unmeasured, so that both find the libraries cached.
    const Run firstOurs = runOnce(conn, ours, env.get(), 0);
    const Run firstReference = runOnce(conn, reference, env.get(), 0);
    std::printf("first mapped windows: \"%s\" and \"%s\"\n", firstOurs.title.c_str(), firstReference.title.c_str());

    std::vector<double> oursMs, oursMiB, refMs, refMiB;
    for (int i = 0; i < runs; ++i) {
        // Alternating which goes first keeps a drift of the machine from favouring one.
        for (int k = 0; k < 2; ++k) {
            const bool isOurs = (i + k) % 2 == 0;
            const Run r = runOnce(conn, isOurs ? ours : reference, env.get(), idleMs);
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
