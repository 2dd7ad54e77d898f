// Message texts: the numbered-placeholder formatter behind every message ("Failed to bind to
// port %1."), the typed values it accepts, and a bounded printf for fixed layouts.
#pragma once

#include "util/messages.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tnw::util {

// One argument of format(), tagged with the kind of value it was made from. It refers to the
// caller's text rather than copying it, so it must not outlive the argument it was made from.
class FormatValue {
public:
    // Texts: None "<UNSPECIFIED>"; pointers "0x" and 16 lowercase hexadecimal digits; Bool
    // "true" or "false"; integers in decimal (a char prints as its number; long is 64 bits
    // here and printed in full); floating point as iostreams print it by default (up to six
    // significant digits, fixed or exponent form, "C" locale); text pointers "<NULL>" when
    // null; UTF-16 texts converted to UTF-8; Message the text of a message number in the
    // active message table (messages.hpp).
    enum class Kind : std::uint32_t {
        None = 0,
        Pointer = 1,
        ConstPointer = 2,
        Bool = 3,
        Int8 = 4,
        UInt8 = 5,
        Int16 = 6,
        UInt16 = 7,
        Int = 8,
        UInt = 9,
        Long = 10,
        ULong = 11,
        Int64 = 12,
        UInt64 = 13,
        Float = 14,
        Double = 15,
        LongDouble = 16,
        TextPointer = 17,
        Utf16Pointer = 18,
        Text = 19,
        Utf16Text = 20,
        Message = 21,
    };

    // Where a value's text is built when it is not the caller's own text: numbers fit in
    // `digits`, converted UTF-16 and message texts go to `converted`.
    struct Buffer {
        char digits[40];
        std::string converted;
    };

    FormatValue() = default;
    FormatValue(bool value) : kind_(Kind::Bool), unsigned_(value) {}
    FormatValue(char value) : kind_(Kind::Int8), signed_(value) {}
    FormatValue(signed char value) : kind_(Kind::Int8), signed_(value) {}
    FormatValue(unsigned char value) : kind_(Kind::UInt8), unsigned_(value) {}
    FormatValue(short value) : kind_(Kind::Int16), signed_(value) {}
    FormatValue(unsigned short value) : kind_(Kind::UInt16), unsigned_(value) {}
    FormatValue(char16_t value) : kind_(Kind::UInt16), unsigned_(value) {}
    FormatValue(int value) : kind_(Kind::Int), signed_(value) {}
    FormatValue(unsigned int value) : kind_(Kind::UInt), unsigned_(value) {}
    FormatValue(long value) : kind_(Kind::Long), signed_(value) {}
    FormatValue(unsigned long value) : kind_(Kind::ULong), unsigned_(value) {}
    FormatValue(long long value) : kind_(Kind::Int64), signed_(value) {}
    FormatValue(unsigned long long value) : kind_(Kind::UInt64), unsigned_(value) {}
    FormatValue(float value) : kind_(Kind::Float), real_(value) {}
    FormatValue(double value) : kind_(Kind::Double), real_(value) {}
    FormatValue(long double value) : kind_(Kind::LongDouble), real_(value) {}
    FormatValue(void* pointer) : kind_(Kind::Pointer), pointer_(pointer) {}
    FormatValue(const void* pointer) : kind_(Kind::ConstPointer), pointer_(pointer) {}
    FormatValue(const char* text) : kind_(Kind::TextPointer), pointer_(text) {}
    FormatValue(const char16_t* text) : kind_(Kind::Utf16Pointer), pointer_(text) {}
    FormatValue(std::string_view text) : kind_(Kind::Text), text_(text) {}
    FormatValue(const std::string& text) : kind_(Kind::Text), text_(text) {}
    FormatValue(std::u16string_view text) : kind_(Kind::Utf16Text), utf16_(text) {}
    FormatValue(const std::u16string& text) : kind_(Kind::Utf16Text), utf16_(text) {}
    FormatValue(MessageId id) : kind_(Kind::Message), unsigned_(id.value) {}

    Kind kind() const { return kind_; }
    std::string text() const;
    // The text, built in `buffer` where needed; valid while this value and `buffer` live.
    std::string_view text(Buffer& buffer) const;

private:
    Kind kind_ = Kind::None;
    union {
        std::int64_t signed_;
        std::uint64_t unsigned_ = 0;
        long double real_;
        const void* pointer_;
    };
    std::string_view text_;
    std::u16string_view utf16_;
};

// Expands `pattern` from left to right: "%%" gives "%"; "%" and decimal digits name argument
// n (1-based; digits are taken while the number so far is at most 99, so "%1234" is argument
// 123 and "4"); argument 0 or one beyond the list gives nothing; any other "%" stays as it is.
// Argument texts are copied as they stand, never expanded again. The result is allocated once.
std::string format(std::string_view pattern, std::span<const std::string_view> arguments);
std::string format(std::string_view pattern, const std::vector<std::string>& arguments);

template <class... Arguments>
requires(std::is_convertible_v<const Arguments&, FormatValue>&&...) std::string
    format(std::string_view pattern, const Arguments&... arguments) {
    if constexpr (sizeof...(Arguments) == 0) {
        return format(pattern, std::span<const std::string_view>());
    } else {
        const FormatValue values[] = {FormatValue(arguments)...};
        FormatValue::Buffer buffers[sizeof...(Arguments)];
        std::string_view texts[sizeof...(Arguments)];
        for (std::size_t i = 0; i < sizeof...(Arguments); ++i) {
            texts[i] = values[i].text(buffers[i]);
        }
        return format(pattern, std::span<const std::string_view>(texts));
    }
}

// snprintf into a text of at most 4095 characters; a longer result gives an empty text rather
// than a truncated one.
std::string formatPrintf(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

} // namespace tnw::util
