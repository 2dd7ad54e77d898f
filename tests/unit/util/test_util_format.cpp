#include "util/format.hpp"
#include "util/messages.hpp"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tnw::util {
namespace {

TEST(Format, ExpandsPlaceholdersByTheRules) {
    struct Case {
        const char* pattern;
        std::vector<std::string> arguments;
        const char* expected;
    };
    const Case cases[] = {
        {"%1 of %2", {"a"}, "a of "},
        {"100%% done", {}, "100% done"},
        {"50% off", {}, "50% off"},
        {"end%", {}, "end%"},
        {"%", {}, "%"},
        {"%%%", {}, "%%"},
        {"%0 x", {"a"}, " x"},
        {"%3", {"a", "b"}, ""},
        {"%a", {"x"}, "%a"},
        {"%%1", {"x"}, "%1"},
        {"%%%1", {"x"}, "%x"},
        {"%1%", {"a"}, "a%"},
        {"%2%1", {"a", "b"}, "ba"},
        {"%01", {"a"}, "a"},
        {"%100", {"a"}, ""},
        {"", {"a"}, ""},
        {"no placeholders", {"a"}, "no placeholders"},
        // Arguments are copied as they stand, never expanded again.
        {"%1%2", {"%2", "b"}, "%2b"},
        {"[%1]", {"100%"}, "[100%]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(format(c.pattern, c.arguments), c.expected);
    }
}

TEST(Format, PlaceholderNumbersStopAfterPassingNinetyNine) {
    std::vector<std::string> arguments;
    for (int i = 1; i <= 123; ++i) {
        // Appended: GCC 12 at -O3 takes `"<" + std::to_string(i)` for an overlapping copy
        // (-Wrestrict, a false positive).
        std::string argument = "<";
        argument += std::to_string(i);
        argument += ">";
        arguments.push_back(argument);
    }
    EXPECT_EQ(format("%1234", arguments), "<123>4");
    EXPECT_EQ(format("%99x", arguments), "<99>x");
    EXPECT_EQ(format("%12", arguments), "<12>");
    // Leading zeros keep the number at 0, so they do not count towards the limit.
    EXPECT_EQ(format("%0001", arguments), "<1>");
}

TEST(Format, VariadicFormTakesTypedArguments) {
    std::string owned = "owned";
    std::u16string wide = u"wide \u20ac";
    EXPECT_EQ(format("%1 %2 %3 %4 %5 %6 %7", 1, "two", owned, wide, true, 2.5, -7LL),
              "1 two owned wide \xe2\x82\xac true 2.5 -7");
    EXPECT_EQ(format("Failed to bind to port %1.", std::uint16_t{7387}),
              "Failed to bind to port 7387.");
    EXPECT_EQ(format("nothing"), "nothing");
    EXPECT_EQ(format("%1", std::string_view("view")), "view");
}

TEST(FormatValue, KindsAndTexts) {
    using Kind = FormatValue::Kind;
    struct Case {
        const char* name;
        FormatValue value;
        Kind kind;
        const char* text;
    };
    const char* nullText = nullptr;
    const char16_t* nullUtf16 = nullptr;
    const Case cases[] = {
        {"empty", FormatValue(), Kind::None, "<UNSPECIFIED>"},
        {"true", true, Kind::Bool, "true"},
        {"false", false, Kind::Bool, "false"},
        {"char", 'A', Kind::Int8, "65"},
        {"signed char", static_cast<signed char>(-5), Kind::Int8, "-5"},
        {"unsigned char", static_cast<unsigned char>(200), Kind::UInt8, "200"},
        {"short", static_cast<short>(-32768), Kind::Int16, "-32768"},
        {"unsigned short", static_cast<unsigned short>(65535), Kind::UInt16, "65535"},
        {"int", INT_MIN, Kind::Int, "-2147483648"},
        {"unsigned", 4294967295U, Kind::UInt, "4294967295"},
        {"long", LONG_MIN, Kind::Long, "-9223372036854775808"},
        {"unsigned long", ULONG_MAX, Kind::ULong, "18446744073709551615"},
        {"long long", -1LL, Kind::Int64, "-1"},
        {"unsigned long long", 0ULL, Kind::UInt64, "0"},
        {"float", 0.1F, Kind::Float, "0.1"},
        {"double", 1.5, Kind::Double, "1.5"},
        {"double, exponent", 1234567.0, Kind::Double, "1.23457e+06"},
        {"double, small", 0.0001, Kind::Double, "0.0001"},
        {"double, smaller", 0.00001, Kind::Double, "1e-05"},
        {"double, six digits", 100000.0, Kind::Double, "100000"},
        {"double, seven digits", 1000000.0, Kind::Double, "1e+06"},
        {"double, negative", -2.5, Kind::Double, "-2.5"},
        {"double, third", 1.0 / 3, Kind::Double, "0.333333"},
        {"double, rating", 5320.45, Kind::Double, "5320.45"},
        {"double, rounds up into a new digit", 99.999951, Kind::Double, "100"},
        {"double, rounds down", 0.1 + 0.2, Kind::Double, "0.3"},
        {"double, large", 34359738368.0, Kind::Double, "3.43597e+10"},
        {"double, zero", 0.0, Kind::Double, "0"},
        {"long double", 2.5L, Kind::LongDouble, "2.5"},
        {"pointer", reinterpret_cast<void*>(0x1234), Kind::Pointer, "0x0000000000001234"},
        {"const pointer",
         static_cast<const void*>(nullptr),
         Kind::ConstPointer,
         "0x0000000000000000"},
        {"text pointer", "abc", Kind::TextPointer, "abc"},
        {"null text pointer", nullText, Kind::TextPointer, "<NULL>"},
        {"utf-16 pointer", u"h\u00e9", Kind::Utf16Pointer, "h\xc3\xa9"},
        {"null utf-16 pointer", nullUtf16, Kind::Utf16Pointer, "<NULL>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.kind(), c.kind);
        EXPECT_EQ(c.value.text(), c.text);
    }
}

TEST(FormatValue, MessageNumbersTakeTheActiveTable) {
    registerBuiltInMessages();
    EXPECT_EQ(FormatValue(message::kStreamNotOpen).kind(), FormatValue::Kind::Message);
    EXPECT_EQ(format("%1", message::kStreamNotOpen), "Stream is not open.");
    EXPECT_EQ(format("%1", MessageId{999999}), "");
}

TEST(FormatPrintf, FormatsAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(formatPrintf("%u.%u.%u.%u:%u", 10U, 77U, 0U, 1U, 7387U), "10.77.0.1:7387");
    EXPECT_EQ(formatPrintf("%.1f%%", 12.34), "12.3%");
    std::string longest(4095, 'x');
    EXPECT_EQ(formatPrintf("%s", longest.c_str()), longest);
    std::string tooLong(4096, 'x');
    EXPECT_EQ(formatPrintf("%s", tooLong.c_str()), "");
    EXPECT_EQ(formatPrintf("%s%s", longest.c_str(), "y"), "");
}

} // namespace
} // namespace tnw::util
