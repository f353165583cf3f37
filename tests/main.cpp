#include "harness.hpp"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    // Each test runs as its own process (CTest), so each gets its own loopback.
    if (!listing)
        harness::enter_private_network();
    // A program that has stopped reading its input must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
