#pragma once

// What the benchmarks that run real programs under an X server of their own
// share: starting programs quietly, an Xvfb, a connection to it, and the
// environment that puts a Qt program on it.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace xsession {

inline const char* benchName = "bench";

[[noreturn]] inline void fail(const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", benchName, what.c_str());
    std::exit(1);
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Spawns with stdout and stderr on /dev/null, so the programs' warnings
// neither cost terminal time nor clutter the figures. A descriptor opened
// without close-on-exec is inherited.
inline pid_t spawn(const std::vector<std::string>& args, char* const* env)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        fail("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

// Starts Xvfb on a free display it picks itself (-displayfd) and returns it.
inline std::string startXvfb(pid_t& pid)
{
    int fds[2];
    if (pipe(fds) != 0)
        fail("pipe failed");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset"},
                environ);
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

inline xcb_connection_t* connect(const std::string& display)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        xcb_connection_t* conn = xcb_connect(display.c_str(), nullptr);
        if (!xcb_connection_has_error(conn))
            return conn;
        xcb_disconnect(conn);
        usleep(100'000);
    }
    fail("cannot connect to Xvfb on " + display);
}

// This process's environment with the programs put on `display`, under xcb.
class Environment {
public:
    explicit Environment(const std::string& display)
    {
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
                m_strings.emplace_back(*e);
        m_strings.push_back("DISPLAY=" + display);
        m_strings.emplace_back("QT_QPA_PLATFORM=xcb");
        for (std::string& s : m_strings)
            m_pointers.push_back(s.data());
        m_pointers.push_back(nullptr);
    }
    char* const* get() { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

} // namespace xsession
