#include "service/http/escape.hpp"
#include "tests/unit/http/status_fixture.hpp"

#include <gtest/gtest.h>

namespace plexmill::http {
namespace {

TEST(Escape, OrdinaryNamesStayAsTheyAre) {
    for (const char* name : {"cam-07.example.com",
                             "192.168.1.27",
                             "Dell Inc. / OptiPlex 7010 / 01",
                             "Zürich Fräse 名前 😀",
                             "100% done (ok) & [x]"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(jsonText(name), name);
        if (std::string_view(name).find('&') == std::string_view::npos) {
            EXPECT_EQ(htmlText(name), name);
        }
    }
}

TEST(Escape, JsonQuotesBackslashesAndControlCharacters) {
    struct Case {
        std::string_view text;
        const char* escaped;
    };
    const Case cases[] = {
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\kernels\\", "C:\\\\kernels\\\\"},
        {"a\nb\rc\td\be\ff", "a\\nb\\rc\\td\\be\\ff"},
        {std::string_view("\x01\x1f\x00", 3), "\\u0001\\u001f\\u0000"},
        {"\x7f</script>", "\x7f</script>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escaped);
        EXPECT_EQ(jsonText(c.text), c.escaped);
    }
}

TEST(Escape, JsonReplacesEveryByteOfMalformedUtf8) {
    struct Case {
        const char* text;
        const char* escaped;
    };
    const Case cases[] = {
        {"a\xff"
         "b",
         "a\\ufffdb"},                                        // never a UTF-8 byte
        {"\x80x", "\\ufffdx"},                                // stray continuation byte
        {"\xc0\xaf", "\\ufffd\\ufffd"},                       // overlong "/"
        {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},            // a UTF-16 surrogate
        {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"}, // above U+10FFFF
        {"\xe2\x82", "\\ufffd\\ufffd"},                       // cut short at the end
        {"\xe2\x82\"", "\\ufffd\\ufffd\\\""},                 // cut short before a quote
        {"\xe2\x82\xac \xf0\x9f\x98\x80", "\xe2\x82\xac \xf0\x9f\x98\x80"}, // well formed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escaped);
        EXPECT_EQ(jsonText(c.text), c.escaped);
    }
}

TEST(Escape, JsonTextIsAStringEveryParserReadsBack) {
    const std::string hostile = "x\"}, \"injected\": true, \"y\": \"\\\n\t\x01<b>\xc3\xa9</b>";
    auto result = testing::python("import json, sys\n"
                                  "value = json.load(open(sys.argv[1], encoding='utf-8'))['name']\n"
                                  "print(value == sys.argv[2], end='')\n",
                                  "{\"name\": \"" + jsonText(hostile) + "\"}",
                                  {hostile});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.output, "True");
}

TEST(Escape, HtmlMarkupAndQuotes) {
    EXPECT_EQ(htmlText("<script>alert(\"x\")</script> & 'y'"),
              "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;y&#39;");
    EXPECT_EQ(htmlText("&amp;"), "&amp;amp;");
    EXPECT_EQ(htmlText(""), "");
}

} // namespace
} // namespace plexmill::http
