#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/private_folder.hpp"
#include "util/windows_error.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tnw::util {
namespace {

namespace fs = std::filesystem;

// The message preparePrivateFolder refuses `path` with; empty when it accepts it.
std::string refusal(const fs::path& path) {
    try {
        preparePrivateFolder(path.string());
        return {};
    } catch (const IOException& failure) {
        return failure.getMessage();
    }
}

TEST(PrivateFolder, IsCreatedForTheOwnerAloneWithItsParents) {
    test::TempFolder home("plexmill-private");
    fs::path folder = home / "tmp" / "deeper" / "Quorvex Plexmill";
    EXPECT_EQ(refusal(folder), "");
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    // An own folder that others may read but not write is kept as it is.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec);
    EXPECT_EQ(refusal(folder), "");
}

TEST(PrivateFolder, RefusesWhatAnotherUserCouldHavePlanted) {
    ASSERT_EQ(::geteuid(), 0U) << "changing a folder's owner needs root";
    test::TempFolder home("plexmill-private");
    test::TempFolder elsewhere("plexmill-private");
    fs::path folder = home / "Quorvex Plexmill";
    struct Case {
        std::function<void()> plant;
        std::string message;
    };
    const Case cases[] = {
        {[&] { fs::create_directory_symlink(elsewhere.path(), folder); },
         "The folder '" + folder.string() +
             "' is a symbolic link, not a folder of this server's own."},
        {[&] { test::writeFile(folder, "x"); }, "'" + folder.string() + "' is not a folder."},
        {[&] {
             fs::create_directory(folder);
             ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
         },
         "The folder '" + folder.string() +
             "' belongs to another user (user id 65534), not to this server's user (user id 0)."},
        {[&] {
             fs::create_directory(folder);
             fs::permissions(folder, fs::perms::all);
         },
         "The folder '" + folder.string() +
             "' can be written by other users (mode 0777); only its owner may write there."},
        {[&] {
             fs::create_directory(folder);
             fs::permissions(folder, fs::perms::owner_all | fs::perms::group_write);
         },
         "The folder '" + folder.string() +
             "' can be written by other users (mode 0720); only its owner may write there."},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.message);
        fs::remove_all(folder);
        test.plant();
        EXPECT_EQ(refusal(folder), test.message);
    }
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST(PrivateFolder, AFreshFolderNeverTakesOverAnExistingName) {
    test::TempFolder home("plexmill-private");
    fs::path folder = home / "session-0000000000000001";
    EXPECT_EQ(createFreshFolder(folder.string()), 0U);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(createFreshFolder(folder.string()), error::kAlreadyExists);
    fs::create_directory_symlink(home.path(), home / "link");
    EXPECT_EQ(createFreshFolder((home / "link").string()), error::kAlreadyExists);
    EXPECT_EQ(createFreshFolder((home / "missing" / "folder").string()), error::kPathNotFound);
}

TEST(PrivateFolder, FilesInsideAreNotWrittenThroughALink) {
    test::TempFolder home("plexmill-private");
    test::writeFile(home / "target", "theirs");
    fs::create_symlink(home / "target", home / "job.tornwell-job");
    EXPECT_THROW(FileOutputStream((home / "job.tornwell-job").string(), LinkPolicy::Refuse),
                 IOException);
    EXPECT_EQ(test::readText(home / "target"), "theirs");
    // A user's own paths still follow links.
    FileOutputStream((home / "job.tornwell-job").string()).write("mine", 4);
    EXPECT_EQ(test::readText(home / "target"), "mine");
}

} // namespace
} // namespace tnw::util
