// Work split by rows over a few threads. The rows [0, n) are cut into chunks
// of `grain` rows, which `workers` threads (the calling thread among them)
// take in order. Every row is computed by the same code whichever thread
// takes it, so a result never depends on the worker count. Between two
// chunks the calling thread calls `poll()`; when it returns false, no new
// chunk is started anywhere, the chunks under way finish, and the call
// returns false.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>

namespace mivo::collections {

// The largest worker count a call uses; more threads than this only wait.
inline constexpr unsigned kMaxWorkers = 256;

// The processor's hardware threads (at least 1).
unsigned hardware_workers();

// A requested worker count as the module functions take it: -1 for every
// hardware thread, otherwise 1 to kMaxWorkers (larger counts are capped).
// Returns 0 for a count that means nothing (0, or below -1).
unsigned resolve_workers(long long requested);

// Runs body(begin, end) over the chunks of [0, n). Returns false when
// poll() stopped the work. If a thread cannot be started the others take
// its chunks. `body` must not throw.
bool for_each_chunk(std::size_t n, std::size_t grain, unsigned workers,
                    const std::function<void(std::size_t, std::size_t)>& body, const std::function<bool()>& poll);

// A grain that gives each worker several chunks (so that a slow chunk does
// not hold the others back) and keeps every chunk at or below `max_grain`
// rows (so that the calling thread polls often enough).
inline std::size_t grain_for(std::size_t n, unsigned workers, std::size_t max_grain) {
    const std::size_t per_worker = n / (std::size_t{workers} * 4) + 1;
    return std::max<std::size_t>(1, std::min(per_worker, max_grain));
}

}  // namespace mivo::collections
