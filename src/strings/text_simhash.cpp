#include "strings/text_simhash.hpp"

#include <array>
#include <bit>
#include <string>

#include "strings/unicode.hpp"
#include "strings/utf8.hpp"

namespace mivo::strings {

namespace {

constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t kPrime = 0x100000001b3ull;

// Votes of the tokens on each bit. Counter b of the vote table is
// ones[b] - (tokens - ones[b]), where ones[b] counts the token hashes with
// bit b set. The counts are kept bit-sliced: plane p holds bit p of every
// bit position's pending count, so adding a hash is a short carry chain;
// the planes are moved into ones[] before they can overflow.
class Votes {
public:
    void add(std::uint64_t h) {
        std::uint64_t carry = h;
        for (std::size_t p = 0; p < kPlanes && carry; ++p) {
            const std::uint64_t next = planes_[p] & carry;
            planes_[p] ^= carry;
            carry = next;
        }
        ++tokens_;
        if (++pending_ == (1u << kPlanes) - 1) flush();
    }
    std::uint64_t fingerprint() {
        flush();
        std::uint64_t out = 0;
        for (int b = 0; b < 64; ++b) {
            const std::int64_t counter =
                static_cast<std::int64_t>(ones_[b]) - static_cast<std::int64_t>(tokens_ - ones_[b]);
            if (counter > 0) out |= std::uint64_t{1} << b;
        }
        return out;
    }

private:
    static constexpr std::size_t kPlanes = 8;

    void flush() {
        for (std::size_t p = 0; p < kPlanes; ++p) {
            const std::uint64_t plane = planes_[p];
            if (!plane) continue;
            for (int b = 0; b < 64; ++b) ones_[b] += static_cast<std::uint64_t>((plane >> b) & 1) << p;
            planes_[p] = 0;
        }
        pending_ = 0;
    }

    std::array<std::uint64_t, kPlanes> planes_{};
    std::array<std::uint64_t, 64> ones_{};
    std::uint64_t tokens_ = 0;
    std::uint32_t pending_ = 0;
};

std::uint64_t fnv_range(const char* p, std::size_t n) {
    std::uint64_t h = kOffsetBasis;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(p[i]);
        h *= kPrime;
    }
    return h;
}

// Byte length of the UTF-8 sequence that starts with lead byte b.
std::size_t sequence_length(unsigned char b) {
    if (b < 0x80) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    return 4;
}

}  // namespace

std::uint64_t fnv1a64(std::string_view bytes) { return fnv_range(bytes.data(), bytes.size()); }

std::uint64_t simhash(std::string_view text) {
    if (text.empty()) return 0;
    std::string lower;
    append_lowercase(text, lower);
    const char* p = lower.data();
    const std::size_t size = lower.size();
    const std::size_t n = count_scalars(lower);

    Votes votes;
    if (n < 3) {
        for (std::size_t i = 0; i < size;) {
            const std::size_t len = sequence_length(static_cast<unsigned char>(p[i]));
            votes.add(fnv_range(p + i, len));
            i += len;
        }
        return votes.fingerprint();
    }

    // Trigrams: the bytes of three consecutive scalar values.
    std::size_t s0 = 0;
    std::size_t s1 = sequence_length(static_cast<unsigned char>(p[0]));
    std::size_t s2 = s1 + sequence_length(static_cast<unsigned char>(p[s1]));
    while (s2 < size) {
        const std::size_t s3 = s2 + sequence_length(static_cast<unsigned char>(p[s2]));
        votes.add(fnv_range(p + s0, s3 - s0));
        s0 = s1;
        s1 = s2;
        s2 = s3;
    }

    // Words: maximal runs of characters outside White_Space.
    std::size_t word = 0;
    bool in_word = false;
    for (std::size_t i = 0; i < size;) {
        const std::size_t start = i;
        const bool space = is_white_space(next_scalar(lower, i));
        if (space) {
            if (in_word) votes.add(fnv_range(p + word, start - word));
            in_word = false;
        } else if (!in_word) {
            word = start;
            in_word = true;
        }
    }
    if (in_word) votes.add(fnv_range(p + word, size - word));
    return votes.fingerprint();
}

std::uint32_t simhash_distance(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::uint32_t>(std::popcount(a ^ b));
}

double simhash_similarity(std::string_view a, std::string_view b) {
    const std::uint32_t d = simhash_distance(simhash(a), simhash(b));
    return static_cast<double>(d) * -0.015625 + 1.0;
}

std::vector<std::uint64_t> find_similar_hashes(std::uint64_t query, std::span<const std::uint64_t> candidates,
                                               std::uint32_t max_distance) {
    std::vector<std::uint64_t> kept;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (simhash_distance(candidates[i], query) <= max_distance) kept.push_back(i);
    return kept;
}

}  // namespace mivo::strings
