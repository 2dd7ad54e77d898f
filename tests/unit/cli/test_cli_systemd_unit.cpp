#include "service/cli/systemd_unit.hpp"
#include "util/service_folders.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace plexmill::cli {
namespace {

std::string execStart(const std::string& unit) {
    auto start = unit.find("\nExecStart=");
    return start == std::string::npos
               ? ""
               : unit.substr(start + 1, unit.find('\n', start + 1) - start - 1);
}

TEST(SystemdUnit, TheProgramIsQuotedSoThatSystemdTakesItAsItIs) {
    struct Case {
        std::string program;
        std::string line;
    };
    for (const Case& path :
         {Case{"/usr/sbin/plexmilld", "ExecStart=\"/usr/sbin/plexmilld\""},
          Case{"/opt/Quorvex Plexmill/plexmilld", "ExecStart=\"/opt/Quorvex Plexmill/plexmilld\""},
          Case{"/opt/100%/p", "ExecStart=\"/opt/100%%/p\""},
          Case{"/opt/a\\b\"c/$HOME", "ExecStart=\"/opt/a\\\\b\\\"c/$HOME\""}}) {
        SCOPED_TRACE(path.program);
        auto unit = renderServiceUnit(path.program);
        ASSERT_TRUE(unit);
        EXPECT_EQ(execStart(*unit), path.line);
        EXPECT_EQ(unit->find("@PLEXMILLD@"), std::string::npos);
    }
    EXPECT_FALSE(renderServiceUnit("/opt/line\nbreak"));
    EXPECT_FALSE(renderServiceUnit(std::string("/opt/tab\there")));
}

TEST(SystemdUnit, TheUnitNamesTheFoldersTheServiceUses) {
    auto unit = renderServiceUnit("/usr/sbin/plexmilld");
    ASSERT_TRUE(unit);
    EXPECT_NE(unit->find(std::string("\nStateDirectory=") + tnw::util::kServiceFolderName + "\n"),
              std::string::npos);
    EXPECT_NE(unit->find(std::string("\nCacheDirectory=") + tnw::util::kServiceFolderName + "\n"),
              std::string::npos);
}

TEST(SystemdUnit, AnotherRootIsTalkedToOffline) {
    ::setenv("PLEXMILL_SYSTEMD_ROOT", "/images/a", 1);
    EXPECT_EQ(serviceUnitPath(), "/images/a/etc/systemd/system/quorvexpmd.service");
    EXPECT_EQ(systemctlCommand({"enable", "quorvexpmd.service"}),
              (std::vector<std::string>{
                  "systemctl", "--quiet", "--root=/images/a", "enable", "quorvexpmd.service"}));
    EXPECT_FALSE(systemdDrivesService());
    ::unsetenv("PLEXMILL_SYSTEMD_ROOT");
    EXPECT_EQ(serviceUnitPath(), "/etc/systemd/system/quorvexpmd.service");
    EXPECT_EQ(systemctlCommand({"start", "quorvexpmd.service"}),
              (std::vector<std::string>{"systemctl", "--quiet", "start", "quorvexpmd.service"}));
}

} // namespace
} // namespace plexmill::cli
