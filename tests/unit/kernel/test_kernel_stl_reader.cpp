#include "kernel/error.hpp"
#include "kernel/stl_reader.hpp"

#include <cstring>
#include <gtest/gtest.h>

namespace plexmill::kernel {
namespace {

std::string binaryStl(const std::vector<std::array<float, 9>>& triangles, std::string header = "") {
    header.resize(80, ' ');
    std::string bytes = header;
    auto put32 = [&](std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes += static_cast<char>(value >> (8 * i) & 0xff);
        }
    };
    put32(static_cast<std::uint32_t>(triangles.size()));
    for (const auto& t : triangles) {
        for (int i = 0; i < 3; ++i) {
            put32(0); // the normal is computed, not read
        }
        for (float v : t) {
            std::uint32_t bits;
            std::memcpy(&bits, &v, 4);
            put32(bits);
        }
        bytes += std::string(2, '\0');
    }
    return bytes;
}

const char* asciiStl = "solid part name with spaces\n"
                       "  facet normal 0 0 1\n"
                       "    outer loop\n"
                       "      vertex 0 0 1.5\n"
                       "      vertex 10 0 1.5\n"
                       "      vertex 0 10 -2e-1\n"
                       "    endloop\n"
                       "  endfacet\n"
                       "endsolid part name with spaces\n";

TEST(StlReader, ReadsBinaryAndAsciiAlike) {
    // A binary file whose header begins with "solid", as some exporters write it.
    Mesh binary = parseStl(binaryStl({{0, 0, 1.5f, 10, 0, 1.5f, 0, 10, -0.2f}}, "solid x"), "b");
    Mesh ascii = parseStl(asciiStl, "a");
    ASSERT_EQ(binary.triangles.size(), 1u);
    ASSERT_EQ(ascii.triangles.size(), 1u);
    for (const Mesh* mesh : {&binary, &ascii}) {
        const Triangle& t = mesh->triangles[0];
        EXPECT_EQ(t.b.x, 10);
        EXPECT_NEAR(t.c.z, -0.2, 1e-7);
        EXPECT_EQ(mesh->bounds().max.z, 1.5);
    }
}

TEST(StlReader, RefusesBrokenFilesSayingWhere) {
    std::string truncated = binaryStl({{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 0, 1, 0, 0, 0, 1, 0}});
    truncated.resize(truncated.size() - 7);
    std::string badWord = asciiStl;
    badWord.replace(badWord.find("1.5\n      vertex 10"), 3, "1.x");
    struct Case {
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"", "model 'm.stl' is not an STL file (0 bytes)"},
        {truncated,
         "model 'm.stl' is not an STL file: as a binary STL it declares 2 triangles, which need "
         "184 bytes, but it has 177 bytes, and it does not begin with 'solid'"},
        {binaryStl({}), "model 'm.stl' holds no triangles"},
        {binaryStl({{0, 0, 0, 1, 0, 0, 0, 1, NAN}}),
         "model 'm.stl': triangle 1 has a coordinate that is not a finite number"},
        {badWord, "model 'm.stl', line 4: expected a number but found '1.x'"},
        {"solid x\n facet normal 0 0 1\n outer loop\n vertex 1 2 3\n endloop\n",
         "model 'm.stl', line 5: expected 'vertex' but found 'endloop'"},
        {"solid x\n facet normal 0 0 1\n",
         "model 'm.stl', line 3: expected 'outer' but found "
         "the end of the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            parseStl(c.bytes, "m.stl");
            ADD_FAILURE() << "accepted";
        } catch (const JobError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

} // namespace
} // namespace plexmill::kernel
