#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/event_log.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(EventLog, FileNamedByTheEnvironmentCollectsOneLinePerEntry) {
    tnw::test::TempFolder folder("plexmill-events");
    std::filesystem::path file = folder / "events.log";
    tnw::test::writeFile(file, "information: earlier\n");
    ::setenv(kEventLogVariable, file.c_str(), 1);
    reportEvent(EventType::Error, "Failed to bind to port 7387.");
    reportEvent(EventType::Information, "Quorvex Plexmill now ready.");
    ::unsetenv(kEventLogVariable);
    EXPECT_EQ(tnw::test::readText(file),
              "information: earlier\n"
              "error: Failed to bind to port 7387.\n"
              "information: Quorvex Plexmill now ready.\n");
}

TEST(EventLog, UnwritableFileDropsTheEntry) {
    tnw::test::TempFolder folder("plexmill-events");
    std::filesystem::path file = folder / "missing" / "events.log";
    ::setenv(kEventLogVariable, file.c_str(), 1);
    reportEvent(EventType::Error, "lost");
    ::unsetenv(kEventLogVariable);
    EXPECT_FALSE(std::filesystem::exists(file));
}

} // namespace
} // namespace tnw::util
