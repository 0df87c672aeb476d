// A plain UDP sender in a process of its own, for the benchmarks that need the
// traffic to come from outside the window's process, as it does in use.
//   udp_sender flood <port> <bytes> <per second, 0: as fast as it goes> <seconds>
//   udp_sender timed <port> <count> <interval us>
//   udp_sender burst <port> <count> <bytes>
// A flood sends Japanese text in code page 932 (kanji, kana and ASCII, as a
// real peer would), each datagram exactly <bytes> long. A timed datagram holds
// "timed <n> <send time in ns, CLOCK_MONOTONIC> " and some Japanese text.
// A burst sends <count> datagrams of <bytes> as fast as the system takes them,
// each starting with its number in eight digits, so that order can be checked.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "udp_sender: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

long long nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

// Text as a peer sends it: mostly kanji and kana, some ASCII, never a pair cut
// in two.
std::string japaneseText(std::minstd_rand& rng, std::size_t bytes)
{
    std::string s;
    while (s.size() < bytes) {
        const auto kind = static_cast<unsigned>(rng() % 10);
        if (kind < 3 || bytes - s.size() == 1) {
            s += char(0x21 + rng() % 94);
        } else if (kind < 5) { // hiragana
            s += char(0x82);
            s += char(0x9F + rng() % 83);
        } else { // first-level kanji
            s += char(0x88 + rng() % 8);
            s += char(0x9F + rng() % 94);
        }
    }
    return s;
}

int udpTo(int port, sockaddr_in& to)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        fail("socket");
    const int size = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd;
}

void flood(int port, std::size_t bytes, long perSecond, double seconds)
{
    sockaddr_in to{};
    const int fd = udpTo(port, to);
    std::minstd_rand rng(1);
    std::vector<std::string> pool;
    for (int i = 0; i < 64; ++i)
        pool.push_back(japaneseText(rng, bytes));
    const long long start = nowNs();
    const long long end = start + static_cast<long long>(seconds * 1e9);
    long long sent = 0;
    for (long long now = start; now < end; now = nowNs()) {
        // Paced by the millisecond: whatever is due by now goes out.
        const long long due = perSecond > 0 ? (now - start) * perSecond / 1'000'000'000LL + 1 : sent + 64;
        for (; sent < due; ++sent) {
            const std::string& d = pool[std::size_t(sent) % pool.size()];
            // A full send buffer only drops this one, as a flood would.
            sendto(fd, d.data(), d.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        if (perSecond > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
}

void timed(int port, int count, int intervalUs)
{
    sockaddr_in to{};
    const int fd = udpTo(port, to);
    std::minstd_rand rng(2);
    const std::string tail = japaneseText(rng, 30);
    for (int i = 0; i < count; ++i) {
        const std::string d = "timed " + std::to_string(i) + ' ' + std::to_string(nowNs()) + ' ' + tail;
        if (sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
            fail("sendto");
        std::this_thread::sleep_for(std::chrono::microseconds(intervalUs));
    }
    close(fd);
}

void burst(int port, int count, std::size_t bytes)
{
    sockaddr_in to{};
    const int fd = udpTo(port, to);
    std::string d(std::max<std::size_t>(bytes, 8), 'x');
    for (int i = 0; i < count; ++i) {
        std::snprintf(d.data(), 9, "%08d", i % 100000000); // eight digits and the NUL
        d[8] = bytes > 8 ? 'x' : d[8];
        if (sendto(fd, d.data(), bytes, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
            fail("sendto");
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flood" && argc == 6) {
        flood(std::atoi(argv[2]), std::size_t(std::atol(argv[3])), std::atol(argv[4]), std::atof(argv[5]));
        return 0;
    }
    if (mode == "timed" && argc == 5) {
        timed(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
        return 0;
    }
    if (mode == "burst" && argc == 5) {
        burst(std::atoi(argv[2]), std::atoi(argv[3]), std::size_t(std::atol(argv[4])));
        return 0;
    }
    std::fprintf(stderr, "usage: %s flood <port> <bytes> <per second> <seconds> | timed <port> <count> <interval us> | burst <port> <count> <bytes>\n",
                 argv[0]);
    return 2;
}
