#include "support/test_source.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>

#include "core/main_state.h"

namespace {

// Bound for the life of the process, so no other program takes the port.
int ReservedPort() {
    static const int port = [] {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("no loopback port for the refusing source");
        return static_cast<int>(ntohs(address.sin_port));
    }();
    return port;
}

}  // namespace

std::string RefusingSource() {
    return "http://127.0.0.1:" + std::to_string(ReservedPort()) + "/kh?v=9&n=404&t=t";
}

bool ReachesDefaultSource(const std::string& source) {
    static const std::regex loopbackPort(R"(^[a-z]+://(127\.[0-9.]+|localhost|\[::1\]):([0-9]+))",
                                         std::regex::icase);
    std::smatch theDefault, that;
    static const std::string defaultSource = DefaultSourceString;
    return std::regex_search(defaultSource, theDefault, loopbackPort) &&
           std::regex_search(source, that, loopbackPort) && that[2] == theDefault[2];
}
