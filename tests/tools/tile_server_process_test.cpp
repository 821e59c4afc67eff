// The built vistrel-tileserver as a child process.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tile_server.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

int Connect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// The server on `port` with every thread busy rendering deep tiles, stopped
// by `sig`: how long from the signal until it has gone, and its status.
std::chrono::milliseconds StopWhileRendering(uint16_t port, int sig, int& status) {
    std::vector<std::string> args = {VISTREL_TILESERVER, "--port", std::to_string(port),
                                     "--threads", "32"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, VISTREL_TILESERVER, nullptr, nullptr, argv.data(), environ) != 0)
        return std::chrono::milliseconds::max();
    int probe = -1;
    for (int i = 0; i < 200 && probe < 0; ++i) {
        probe = Connect(port);
        if (probe < 0) std::this_thread::sleep_for(20ms);
    }
    if (probe >= 0) close(probe);
    std::vector<int> clients;
    for (int i = 0; i < 64; ++i) {
        std::string key = "tqrstqrstqrstqrst";
        for (int n = i, d = 0; d < 3; ++d, n /= 4) key += "qrst"[n % 4];
        const std::string request = "GET " +
                                    std::string(vistrel::tileserver::kDefaultRequestPrefix) + key +
                                    " HTTP/1.1\r\nHost: x\r\n\r\n";
        const int fd = Connect(port);
        if (fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0)
            clients.push_back(fd);
        else if (fd >= 0)
            close(fd);
    }
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    kill(pid, sig);
    waitpid(pid, &status, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    for (int fd : clients) close(fd);
    return std::chrono::duration_cast<std::chrono::milliseconds>(took);
}

}  // namespace

// A stop must not wait for the renders in flight: the server dies by the
// signal itself, whatever its threads are doing (a handler that winds down
// would first wait for a turn on a busy processor).
TEST(TileServerProgram, DiesBySigtermWhileRendering) {
    uint16_t port = 0;
    {
        vistrel::tileserver::TileServer probe(vistrel::tileserver::ServerOptions{});
        ASSERT_TRUE(probe.Start(0));
        port = probe.Port();
    }
    int stopped = 0;
    StopWhileRendering(port, SIGTERM, stopped);
    EXPECT_TRUE(WIFSIGNALED(stopped) && WTERMSIG(stopped) == SIGTERM) << stopped;
}
