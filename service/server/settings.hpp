// The process-wide options. Filled once from the command line before anything else runs and
// read afterwards by every thread without locking.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace plexmill::server {

// An allowed period of the day as HHMM numbers, both ends included.
struct TimeInterval {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

struct Settings {
    bool verbose = false;
    bool debug = false;
    bool quiet = false;
    bool color = false;
    bool keep = false;
    bool x86 = false;
    bool http = false;
    bool noverify = false;
    bool nocache = false;
    bool cloud = false;

    std::uint64_t sessionTimeout = 172'800'000'000ULL; // microseconds (48 hours)
    std::uint64_t maximumDataSize = 4'294'967'296ULL;  // bytes (4 GiB)
    std::uint32_t maximumSessionsLimit = 40;
    double ratingOverride = -1.0; // negative: measure the rating

    std::string fixedKernel;
    std::vector<std::string> includePaths;
    std::string lookupFile;
    std::string description;
    std::vector<TimeInterval> allowedTimes;
    std::set<std::uint32_t> allowedClients; // IPv4 addresses in host order
    // Lower-cased host name -> display text, loaded from the lookup file at server start.
    std::map<std::string, std::string> nameLookup;
};

Settings& settings();

// True when no allow list is set or it holds the address.
bool isAllowedClient(const Settings& settings, std::uint32_t address);
bool isAllowedClient(std::uint32_t address);

// True when no allowed times are set or `hhmm` (hour * 100 + minute) lies in an interval; an
// interval whose start is after its end holds no time.
bool isWithinAllowedTimes(const Settings& settings, std::uint32_t hhmm);
// The same for the current local time of day.
bool isWithinAllowedTimes();

// The display text the lookup table gives a host name (or description), else the name.
std::string lookupDisplayName(const Settings& settings, const std::string& name);
std::string lookupDisplayName(const std::string& name);

// Parses the name lookup file: "NAME ; DISPLAY" lines, "#" comments. A later line with the
// same NAME replaces an earlier one.
void parseNameLookup(const std::string& text, std::map<std::string, std::string>& table);

} // namespace plexmill::server
