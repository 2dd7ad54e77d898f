#include "util/name_resolver.hpp"

#include "util/name_resolution.hpp"
#include "util/sync.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace tnw::util {

struct NameResolver::Storage {
    using Clock = std::chrono::steady_clock;

    std::mutex mutex;
    std::map<std::string, std::uint32_t> addresses; // guarded by mutex
    std::map<std::uint32_t, std::string> names;     // guarded by mutex
    Lookups lookups;                                // guarded by mutex
    std::atomic<std::uint32_t> timeout{kDefaultTimeout};
    // lookupNames: address -> end of the first wait for it, while its lookup runs.
    std::map<std::uint32_t, Clock::time_point> namesUnderWay; // guarded by mutex
    // lookupNames: address -> until when a lookup that found nothing is not repeated.
    std::map<std::uint32_t, Clock::time_point> unnamedUntil; // guarded by mutex
    std::condition_variable nameFound;                       // a lookupNames lookup ended
};

// One lookup, shared by the caller and the resolver thread, which may outlive the caller's
// wait: whoever lets go last frees it.
struct NameResolver::Context {
    Context(bool reverse, std::uint32_t address, std::string name, Lookups lookups)
        : reverse(reverse), lookups(std::move(lookups)), address(address), name(std::move(name)) {}

    void run() {
        // The question is written before the thread starts and not touched until done.
        std::uint32_t foundAddress = address;
        std::string foundName = name;
        try {
            if (reverse) {
                foundName = lookups.hostName(address);
            } else {
                foundAddress = lookups.resolve(name);
            }
        } catch (...) {
            // A lookup that fails this way has found nothing; the question stands as answer.
        }
        std::lock_guard lock(mutex);
        address = foundAddress;
        name = std::move(foundName);
        done = true;
        finished.notify_all();
    }

    const bool reverse;
    const Lookups lookups;
    std::mutex mutex;
    std::condition_variable finished;
    std::uint32_t address; // guarded by mutex once the lookup runs
    std::string name;      // guarded by mutex once the lookup runs
    bool done = false;     // guarded by mutex
};

NameResolver::Storage& NameResolver::storage() {
    // Never destroyed: lookups may still be asked for while the process exits.
    static auto* storage = [] {
        auto* created = new Storage;
        created->lookups = {&util::hostName, &util::resolve};
        return created;
    }();
    return *storage;
}

std::optional<std::pair<std::string, std::uint32_t>>
NameResolver::lookUp(bool reverse, std::uint32_t address, std::string name) {
    Storage& cache = storage();
    Lookups lookups;
    {
        std::lock_guard lock(cache.mutex);
        lookups = cache.lookups;
    }
    auto context = std::make_shared<Context>(reverse, address, std::move(name), std::move(lookups));
    std::uint32_t timeout = cache.timeout.load();
    if (timeout == 0) {
        context->run();
    } else {
        try {
            std::thread([context] {
                ::pthread_setname_np(::pthread_self(), "NameResolver");
                context->run();
            }).detach();
        } catch (const std::system_error&) {
            return std::nullopt; // no thread to spare: as if the lookup had taken too long
        }
    }
    std::unique_lock lock(context->mutex);
    auto done = [&context] { return context->done; };
    if (timeout == kInfinite) {
        context->finished.wait(lock, done);
    } else if (!context->finished.wait_for(
                   lock, std::chrono::milliseconds(roundUpToMilliseconds(timeout)), done)) {
        return std::nullopt;
    }
    return std::pair{context->name, context->address};
}

std::string NameResolver::lookupName(std::uint32_t address) {
    Storage& cache = storage();
    {
        std::lock_guard lock(cache.mutex);
        if (auto hit = cache.names.find(address); hit != cache.names.end()) {
            return hit->second;
        }
    }
    auto answer = lookUp(true, address, {});
    if (!answer) {
        return {};
    }
    add(answer->first, address);
    return answer->first;
}

