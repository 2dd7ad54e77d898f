#include "util/json.hpp"

#include "util/exception.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tnw::util {

namespace {

constexpr int kDeepestNesting = 512;

const JsonValue& nullValue() {
    static const JsonValue none;
    return none;
}

void appendUtf8(std::string& into, std::uint32_t code) {
    if (code < 0x80) {
        into += static_cast<char>(code);
    } else if (code < 0x800) {
        into += static_cast<char>(0xC0 | (code >> 6));
        into += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        into += static_cast<char>(0xE0 | (code >> 12));
        into += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        into += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        into += static_cast<char>(0xF0 | (code >> 18));
        into += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        into += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        into += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

class JsonParser {
public:
    explicit JsonParser(std::string_view text) : text_(text) {}

    JsonValue document() {
        JsonValue value = parseValue(0);
        skipSpace();
        if (at_ != text_.size()) {
            fail("end of document");
        }
        return value;
    }

private:
    [[noreturn]] void fail(const char* expected) const {
        ParseException failure;
        failure.text = std::string(text_);
        failure.expected = expected;
        failure.found = at_ < text_.size() ? std::string(1, text_[at_]) : std::string("end");
        failure.line = 1;
        failure.column = 1;
        for (std::size_t index = 0; index < at_ && index < text_.size(); ++index) {
            if (text_[index] == '\n') {
                ++failure.line;
                failure.column = 1;
            } else {
                ++failure.column;
            }
        }
        raise(failure);
    }

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool take(char expected) {
        if (at_ < text_.size() && text_[at_] == expected) {
            ++at_;
            return true;
        }
        return false;
    }

    void expectWord(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            fail("a value");
        }
        at_ += word.size();
    }

    JsonValue parseValue(int depth) {
        if (depth > kDeepestNesting) {
            fail("less nesting");
        }
        skipSpace();
        JsonValue value;
        if (at_ >= text_.size()) {
            fail("a value");
        }
        char first = text_[at_];
        if (first == '{') {
            ++at_;
            value.type_ = JsonValue::Type::Object;
            skipSpace();
            if (take('}')) {
                return value;
            }
            do {
                skipSpace();
                if (at_ >= text_.size() || text_[at_] != '"') {
                    fail("a member name");
                }
                std::string name = parseString();
                skipSpace();
                if (!take(':')) {
                    fail("':'");
                }
                value.object_[name] = parseValue(depth + 1);
                skipSpace();
            } while (take(','));
            if (!take('}')) {
                fail("'}'");
            }
        } else if (first == '[') {
            ++at_;
            value.type_ = JsonValue::Type::Array;
            skipSpace();
            if (take(']')) {
                return value;
            }
            do {
                value.array_.push_back(parseValue(depth + 1));
                skipSpace();
            } while (take(','));
            if (!take(']')) {
                fail("']'");
            }
        } else if (first == '"') {
            value.type_ = JsonValue::Type::String;
            value.string_ = parseString();
        } else if (first == 't') {
            expectWord("true");
            value.type_ = JsonValue::Type::Boolean;
            value.boolean_ = true;
        } else if (first == 'f') {
            expectWord("false");
            value.type_ = JsonValue::Type::Boolean;
        } else if (first == 'n') {
            expectWord("null");
        } else {
            value.type_ = JsonValue::Type::Number;
            value.number_ = parseNumber();
        }
        return value;
    }

    double parseNumber() {
        std::size_t start = at_;
        take('-');
        if (take('0')) {
        } else if (at_ < text_.size() && text_[at_] >= '1' && text_[at_] <= '9') {
            skipDigits();
        } else {
            fail("a value");
        }
        if (take('.')) {
            if (!skipDigits()) {
                fail("a digit");
            }
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            if (!skipDigits()) {
                fail("a digit");
            }
        }
        double number = 0;
        auto [end, error] = std::from_chars(text_.data() + start, text_.data() + at_, number);
        if (error != std::errc() || end != text_.data() + at_ || !std::isfinite(number)) {
            at_ = start;
            fail("a finite number");
        }
        return number;
    }

    bool skipDigits() {
        std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        return at_ > start;
    }

    std::uint32_t parseHex4() {
        if (at_ + 4 > text_.size()) {
            fail("four hexadecimal digits");
        }
        std::uint32_t code = 0;
        auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
        if (error != std::errc() || end != text_.data() + at_ + 4) {
            fail("four hexadecimal digits");
        }
        at_ += 4;
        return code;
    }

    std::string parseString() {
        ++at_; // the opening quote
        std::string text;
        for (;;) {
            if (at_ >= text_.size()) {
                fail("'\"'");
            }
            char next = text_[at_++];
            if (next == '"') {
                return text;
            }
            if (static_cast<unsigned char>(next) < 0x20) {
                --at_;
                fail("an escaped control character");
            }
            if (next != '\\') {
                text += next;
                continue;
            }
            if (at_ >= text_.size()) {
                fail("an escape");
            }
            char escape = text_[at_++];
            switch (escape) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case '/':
                text += '/';
                break;
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u': {
                std::uint32_t code = parseHex4();
                if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
                    at_ += 2;
                    std::uint32_t low = parseHex4();
                    if (low < 0xDC00 || low >= 0xE000) {
                        fail("a low surrogate");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code < 0xE000) {
                    fail("a surrogate pair");
                }
                appendUtf8(text, code);
                break;
            }
            default:
                --at_;
                fail("an escape");
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

JsonValue JsonValue::parse(std::string_view text) {
    return JsonParser(text).document();
}

std::optional<double> JsonValue::number() const {
    if (type_ != Type::Number) {
        return std::nullopt;
    }
    return number_;
}

std::optional<std::int64_t> JsonValue::integer() const {
    // 2^63 is the first double that no longer fits.
    if (type_ != Type::Number || std::trunc(number_) != number_ ||
        number_ < -9.2233720368547758e18 || number_ >= 9.2233720368547758e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(number_);
}

const std::string& JsonValue::string() const {
    static const std::string empty;
    return type_ == Type::String ? string_ : empty;
}

const std::vector<JsonValue>& JsonValue::array() const {
    static const std::vector<JsonValue> empty;
    return type_ == Type::Array ? array_ : empty;
}

const std::map<std::string, JsonValue>& JsonValue::object() const {
    static const std::map<std::string, JsonValue> empty;
    return type_ == Type::Object ? object_ : empty;
}

const JsonValue& JsonValue::operator[](const std::string& name) const {
    if (type_ != Type::Object) {
        return nullValue();
    }
    auto found = object_.find(name);
    return found == object_.end() ? nullValue() : found->second;
}

bool JsonValue::has(const std::string& name) const {
    return type_ == Type::Object && object_.count(name) != 0;
}

std::string jsonQuote(std::string_view text) {
    std::string quoted = "\"";
    for (char character : text) {
        auto byte = static_cast<unsigned char>(character);
        if (character == '"' || character == '\\') {
            quoted += '\\';
            quoted += character;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += character;
        }
    }
    quoted += '"';
    return quoted;
}

} // namespace tnw::util
