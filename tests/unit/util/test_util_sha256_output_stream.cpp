#include "util/exception.hpp"
#include "util/sha256_output_stream.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tnw::util {
namespace {

// (i * 7 + 3) mod 256: no run of equal bytes, so a misplaced block shows.
std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    }
    return bytes;
}

std::string openDigest(const std::string& bytes) {
    SHA256OutputStream stream;
    stream.write(bytes.data(), bytes.size());
    return stream.digestText();
}

std::string closedDigest(const std::string& bytes) {
    SHA256OutputStream stream;
    stream.write(bytes.data(), bytes.size());
    stream.close();
    return stream.digestText();
}

TEST(SHA256OutputStream, OpenStreamShowsTheStateAfterCompleteBlocks) {
    const std::string initial = "67e6096a85ae67bb72f36e3c3af54fa57f520e518c68059babd9831f19cde05b";
    EXPECT_EQ(openDigest(""), initial);
    EXPECT_EQ(openDigest(std::string(63, 'a')), initial);
    EXPECT_EQ(openDigest(std::string(64, 'a')),
              "1cb85bdf26061ee894a845fb310fd44f16685eb2c199d4d6294990ab665e6300");
    EXPECT_EQ(openDigest(std::string(100, 'a')),
              "1cb85bdf26061ee894a845fb310fd44f16685eb2c199d4d6294990ab665e6300");
    EXPECT_EQ(openDigest(pattern(1000)),
              "76d63c90a4b64cd4a70d980560083b37e781f51fd57e359977097dee8c183e8b");
}

TEST(SHA256OutputStream, ClosedStreamHoldsTheDigestAcrossPaddingBoundaries) {
    EXPECT_EQ(closedDigest("abc"),
              "bf1678baeacf018fde4041412322ae5da36103b09c7a179661ff10b4ad1500f2");
    EXPECT_EQ(closedDigest(""), "42c4b0e3141cfc98c8f4fb9a24b96f99e441ae274c939b641b9995a455b85278");
    // 55 bytes leave room for the length in the last block, 56 to 63 need one more block.
    const std::vector<std::pair<std::size_t, std::string>> cases = {
        {55, "333d31e7632e273c7809799fb39e3f28d043e89216709bf2dab18b820bc7aaa4"},
        {56, "5fd624436735103c719c58f5858fc00ba929f923f33a2e27e568c96f276cbc2a"},
        {63, "4202c8810c232f133e1bd43bf1cfbb6395330761994a214966f24f6155506264"},
        {64, "b6d7e339d375d0b5d83a057d1bb4249b293c4fef44840c763b3fab7c412288e1"},
        {119, "8e36e79c3432af4d92b43116dc5903e8484b599fddd03c4592b1f05b7e17cc79"},
        {120, "87b73678e5957e75aea53c8b001b0bc9a1eb8d4e75960ee5f1ab9cafb5043aa1"},
        {1000, "8cc39b1e9e0b86bfb01819c324b5f965a749c57699e7e082e38ced0b71238d86"},
    };
    for (const auto& [size, expected] : cases) {
        SCOPED_TRACE(size);
        EXPECT_EQ(closedDigest(pattern(size)), expected);
    }
}

TEST(SHA256OutputStream, PiecesOfAnySizeGiveTheSameState) {
    const std::string bytes = pattern(1000);
    for (std::size_t piece : {1, 3, 63, 64, 65, 127, 500}) {
        SCOPED_TRACE(piece);
        SHA256OutputStream stream;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            std::size_t size = std::min(piece, bytes.size() - at);
            EXPECT_EQ(stream.write(bytes.data() + at, size), size);
        }
        EXPECT_EQ(stream.messageLength(), 1000U);
        EXPECT_EQ(stream.digestText(),
                  "76d63c90a4b64cd4a70d980560083b37e781f51fd57e359977097dee8c183e8b");
        stream.close();
        EXPECT_EQ(stream.digestText(),
                  "8cc39b1e9e0b86bfb01819c324b5f965a749c57699e7e082e38ced0b71238d86");
    }
}

TEST(SHA256OutputStream, ClosedStreamRefusesWritesAndASecondClose) {
    SHA256OutputStream stream;
    EXPECT_TRUE(stream.isOpen());
    EXPECT_EQ(stream.close(), 0U);
    EXPECT_FALSE(stream.isOpen());
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "write" : "close");
        try {
            if (attempt == 0) {
                stream.write("x", 1);
            } else {
                stream.close();
            }
            FAIL();
        } catch (const IOException& failure) {
            EXPECT_EQ(failure.getMessage(), "Stream is not open.");
            EXPECT_EQ(failure.getCode(), 0U);
        }
    }
    EXPECT_THROW(stream.seek(0, 0), IOException);
}

} // namespace
} // namespace tnw::util