std::uint32_t NameResolver::lookupAddress(const std::string& name) {
    Storage& cache = storage();
    {
        std::lock_guard lock(cache.mutex);
        if (auto hit = cache.addresses.find(name); hit != cache.addresses.end()) {
            return hit->second;
        }
    }
    if (auto parsed = parseAddress(name)) {
        return *parsed;
    }
    auto answer = lookUp(false, 0, name);
    if (!answer) {
        return 0;
    }
    add(name, answer->second);
    return answer->second;
}

void NameResolver::add(const std::string& name, std::uint32_t address) {
    // A failed lookup is not an answer: storing it would hide the host for good.
    if (name.empty() || address == 0) {
        return;
    }
    Storage& cache = storage();
    std::lock_guard lock(cache.mutex);
    cache.addresses[name] = address;
    cache.names[address] = name;
}

void NameResolver::lookupNames(const std::vector<std::uint32_t>& addresses) {
    using Clock = Storage::Clock;
    Storage& cache = storage();
    std::uint32_t timeout = cache.timeout.load();
    if (timeout == 0) {
        for (std::uint32_t address : addresses) {
            lookupName(address);
        }
        return;
    }
    std::unique_lock lock(cache.mutex);
    Clock::time_point now = Clock::now();
    std::erase_if(cache.unnamedUntil, [now](const auto& unnamed) { return unnamed.second <= now; });
    Clock::time_point waitUntil = now;
    std::vector<std::uint32_t> waitingFor;
    for (std::uint32_t address : addresses) {
        if (address == 0 || cache.names.contains(address) || cache.unnamedUntil.contains(address)) {
            continue;
        }
        auto underWay = cache.namesUnderWay.find(address);
        if (underWay == cache.namesUnderWay.end()) {
            try {
                std::thread([address, hostName = cache.lookups.hostName] {
                    ::pthread_setname_np(::pthread_self(), "NameResolver");
                    std::string name;
                    try {
                        name = hostName(address);
                    } catch (...) {
                        // Nothing found; remembered as such below.
                    }
                    Storage& found = storage();
                    {
                        std::lock_guard lock(found.mutex);
                        found.namesUnderWay.erase(address);
                        if (name.empty()) {
                            found.unnamedUntil[address] =
                                Clock::now() + std::chrono::microseconds(kUnnamedMemory);
                        } else {
                            found.addresses[name] = address;
                            found.names[address] = name;
                        }
                    }
                    found.nameFound.notify_all();
                }).detach();
            } catch (const std::system_error&) {
                continue; // no thread to spare: as if the lookup had taken too long
            }
            underWay =
                cache.namesUnderWay.emplace(address, now + std::chrono::microseconds(timeout))
                    .first;
        }
        waitUntil = std::max(waitUntil, underWay->second);
        waitingFor.push_back(address);
    }
    cache.nameFound.wait_until(lock, waitUntil, [&cache, &waitingFor] {
        return std::none_of(waitingFor.begin(), waitingFor.end(), [&cache](std::uint32_t address) {
            return cache.namesUnderWay.contains(address);
        });
    });
}

std::optional<std::string> NameResolver::knownName(std::uint32_t address) {
    Storage& cache = storage();
    std::lock_guard lock(cache.mutex);
    if (auto hit = cache.names.find(address); hit != cache.names.end()) {
        return hit->second;
    }
    return std::nullopt;
}

void NameResolver::setTimeout(std::uint32_t microseconds) {
    storage().timeout = microseconds;
}

std::uint32_t NameResolver::timeout() {
    return storage().timeout;
}

void NameResolver::setLookups(Lookups lookups) {
    if (!lookups.hostName) {
        lookups.hostName = &util::hostName;
    }
    if (!lookups.resolve) {
        lookups.resolve = &util::resolve;
    }
    Storage& cache = storage();
    std::lock_guard lock(cache.mutex);
    cache.lookups = std::move(lookups);
}

} // namespace tnw::util
