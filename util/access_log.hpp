// The access log: "access.log" in the server's intermediate folder, one UTF-8 line per
// admitted or refused connection and per kernel signature decision. Process-wide.
#pragma once

#include "util/time.hpp"

#include <string>
#include <string_view>

namespace tnw::util {

class AccessLog {
public:
    // Opens or creates "access.log" in `folder` for appending. An access log already open stays
    // as it is. False when the file cannot be opened, or when something else than a plain file
    // (a link, a FIFO) has its name; the server then runs without one.
    static bool open(const std::string& folder);
    static void close();
    static bool isOpen();

    // Appends line(Time::now(), text) when the log is open; otherwise, and on write failure,
    // nothing happens.
    static void write(std::string_view text);

    // "hh:mm:ss.mmm TEXT\r\n" with the UTC time of day of `time`. Line breaks inside `text`
    // become blanks, so a peer-supplied name cannot forge a line of its own.
    static std::string line(Time time, std::string_view text);
};

} // namespace tnw::util
