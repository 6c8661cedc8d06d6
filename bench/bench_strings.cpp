// Library-level timings of the string metrics and the text SimHash.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "strings/best_match.hpp"
#include "strings/jaro_winkler.hpp"
#include "strings/hamming.hpp"
#include "strings/levenshtein.hpp"
#include "strings/osa.hpp"
#include "strings/text_simhash.hpp"
#include "strings/unicode.hpp"

namespace ms = mivo::strings;

namespace {

std::string make_text(std::size_t bytes, bool ascii) {
    const std::vector<std::string> words =
        ascii ? std::vector<std::string>{"the", "Quick", "brown", "fox", "jumps", "over", "lazy", "dogs", "and", "cats"}
              : std::vector<std::string>{"Ελληνικά", "ΟΔΟΣ", "straße", "İstanbul", "café", "naïve", "日本語", "Über"};
    std::string out;
    for (std::size_t i = 0; out.size() < bytes; ++i) {
        out += words[(i * 7 + 3) % words.size()];
        out += ' ';
    }
    out.resize(bytes);
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
    if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
    return out;
}

void BM_Lowercase(benchmark::State& state) {
    const std::string text = make_text(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(ms::to_lowercase(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Lowercase)->Args({1024, 1})->Args({1024, 0})->Args({65536, 1});

void BM_SimHash(benchmark::State& state) {
    const std::string text = make_text(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(ms::simhash(text));
}
BENCHMARK(BM_SimHash)->Args({1024, 1})->Args({1024, 0});

void BM_JaroWinklerShort(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ms::jaro_winkler("dwayne", "duane"));
}
BENCHMARK(BM_JaroWinklerShort);

void BM_OsaShort(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ms::osa_distance("kitten", "sitting"));
}
BENCHMARK(BM_OsaShort);

void BM_ScorerWords(benchmark::State& state) {
    std::vector<std::string> words;
    for (int i = 0; i < 1000; ++i) words.push_back(make_text(4 + i % 9, true).substr(i % 3));
    const std::vector<std::string_view> views(words.begin(), words.end());
    for (auto _ : state) benchmark::DoNotOptimize(ms::find_best_match("aplication", views));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * words.size()));
}
BENCHMARK(BM_ScorerWords);

}  // namespace

namespace {

void BM_LevenshteinShort(benchmark::State& state) {
    const std::string a = "abcdefghij", b = "abcxefgyij";
    for (auto _ : state) benchmark::DoNotOptimize(ms::levenshtein(a, b));
}
BENCHMARK(BM_LevenshteinShort);

void BM_LevenshteinShortNonAscii(benchmark::State& state) {
    const std::string a = "h\xC3\xA9llo w\xC3\xB6rld", b = "hell\xC3\xB6 w\xC3\xB6rd!";
    for (auto _ : state) benchmark::DoNotOptimize(ms::levenshtein(a, b));
}
BENCHMARK(BM_LevenshteinShortNonAscii);

void BM_LevenshteinLong(benchmark::State& state) {
    std::string a, b;
    for (int i = 0; i < state.range(0); ++i) {
        a.push_back(static_cast<char>('a' + (i * 7) % 26));
        b.push_back(static_cast<char>('a' + (i * 11) % 26));
    }
    for (auto _ : state) benchmark::DoNotOptimize(ms::levenshtein(a, b));
}
BENCHMARK(BM_LevenshteinLong)->Arg(100)->Arg(1000);

// The same lengths in scalar values, every fourth one outside ASCII.
void BM_LevenshteinLongNonAscii(benchmark::State& state) {
    std::string a, b;
    for (int i = 0; i < state.range(0); ++i) {
        if (i % 4 == 0) {
            a += "\xC3\xA9";
            b += "\xE6\x97\xA5";
        } else {
            a.push_back(static_cast<char>('a' + (i * 7) % 26));
            b.push_back(static_cast<char>('a' + (i * 11) % 26));
        }
    }
    for (auto _ : state) benchmark::DoNotOptimize(ms::levenshtein(a, b));
}
BENCHMARK(BM_LevenshteinLongNonAscii)->Arg(100)->Arg(1000);

void BM_HammingLong(benchmark::State& state) {
    const std::string a(200, 'a');
    std::string b = a;
    b[100] = 'b';
    for (auto _ : state) benchmark::DoNotOptimize(ms::hamming(a, b));
}
BENCHMARK(BM_HammingLong);

// A string and a copy with every fifth value replaced, the shape of the peer
// comparison in bench_strings.py.
std::pair<std::string, std::string> edited_pair(std::size_t n) {
    std::string a, b;
    for (std::size_t i = 0; i < n; ++i) {
        a.push_back(static_cast<char>('a' + (i * 7 + i / 3) % 26));
        b.push_back(i % 5 == 2 ? 'Z' : a.back());
    }
    return {a, b};
}

void BM_LevenshteinEdited(benchmark::State& state) {
    const auto [a, b] = edited_pair(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ms::levenshtein(a, b));
}
BENCHMARK(BM_LevenshteinEdited)->Arg(64)->Arg(1000);

void BM_OsaEdited(benchmark::State& state) {
    const auto [a, b] = edited_pair(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ms::osa_distance(a, b));
}
BENCHMARK(BM_OsaEdited)->Arg(10)->Arg(100)->Arg(1000);

// Stored 32-bit code points, as for a Python str holding an emoji.
void BM_HammingStoredWide(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<char32_t> a(n), b(n);
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = static_cast<char32_t>(0x1F600 + i % 37);
        b[i] = i % 5 == 2 ? U'x' : a[i];
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ms::hamming(ms::FixedWidthText{a.data(), n, 4}, ms::FixedWidthText{b.data(), n, 4}));
}
BENCHMARK(BM_HammingStoredWide)->Arg(1000);

}  // namespace
