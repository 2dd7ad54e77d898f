#include "util/text.hpp"

#include <gtest/gtest.h>
#include <string>

namespace tnw::util {
namespace {

// Expected UTF-16 values come from python3: text.encode('utf-16-le'), and malformed input
// from bytes.decode('utf-8', 'replace'), which also replaces each maximal malformed run.
TEST(Utf16, ConvertsBothWaysIncludingSurrogatePairs) {
    const std::string utf8 = "h\xc3\xa9llo \xe2\x82\xac\xf0\x9d\x84\x9e";
    const std::u16string utf16 = u"h\u00e9llo \u20ac\U0001D11E";
    EXPECT_EQ(toUtf16(utf8), utf16);
    EXPECT_EQ(toUtf8(utf16), utf8);
    EXPECT_EQ(toUtf16(""), u"");
    EXPECT_EQ(toUtf8(u""), "");
    EXPECT_EQ(toUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf16, MalformedUtf8BecomesReplacementCharacters) {
    struct Case {
        const char* name;
        std::string utf8;
        std::u16string expected;
    };
    const Case cases[] = {
        {"invalid byte", "\xff", u"\uFFFD"},
        {"stray continuation", "a\x80z", u"a\uFFFDz"},
        {"truncated at end", "a\xc3", u"a\uFFFD"},
        {"truncated four-byte at end", "\xf0\x9d\x84", u"\uFFFD"},
        {"truncated before ASCII", "\xe2\x82x", u"\uFFFDx"},
        {"overlong", "\xc0\xaf", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"largest", "\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toUtf16(c.utf8), c.expected);
    }
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::string replacement = "\xef\xbf\xbd";
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t{0xD800})), replacement);
    EXPECT_EQ(toUtf8(std::u16string{char16_t{0xDC00}, u'a'}), replacement + "a");
    EXPECT_EQ(toUtf8(std::u16string{char16_t{0xD800}, char16_t{0xD800}, char16_t{0xDC00}}),
              replacement + "\xf0\x90\x80\x80");
}

TEST(AsciiToUtf16, KeepsAsciiAndZeroesEveryOtherByte) {
    EXPECT_EQ(asciiToUtf16("Built-in"), u"Built-in");
    EXPECT_EQ(asciiToUtf16("a\xc3\xa9z"), std::u16string(u"a\0\0z", 4));
}

TEST(ToLowerAscii, LowersOnlyAToZ) {
    EXPECT_EQ(toLowerAscii("Built-In ABC xyz"), "built-in abc xyz");
    EXPECT_EQ(toLowerAscii("\xc3\x84@[`{"), "\xc3\x84@[`{"); // Ä and the neighbours of A-Z
}

} // namespace
} // namespace tnw::util
