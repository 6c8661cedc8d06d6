// The positions of every character of a pattern as bit masks, the input of
// the bit-parallel edit distances: in the row of character c, bit j % 64 of
// word j / 64 is set where pattern[j] == c. The distinct characters get
// dense ids (0 for every character the pattern lacks, whose row is zero), so
// the rows take (distinct characters + 1) x words 64-bit words. A pattern is
// prepared once and then run against any number of texts.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace mivo::strings {

namespace detail {
struct ByteIdentity {
    std::uint16_t ids[256];
};
constexpr ByteIdentity make_byte_identity() {
    ByteIdentity t{};
    for (unsigned c = 0; c < 256; ++c) t.ids[c] = static_cast<std::uint16_t>(c + 1);
    return t;
}
inline constexpr ByteIdentity kByteIdentity = make_byte_identity();
}  // namespace detail

// Ids of bytes: a direct table; with `dense` every byte has a row of its
// own (id byte + 1), which saves the first pass over short patterns.
class ByteIds {
public:
    ByteIds(std::size_t /*pattern length*/, bool dense) {
        if (dense) {
            std::memcpy(ids_, detail::kByteIdentity.ids, sizeof ids_);
        } else {
            std::memset(ids_, 0, sizeof ids_);
        }
    }
    static constexpr std::size_t kDenseRows = 257;
    static constexpr std::size_t dense_rows(std::size_t /*m*/) { return kDenseRows; }
    std::uint32_t find(unsigned char c) const { return ids_[c]; }
    // The id of c, given id `next` if c is new.
    std::uint32_t add(unsigned char c, std::uint32_t next) {
        if (ids_[c] == 0) ids_[c] = static_cast<std::uint16_t>(next);
        return ids_[c];
    }

private:
    std::uint16_t ids_[256];
};

// Ids of code points: ASCII in a direct table, the others in an
// open-addressing table (linear probing, key 0 marks a free slot since only
// values from 128 up go there), kept at most half full.
class CodePointIds {
public:
    // With `dense` ids are handed out as characters come (a pattern of m
    // values needs at most m + 1 rows).
    CodePointIds(std::size_t pattern_length, bool /*dense*/) {
        std::memset(ascii_, 0, sizeof ascii_);
        std::size_t capacity = 16;
        while (capacity < 2 * pattern_length && capacity < kInline) capacity *= 2;
        reset(capacity);
    }
    CodePointIds(const CodePointIds&) = delete;
    CodePointIds& operator=(const CodePointIds&) = delete;

    std::uint32_t find(char32_t c) const {
        if (c < 128) return ascii_[c];
        for (std::size_t h = slot_of(c);; h = (h + 1) & mask_) {
            if (slots_[h].key == c) return slots_[h].id;
            if (slots_[h].key == 0) return 0;
        }
    }

    std::uint32_t add(char32_t c, std::uint32_t next) {
        if (c < 128) {
            if (ascii_[c] == 0) ascii_[c] = next;
            return ascii_[c];
        }
        std::size_t h = slot_of(c);
        for (; slots_[h].key != 0; h = (h + 1) & mask_)
            if (slots_[h].key == c) return slots_[h].id;
        if (2 * (count_ + 1) > mask_ + 1) {
            grow();
            return add(c, next);
        }
        slots_[h] = {c, next};
        ++count_;
        return next;
    }

private:
    struct Slot {
        char32_t key;
        std::uint32_t id;
    };
    static constexpr std::size_t kInline = 128;

public:
    static constexpr std::size_t kDenseRows = 65;
    static constexpr std::size_t dense_rows(std::size_t m) { return m + 1; }

private:
    std::size_t slot_of(char32_t c) const {
        return static_cast<std::size_t>((static_cast<std::uint32_t>(c) * 0x9E3779B1u) >> shift_);
    }

    void reset(std::size_t capacity) {
        if (capacity > kInline) {
            heap_ = std::make_unique<Slot[]>(capacity);
            slots_ = heap_.get();
        } else {
            slots_ = inline_;
            std::memset(inline_, 0, capacity * sizeof(Slot));
        }
        mask_ = capacity - 1;
        shift_ = 32 - std::countr_zero(capacity);
        count_ = 0;
    }

