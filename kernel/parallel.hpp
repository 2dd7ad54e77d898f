// Work spread over threads: items are handed out one at a time from a shared counter, so
// rows of very different cost still keep every thread busy. Each thread makes its own
// state once (for drop-cutter queries, the scratch that keeps queries from allocating).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace plexmill::kernel {

template <typename MakeState, typename Work>
void parallelFor(std::size_t count, unsigned threads, MakeState makeState, Work work) {
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    auto worker = [&] {
        try {
            auto state = makeState();
            for (std::size_t i = next++; i < count; i = next++) {
                work(i, state);
            }
        } catch (...) {
            next = count; // the others stop at their next item
            std::lock_guard lock(failureLock);
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    unsigned helpers =
        std::min<std::size_t>(std::max(threads, 1u), std::max<std::size_t>(count, 1)) - 1;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (unsigned i = 0; i < helpers; ++i) {
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error&) {
            break; // fewer threads than asked for still finish the work
        }
    }
    worker();
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace plexmill::kernel
