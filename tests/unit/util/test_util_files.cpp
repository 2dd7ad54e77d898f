#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/environment.hpp"
#include "util/files.hpp"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tnw::util {
namespace {

std::string path(const test::TempFolder& folder, const std::string& name) {
    return (folder / name).string();
}

TEST(JoinPath, OneSeparatorAbsoluteNamesAndEmptyFolders) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"/var/cache", "file", "/var/cache/file"},
        {"/var/cache/", "file", "/var/cache/file"},
        {"", "file", "file"},
        {"/var/cache", "/etc/passwd", "/etc/passwd"},
        {"relative", "sub/file", "relative/sub/file"},
        {"/", "file", "/file"},
        {"/tmp", "", "/tmp/"},
    };
    for (const auto& [folder, name, joined] : cases) {
        SCOPED_TRACE(folder + " + " + name);
        EXPECT_EQ(joinPath(folder, name), joined);
    }
}

TEST(FileError, MissingNameIs2AndMissingFolderIs3) {
    test::TempFolder folder;
    EXPECT_EQ(fileError(path(folder, "missing"), ENOENT), 2U);
    EXPECT_EQ(fileError(path(folder, "none/missing"), ENOENT), 3U);
    EXPECT_EQ(fileError(path(folder, "x"), EACCES), 5U);
}

TEST(CopyFile, CopiesContentsModeAndTimes) {
    test::TempFolder folder;
    std::mt19937 generator(7);
    std::string bytes(3 * 1024 * 1024 + 11, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    test::writeFile(folder / "source", bytes);
    ::chmod(path(folder, "source").c_str(), 0750);
    timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path(folder, "source").c_str(), times, 0), 0);

    ASSERT_EQ(copyFile(path(folder, "source"), path(folder, "copy"), false), 0U);
    EXPECT_EQ(test::readText(folder / "copy"), bytes);
    struct stat status {};
    ASSERT_EQ(::stat(path(folder, "copy").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750U);
    EXPECT_EQ(status.st_mtim.tv_sec, 1200000000);
}

TEST(CopyFile, OverwriteDecidesAboutAnExistingTarget) {
    test::TempFolder folder;
    test::writeFile(folder / "source", "new");
    test::writeFile(folder / "target", "old contents");
    EXPECT_EQ(copyFile(path(folder, "source"), path(folder, "target"), false), 80U);
    EXPECT_EQ(test::readText(folder / "target"), "old contents");
    EXPECT_EQ(copyFile(path(folder, "source"), path(folder, "target"), true), 0U);
    EXPECT_EQ(test::readText(folder / "target"), "new");
    EXPECT_EQ(copyFile(path(folder, "source"), path(folder, "fresh"), true), 0U);
    // No temporary file is left beside the targets.
    EXPECT_EQ(listFiles(folder.path().string()),
              (std::vector<std::string>{"fresh", "source", "target"}));
}

TEST(CopyFile, FailuresLeaveNoPartialTarget) {
    test::TempFolder folder;
    test::writeFile(folder / "source", "data");
    ASSERT_EQ(::mkdir(path(folder, "sub").c_str(), 0755), 0);
    const std::vector<std::tuple<std::string, std::string, bool, std::uint32_t>> cases = {
        {"missing", "a", false, 2},
        {"none/missing", "a", false, 3},
        {"source", "none/a", false, 3},
        {"source", "none/a", true, 3},
        {"sub", "a", false, 5},
        {"source", "sub", true, 5},
    };
    for (const auto& [from, to, overwrite, error] : cases) {
        SCOPED_TRACE(from + " -> " + to);
        EXPECT_EQ(copyFile(path(folder, from), path(folder, to), overwrite), error);
    }
    EXPECT_EQ(listFiles(folder.path().string()), (std::vector<std::string>{"source", "sub"}));
    EXPECT_TRUE(listFiles(path(folder, "sub")).empty());
}

TEST(CopyFile, CopiesFilesThatReportNoSize) {
    test::TempFolder folder;
    ASSERT_EQ(copyFile("/proc/self/status", path(folder, "status"), false), 0U);
    EXPECT_NE(test::readText(folder / "status").find("VmRSS"), std::string::npos);
}

