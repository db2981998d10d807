// Standalone simulated reader: publishes its pseudo-terminal as COM<n> in a
// directory (for ZELKOR_PORT_DIR) and answers until standard input ends.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <sys/stat.h>

#include "simulator.h"

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : "/tmp/zelkor-ports";
    const int port = argc > 2 ? std::atoi(argv[2]) : 3;
    ::mkdir(dir.c_str(), 0755);
    sim::Simulator simulator;
    if (!simulator.Start() || !simulator.Publish(dir, port)) {
        std::fprintf(stderr, "zelkor-sim: cannot create the pseudo-terminal\n");
        return 1;
    }
    std::printf("zelkor-sim: reader on %s, published as %s/COM%d (ZELKOR_PORT_DIR=%s)\n",
                simulator.device_path().c_str(), dir.c_str(), port, dir.c_str());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "quit") break;
    }
    return 0;
}
