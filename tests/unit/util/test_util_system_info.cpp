#include "tests/support/temp_folder.hpp"
#include "util/files.hpp"
#include "util/system_info.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace tnw::util {
namespace {

// Writes a sysfs-like tree: "cpuN/topology/<file>" = value, for each entry.
void writeTree(const test::TempFolder& root,
               const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, value] : files) {
        std::string file = (root / name).string();
        ASSERT_EQ(createFolders(file.substr(0, file.rfind('/'))), 0U);
        test::writeFile(file, value);
    }
}

TEST(MachineModel, JoinsVendorProductAndVersionSkippingTinyTexts) {
    struct Case {
        std::string vendor, product, version, model;
    };
    const std::vector<Case> cases = {
        {"A\n", "Model 7\n", "\n", "Model 7"},
        {"Acme Machines\n", "Model 7\n", "1.0\n", "Acme Machines / Model 7 / 1.0"},
        {"Acme\n", "  \n", "v2\n", "Acme / v2"},
        {"x\n", "y\n", "z\n", ""},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.model);
        test::TempFolder dmi;
        writeTree(dmi,
                  {{"sys_vendor", entry.vendor},
                   {"product_name", entry.product},
                   {"product_version", entry.version}});
        EXPECT_EQ(SystemInfo::machineModelFrom(dmi.path().string()), entry.model);
    }
    test::TempFolder empty;
    EXPECT_EQ(SystemInfo::machineModelFrom((empty / "missing").string()), "");
}

TEST(OsName, ReadsPrettyNameInEachQuoting) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Single Quoted'\n", "Single Quoted"},
        {"PRETTY_NAME=Bare\n", "Bare"},
        {"PRETTY_NAME=\"Escaped \\\"quote\\\"\"\n", "Escaped \"quote\""},
        {"NAME=Only\n", "Unknown"},
    };
    for (const auto& [text, name] : cases) {
        SCOPED_TRACE(name);
        test::TempFolder folder;
        test::writeFile(folder / "os-release", text);
        EXPECT_EQ(SystemInfo::osNameFrom((folder / "os-release").string()), name);
    }
    EXPECT_EQ(SystemInfo::osNameFrom("/nonexistent/os-release"), "Unknown");
}

TEST(ProcessorCount, CountsEveryOnlineProcessor) {
    test::TempFolder cpu;
    writeTree(cpu, {{"online", "0-39,40-63\n"}});
    EXPECT_EQ(SystemInfo::processorCountFrom(cpu.path().string()), 64U);
    writeTree(cpu, {{"online", "0,2,4-5\n"}});
    EXPECT_EQ(SystemInfo::processorCountFrom(cpu.path().string()), 4U);
    writeTree(cpu, {{"online", "garbage\n"}});
    EXPECT_EQ(SystemInfo::processorCountFrom(cpu.path().string()), 0U);
}

TEST(CoreCount, CountsDistinctCoresPerPackage) {
    test::TempFolder cpu;
    // Two packages with two cores each, every core with two threads; core ids repeat across
    // packages. cpu8 is offline and not counted.
    std::vector<std::pair<std::string, std::string>> files = {{"online", "0-7\n"}};
    for (int n = 0; n < 9; ++n) {
        std::string topology = "cpu" + std::to_string(n) + "/topology/";
        files.emplace_back(topology + "physical_package_id", std::to_string(n / 4) + "\n");
        files.emplace_back(topology + "core_id", std::to_string(n % 2 + (n == 8 ? 5 : 0)) + "\n");
    }
    writeTree(cpu, files);
    EXPECT_EQ(SystemInfo::coreCountFrom(cpu.path().string()), 4U);
    test::TempFolder empty;
    EXPECT_EQ(SystemInfo::coreCountFrom(empty.path().string()), 0U);
}

TEST(MemoryStatus, ReadsMeminfoInBytes) {
    test::TempFolder folder;
    test::writeFile(folder / "meminfo",
                    "MemTotal:       16384000 kB\nMemFree:         1000 kB\n"
                    "MemAvailable:    8192000 kB\nSwapTotal:       2048000 kB\n");
    MemoryStatus status = SystemInfo::memoryStatusFrom((folder / "meminfo").string());
    EXPECT_EQ(status.totalPhysical, 16384000ULL * 1024);
    EXPECT_EQ(status.availablePhysical, 8192000ULL * 1024);
    EXPECT_EQ(status.totalPageFile, 2048000ULL * 1024);
    EXPECT_GT(status.totalVirtual, status.totalPhysical);
}

TEST(SystemInfo, DescribesThisMachine) {
    EXPECT_EQ(SystemInfo::platformName(), "LINUX");
    EXPECT_NE(SystemInfo::osName(), "");
#if defined(__x86_64__)
    EXPECT_EQ(SystemInfo::processorArchitecture(), 3);
#endif
    EXPECT_EQ(SystemInfo::processorCount(),
              static_cast<std::uint32_t>(::sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_GE(SystemInfo::coreCount(), 1U);
    EXPECT_LE(SystemInfo::coreCount(), SystemInfo::processorCount());
    MemoryStatus memory = SystemInfo::memoryStatus();
    EXPECT_GT(memory.totalPhysical, 0U);
    EXPECT_GT(memory.availablePhysical, 0U);
    EXPECT_LE(memory.availablePhysical, memory.totalPhysical);
    EXPECT_EQ(SystemInfo::isAdministrator(), ::geteuid() == 0);
    EXPECT_EQ(SystemInfo::machineModel(), SystemInfo::machineModelFrom("/sys/class/dmi/id"));
}

TEST(SystemInfo, MeasuredFrequencyIsAPlausibleClock) {
    std::uint64_t frequency = SystemInfo::measuredFrequency();
#if defined(__x86_64__)
    EXPECT_GT(frequency, 100000000U);   // 100 MHz
    EXPECT_LT(frequency, 10000000000U); // 10 GHz
#else
    EXPECT_EQ(frequency, 0U);
#endif
}

} // namespace
} // namespace tnw::util
