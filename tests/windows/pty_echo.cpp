// A Linux peer for the Windows backend's tests: a pseudo-terminal published
// as <dir>/COM<port> that sends back every byte it receives, until SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <poll.h>
#include <unistd.h>

#include "sim/pty.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

bool WriteAll(int fd, const unsigned char *bytes, ssize_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, 1000) <= 0) return false;
            continue;
        }
        if (n <= 0) return false;
        bytes += n;
        count -= n;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3 || std::atoi(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: zelkor-pty-echo <dir> <port>\n");
        return 2;
    }
    std::signal(SIGTERM, RequestStop);
    std::signal(SIGINT, RequestStop);
    sim::PseudoTerminal pty;
    if (!pty.Open() || !sim::PublishPort(argv[1], std::atoi(argv[2]), pty.slave_path())) {
        std::fprintf(stderr, "zelkor-pty-echo: cannot create or publish the pseudo-terminal\n");
        return 1;
    }
    std::printf("zelkor-pty-echo: echoing on %s\n", pty.slave_path().c_str());
    std::fflush(stdout);
    unsigned char buffer[4096];
    while (stop_requested == 0) {
        pollfd pfd{pty.master(), POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0) continue;
        const ssize_t n = ::read(pty.master(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0 || !WriteAll(pty.master(), buffer, n)) break;
    }
    return 0;
}
