// Host-name lookups with a process-wide cache and a bounded wait: a lookup that the system
// cannot answer within the time-out yields an empty answer now, so callers holding locks (the
// status page renders under the global lock) never wait on a slow name server for long.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tnw::util {

class NameResolver {
public:
    static constexpr std::uint32_t kDefaultTimeout = 2'000'000; // microseconds

    // The name of an address: from the cache, or looked up and cached when the lookup
    // finishes within the time-out; empty otherwise. An answer that comes later is dropped.
    static std::string lookupName(std::uint32_t address);
    // The address of a name, as lookupName; an address text ("10.0.0.5") that is not in the
    // cache is returned as its address at once. 0 when not found.
    static std::uint32_t lookupAddress(const std::string& name);
    // Stores both directions; an empty name or a zero address is not stored.
    static void add(const std::string& name, std::uint32_t address);

    // Looks the names of all these addresses up at once, and waits at most one time-out for
    // them together however many there are: a page that names many peers costs one bounded
    // wait, not one per peer. Unlike lookupName, an answer that comes after the wait is kept,
    // so that the next page shows it. A lookup still under way from an earlier call is not
    // started again, nor waited for past the end of its own first wait; an address whose
    // lookup found nothing is not asked again for kUnnamedMemory.
    static void lookupNames(const std::vector<std::uint32_t>& addresses);
    static constexpr std::uint32_t kUnnamedMemory = 60'000'000; // microseconds
    // The cached name of an address, without looking it up.
    static std::optional<std::string> knownName(std::uint32_t address);

    // Microseconds a lookup may take; 0 looks up on the calling thread without a bound.
    static void setTimeout(std::uint32_t microseconds);
    static std::uint32_t timeout();

    // The functions that do the lookups, hostName() and resolve() unless replaced (tests
    // replace them to control timing). Lookups in progress keep the functions they started
    // with. An empty member restores the system function.
    struct Lookups {
        std::function<std::string(std::uint32_t)> hostName;
        std::function<std::uint32_t(const std::string&)> resolve;
    };
    static void setLookups(Lookups lookups);

private:
    struct Storage;
    struct Context;
    static Storage& storage();
    // {name, address} once the lookup (reverse: of the address, else of the name) finished
    // within the time-out; nullopt otherwise.
    static std::optional<std::pair<std::string, std::uint32_t>>
    lookUp(bool reverse, std::uint32_t address, std::string name);
};

} // namespace tnw::util
