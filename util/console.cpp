#include "util/console.hpp"

#include "util/event_log.hpp"
#include "util/format.hpp"
#include "util/time.hpp"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace tnw::util {

namespace {

struct SharedOptions {
    std::atomic<bool> serviceMode{false};
    std::atomic<bool> color{false};
    std::atomic<bool> verbose{false};
    std::atomic<bool> debug{false};
    std::atomic<bool> quiet{false};
};

SharedOptions sharedOptions;

// Serialises the console writers so the status line length matches what the terminal shows.
std::mutex consoleMutex;
std::size_t statusLength = 0; // in characters; guarded by consoleMutex

const char* ansiSequence(ConsoleColour colour) {
    switch (colour) {
    case ConsoleColour::Information:
        return "\x1b[94m";
    case ConsoleColour::Settings:
        return "\x1b[92m";
    case ConsoleColour::Error:
        return "\x1b[91m";
    case ConsoleColour::Debug:
        return "\x1b[93m";
    case ConsoleColour::Normal:
        break;
    }
    return "\x1b[0m";
}

std::FILE* fileOf(ConsoleStream stream) {
    return stream == ConsoleStream::Output ? stdout : stderr;
}

// Write failures are ignored: the console may be gone, and there is nowhere to report it.
void emit(std::FILE* file, std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
}

// UTF-8 characters, which is what the terminal advances by for the texts shown here.
std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

// The bytes that show `text` as the status line over the current one; records its length.
// Caller holds consoleMutex.
std::string statusBytes(std::string_view text) {
    std::size_t length = characterCount(text);
    std::string out(text);
    if (statusLength > length) {
        out.append(statusLength - length, ' ');
    }
    out.push_back('\r');
    statusLength = length;
    return out;
}

// Caller holds consoleMutex.
std::string takeStatusErase() {
    return statusLength == 0 ? std::string() : statusBytes({});
}

std::string prefixAt(std::string_view marker) {
    TimeFields now = Time::now().toLocal().fields();
    std::string prefix = formatPrintf("[%u:%02u:%02u", now.hour, now.minute, now.second);
    if (!marker.empty()) {
        prefix.push_back('/');
        prefix.append(marker);
    }
    prefix += "] ";
    return prefix;
}

std::string sessionMarker(std::uint32_t session) {
    return format("%1", session);
}

void writeConsoleLine(ConsoleStream stream,
                      ConsoleColour colour,
                      std::string_view prefix,
                      std::string_view text) {
    bool colourOn = sharedOptions.color.load();
    std::lock_guard lock(consoleMutex);
    std::string line = takeStatusErase();
    if (stream != ConsoleStream::Output && !line.empty()) {
        emit(stdout, line);
        line.clear();
    }
    if (colourOn) {
        line += ansiSequence(colour);
    }
    line += prefix;
    line += text;
    line.push_back('\n');
    if (colourOn) {
        line += ansiSequence(ConsoleColour::Normal);
    }
    emit(fileOf(stream), line);
}

} // namespace

OutputOptions outputOptions() {
    OutputOptions options;
    options.serviceMode = sharedOptions.serviceMode.load();
    options.color = sharedOptions.color.load();
    options.verbose = sharedOptions.verbose.load();
    options.debug = sharedOptions.debug.load();
    options.quiet = sharedOptions.quiet.load();
    return options;
}

void setOutputOptions(const OutputOptions& options) {
    sharedOptions.serviceMode.store(options.serviceMode);
    sharedOptions.color.store(options.color);
    sharedOptions.verbose.store(options.verbose);
    sharedOptions.debug.store(options.debug);
    sharedOptions.quiet.store(options.quiet);
}

std::string messagePrefix() {
    return prefixAt("*");
}

std::string sessionPrefix(std::uint32_t session) {
    return prefixAt(sessionMarker(session));
}

void printInfo(std::string_view text) {
    if (sharedOptions.serviceMode.load()) {
        reportEvent(EventType::Information, text);
        return;
    }
    writeConsoleLine(ConsoleStream::Output, ConsoleColour::Information, messagePrefix(), text);
}

void printError(std::string_view text) {
    if (sharedOptions.serviceMode.load()) {
        reportEvent(EventType::Error, text);
        return;
    }
    std::string prefix = messagePrefix() + "Error: ";
    writeConsoleLine(ConsoleStream::Error, ConsoleColour::Error, prefix, text);
}

void printSessionInfo(std::uint32_t session, std::string_view text) {
    if (sharedOptions.serviceMode.load()) {
        std::string marker = session == 0 ? std::string() : sessionMarker(session);
        reportEvent(EventType::Information, prefixAt(marker).append(text));
        return;
    }
    writeConsoleLine(
        ConsoleStream::Output, ConsoleColour::Information, sessionPrefix(session), text);
}

void printSessionError(std::uint32_t session, std::string_view text) {
    if (sharedOptions.serviceMode.load()) {
        std::string marker = session == 0 ? std::string() : sessionMarker(session);
        reportEvent(EventType::Error, prefixAt(marker).append(text));
        return;
    }
    std::string prefix = sessionPrefix(session) + "Error: ";
    writeConsoleLine(ConsoleStream::Error, ConsoleColour::Error, prefix, text);
}

void printLine(ConsoleStream stream, ConsoleColour colour, std::string_view text) {
    if (sharedOptions.serviceMode.load()) {
        return;
    }
    writeConsoleLine(stream, colour, {}, text);
}

void printStatus(std::string_view text) {
    if (sharedOptions.serviceMode.load()) {
        return;
    }
    std::lock_guard lock(consoleMutex);
    emit(stdout, statusBytes(text));
}

void eraseStatusLine() {
    std::lock_guard lock(consoleMutex);
    std::string erase = takeStatusErase();
    if (!erase.empty()) {
        emit(stdout, erase);
    }
}

void resetColour() {
    if (sharedOptions.color.load() && !sharedOptions.serviceMode.load()) {
        std::lock_guard lock(consoleMutex);
        emit(stdout, ansiSequence(ConsoleColour::Normal));
    }
}

} // namespace tnw::util
