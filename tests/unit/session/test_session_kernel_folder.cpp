#include <gtest/gtest.h>

#include <filesystem>

#include "service/session/kernel_contract.hpp"
#include "service/session/kernel_folder.hpp"
#include "tests/support/temp_folder.hpp"

namespace plexmill::session {
namespace {

TEST(KernelFolder, RevisionSubfoldersOfTheIncludePaths) {
    tnw::test::TempFolder root;
    for (const char* name : {"100", "250", "300", "x1", "99999999999"}) {
        std::filesystem::create_directories(root / "include" / name);
    }
    KernelSources sources;
    sources.includePaths = {(root / "include").string()};
    sources.programFolder = (root / "program").string();
    sources.cacheFolder = (root / "cache").string();
    std::filesystem::create_directories(sources.programFolder);

    EXPECT_EQ(chooseKernelFolder(sources, 260, ""), (root / "include" / "250").string());
    EXPECT_EQ(chooseKernelFolder(sources, 300, ""), (root / "include" / "300").string());
    EXPECT_EQ(chooseKernelFolder(sources, 99, ""), sources.programFolder);
    // Revision 0 never looks at the include paths.
    EXPECT_EQ(chooseKernelFolder(sources, 0, ""), sources.programFolder);

    // The server makes the cache folder as it starts: without a kernel in it, a client that
    // names none gets the kernel beside the program.
    std::filesystem::create_directories(sources.cacheFolder);
    EXPECT_EQ(chooseKernelFolder(sources, 0, ""), sources.programFolder);
    std::filesystem::create_directories(root / "cache" / kKernelExecutable);
    EXPECT_EQ(chooseKernelFolder(sources, 0, ""), sources.programFolder); // a folder is no kernel
    std::filesystem::remove(root / "cache" / kKernelExecutable);
    tnw::test::writeFile(root / "cache" / kKernelExecutable, "");
    EXPECT_EQ(chooseKernelFolder(sources, 0, ""), sources.cacheFolder);
    std::string guid = "{12345678-1234-1234-1234-123456789abc}";
    EXPECT_EQ(chooseKernelFolder(sources, 0, guid), sources.programFolder); // not uploaded
    std::filesystem::create_directories(root / "cache" / guid);
    EXPECT_EQ(chooseKernelFolder(sources, 0, guid), (root / "cache" / guid).string());
    sources.cloud = true;
    EXPECT_EQ(chooseKernelFolder(sources, 0, guid), sources.programFolder);

    sources.fixedKernel = (root / "include" / "100").string();
    EXPECT_EQ(chooseKernelFolder(sources, 260, guid), sources.fixedKernel);
    EXPECT_EQ(chooseKernelFolder(sources, 300, guid), (root / "include" / "300").string());
}

TEST(KernelContract, CommandLine) {
    EXPECT_EQ(kernelArguments("/k", false, "/s/job.tornwell-job"),
              (std::vector<std::string>{"millcore", "-p", "--proc", "-k", "/k/millcore.dll", "/s/job.tornwell-job"}));
    EXPECT_EQ(kernelArguments("/k", true, "/s/j"),
              (std::vector<std::string>{"millcore", "-p", "--proc", "-k", "/k/millcore.dll", "-orrin", "/k/pxmkernel.dll",
                                        "/s/j"}));
}

} // namespace
} // namespace plexmill::session
