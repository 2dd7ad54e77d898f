// Every test process runs in a network namespace of its own, so that servers,
// listings and datagrams never touch the machine's network and tests cannot disturb each other.
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

#include "tests/support/netns.hpp"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    try {
        tnw::test::enterPrivateNetworkNamespace();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "cannot isolate the test's network: %s\n", failure.what());
        return 1;
    }
    return RUN_ALL_TESTS();
}
