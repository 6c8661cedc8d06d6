// Levenshtein, OSA, Jaro, Jaro-Winkler and Hamming on two strings made from
// the fuzzer's bytes, each against its textbook table or definition over
// scalar values, from UTF-8 and from code points stored 1, 2 or 4 bytes
// wide as CPython keeps them. The first disagreement stops the run with
// both inputs.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_util.hpp"
#include "strings/hamming.hpp"
#include "strings/jaro_winkler.hpp"
#include "strings/levenshtein.hpp"
#include "strings/osa.hpp"

namespace {

using mivo::fuzz::Chars;

// The textbook table; with osa, adjacent swaps cost one edit too.
std::uint64_t model_edit(const Chars& a, const Chars& b, bool osa) {
    std::vector<std::uint64_t> d((a.size() + 1) * (b.size() + 1));
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint64_t& { return d[i * (b.size() + 1) + j]; };
    for (std::size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
    for (std::size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::uint64_t v = std::min({at(i - 1, j - 1) + (a[i - 1] != b[j - 1]), at(i - 1, j) + 1, at(i, j - 1) + 1});
            if (osa && i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                v = std::min(v, at(i - 2, j - 2) + 1);
            at(i, j) = v;
        }
    return at(a.size(), b.size());
}

// Jaro: greedy matching in a window of max(la, lb) / 2 - 1, transpositions
// halved rounding down.
double model_jaro(const Chars& a, const Chars& b) {
    if (a == b) return 1.0;
    if (a.empty() || b.empty()) return 0.0;
    const std::size_t w = std::max<std::size_t>(std::max(a.size(), b.size()) / 2, 1) - 1;
    std::vector<bool> ma(a.size()), mb(b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = i > w ? i - w : 0; j < std::min(i + w + 1, b.size()) && !ma[i]; ++j)
            if (!mb[j] && a[i] == b[j]) ma[i] = mb[j] = true;
    const auto m = std::count(ma.begin(), ma.end(), true);
    if (m == 0) return 0.0;
    std::uint32_t t = 0;
    for (std::size_t i = 0, k = 0; i < a.size(); ++i) {
        if (!ma[i]) continue;
        while (!mb[k]) ++k;
        t += a[i] != b[k++];
    }
    const double md = static_cast<double>(m), la = static_cast<double>(a.size()), lb = static_cast<double>(b.size());
    return (md / lb + md / la + (md - t / 2) / md) / 3.0;
}

double model_jaro_winkler(const Chars& a, const Chars& b) {
    const double j = model_jaro(a, b);
    if (j < 0.7) return j;
    std::size_t l = 0;
    while (l < 4 && l < a.size() && l < b.size() && a[l] == b[l]) ++l;
    return (1.0 - j) * (static_cast<double>(l) * 0.1) + j;
}

std::optional<std::uint64_t> model_hamming(const Chars& a, const Chars& b) {
    if (a.size() != b.size()) return std::nullopt;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}

bool same(double x, double y) { return x == y || (x != x && y != y); }

// Code points stored at a fixed width: the narrowest that holds them, or 4.
struct Stored {
    std::vector<std::uint8_t> u8;
    std::vector<char16_t> u16;
    Chars u32;
    mivo::strings::FixedWidthText text{};

    Stored(const Chars& c, bool wide) : u8(c.begin(), c.end()), u16(c.begin(), c.end()), u32(c) {
        const char32_t top = c.empty() ? 0 : *std::max_element(c.begin(), c.end());
        if (wide || top >= 0x10000)
            text = {u32.data(), c.size(), 4};
        else if (top >= 0x100)
            text = {u16.data(), c.size(), 2};
        else
            text = {u8.data(), c.size(), 1};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parts = mivo::fuzz::pieces(data, size);
    parts.resize(2);
    const Chars& ca = parts[0];
    const Chars& cb = parts[1];
    const std::string a = mivo::fuzz::utf8_of(ca), b = mivo::fuzz::utf8_of(cb);
    namespace s = mivo::strings;
    using mivo::fuzz::disagree;

    const std::uint64_t lev = model_edit(ca, cb, false), osa = model_edit(ca, cb, true);
    if (s::levenshtein(a, b) != lev) disagree("levenshtein", a, b);
    if (s::osa_distance(a, b) != osa) disagree("osa_distance", a, b);
    if (s::hamming(a, b) != model_hamming(ca, cb)) disagree("hamming", a, b);
    if (!same(s::jaro(a, b), model_jaro(ca, cb))) disagree("jaro", a, b);
    if (!same(s::jaro_winkler(a, b), model_jaro_winkler(ca, cb))) disagree("jaro_winkler", a, b);

    const double norm =
        ca == cb ? 1.0 : 1.0 - static_cast<double>(lev) / static_cast<double>(std::max(ca.size(), cb.size()));
    if (!same(s::normalized_levenshtein(a, b), norm)) disagree("normalized_levenshtein", a, b);
    for (const bool wide_a : {false, true}) {
        const Stored sa(ca, wide_a), sb(cb, false);
        if (s::levenshtein(sa.text, sb.text) != lev) disagree("levenshtein (stored code points)", a, b);
        if (s::osa_distance(sa.text, sb.text) != osa) disagree("osa_distance (stored code points)", a, b);
        if (s::hamming(sa.text, sb.text) != model_hamming(ca, cb)) disagree("hamming (stored code points)", a, b);
        if (!same(s::normalized_levenshtein(sa.text, sb.text), norm))
            disagree("normalized_levenshtein (stored code points)", a, b);
    }
    return 0;
}