    void grow() {
        const std::size_t old_capacity = mask_ + 1;
        std::unique_ptr<Slot[]> old(new Slot[old_capacity]);  // overwritten at once
        std::memcpy(old.get(), slots_, old_capacity * sizeof(Slot));
        reset(2 * old_capacity);
        for (std::size_t i = 0; i < old_capacity; ++i)
            if (old[i].key != 0) add(old[i].key, old[i].id);
    }

    std::uint32_t ascii_[128];
    Slot inline_[kInline];
    std::unique_ptr<Slot[]> heap_;
    Slot* slots_ = nullptr;
    std::size_t mask_ = 0;
    int shift_ = 0;
    std::size_t count_ = 0;
};

// The masks of a pattern of m >= 1 values of type Char; Ids maps a value to
// its row (ByteIds for bytes, CodePointIds for 16- or 32-bit values).
template <class Ids>
class PatternMasks {
public:
    template <class Char>
    PatternMasks(const Char* p, std::size_t m) : ids_(m, m <= 64), size_(m), words_((m + 63) / 64) {
        if (words_ == 1) {
            // One pass: the rows of a one-word pattern fit inline.
            std::memset(inline_, 0, Ids::dense_rows(m) * sizeof(std::uint64_t));
            rows_ = inline_;
            std::uint32_t next = 1;
            for (std::size_t j = 0; j < m; ++j) {
                const std::uint32_t id = ids_.add(p[j], next);
                next += id == next;
                rows_[id] |= std::uint64_t{1} << j;
            }
            return;
        }
        // Two passes: the ids, then the rows.
        std::uint32_t next = 1;
        for (std::size_t j = 0; j < m; ++j) next += ids_.add(p[j], next) == next;
        const std::size_t total = static_cast<std::size_t>(next) * words_;
        if (total > std::max(kMinBudget, 16 * m)) return;  // not prepared
        if (total <= kInline) {
            std::memset(inline_, 0, total * sizeof(std::uint64_t));
            rows_ = inline_;
        } else {
            heap_ = std::make_unique<std::uint64_t[]>(total);
            rows_ = heap_.get();
        }
        for (std::size_t j = 0; j < m; ++j) rows_[ids_.find(p[j]) * words_ + j / 64] |= std::uint64_t{1} << (j % 64);
    }
    PatternMasks(const PatternMasks&) = delete;
    PatternMasks& operator=(const PatternMasks&) = delete;

    // Whether the masks were built: a long pattern over so many distinct
    // characters that its rows would pass the budget is left unprepared.
    bool ok() const { return rows_ != nullptr; }
    std::size_t size() const { return size_; }
    std::size_t words() const { return words_; }
    // The `words` masks of c.
    template <class Char>
    const std::uint64_t* row(Char c) const {
        return rows_ + ids_.find(c) * words_;
    }
    // The row of the characters the pattern lacks (all zero).
    const std::uint64_t* absent_row() const { return rows_; }
    // The dense id of c (0 if the pattern lacks it; at most size()), and the
    // row of an id.
    template <class Char>
    std::uint32_t id(Char c) const {
        return ids_.find(c);
    }
    const std::uint64_t* row_of_id(std::uint32_t id) const { return rows_ + id * words_; }
    // The only mask of c when the pattern fits one word.
    template <class Char>
    std::uint64_t word(Char c) const {
        return rows_[ids_.find(c)];
    }

private:
    // Room for a one-word pattern, or a short one over few characters.
    static constexpr std::size_t kInline = std::max<std::size_t>(Ids::kDenseRows, 264);
    // Rows of at least 8 MiB are always allowed, more when the pattern is
    // long (16 words per value).
    static constexpr std::size_t kMinBudget = std::size_t{1} << 20;
    Ids ids_;
    std::size_t size_;
    std::size_t words_;
    std::uint64_t inline_[kInline];
    std::unique_ptr<std::uint64_t[]> heap_;
    std::uint64_t* rows_ = nullptr;
};

}  // namespace mivo::strings
