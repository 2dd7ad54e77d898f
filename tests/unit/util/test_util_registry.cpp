#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/registry.hpp"
#include "util/registry_text.hpp"

namespace tnw::util {
namespace {

using test::readText;
using test::TempFolder;
using test::writeFile;

constexpr const char* kKey = "Software\\Quorvex\\Quorvex Plexmill";

class RegistryFiles : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("PLEXMILL_MACHINE_REGISTRY", (folder / "machine.reg").c_str(), 1);
        ::setenv("PLEXMILL_USER_REGISTRY", (folder / "user" / "user.reg").c_str(), 1);
    }
    std::string machineFile() const { return (folder / "machine.reg").string(); }
    TempFolder folder;
};

TEST(RegistryText, ReadsEveryValueForm) {
    auto parsed = parseRegistryText("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                                    "\r\n"
                                    "; a comment\n"
                                    "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Quorvex Plexmill]\n"
                                    "\"port\"=dword:00001cdb\n"
                                    "\"lookup\"=\"C:\\\\names \\\"x\\\".txt\"\n"
                                    "\"path\"=hex(2):2f,00,74,00,\\\n"
                                    "  6d,00,70,00,00,00\n"
                                    "\"blob\"=hex:01,ff\n"
                                    "\"odd\"=hex(7):61,00\n"
                                    "@=\"default\"\n");
    ASSERT_FALSE(parsed.error) << parsed.error->reason;
    const auto* section = parsed.document.find("hkey_local_machine\\SOFTWARE\\quorvex\\Quorvex Plexmill");
    ASSERT_NE(section, nullptr);
    auto value = [&](const char* name) { return RegistryDocument::findValue(*section, name); };
    EXPECT_EQ(value("PORT")->raw, (std::vector<std::uint8_t>{0xdb, 0x1c, 0, 0}));
    EXPECT_EQ(value("lookup")->text, "C:\\names \"x\".txt");
    EXPECT_EQ(value("path")->type, 2U);
    EXPECT_EQ(value("path")->text, "/tmp");
    EXPECT_EQ(value("blob")->raw, (std::vector<std::uint8_t>{1, 255}));
    EXPECT_EQ(value("odd")->type, 7U);
    EXPECT_EQ(value("")->text, "default");

    // What is written reads back the same.
    auto again = parseRegistryText(renderRegistryText(parsed.document));
    ASSERT_FALSE(again.error);
    EXPECT_EQ(renderRegistryText(again.document), renderRegistryText(parsed.document));
}

TEST(RegistryText, NamesTheFirstBadLine) {
    struct Case {
        const char* text;
        std::size_t line;
    };
    const Case cases[] = {
        {"REGEDIT9\n", 1},
        {"Windows Registry Editor Version 5.00\n\"x\"=dword:1\n", 2},
        {"Windows Registry Editor Version 5.00\n[K]\n\"x\"=dword:123456789\n", 3},
        {"Windows Registry Editor Version 5.00\n[K]\n\"x\"=\"open\n", 3},
        {"Windows Registry Editor Version 5.00\n[K]\n\n\"x\" dword:1\n", 4},
        {"Windows Registry Editor Version 5.00\n[K]\n\"x\"=hex:1g\n", 3},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        auto parsed = parseRegistryText(test.text);
        ASSERT_TRUE(parsed.error);
        EXPECT_EQ(parsed.error->line, test.line);
    }
}

TEST_F(RegistryFiles, WritesKeepTypesAndEachOther) {
    auto key = Registry::open(RegistryRoot::LocalMachine, kKey, RegistryAccess::Write);
    ASSERT_TRUE(key.isValid());
    Registry::writeDword(key, "port", 7000);
    Registry::writeString(key, "lookup", "/etc/names");
    auto reader = Registry::open(RegistryRoot::LocalMachine, kKey, RegistryAccess::Read);
    EXPECT_EQ(Registry::readString(reader, "lookup"), "/etc/names");
    EXPECT_EQ(Registry::readString(reader, "port"), ""); // a number is not a text
    EXPECT_EQ(Registry::query(reader, "port")->raw, (std::vector<std::uint8_t>{0x58, 0x1b, 0, 0}));
    EXPECT_TRUE(Registry::readBinary(reader, "lookup").empty());
    EXPECT_FALSE(Registry::query(reader, "missing"));
    EXPECT_NE(readText(machineFile()).find("\"port\"=dword:00001b58"), std::string::npos);

    // A read-only key never writes.
    Registry::writeDword(reader, "port", 1);
    EXPECT_EQ(Registry::query(reader, "port")->raw[0], 0x58);
}

