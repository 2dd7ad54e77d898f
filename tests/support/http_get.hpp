// One GET on a server's status port, as a tool that reads the JSON documents would make it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tnw::test {

using namespace std::chrono_literals;

// The body of the response to "GET path" (Content-Length bytes after the headers); empty when
// the port does not answer within the deadline.
std::string httpGet(const std::string& path,
                    std::uint16_t port = 8080,
                    const std::string& address = "127.0.0.1",
                    std::chrono::milliseconds deadline = 10s);

} // namespace tnw::test
