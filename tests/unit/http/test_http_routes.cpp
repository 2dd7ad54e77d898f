#include "service/http/resource_manager.hpp"
#include "service/http/routes.hpp"
#include "service/http/style_sheet.hpp"
#include "tests/unit/http/status_fixture.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace plexmill::http {
namespace {

using Routes = testing::StatusTest;

const std::filesystem::path kResources =
    std::filesystem::path(PLEXMILL_SOURCE_DIR) / "service/http/resources";

// The header block (up to and including the empty line) and what follows it.
std::pair<std::string, std::string> split(const std::string& response) {
    std::size_t end = response.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos);
    return {response.substr(0, end + 4), response.substr(end + 4)};
}

TEST(ContentHeaders, AllowLengthAndTypeWithOrWithoutCharset) {
    EXPECT_EQ(contentHeaders(0, "", ""), "Allow: GET\r\nContent-Length: 0\r\n");
    EXPECT_EQ(contentHeaders(1668, "text/css", ""),
              "Allow: GET\r\nContent-Length: 1668\r\nContent-Type: text/css\r\n");
    EXPECT_EQ(contentHeaders(42, "text/html", "UTF-8"),
              "Allow: GET\r\nContent-Length: 42\r\nContent-Type: text/html; UTF-8\r\n");
}

TEST_F(Routes, StaticResourcesAreSentByteForByteAndEndTheConnection) {
    struct Case {
        const char* path;
        const char* file; // null: the style sheet
        const char* type;
    };
    const Case cases[] = {
        {"/plexmon.ico", "plexmon.ico", "image/x-icon"},
        {"/quorvex.png", "quorvex.png", "image/png"},
        {"/quorvex_white.png", "quorvex_white.png", "image/png"},
        {"/taskmanager", "taskmanager.html", "text/html"},
        {"/style.css", nullptr, "text/css"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string body = c.file != nullptr ? tnw::test::readText(kResources / c.file)
                                             : std::string(styleSheet());
        ASSERT_FALSE(body.empty());
        Answer answer = answerRequest(manager, c.path);
        EXPECT_FALSE(answer.keepConnection);
        EXPECT_EQ(
            answer.bytes,
            "HTTP/1.1 200 OK\r\nAllow: GET\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nContent-Type: " + c.type +
                "\r\nCache-Control: public, max-age=3600\r\nConnection: Keep-Alive\r\n\r\n" + body);
    }
}

TEST(StyleSheet, HoldsTheRulesTheTaskManagerPageRepeats) {
    // Two transcriptions of the same rules: the sheet and the start of the page's style element.
    std::string page = tnw::test::readText(kResources / "taskmanager.html");
    const std::string opening = "<style type=\"text/css\">\n";
    std::size_t start = page.find(opening);
    ASSERT_NE(start, std::string::npos);
    std::string_view sheet = styleSheet();
    EXPECT_EQ(page.substr(start + opening.size(), sheet.size()), sheet);
    EXPECT_EQ(page.substr(start + opening.size() + sheet.size(), 1),
              "\n"); // then the page's own rules
    EXPECT_EQ(testing::occurrences(sheet, "\n"), 21U);
    EXPECT_TRUE(sheet.starts_with("body {font-family: Sans-serif}\np {font-size: 10px}\n"));
    EXPECT_TRUE(sheet.ends_with(
        "th {padding: 4px;}\ntd {padding: 4px; font-size:10px; white-space:nowrap}\n"));
}

TEST(ResourceTable, IsFilledOnceForConcurrentFirstUsers) {
    std::vector<const ResourceManager*> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &staticResources(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const ResourceManager* table : seen) {
        EXPECT_EQ(table, seen.front());
    }
    for (const char* path :
         {"/plexmon.ico", "/quorvex.png", "/quorvex_white.png", "/taskmanager", "/style.css"}) {
        SCOPED_TRACE(path);
        EXPECT_NE(seen.front()->find(path), nullptr);
    }
    EXPECT_EQ(seen.front()->find("/Style.css"), nullptr);
    EXPECT_EQ(seen.front()->find("/style.css?v=1"), nullptr);
}

TEST_F(Routes, ServerListIsADynamicDocumentWithAThreeSecondCache) {
    Answer answer = answerRequest(manager, "/json/servers.json");
    EXPECT_TRUE(answer.keepConnection);
    EXPECT_EQ(answer.bytes,
              "HTTP/1.1 200 OK\r\n"
              "Allow: GET\r\n"
              "Content-Length: 19\r\n"
              "Content-Type: application/json; UTF-8\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "Access-Control-Allow-Methods: GET\r\n"
              "Cache-Control: public, max-age=3\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n"
              "{\"servers\": [\n]\n}\r\n");
}

// The line break after each document is part of its length: clients that read by the length
// find the next response right after it.
TEST_F(Routes, StatusDocumentsAreNotCachedAndEndInACountedLineBreak) {
    struct Case {
        const char* path;
        const char* type;
        const char* start;
    };
    const Case cases[] = {
        {"/json/status.json", "application/json", "{\"system\": {"},
        {"/", "text/html", "<html><head>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Answer answer = answerRequest(manager, c.path);
        EXPECT_TRUE(answer.keepConnection);
        auto [headers, rest] = split(answer.bytes);
        ASSERT_GE(rest.size(), 2U);
        std::string body = rest.substr(0, rest.size() - 2);
        EXPECT_EQ(rest.substr(rest.size() - 2), "\r\n");
        EXPECT_TRUE(body.starts_with(c.start));
        EXPECT_EQ(headers,
                  std::string("HTTP/1.1 200 OK\r\n"
                              "Allow: GET\r\n"
                              "Content-Length: ") +
                      std::to_string(rest.size()) +
                      "\r\n"
                      "Content-Type: " +
                      c.type +
                      "; UTF-8\r\n"
                      "Access-Control-Allow-Origin: *\r\n"
                      "Access-Control-Allow-Methods: GET\r\n"
                      "Cache-Control: private, max-age=0, no-cache\r\n"
                      "Connection: Keep-Alive\r\n"
                      "\r\n");
    }
}

TEST_F(Routes, UnknownPathsAreNotFound) {
    for (const char* path : {"/json/status.json?x=1",
                             "/?",
                             "/JSON/status.json",
                             "/taskmanager/",
                             "/index.html",
                             "/data/taskmanager.html",
                             ""}) {
        SCOPED_TRACE(path);
        Answer answer = answerRequest(manager, path);
        EXPECT_EQ(answer.bytes, "HTTP/1.1 404 Not Found\r\n\r\n");
        EXPECT_FALSE(answer.keepConnection);
    }
}

} // namespace
} // namespace plexmill::http
