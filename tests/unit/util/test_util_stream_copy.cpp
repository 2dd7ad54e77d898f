#include "tests/support/temp_folder.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/overlapped_copy.hpp"
#include "util/pipe.hpp"
#include "util/sha256_output_stream.hpp"
#include "util/stream_copy.hpp"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tnw::util {
namespace {

// A sink that keeps what it is given, and can be told to take less or to fail.
class Collector : public OutputStream {
public:
    std::uint64_t write(const void* buffer, std::uint64_t size) override {
        if (failure) {
            failure();
        }
        std::uint64_t take = size > shortBy ? size - shortBy : 0;
        bytes.append(static_cast<const char*>(buffer), take);
        return take;
    }
    bool isOpen() const override { return true; }
    std::string bytes;
    std::uint64_t shortBy = 0;
    std::function<void()> failure;
};

// A source that hands out its text in pieces, then fails as told.
class Feeder : public InputStream {
public:
    Feeder(std::string text, std::size_t piece) : text_(std::move(text)), piece_(piece) {}
    std::uint32_t close() override { return 0; }
    bool isOpen() const override { return true; }
    std::uint64_t read(void* buffer, std::uint64_t size) override {
        if (at_ == text_.size() && atEnd) {
            atEnd();
        }
        std::size_t take = std::min({static_cast<std::size_t>(size), piece_, text_.size() - at_});
        std::memcpy(buffer, text_.data() + at_, take);
        at_ += take;
        return take;
    }
    std::function<void()> atEnd;

private:
    std::string text_;
    std::size_t piece_;
    std::size_t at_ = 0;
};

TEST(Copy, ShortReadsFromAPipeDoNotEndTheCopy) {
    Pipe pipe;
    ASSERT_EQ(pipe.create(false), 0U);
    PipeInputStream input(pipe);
    Handle writeEnd = pipe.writeEnd();
    std::thread writer([writeEnd]() mutable {
        for (int i = 0; i < 50; ++i) {
            std::string line = "line " + std::to_string(i) + "\n";
            ASSERT_EQ(::write(writeEnd.fd(), line.data(), line.size()),
                      static_cast<ssize_t>(line.size()));
            std::this_thread::yield();
        }
        writeEnd.close();
    });
    pipe.writeEnd().reset();
    Collector output;
    EXPECT_TRUE(copy(input, output));
    writer.join();
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        expected += "line " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(output.bytes, expected);
}

using CopyFunction = std::function<bool(InputStream&, OutputStream&)>;

// copy, and copyOverlapped with pieces small enough that the reads run ahead of the writes.
const std::vector<std::pair<const char*, CopyFunction>>& copyFunctions() {
    static const std::vector<std::pair<const char*, CopyFunction>> functions = {
        {"copy", [](InputStream& input, OutputStream& output) { return copy(input, output); }},
        {"copyOverlapped",
         [](InputStream& input, OutputStream& output) {
             return copyOverlapped(input, output, 4, 2);
         }},
    };
    return functions;
}

TEST(Copy, ReportsShortWritesAndFailuresButEndsWellAtEndOfStream) {
    for (const auto& [name, copyWith] : copyFunctions()) {
        SCOPED_TRACE(name);
        {
            SCOPED_TRACE("short write");
            Feeder input("abcdef", 3);
            Collector output;
            output.shortBy = 1;
            EXPECT_FALSE(copyWith(input, output));
        }
        {
            SCOPED_TRACE("failing write");
            Feeder input("abcdef", 3);
            Collector output;
            output.failure = [] { raise(IOException("disk", 112)); };
            EXPECT_FALSE(copyWith(input, output));
        }
        {
            SCOPED_TRACE("output ends");
            Feeder input("abcdef", 3);
            Collector output;
            output.failure = [] { raise(EndOfStreamException()); };
            EXPECT_TRUE(copyWith(input, output));
        }
        {
            SCOPED_TRACE("input fails");
            Feeder input("abcdef", 3);
            input.atEnd = [] { raise(IOException(5U)); };
            Collector output;
            EXPECT_FALSE(copyWith(input, output));
            EXPECT_EQ(output.bytes, "abcdef");
        }
        {
            SCOPED_TRACE("non-library exception");
            Feeder input("abcdef", 3);
            input.atEnd = [] { throw std::runtime_error("boom"); };
            Collector output;
            EXPECT_FALSE(copyWith(input, output));
        }
    }
}

TEST(CopyOverlapped, KeepsTheOrderOfManyPiecesAndHashesAsCopyDoes) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += std::to_string(i) + ",";
    }
    Feeder input(text, 7);
    SHA256OutputStream overlapped;
    ASSERT_TRUE(copyOverlapped(input, overlapped, 1000, 3));
    Feeder again(text, 4096);
    SHA256OutputStream plain;
    ASSERT_TRUE(copy(again, plain));
    EXPECT_EQ(overlapped.messageLength(), text.size());
    EXPECT_EQ(overlapped.digestText(), plain.digestText());
    Feeder ordered(text, 7);
    Collector output;
    ASSERT_TRUE(copyOverlapped(ordered, output, 1000, 3));
    EXPECT_EQ(output.bytes, text);
}

TEST(ReadAll, StopsAtTheLimitButAcceptsAStreamThatFitsExactly) {
    const std::vector<std::tuple<std::size_t, std::size_t, bool>> cases = {
        // size, limit, result
        {10, 10, true},
        {11, 10, false},
        {0, 0, true},
        {1, 0, false},
        {40000, 1 << 20, true}, // grows past the first 16384 bytes twice
        {16384, 16384, true},
        {70000, 65536, false},
    };
    for (const auto& [size, limit, result] : cases) {
        SCOPED_TRACE(std::to_string(size) + " in " + std::to_string(limit));
        std::string text(size, 'x');
        for (std::size_t i = 0; i < size; ++i) {
            text[i] = static_cast<char>('a' + i % 26);
        }
        Feeder input(text, 5000);
        ReadBuffer buffer(limit);
        EXPECT_EQ(readAll(input, buffer), result);
        EXPECT_EQ(buffer.bytes, text.substr(0, std::min(size, limit)));
    }
}

TEST(ReadAll, EndOfStreamEndsWellOtherFailuresDoNot) {
    Feeder ending("abc", 2);
    ending.atEnd = [] { raise(EndOfStreamException()); };
    ReadBuffer first(100);
    EXPECT_TRUE(readAll(ending, first));
    EXPECT_EQ(first.bytes, "abc");

    Feeder failing("abc", 2);
    failing.atEnd = [] { raise(IOException(5U)); };
    ReadBuffer second(100);
    EXPECT_FALSE(readAll(failing, second));
    EXPECT_EQ(second.bytes, "abc");
}

TEST(ReadFile, ReadsAWholeFileAndRefusesAMissingOne) {
    test::TempFolder folder;
    test::writeFile(folder / "names", "10.0.0.1 cam-01\n");
    ReadBuffer buffer(1024);
    EXPECT_TRUE(readFile((folder / "names").string(), buffer));
    EXPECT_EQ(buffer.bytes, "10.0.0.1 cam-01\n");
    ReadBuffer missing(1024);
    EXPECT_FALSE(readFile((folder / "missing").string(), missing));
    EXPECT_EQ(missing.bytes, "");
}

} // namespace
} // namespace tnw::util
