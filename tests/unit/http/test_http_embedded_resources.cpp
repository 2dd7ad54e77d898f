#include "service/http/embedded_resources.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace plexmill::http {
namespace {

const std::filesystem::path kResources =
    std::filesystem::path(PLEXMILL_SOURCE_DIR) / "service/http/resources";

const EmbeddedResource* find(std::string_view path) {
    for (const EmbeddedResource& resource : embeddedResources()) {
        if (resource.path == path) {
            return &resource;
        }
    }
    return nullptr;
}

std::uint32_t bigEndian32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    }
    return value;
}

std::uint16_t littleEndian16(std::string_view bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                      static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

std::uint32_t littleEndian32(std::string_view bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(littleEndian16(bytes, offset)) |
           static_cast<std::uint32_t>(littleEndian16(bytes, offset + 2)) << 16;
}

TEST(EmbeddedResources, HoldTheFourResourcesWithTheirContentTypes) {
    struct Case {
        const char* path;
        const char* file;
        const char* contentType;
    };
    const Case cases[] = {
        {"/taskmanager", "taskmanager.html", "text/html"},
        {"/plexmon.ico", "plexmon.ico", "image/x-icon"},
        {"/quorvex.png", "quorvex.png", "image/png"},
        {"/quorvex_white.png", "quorvex_white.png", "image/png"},
    };
    EXPECT_EQ(embeddedResources().size(), 4U);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const EmbeddedResource* resource = find(c.path);
        ASSERT_NE(resource, nullptr);
        EXPECT_EQ(resource->contentType, c.contentType);
        const std::string file = tnw::test::readText(kResources / c.file);
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(resource->bytes.size(), file.size());
        EXPECT_TRUE(resource->bytes == file) << "embedded bytes differ from " << c.file;
    }
    EXPECT_EQ(find("/style.css"), nullptr);
    EXPECT_EQ(find("/taskmanager.html"), nullptr);
}

TEST(EmbeddedResources, ImagesAreWellFormed) {
    for (const char* path : {"/quorvex.png", "/quorvex_white.png"}) {
        SCOPED_TRACE(path);
        const std::string_view png = find(path)->bytes;
        ASSERT_GT(png.size(), 33U);
        EXPECT_EQ(png.substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_GT(bigEndian32(png, 16), 0U); // width
        EXPECT_EQ(bigEndian32(png, 20), path == std::string_view("/quorvex.png") ? 56U : 40U);
        EXPECT_EQ(png.substr(png.size() - 8, 4), "IEND");
    }
    const std::string_view icon = find("/plexmon.ico")->bytes;
    ASSERT_GT(icon.size(), 6U + 3 * 16U);
    EXPECT_EQ(littleEndian16(icon, 0), 0); // reserved
    EXPECT_EQ(littleEndian16(icon, 2), 1); // an icon, not a cursor
    ASSERT_EQ(littleEndian16(icon, 4), 3); // 16, 32 and 48 pixels
    const unsigned widths[] = {16, 32, 48};
    for (std::size_t entry = 0; entry < 3; ++entry) {
        SCOPED_TRACE(entry);
        const std::size_t at = 6 + 16 * entry;
        EXPECT_EQ(static_cast<unsigned char>(icon[at]), widths[entry]);
        EXPECT_EQ(static_cast<unsigned char>(icon[at + 1]), widths[entry]);
        EXPECT_EQ(littleEndian16(icon, at + 6), 32); // bits per pixel
        const std::uint32_t size = littleEndian32(icon, at + 8);
        const std::uint32_t offset = littleEndian32(icon, at + 12);
        ASSERT_LE(std::size_t{offset} + size, icon.size());
        EXPECT_EQ(littleEndian32(icon, offset), 40U); // a BITMAPINFOHEADER follows
        EXPECT_EQ(littleEndian32(icon, offset + 4), widths[entry]);
    }
}

TEST(EmbeddedResources, PageIsOneSelfContainedUtf8Document) {
    const std::string_view page = find("/taskmanager")->bytes;
    EXPECT_EQ(page.substr(0, 15), "<!DOCTYPE html>");
    EXPECT_NE(page.find("<meta charset=\"UTF-8\">"), std::string_view::npos);
    EXPECT_NE(page.find("</html>"), std::string_view::npos);
    // The only file the page loads is the logo the server also serves.
    EXPECT_EQ(page.find("<script src"), std::string_view::npos);
    EXPECT_EQ(page.find("<link"), std::string_view::npos);
    EXPECT_NE(page.find("src=\"quorvex_white.png\""), std::string_view::npos);
}

TEST(EmbeddedResources, ImagesAreWhatTheImageScriptDraws) {
    tnw::test::TempFolder folder("plexmill-images");
    const auto result = tnw::test::run(
        {"python3", std::string(PLEXMILL_SOURCE_DIR) + "/scripts/make_images.py", folder.path()});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    for (const char* name : {"plexmon.ico", "quorvex.png", "quorvex_white.png"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(tnw::test::readText(folder / name) == tnw::test::readText(kResources / name))
            << "regenerate the images with scripts/make_images.py and commit them";
    }
}

} // namespace
} // namespace plexmill::http