// "v" and the number, appended: GCC 12 at -O3 takes `"v" + std::to_string(number)` for an
// overlapping copy (-Wrestrict, a false positive).
std::string valueName(int number) {
    std::string name = "v";
    name += std::to_string(number);
    return name;
}

TEST_F(RegistryFiles, ConcurrentWritersLoseNothing) {
    auto key = Registry::open(RegistryRoot::CurrentUser, kKey, RegistryAccess::Write);
    // Threads and separate processes alike: each write re-reads under the file lock.
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            for (int i = 0; i < 10; ++i) {
                Registry::writeDword(key, valueName(writer * 10 + i), static_cast<std::uint32_t>(i));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    for (int i = 0; i < 40; ++i) {
        EXPECT_TRUE(Registry::query(key, valueName(i))) << i;
    }
}

TEST_F(RegistryFiles, DamagedFileReadsEmptyAndKeepsItsValuesOnTheNextWrite) {
    writeFile(machineFile(), "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Quorvex Plexmill]\n"
                             "\"port\"=dword:00001cdb\n"
                             "this line is broken\n");
    std::string damaged = readText(machineFile());
    auto key = Registry::open(RegistryRoot::LocalMachine, kKey, RegistryAccess::Read);
    EXPECT_FALSE(Registry::query(key, "port")); // runs on defaults

    auto writer = Registry::open(RegistryRoot::LocalMachine, kKey, RegistryAccess::Write);
    Registry::writeDword(writer, "use http", 1);
    EXPECT_EQ(readText(machineFile() + ".damaged"), damaged);
    EXPECT_TRUE(Registry::query(key, "port")); // the readable value was carried over
    EXPECT_TRUE(Registry::query(key, "use http"));
}

TEST_F(RegistryFiles, MissingFileHoldsNoValuesAndIsNotCreatedByReading) {
    auto key = Registry::open(RegistryRoot::LocalMachine, kKey, RegistryAccess::Read);
    EXPECT_FALSE(Registry::query(key, "port"));
    EXPECT_FALSE(std::filesystem::exists(machineFile()));
}

TEST_F(RegistryFiles, DeletingAKeyTakesItsSubkeysAndNothingElse) {
    auto service = Registry::open(RegistryRoot::LocalMachine,
                                  "System\\CurrentControlSet\\Services\\quorvexpmd",
                                  RegistryAccess::Write);
    Registry::writeExpandString(service, "ImagePath", "\"/opt/plexmilld\"");
    auto below = Registry::open(RegistryRoot::LocalMachine,
                                "System\\CurrentControlSet\\Services\\quorvexpmd\\Parameters",
                                RegistryAccess::Write);
    Registry::writeDword(below, "x", 1);
    auto sibling = Registry::open(RegistryRoot::LocalMachine,
                                  "System\\CurrentControlSet\\Services\\quorvexpmdX",
                                  RegistryAccess::Write);
    Registry::writeDword(sibling, "y", 2);
    EXPECT_EQ(Registry::query(service, "ImagePath")->type, 2U);

    EXPECT_TRUE(Registry::deleteKey(RegistryRoot::LocalMachine,
                                    "SYSTEM\\currentcontrolset\\services\\QUORVEXPMD"));
    EXPECT_FALSE(Registry::query(service, "ImagePath"));
    EXPECT_FALSE(Registry::query(below, "x"));
    EXPECT_TRUE(Registry::query(sibling, "y"));
    EXPECT_FALSE(Registry::deleteKey(RegistryRoot::LocalMachine,
                                     "System\\CurrentControlSet\\Services\\quorvexpmd"));
}

TEST(RegistryPaths, WithoutAHomeThereIsNoUserRegistry) {
    std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    std::string config =
        std::getenv("XDG_CONFIG_HOME") != nullptr ? std::getenv("XDG_CONFIG_HOME") : "";
    std::string moved = std::getenv("PLEXMILL_USER_REGISTRY") != nullptr
                            ? std::getenv("PLEXMILL_USER_REGISTRY")
                            : "";
    ::unsetenv("PLEXMILL_USER_REGISTRY");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(Registry::filePath(RegistryRoot::CurrentUser), "");
    EXPECT_FALSE(Registry::open(RegistryRoot::CurrentUser, kKey, RegistryAccess::All).isValid());
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(Registry::filePath(RegistryRoot::CurrentUser),
              "/home/someone/.config/plexmill/user.reg");
    auto restore = [](const char* name, const std::string& value) {
        value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1);
    };
    restore("HOME", home);
    restore("XDG_CONFIG_HOME", config);
    restore("PLEXMILL_USER_REGISTRY", moved);
}

} // namespace
} // namespace tnw::util
