// A reader-writer lock that lets a waiting writer in before any reader that
// comes after it: searches that keep overlapping one another cannot hold an
// add off for ever (the system's reader-writer lock may prefer readers).
// Usable with std::shared_lock and std::unique_lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace mivo::collections {

class WriterFirstLock {
public:
    void lock_shared() {
        std::unique_lock<std::mutex> l(m_);
        changed_.wait(l, [&] { return !writing_ && waiting_writers_ == 0; });
        ++readers_;
    }
    bool try_lock_shared() {
        std::lock_guard<std::mutex> l(m_);
        if (writing_ || waiting_writers_ > 0) return false;
        ++readers_;
        return true;
    }
    void unlock_shared() {
        std::lock_guard<std::mutex> l(m_);
        if (--readers_ == 0) changed_.notify_all();
    }

    void lock() {
        std::unique_lock<std::mutex> l(m_);
        ++waiting_writers_;
        changed_.wait(l, [&] { return !writing_ && readers_ == 0; });
        --waiting_writers_;
        writing_ = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> l(m_);
        if (writing_ || readers_ > 0) return false;
        writing_ = true;
        return true;
    }
    void unlock() {
        std::lock_guard<std::mutex> l(m_);
        writing_ = false;
        changed_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable changed_;
    std::size_t readers_ = 0, waiting_writers_ = 0;
    bool writing_ = false;
};

}  // namespace mivo::collections
