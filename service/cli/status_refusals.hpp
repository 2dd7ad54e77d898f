// The reasons a server refuses work, for `--status HOST`: read from the server's status port
// ("/json/status.json", key "refusals"), since the session replies are fixed byte for byte and
// a client outside the allow list gets no session at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plexmill::cli {

// The texts of the refusal keys in a status document, in its order; nothing when the document
// has no "refusals" array. Unknown keys are shown as they stand.
std::optional<std::vector<std::string>> refusalTexts(const std::string& statusJson);

// The body of GET /json/status.json from address:port (IPv4, host order), or nothing when
// the port does not answer with one within a few seconds.
std::optional<std::string> fetchStatusJson(std::uint32_t address, std::uint16_t port);

// Prints "Refusals: none" or "Refusals:" and one indented line per reason, for HOST (its
// session port, if given, is ignored: the status port is the one the registry names, 8080
// by default). Prints nothing when the status port does not answer.
void printRefusals(const std::string& host);

} // namespace plexmill::cli
