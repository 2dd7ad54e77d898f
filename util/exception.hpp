// The failures of the library and of the programs. Every throw goes through raise(), so a
// caught exception always knows the name of its class.
#pragma once

#include <cstdint>
#include <string>
#include <typeinfo>

namespace tnw::util {

class Exception {
public:
    explicit Exception(std::string message = {}, std::uint32_t code = 0)
        : message_(std::move(message)), code_(code) {}
    virtual ~Exception() = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    const std::string& getMessage() const { return message_; }
    // The Windows error number of the failing call (see windows_error.hpp), 0 when none.
    std::uint32_t getCode() const { return code_; }
    // Fully qualified class name of the thrown object; null before it was raised.
    const char* className() const { return className_; }
    void setClassName(const char* name) { className_ = name; }

private:
    const char* className_ = nullptr;
    std::string message_;
    std::uint32_t code_;
};

class IOException : public Exception {
public:
    explicit IOException(std::string message) : Exception(std::move(message)) {}
    explicit IOException(std::uint32_t code) : Exception({}, code) {}
    IOException(std::string message, std::uint32_t code) : Exception(std::move(message), code) {}
};

class EndOfStreamException : public IOException {
public:
    EndOfStreamException() : IOException(std::string()) {}
};

class IOTimedOutException : public IOException {
public:
    explicit IOTimedOutException(std::uint32_t code) : IOException(code) {}
};

class MemoryException : public Exception {
public:
    explicit MemoryException(std::string message) : Exception(std::move(message)) {}
};

class NullPointerException : public MemoryException {
public:
    NullPointerException() : MemoryException(std::string()) {}
};

// The parsers of this system throw it without details; the fields exist for callers that
// want to report where a parse failed.
class ParseException : public Exception {
public:
    ParseException() = default;
    std::uint32_t number = 0;
    std::string text;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::string expected;
    std::string found;
};

// Demangled name of a type, computed once per type.
const char* demangledName(const std::type_info& type);

template <class E>
[[noreturn]] void raise(const E& exception) {
    E copy(exception);
    copy.setClassName(demangledName(typeid(copy)));
    throw copy;
}

} // namespace tnw::util
