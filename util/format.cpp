#include "util/format.hpp"

#include "util/text.hpp"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tnw::util {

namespace {

std::string_view decimal(FormatValue::Buffer& buffer, std::int64_t value) {
    auto end = std::to_chars(std::begin(buffer.digits), std::end(buffer.digits), value).ptr;
    return {buffer.digits, static_cast<std::size_t>(end - buffer.digits)};
}

std::string_view decimal(FormatValue::Buffer& buffer, std::uint64_t value) {
    auto end = std::to_chars(std::begin(buffer.digits), std::end(buffer.digits), value).ptr;
    return {buffer.digits, static_cast<std::size_t>(end - buffer.digits)};
}

// The iostream default: "%g" with six significant digits, independent of the C locale. A float
// or double is written as itself: the same digits, without the detour through printf that
// to_chars takes for long double (the status documents hold a dozen of them).
template <class Real> std::string_view real(FormatValue::Buffer& buffer, Real value) {
    auto end = std::to_chars(std::begin(buffer.digits),
                             std::end(buffer.digits),
                             value,
                             std::chars_format::general,
                             6)
                   .ptr;
    return {buffer.digits, static_cast<std::size_t>(end - buffer.digits)};
}

std::string_view pointer(FormatValue::Buffer& buffer, const void* value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    auto bits = reinterpret_cast<std::uintptr_t>(value);
    buffer.digits[0] = '0';
    buffer.digits[1] = 'x';
    for (int i = 17; i >= 2; --i) {
        buffer.digits[i] = kDigits[bits & 0xF];
        bits >>= 4;
    }
    return {buffer.digits, 18};
}

// Walks the pattern once, handing every piece of the result to `emit` in order.
template <class Argument, class Emit>
void expand(std::string_view pattern, std::span<const Argument> arguments, Emit&& emit) {
    std::size_t literalStart = 0;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] != '%') {
            ++i;
            continue;
        }
        emit(pattern.substr(literalStart, i - literalStart));
        ++i;
        if (i < pattern.size() && pattern[i] == '%') {
            emit(std::string_view("%"));
            ++i;
        } else if (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') {
            std::size_t number = 0;
            while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9' && number <= 99) {
                number = number * 10 + static_cast<std::size_t>(pattern[i] - '0');
                ++i;
            }
            if (number >= 1 && number <= arguments.size()) {
                emit(std::string_view(arguments[number - 1]));
            }
        } else {
            // A stray "%" stays; the character after it is read as ordinary pattern text.
            emit(std::string_view("%"));
        }
        literalStart = i;
    }
    emit(pattern.substr(literalStart));
}

template <class Argument>
std::string expandOnce(std::string_view pattern, std::span<const Argument> arguments) {
    std::size_t length = 0;
    expand(pattern, arguments, [&](std::string_view piece) { length += piece.size(); });
    std::string result(length, '\0');
    char* out = result.data();
    expand(pattern, arguments, [&](std::string_view piece) {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    });
    return result;
}

} // namespace

std::string_view FormatValue::text(Buffer& buffer) const {
    switch (kind_) {
    case Kind::None:
        return "<UNSPECIFIED>";
    case Kind::Pointer:
    case Kind::ConstPointer:
        return pointer(buffer, pointer_);
    case Kind::Bool:
        return unsigned_ != 0 ? "true" : "false";
    case Kind::Int8:
    case Kind::Int16:
    case Kind::Int:
    case Kind::Long:
    case Kind::Int64:
        return decimal(buffer, signed_);
    case Kind::UInt8:
    case Kind::UInt16:
    case Kind::UInt:
    case Kind::ULong:
    case Kind::UInt64:
        return decimal(buffer, unsigned_);
    case Kind::Float:
    case Kind::Double:
        return real(buffer, static_cast<double>(real_));
    case Kind::LongDouble:
        return real(buffer, real_);
    case Kind::TextPointer:
        return pointer_ == nullptr ? "<NULL>" : static_cast<const char*>(pointer_);
    case Kind::Utf16Pointer:
        if (pointer_ == nullptr) {
            return "<NULL>";
        }
        buffer.converted = toUtf8(static_cast<const char16_t*>(pointer_));
        return buffer.converted;
    case Kind::Text:
        return text_;
    case Kind::Utf16Text:
        buffer.converted = toUtf8(utf16_);
        return buffer.converted;
    case Kind::Message:
        buffer.converted = messageCatalog().text(MessageId{static_cast<std::uint32_t>(unsigned_)});
        return buffer.converted;
    }
    return {};
}

std::string FormatValue::text() const {
    Buffer buffer;
    return std::string(text(buffer));
}

std::string format(std::string_view pattern, std::span<const std::string_view> arguments) {
    return expandOnce(pattern, arguments);
}

std::string format(std::string_view pattern, const std::vector<std::string>& arguments) {
    return expandOnce(pattern, std::span<const std::string>(arguments));
}

std::string formatPrintf(const char* pattern, ...) {
    char buffer[4096];
    va_list values;
    va_start(values, pattern);
    int length = std::vsnprintf(buffer, sizeof buffer, pattern, values);
    va_end(values);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

} // namespace tnw::util
