#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"

#include <gtest/gtest.h>
#include <string>

namespace tnw::util {
namespace {

std::string numbered(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i & 0xFF);
    }
    return bytes;
}

TEST(FileInputStream, MissingFileOrFolderThrowsTheWindowsErrorWithoutMessage) {
    test::TempFolder folder;
    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {(folder / "missing").string(), 2},
        {(folder / "no-folder/missing").string(), 3},
        {folder.path().string(), 5},
    };
    for (const auto& [path, code] : cases) {
        SCOPED_TRACE(path);
        try {
            FileInputStream stream(path);
            FAIL();
        } catch (const IOException& failure) {
            EXPECT_EQ(failure.getCode(), code);
            EXPECT_EQ(failure.getMessage(), "");
        }
    }
}

TEST(FileOutputStream, MissingFolderNamesThePathWithError3) {
    test::TempFolder folder;
    std::string path = (folder / "missing/out.bin").string();
    try {
        FileOutputStream stream(path);
        FAIL();
    } catch (const IOException& failure) {
        EXPECT_EQ(failure.getMessage(), "Unable to open the file '" + path + "'.");
        EXPECT_EQ(failure.getCode(), 3U);
    }
}

TEST(FileInputStream, SkipConsumesExactlyTheCount) {
    test::TempFolder folder;
    test::writeFile(folder / "data", numbered(300));
    FileInputStream stream((folder / "data").string());
    stream.skip(100);
    unsigned char next = 0;
    ASSERT_EQ(stream.read(&next, 1), 1U);
    EXPECT_EQ(next, 100);
    stream.skip(0);
    ASSERT_EQ(stream.read(&next, 1), 1U);
    EXPECT_EQ(next, 101);
}

TEST(FileInputStream, SkipPastTheEndThrowsEndOfStream) {
    test::TempFolder folder;
    test::writeFile(folder / "data", numbered(300));
    FileInputStream stream((folder / "data").string());
    EXPECT_THROW(stream.skip(1024 + 150), EndOfStreamException);
}

TEST(FileInputStream, EndOfFileAndClosedStreamThrowEndOfStream) {
    test::TempFolder folder;
    test::writeFile(folder / "data", "abc");
    FileInputStream stream((folder / "data").string());
    char buffer[16];
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 3U);
    EXPECT_THROW(stream.read(buffer, sizeof buffer), EndOfStreamException);
    Handle handle = stream.handle();
    EXPECT_EQ(handle.impl()->bytesRead.load(), 3U);
    EXPECT_EQ(stream.close(), 0U);
    EXPECT_FALSE(stream.isOpen());
    EXPECT_THROW(stream.read(buffer, sizeof buffer), EndOfStreamException);
}

TEST(FileInputStream, SeeksFromEachOriginAndIgnoresOthers) {
    test::TempFolder folder;
    test::writeFile(folder / "data", numbered(200));
    FileInputStream stream((folder / "data").string());
    EXPECT_TRUE(stream.canSeek());
    EXPECT_EQ(stream.getSize(), 200U);
    EXPECT_EQ(stream.seek(10, kSeekBegin), 10U);
    EXPECT_EQ(stream.seek(5, kSeekCurrent), 15U);
    EXPECT_EQ(stream.seek(-20, kSeekEnd), 180U);
    EXPECT_EQ(stream.seek(3, 7), 0U); // unknown origin: no move
    unsigned char next = 0;
    ASSERT_EQ(stream.read(&next, 1), 1U);
    EXPECT_EQ(next, 180);
    stream.close();
    EXPECT_EQ(stream.seek(0, kSeekBegin), 0U);
}

TEST(FileOutputStream, TruncatesWritesSeeksAndCounts) {
    test::TempFolder folder;
    auto path = folder / "out";
    test::writeFile(path, "old contents that are longer");
    {
        FileOutputStream stream(path.string());
        EXPECT_TRUE(stream.canSeek());
        EXPECT_EQ(stream.write("hello world", 11), 11U);
        EXPECT_EQ(stream.seek(0, kSeekBegin), 0U);
        EXPECT_EQ(stream.write("J", 1), 1U);
        EXPECT_EQ(stream.handle().impl()->bytesWritten.load(), 12U);
        stream.flush();
        EXPECT_EQ(stream.close(), 0U);
        EXPECT_EQ(stream.write("more", 4), 0U); // closed: writes nothing
    }
    EXPECT_EQ(test::readText(path), "Jello world");
}

} // namespace
} // namespace tnw::util
