// Reading JSON documents that other programs print (nft -j), and quoting text for the JSON
// this program hands them back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tnw::util {

class JsonValue {
public:
    enum class Type { Null, Boolean, Number, String, Array, Object };

    JsonValue() = default;

    // The document in `text`; throws ParseException (with line and column) for anything that is
    // not exactly one JSON value with optional white space around it. Nesting deeper than 512
    // levels is refused rather than risking the stack.
    static JsonValue parse(std::string_view text);

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isString() const { return type_ == Type::String; }
    bool isNumber() const { return type_ == Type::Number; }
    bool isArray() const { return type_ == Type::Array; }
    bool isObject() const { return type_ == Type::Object; }

    // The value as that type; a value of another type reads as empty, false or nullopt, so a
    // caller walking a document it does not control needs no checks on every step.
    bool boolean() const { return type_ == Type::Boolean && boolean_; }
    std::optional<double> number() const;
    // The number when it is a whole number that fits.
    std::optional<std::int64_t> integer() const;
    const std::string& string() const;
    const std::vector<JsonValue>& array() const;
    const std::map<std::string, JsonValue>& object() const;

    // The member of an object; a null value when there is none.
    const JsonValue& operator[](const std::string& name) const;
    bool has(const std::string& name) const;

private:
    friend class JsonParser;
    Type type_ = Type::Null;
    bool boolean_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<JsonValue> array_;
    std::map<std::string, JsonValue> object_;
};

// `text` as a JSON string literal, quotes included; control characters escaped.
std::string jsonQuote(std::string_view text);

} // namespace tnw::util
