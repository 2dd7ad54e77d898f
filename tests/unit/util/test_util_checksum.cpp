#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/checksum.hpp"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace tnw::util {
namespace {

// Python's hashlib digest with each 32-bit word written least significant byte first.
std::string oracle(const std::filesystem::path& file) {
    auto result = test::run({"python3",
                             "-c",
                             "import hashlib,sys\n"
                             "d=hashlib.sha256(open(sys.argv[1],'rb').read()).digest()\n"
                             "print(''.join(d[i:i+4][::-1].hex() for i in range(0,32,4)))",
                             file.string()});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    return result.output.substr(0, result.output.find('\n'));
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

TEST(FileChecksum, EmptyFileAndAbcHaveTheirFixedTexts) {
    test::TempFolder folder;
    test::writeFile(folder / "empty", "");
    test::writeFile(folder / "abc", "abc");
    EXPECT_EQ(fileChecksum((folder / "empty").string()),
              "42c4b0e3141cfc98c8f4fb9a24b96f99e441ae274c939b641b9995a455b85278");
    EXPECT_EQ(fileChecksum((folder / "abc").string()),
              "bf1678baeacf018fde4041412322ae5da36103b09c7a179661ff10b4ad1500f2");
}

TEST(FileChecksum, CoversTheTailSoFilesDifferingOnlyThereDiffer) {
    test::TempFolder folder;
    // 64 + 5 bytes: the last five are outside every complete block.
    std::string bytes = randomBytes(69, 1);
    test::writeFile(folder / "first", bytes);
    bytes.back() ^= 1;
    test::writeFile(folder / "second", bytes);
    test::writeFile(folder / "short", bytes.substr(0, 64));
    std::string first = fileChecksum((folder / "first").string());
    std::string second = fileChecksum((folder / "second").string());
    std::string shorter = fileChecksum((folder / "short").string());
    EXPECT_NE(first, second);
    EXPECT_NE(second, shorter);
    EXPECT_EQ(first, oracle(folder / "first"));
    EXPECT_EQ(second, oracle(folder / "second"));
    EXPECT_EQ(shorter, oracle(folder / "short"));
}

TEST(FileChecksum, MatchesHashlibAcrossBlockAndReadBoundaries) {
    test::TempFolder folder;
    // Around one block, and around the 1 MiB pieces the checksum reads in.
    for (std::size_t size : {1, 55, 63, 64, 65, 1048575, 1048576, 1048576 + 17, 3000000}) {
        SCOPED_TRACE(size);
        auto file = folder / ("size-" + std::to_string(size));
        test::writeFile(file, randomBytes(size, static_cast<unsigned>(size)));
        auto result = fileChecksumAndSize(file.string());
        EXPECT_EQ(result.checksum, oracle(file));
        EXPECT_EQ(result.size, size);
    }
}

TEST(FileChecksum, UnreadableFilesGiveAnEmptyText) {
    test::TempFolder folder;
    EXPECT_EQ(fileChecksum((folder / "missing").string()), "");
    EXPECT_EQ(fileChecksum(folder.path().string()), "");
    auto result = fileChecksumAndSize((folder / "missing").string());
    EXPECT_EQ(result.checksum, "");
    EXPECT_EQ(result.size, 0U);
}

} // namespace
} // namespace tnw::util
