#include "util/text.hpp"

#include <cstdint>

namespace tnw::util {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void appendCodePoint(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
        return;
    }
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// The sequence length a lead byte announces and the range its first continuation byte must
// fall in; the narrow ranges exclude overlong forms, surrogates and values above U+10FFFF.
struct Lead {
    int length;
    std::uint8_t low;
    std::uint8_t high;
};

Lead classify(std::uint8_t byte) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        return {2, 0x80, 0xBF};
    }
    if (byte == 0xE0) {
        return {3, 0xA0, 0xBF};
    }
    if (byte == 0xED) {
        return {3, 0x80, 0x9F};
    }
    if (byte >= 0xE1 && byte <= 0xEF) {
        return {3, 0x80, 0xBF};
    }
    if (byte == 0xF0) {
        return {4, 0x90, 0xBF};
    }
    if (byte >= 0xF1 && byte <= 0xF3) {
        return {4, 0x80, 0xBF};
    }
    if (byte == 0xF4) {
        return {4, 0x80, 0x8F};
    }
    return {0, 0, 0};
}

} // namespace

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto byte = static_cast<std::uint8_t>(utf8[i]);
        if (byte < 0x80) {
            out.push_back(byte);
            ++i;
            continue;
        }
        Lead lead = classify(byte);
        if (lead.length == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        char32_t code = byte & (0x7F >> lead.length);
        std::size_t next = i + 1;
        int taken = 1;
        for (; taken < lead.length && next < utf8.size(); ++taken, ++next) {
            auto continuation = static_cast<std::uint8_t>(utf8[next]);
            std::uint8_t low = taken == 1 ? lead.low : 0x80;
            std::uint8_t high = taken == 1 ? lead.high : 0xBF;
            if (continuation < low || continuation > high) {
                break;
            }
            code = (code << 6) | (continuation & 0x3F);
        }
        if (taken == lead.length) {
            appendCodePoint(out, code);
        } else {
            out.push_back(kReplacement);
        }
        i = next;
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string asciiToUtf16(std::string_view ascii) {
    std::u16string out(ascii.size(), u'\0');
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        auto byte = static_cast<std::uint8_t>(ascii[i]);
        out[i] = byte < 0x80 ? byte : 0;
    }
    return out;
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace tnw::util
