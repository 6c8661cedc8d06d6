#include "collections/workers.hpp"

#include <thread>
#include <vector>

namespace mivo::collections {

unsigned hardware_workers() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : std::min(n, kMaxWorkers);
}

unsigned resolve_workers(long long requested) {
    if (requested == -1) return hardware_workers();
    if (requested < 1) return 0;
    return requested > kMaxWorkers ? kMaxWorkers : static_cast<unsigned>(requested);
}

bool for_each_chunk(std::size_t n, std::size_t grain, unsigned workers,
                    const std::function<void(std::size_t, std::size_t)>& body, const std::function<bool()>& poll) {
    if (n == 0) return true;
    grain = std::max<std::size_t>(grain, 1);
    const std::size_t chunks = (n + grain - 1) / grain;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    auto take = [&](bool caller) {
        for (;;) {
            if (stop.load(std::memory_order_relaxed)) return;
            const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
            if (c >= chunks) return;
            const std::size_t begin = c * grain;
            body(begin, std::min(n, begin + grain));
            if (caller && !poll()) stop.store(true, std::memory_order_relaxed);
        }
    };

    std::vector<std::thread> threads;
    const std::size_t extra = std::min<std::size_t>(workers > 0 ? workers - 1 : 0, chunks - 1);
    try {
        threads.reserve(extra);
        for (std::size_t t = 0; t < extra; ++t) threads.emplace_back(take, false);
    } catch (...) {
        // Fewer threads than asked for: the ones running (and this one)
        // take every chunk.
    }
    take(true);
    for (std::thread& t : threads) t.join();
    return !stop.load();
}

}  // namespace mivo::collections
