// private-loopback COMMAND [ARG...]: runs a command in a network namespace of its own,
// whose only interface is an up loopback, so that the programs' fixed ports are free.
#include "harness.hpp"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: private-loopback COMMAND [ARG...]\n");
        return 2;
    }
    harness::enter_private_network();
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    return 127;
}
