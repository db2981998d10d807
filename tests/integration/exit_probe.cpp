// Opens the port given as argument and ends the process with the session
// still open, as the test program does on its way out.
#include <cstdlib>

#include "zelkor.h"

int main(int argc, char **argv) {
    if (argc < 2 || OpenReader(std::atoi(argv[1]), 9600, 8, 0, 0) != 1) return 2;
    return 0;
}
