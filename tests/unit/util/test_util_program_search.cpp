#include "tests/support/environment_scope.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/program_search.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(ProgramSearch, FindsExecutableFilesOnPathInOrder) {
    test::TempFolder folder;
    for (const char* sub : {"first", "second"}) {
        std::filesystem::create_directories(folder / sub);
    }
    test::writeFile(folder / "first" / "tool", "not executable");
    test::writeFile(folder / "second" / "tool", "#!/bin/sh\n");
    std::filesystem::permissions(folder / "second" / "tool", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(folder / "second" / "folder");
    test::EnvironmentScope path("PATH",
                                (folder / "first").string() + ":" + (folder / "second").string());

    EXPECT_EQ(findProgramOnPath("tool"), (folder / "second" / "tool").string());
    EXPECT_EQ(findProgramOnPath("folder"), "");
    EXPECT_EQ(findProgramOnPath("missing"), "");
    EXPECT_EQ(findProgramOnPath(""), "");
    EXPECT_EQ(findProgramOnPath((folder / "second" / "tool").string()),
              (folder / "second" / "tool").string());
    EXPECT_EQ(findProgramOnPath((folder / "first" / "tool").string()), "");
}

} // namespace
} // namespace tnw::util
