#include "service/http/request_line.hpp"
#include "util/exception.hpp"

#include <gtest/gtest.h>

namespace plexmill::http {
namespace {

TEST(RequestLine, GetRequestsGiveTheirPathExactly) {
    struct Case {
        const char* line;
        const char* path;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1", "/"},
        {"GET /json/status.json HTTP/1.0", "/json/status.json"},
        {"GET /json/status.json?x=1 HTTP/1.1", "/json/status.json?x=1"},
        {"GET /", "/"},
        {"GET /style.css  \t ", "/style.css"},
        {"GET\t \t/taskmanager \t HTTP/10.20", "/taskmanager"},
        {"GET /a\tb HTTP/1.1", "/a\tb"}, // only a blank ends the path
        {"GET/x", "/x"},
        {"GET", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        auto path = parseRequestLine(c.line);
        ASSERT_TRUE(path.has_value());
        EXPECT_EQ(*path, c.path);
    }
}

TEST(RequestLine, OtherMethodsAreNotAnswered) {
    for (const char* line :
         {"POST / HTTP/1.1", "HEAD / HTTP/1.1", "get / HTTP/1.1", " GET / HTTP/1.1", ""}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(parseRequestLine(line).has_value());
    }
}

TEST(RequestLine, MalformedVersionsAreParseErrors) {
    for (const char* line : {"GET / HTTP/x.y",
                             "GET / HTTP/1",
                             "GET / HTTP/1.",
                             "GET / HTTP/.1",
                             "GET / HTTP/1.1 extra",
                             "GET / HTTP/1.1x",
                             "GET / http/1.1",
                             "GET / FTP/1.1",
                             "GET / HTTP/-1.1"}) {
        SCOPED_TRACE(line);
        EXPECT_THROW(parseRequestLine(line), tnw::util::ParseException);
    }
}

} // namespace
} // namespace plexmill::http
