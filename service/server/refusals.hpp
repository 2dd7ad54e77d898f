// Why a server refuses new work right now. Admission gives clients one bit (ACCEPTING:YES/NO);
// operators asking "why does nobody take my job?" need the conditions behind it, each named the
// same way in the status documents, the metrics and the --status output.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace plexmill::server {

class Manager;

enum class Refusal : std::uint8_t {
    Paused,       // the service is paused
    SessionLimit, // as many job sessions as the limit allows
    CpuUsage,     // processor usage above 75 %
    Memory,       // available memory below the minimum
    AllowedTimes, // outside the allowed times of day
    AllowList,    // the asking client's address is not on the allow list
};

struct RefusalName {
    Refusal refusal;
    std::string_view key;  // status.json and metrics label value
    std::string_view text; // pages and console
};

// Every refusal in the order admission tests them, the allow list last.
const std::array<RefusalName, 6>& refusalNames();

class Refusals {
public:
    void add(Refusal refusal) { bits_ |= bit(refusal); }
    bool has(Refusal refusal) const { return (bits_ & bit(refusal)) != 0; }
    bool empty() const { return bits_ == 0; }

private:
    static std::uint32_t bit(Refusal refusal) { return 1U << static_cast<unsigned>(refusal); }
    std::uint32_t bits_ = 0;
};

// All server-wide conditions that hold now; the server accepts work when none does.
Refusals currentRefusals(const Manager& manager);
// `server` (currentRefusals) plus the allow list for a client at `client` (IPv4, host order)
// when one is given.
Refusals refusalsFor(Refusals server, std::optional<std::uint32_t> client);

} // namespace plexmill::server
