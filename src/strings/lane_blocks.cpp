#include "strings/lane_blocks.hpp"

#include <algorithm>
#include <cstring>

#include "strings/prepared_query.hpp"

namespace mivo::strings::lanes {

namespace {

// ORs `value` into lane `lane` of a vector of lanes of type T.
template <class T>
void or_into(unsigned char* vec, std::size_t lane, std::uint64_t value) {
    T v;
    std::memcpy(&v, vec + lane * sizeof(T), sizeof(T));
    v = static_cast<T>(v | static_cast<T>(value));
    std::memcpy(vec + lane * sizeof(T), &v, sizeof(T));
}

void set_lane_bits(unsigned char* vec, unsigned lane_bits, std::size_t lane, std::uint64_t value) {
    switch (lane_bits) {
        case 8: return or_into<std::uint8_t>(vec, lane, value);
        case 16: return or_into<std::uint16_t>(vec, lane, value);
        case 32: return or_into<std::uint32_t>(vec, lane, value);
        default: return or_into<std::uint64_t>(vec, lane, value);
    }
}

unsigned lane_bits_for(std::size_t n) { return n <= 8 ? 8 : n <= 16 ? 16 : n <= 32 ? 32 : 64; }

// A block before its rows exist: placed[first, first + count) in its lanes.
struct Plan {
    std::size_t first, count;
    unsigned lane_bits;
    std::size_t words;
    std::uint32_t length;  // short blocks
    std::size_t slots = 0;
    std::size_t offset = 0;  // of its rows in the arena, in bytes
};

}  // namespace

ChoiceTile::~ChoiceTile() = default;

ChoiceTile::ChoiceTile(std::size_t vector_bytes, std::span<const FixedWidthText> choices,
                       std::span<const std::uint32_t> order, bool long_lanes, const TileLimits& limits)
    : ids_(std::make_unique<CodePointIds>(0, false)) {
    const std::size_t long_limit = kMaxLongWords * 64;
    std::vector<std::uint32_t> placed;
    std::uint32_t next_id = 1;
    std::size_t values = 0;
    std::size_t k = 0;
    for (; k < order.size(); ++k) {
        if (k > 0 && (k >= limits.choices || values >= limits.values || next_id > limits.alphabet)) break;
        const FixedWidthText t = choices[order[k]];
        if (t.size == 0 || t.size > (long_lanes ? long_limit : kMaxShort)) {
            others_.push_back(order[k]);
            continue;
        }
        placed.push_back(order[k]);
        values += t.size;
        with_stored(t, [&](const auto* p, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) next_id += ids_->add(p[i], next_id) == next_id;
        });
    }
    consumed_ = k;

    // Short choices of one length per block; long ones in order of length.
    std::vector<Plan> plans;
    for (std::size_t i = 0; i < placed.size();) {
        const std::size_t n = choices[placed[i]].size;
        std::size_t j = i;
        if (n <= kMaxShort) {
            const unsigned bits = lane_bits_for(n);
            const std::size_t lanes = vector_bytes * 8 / bits;
            while (j < placed.size() && j - i < lanes && choices[placed[j]].size == n) ++j;
            plans.push_back({i, j - i, bits, 1, static_cast<std::uint32_t>(n)});
        } else {
            std::size_t longest = 0;
            while (j < placed.size() && j - i < vector_bytes / 8)
                longest = std::max(longest, choices[placed[j++]].size);
            plans.push_back({i, j - i, 64, (longest + 63) / 64, 0});
        }
        i = j;
    }

    // Slots: the characters of each block numbered from 1.
    const std::size_t alphabet = next_id;
    slots_.assign(plans.size() * alphabet, 0);
    std::size_t bytes = 0;
    for (std::size_t b = 0; b < plans.size(); ++b) {
        Plan& plan = plans[b];
        std::uint16_t* slot_of = slots_.data() + b * alphabet;
        std::uint16_t next_slot = 1;
        for (std::size_t lane = 0; lane < plan.count; ++lane)
            with_stored(choices[placed[plan.first + lane]], [&](const auto* p, std::size_t n) {
                for (std::size_t i = 0; i < n; ++i) {
                    std::uint16_t& s = slot_of[ids_->find(p[i])];
                    if (s == 0) s = next_slot++;
                }
            });
        plan.slots = next_slot;
        plan.offset = bytes;
        // The mask rows, then for long blocks the lanes' positions.
        bytes += (plan.slots + (plan.length == 0 ? 1 : 0)) * plan.words * vector_bytes;
    }
    rows_.assign((bytes + sizeof(Row) - 1) / sizeof(Row), Row{});
    unsigned char* arena = rows_.empty() ? nullptr : rows_.front().bytes;

    blocks_.reserve(plans.size());
    column_start_.reserve(plans.size());
    for (std::size_t b = 0; b < plans.size(); ++b) {
        const Plan& plan = plans[b];
        const std::uint16_t* slot_of = slots_.data() + b * alphabet;
        unsigned char* rows = arena + plan.offset;
        unsigned char* present = plan.length == 0 ? rows + plan.slots * plan.words * vector_bytes : nullptr;
        column_start_.push_back(columns_.size());
        for (std::size_t lane = 0; lane < plan.count; ++lane) {
            const std::uint32_t index = placed[plan.first + lane];
            columns_.push_back(index);
            with_stored(choices[index], [&](const auto* p, std::size_t n) {
                for (std::size_t i = 0; i < n; ++i) {
                    unsigned char* row = rows + (slot_of[ids_->find(p[i])] * plan.words + i / 64) * vector_bytes;
                    set_lane_bits(row, plan.lane_bits, lane, std::uint64_t{1} << (i % 64));
                }
                for (std::size_t w = 0; present && w * 64 < n; ++w) {
                    const std::size_t left = n - w * 64;
                    set_lane_bits(present + w * vector_bytes, 64, lane,
                                  left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1);
                }
            });
        }
        blocks_.push_back(Block{rows, slot_of, present, plan.length, static_cast<std::uint16_t>(plan.words),
                                static_cast<std::uint8_t>(plan.lane_bits), static_cast<std::uint8_t>(plan.count)});
    }
}

void ChoiceTile::map(const char32_t* text, std::size_t m, std::uint32_t* ids) const {
    for (std::size_t i = 0; i < m; ++i) ids[i] = ids_->find(text[i]);
}

}  // namespace mivo::strings::lanes
