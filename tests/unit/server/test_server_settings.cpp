#include <gtest/gtest.h>

#include <cstdlib>

#include "service/server/server_settings.hpp"
#include "service/server/settings.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/registry.hpp"

namespace plexmill::server {
namespace {

using tnw::util::Registry;
using tnw::util::RegistryAccess;
using tnw::util::RegistryRoot;

class RegistrySettings : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("PLEXMILL_MACHINE_REGISTRY", (folder / "machine.reg").c_str(), 1);
        ::setenv("PLEXMILL_USER_REGISTRY", (folder / "user.reg").c_str(), 1);
        ::setenv("TMPDIR", folder.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        settings() = Settings{};
    }
    void TearDown() override { settings() = Settings{}; }
    static void machine(const char* name, std::uint32_t value) {
        Registry::writeDword(Registry::open(RegistryRoot::LocalMachine, kSettingsKey, RegistryAccess::Write), name, value);
    }
    static void user(const char* name, std::uint32_t value) {
        Registry::writeDword(Registry::open(RegistryRoot::CurrentUser, kSettingsKey, RegistryAccess::Write), name, value);
    }
    tnw::test::TempFolder folder;
};

TEST_F(RegistrySettings, DefaultsWithoutAnyKey) {
    ServerSettings loaded;
    ASSERT_TRUE(loadSettings(loaded));
    EXPECT_EQ(loaded.port, 7387);
    EXPECT_EQ(loaded.broadcastPort, 7388);
    EXPECT_EQ(loaded.httpStatusPort, 8080);
    EXPECT_FALSE(loaded.useHttp);
    EXPECT_GE(loaded.maximumSessions, 1U);
    EXPECT_LE(loaded.maximumSessions, 40U);
    EXPECT_EQ(loaded.minimumSystemMemory, 536'870'912ULL);
    ASSERT_EQ(loaded.admissionRules.size(), 1U);
    EXPECT_EQ(loaded.admissionRules[0].wildcardBits, 0xFFFFFFFFU);
    EXPECT_EQ(loaded.intermediateFolder, (folder / "Quorvex Plexmill").string());
    EXPECT_TRUE(std::filesystem::is_directory(loaded.intermediateFolder));
    EXPECT_EQ(loaded.cacheFolder, (folder / "data" / "Quorvex Plexmill").string());
}

TEST_F(RegistrySettings, ClampingWrappingAndPrecedence) {
    machine("maximum number of sessions", 0);
    machine("minimum system memory", 8192);
    machine("port", 70000);
    machine("http status port", 9000);
    user("http status port", 9100);
    machine("use http", 1);
    ServerSettings loaded;
    loadSettings(loaded);
    EXPECT_EQ(loaded.maximumSessions, 1U);
    EXPECT_EQ(loaded.minimumSystemMemory, 8'589'934'592ULL);
    EXPECT_EQ(loaded.port, 4464);
    EXPECT_EQ(loaded.httpStatusPort, 9100); // the user's value wins
    EXPECT_TRUE(loaded.useHttp);

    machine("maximum number of sessions", 100);
    loadSettings(loaded);
    EXPECT_EQ(loaded.maximumSessions, 40U);
    machine("maximum number of sessions", 8);
    settings().maximumSessionsLimit = 2;
    loadSettings(loaded);
    EXPECT_EQ(loaded.maximumSessions, 2U);
}

TEST_F(RegistrySettings, WrongTypesGiveTheDefault) {
    Registry::writeString(Registry::open(RegistryRoot::LocalMachine, kSettingsKey, RegistryAccess::Write), "port", "7000");
    EXPECT_EQ(readRegistryNumber("port", 7387), 7387U);
    // A wrong type under HKEY_CURRENT_USER hides a good value under HKEY_LOCAL_MACHINE.
    machine("broadcast port", 9999);
    Registry::writeString(Registry::open(RegistryRoot::CurrentUser, kSettingsKey, RegistryAccess::Write), "broadcast port", "1");
    EXPECT_EQ(readRegistryNumber("broadcast port", 7388), 7388U);
    EXPECT_EQ(readRegistryText("lookup", "fallback"), "fallback");
    Registry::writeString(Registry::open(RegistryRoot::CurrentUser, kSettingsKey, RegistryAccess::Write), "lookup", "");
    EXPECT_EQ(readRegistryText("lookup", "fallback"), ""); // an empty text is a value
}

TEST_F(RegistrySettings, LookupFileFillsTheNameTable) {
    tnw::test::writeFile(folder / "names.txt", "Cam-07 ; Milling PC 7\r\n# comment;x\nx\n\nCAM-07;Milling PC 7;ignored\n");
    settings().lookupFile = (folder / "names.txt").string();
    ServerSettings loaded;
    loadSettings(loaded);
    ASSERT_EQ(settings().nameLookup.size(), 1U);
    EXPECT_EQ(settings().nameLookup.at("cam-07"), "Milling PC 7");
    EXPECT_EQ(lookupDisplayName("CAM-07"), "Milling PC 7");
    EXPECT_EQ(lookupDisplayName("other"), "other");
}

TEST(AllowedTimes, IntervalsIncludeBothEnds) {
    Settings options;
    EXPECT_TRUE(isWithinAllowedTimes(options, 1230));
    options.allowedTimes = {{800, 1200}, {1300, 1730}};
    EXPECT_FALSE(isWithinAllowedTimes(options, 1230));
    EXPECT_TRUE(isWithinAllowedTimes(options, 1200));
    EXPECT_TRUE(isWithinAllowedTimes(options, 1730));
    EXPECT_FALSE(isWithinAllowedTimes(options, 1731));
    options.allowedTimes = {{2200, 600}};
    EXPECT_FALSE(isWithinAllowedTimes(options, 2300));
    EXPECT_FALSE(isWithinAllowedTimes(options, 500));
}

TEST(AllowedClients, EmptyListAllowsEveryone) {
    Settings options;
    EXPECT_TRUE(isAllowedClient(options, 0x0A000006U));
    options.allowedClients = {0x0A000005U};
    EXPECT_FALSE(isAllowedClient(options, 0x0A000006U));
    EXPECT_TRUE(isAllowedClient(options, 0x0A000005U));
}

} // namespace
} // namespace plexmill::server