TEST(RemoveFolder, NeverFollowsALinkOutOfTheFolder) {
    test::TempFolder outside;
    test::writeFile(outside / "keep.txt", "precious");
    ASSERT_EQ(::mkdir(path(outside, "inner").c_str(), 0755), 0);
    test::writeFile(outside / "inner/keep2.txt", "precious too");

    test::TempFolder base;
    std::string doomed = path(base, "doomed");
    ASSERT_EQ(createFolders(doomed + "/a/b/c"), 0U);
    test::writeFile(doomed + "/a/file", "x");
    test::writeFile(doomed + "/a/b/c/deep", "y");
    ASSERT_EQ(::symlink(outside.path().c_str(), (doomed + "/a/to-folder").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "keep.txt").c_str(), (doomed + "/a/b/to-file").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent", (doomed + "/dangling").c_str()), 0);

    EXPECT_EQ(removeFolder(doomed), 0U);
    EXPECT_FALSE(exists(doomed));
    EXPECT_EQ(test::readText(outside / "keep.txt"), "precious");
    EXPECT_EQ(test::readText(outside / "inner/keep2.txt"), "precious too");
}

TEST(RemoveFolder, ALinkNamedAsTheFolderLosesOnlyTheLink) {
    test::TempFolder outside;
    test::writeFile(outside / "keep.txt", "precious");
    test::TempFolder base;
    ASSERT_EQ(::symlink(outside.path().c_str(), path(base, "link").c_str()), 0);
    EXPECT_EQ(removeFolder(path(base, "link")), 0U);
    EXPECT_FALSE(exists(path(base, "link")));
    EXPECT_EQ(test::readText(outside / "keep.txt"), "precious");
    EXPECT_EQ(removeFolder(path(base, "missing")), 2U);
}

TEST(Folders, CreateListAndQuery) {
    test::TempFolder folder;
    std::string nested = path(folder, "one/two/three");
    EXPECT_EQ(createFolders(nested), 0U);
    EXPECT_EQ(createFolders(nested), 0U);
    EXPECT_TRUE(isFolder(nested));
    test::writeFile(folder / "one/file", "12345");
    EXPECT_NE(createFolders(path(folder, "one/file/below")), 0U);
    EXPECT_EQ(listFiles(path(folder, "one")), (std::vector<std::string>{"file", "two"}));
    EXPECT_TRUE(listFiles(path(folder, "missing")).empty());
    EXPECT_TRUE(exists(path(folder, "one/file")));
    EXPECT_FALSE(isFolder(path(folder, "one/file")));
    EXPECT_EQ(fileSize(path(folder, "one/file")), 5U);
    EXPECT_EQ(fileSize(path(folder, "missing")), 0U);
    EXPECT_EQ(fileSize(path(folder, "one")), 0U);
    EXPECT_FALSE(exists(path(folder, "missing")));
}

TEST(Files, RenameReplacesAndRemoveDeletes) {
    test::TempFolder folder;
    test::writeFile(folder / "a", "new");
    test::writeFile(folder / "b", "old");
    EXPECT_EQ(renameFile(path(folder, "a"), path(folder, "b")), 0U);
    EXPECT_EQ(test::readText(folder / "b"), "new");
    EXPECT_FALSE(exists(path(folder, "a")));
    EXPECT_EQ(renameFile(path(folder, "a"), path(folder, "c")), 2U);
    EXPECT_EQ(renameFile(path(folder, "b"), path(folder, "none/c")), 3U);
    EXPECT_EQ(removeFile(path(folder, "b")), 0U);
    EXPECT_EQ(removeFile(path(folder, "b")), 2U);
}

TEST(SpecialFolders, FollowTheEnvironment) {
    ASSERT_TRUE(setEnvironment("TMPDIR", "/var/tmp/plexmill"));
    EXPECT_EQ(tempFolder(), "/var/tmp/plexmill");
    ASSERT_TRUE(setEnvironment("TMPDIR", ""));
    EXPECT_EQ(tempFolder(), "/tmp");

    ASSERT_TRUE(setEnvironment("HOME", "/home/cam"));
    ASSERT_TRUE(setEnvironment("XDG_DATA_HOME", "/data/share"));
    EXPECT_EQ(specialFolder(special_folder::kLocalApplicationData), "/data/share");
    ASSERT_TRUE(setEnvironment("XDG_DATA_HOME", "relative/ignored"));
    EXPECT_EQ(specialFolder(special_folder::kLocalApplicationData), "/home/cam/.local/share");
    ASSERT_TRUE(setEnvironment("XDG_CONFIG_HOME", ""));
    EXPECT_EQ(specialFolder(special_folder::kApplicationData), "/home/cam/.config");
    EXPECT_EQ(specialFolder(special_folder::kCommonApplicationData), "/var/lib");
    EXPECT_EQ(specialFolder(special_folder::kWindows), "");
    EXPECT_EQ(specialFolder(99), "");
}

TEST(ProgramPath, NamesTheRunningTestProgram) {
    std::string program = programPath();
    EXPECT_TRUE(program.ends_with("/unit_tests")) << program;
    EXPECT_EQ(programFolder() + "/unit_tests", program);
    EXPECT_TRUE(isFolder(programFolder()));
}

} // namespace
} // namespace tnw::util
