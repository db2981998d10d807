// A small program that uses the library the way a caller process might, for
// the session tests: `exit_probe <port> [case]`.
//   (no case)      opens the port and ends the process with the session open;
//   stdio-closed   runs with standard input, output and error closed, opens
//                  the port and runs FindCard: the port must not take one of
//                  their descriptors;
//   stdout-locked  holds the standard output lock around two FindCard calls,
//                  lets go, and then needs FindCard to work.
// Exit status 0 when the case behaved; a test of its own decides the rest.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "zelkor.h"

namespace {

bool StandardStreamsClosed() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) return false;
    }
    return true;
}

int StdioClosed(int port) {
    ::close(0);
    ::close(1);
    ::close(2);
    if (OpenReader(port, 9600, 8, 0, 0) != 1) return 2;
    if (!StandardStreamsClosed()) return 3;
    return FindCard() == 1 ? 0 : 4;
}

int StdoutLocked(int port) {
    if (OpenReader(port, 9600, 8, 0, 0) != 1) return 2;
    ::flockfile(stdout);
    FindCard();
    FindCard();
    ::funlockfile(stdout);
    return FindCard() == 1 ? 0 : 4;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const int port = std::atoi(argv[1]);
    if (argc == 2) return OpenReader(port, 9600, 8, 0, 0) == 1 ? 0 : 2;
    // A hung case ends here rather than holding up the test.
    ::alarm(30);
    if (std::strcmp(argv[2], "stdio-closed") == 0) return StdioClosed(port);
    if (std::strcmp(argv[2], "stdout-locked") == 0) return StdoutLocked(port);
    return 2;
}
