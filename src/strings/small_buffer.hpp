// Working storage of the string metrics: short inputs stay on the stack,
// longer ones fall back to one heap block.
#pragma once

#include <cstddef>
#include <memory>

#include "strings/utf8.hpp"

namespace mivo::strings {

template <class T, std::size_t N>
class SmallBuffer {
public:
    explicit SmallBuffer(std::size_t n) {
        if (n > N) {
            heap_.reset(new T[n]);  // left uninitialised for trivial T: written before read
            data_ = heap_.get();
        } else {
            data_ = stack_;
        }
    }
    SmallBuffer(const SmallBuffer&) = delete;
    SmallBuffer& operator=(const SmallBuffer&) = delete;
    T* data() { return data_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    T stack_[N];
    std::unique_ptr<T[]> heap_;
    T* data_;
};

// A string decoded into scalar values, on the stack when short.
template <std::size_t N = 128>
class Decoded {
public:
    explicit Decoded(std::string_view s) : buf_(s.size()), size_(decode_to(s, buf_.data())) {}
    const char32_t* data() { return buf_.data(); }
    std::size_t size() const { return size_; }

private:
    SmallBuffer<char32_t, N> buf_;
    std::size_t size_;
};

}  // namespace mivo::strings
