// What the program tells its operator: time-stamped information and error lines, session
// lines, a self-erasing status line, in colour with the color option; in service mode the
// same messages go to the system log instead (event_log.hpp) and nothing reaches the console.
//
// Each line is written with one call and followed by a flush. Writers take no lock of the
// caller's; lines of concurrent threads never mix within a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tnw::util {

// Process-wide, set from the command line and by the service entry before threads start.
// The printing callers decide with verbose, debug and quiet whether to print at all.
struct OutputOptions {
    bool serviceMode = false;
    bool color = false;
    bool verbose = false;
    bool debug = false;
    bool quiet = false;
};

OutputOptions outputOptions();
void setOutputOptions(const OutputOptions& options);

// Console colours by their Windows console numbers; written as ANSI sequences.
enum class ConsoleColour : std::uint8_t {
    Normal = 7,
    Information = 9, // bright blue
    Settings = 10,   // light green
    Error = 12,      // bright red
    Debug = 14,      // yellow
};

enum class ConsoleStream {
    Output,
    Error,
};

// "[9:05:03/*] ": local time, hours not padded.
std::string messagePrefix();
// "[9:05:03/12] " for session 12.
std::string sessionPrefix(std::uint32_t session);

// Service mode: an information entry of `text`. Console: prefix + text, bright blue.
void printInfo(std::string_view text);
// Service mode: an error entry of `text`. Console: prefix + "Error: " + text on standard
// error, bright red.
void printError(std::string_view text);
// As printInfo and printError with the session prefix; in service mode the entries carry the
// prefix too, without the "/N" part for session 0.
void printSessionInfo(std::uint32_t session, std::string_view text);
void printSessionError(std::uint32_t session, std::string_view text);

// One line as given (no prefix) in a colour, after erasing the status line: settings
// printouts, debug lines, red "Error: ..." lines of the administration commands. Nothing in
// service mode.
void printLine(ConsoleStream stream, ConsoleColour colour, std::string_view text);

// Shows `text` as the status line: the text, blanks over what is left of a longer previous
// status line, and a carriage return. Nothing in service mode.
void printStatus(std::string_view text);
// Blanks out a shown status line and returns to its start; nothing when none is shown.
void eraseStatusLine();
// Back to the normal colour on standard output, when colour is on and not in service mode.
void resetColour();

} // namespace tnw::util
