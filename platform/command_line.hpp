// What a program's command line asks of it. The clients take one argument at most, the
// server to ask; the servers take none. Anything else is refused rather than passed over.
#pragma once

#include <cstring>

enum class Use {
    AsBuilt, // no argument: the program does what it always did
    Server,  // one argument: the server, by name or dotted address
    Help,    // -h or --help
    Wrong,   // too many arguments, an empty one, or an option the program does not know
};

// The exit status of wrong use, as the shell's own commands have it.
constexpr int EXIT_WRONG_USE = 2;

inline Use use_of(int argc, const char* const argv[], int most)
{
    if (argc < 2)
        return Use::AsBuilt;
    const char* first = argv[1];
    if (std::strcmp(first, "-h") == 0 || std::strcmp(first, "--help") == 0)
        return argc == 2 ? Use::Help : Use::Wrong;
    // No host name begins with a hyphen: that is an option, and none but help exists.
    if (argc - 1 > most || first[0] == '\0' || first[0] == '-')
        return Use::Wrong;
    return Use::Server;
}
