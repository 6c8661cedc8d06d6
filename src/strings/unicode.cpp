#include "strings/unicode.hpp"

#include <cstdint>
#include <cstring>

#include "strings/utf8.hpp"

#include "strings/unicode_tables.inc"

namespace mivo::strings {

namespace {

constexpr char32_t kMaxScalar = 0x10FFFF;
constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

const tables::Kind& kind_of(char32_t c) {
    if (c > kMaxScalar) return tables::kKinds[0];
    const std::uint8_t block = tables::kStage1[c >> tables::kShift];
    const std::uint8_t kind =
        tables::kStage2[(static_cast<std::size_t>(block) << tables::kShift) | (c & ((1u << tables::kShift) - 1))];
    return tables::kKinds[kind];
}

bool has(char32_t c, std::uint8_t flag) { return (kind_of(c).flags & flag) != 0; }

// Decodes the scalar value that ends just before byte `end` and moves `end`
// to its first byte.
char32_t previous_scalar(std::string_view s, std::size_t& end) {
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    std::size_t i = start;
    const char32_t c = next_scalar(s, i);
    end = start;
    return c;
}

// The Final_Sigma condition for a capital sigma occupying bytes
// [at, after) of s: preceded by a cased letter and not followed by one, in
// both directions looking past case-ignorable characters.
bool final_sigma(std::string_view s, std::size_t at, std::size_t after) {
    std::size_t back = at;
    bool cased_before = false;
    while (back > 0) {
        const char32_t c = previous_scalar(s, back);
        const std::uint8_t flags = kind_of(c).flags;
        if (flags & tables::kCaseIgnorable) continue;
        cased_before = (flags & tables::kCased) != 0;
        break;
    }
    if (!cased_before) return false;
    std::size_t fwd = after;
    while (fwd < s.size()) {
        const char32_t c = next_scalar(s, fwd);
        const std::uint8_t flags = kind_of(c).flags;
        if (flags & tables::kCaseIgnorable) continue;
        return (flags & tables::kCased) == 0;
    }
    return true;
}

constexpr bool ascii_white_space(unsigned char b) { return b == ' ' || (b >= 0x09 && b <= 0x0D); }

}  // namespace

bool is_white_space(char32_t c) {
    if (c < 0x80) return ascii_white_space(static_cast<unsigned char>(c));
    return has(c, tables::kWhiteSpace);
}

std::string_view trim_white_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!is_white_space(next_scalar(text, next))) break;
        begin = next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end;
        if (!is_white_space(previous_scalar(text, start))) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

void append_lowercase(std::string_view s, std::string& out) {
    out.reserve(out.size() + s.size());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        // A run of ASCII bytes, lowered in place after one append.
        std::size_t j = i;
        while (j < n && static_cast<unsigned char>(s[j]) < 0x80) ++j;
        if (j > i) {
            const std::size_t at = out.size();
            out.append(s.data() + i, j - i);
            char* p = out.data() + at;
            for (std::size_t k = 0; k < j - i; ++k) {
                const auto b = static_cast<unsigned char>(p[k]);
                p[k] = static_cast<char>(b + ((static_cast<unsigned char>(b - 'A') < 26u) << 5));
            }
            i = j;
            if (i == n) break;
        }
        const std::size_t start = i;
        const char32_t c = next_scalar(s, i);
        if (c == kCapitalSigma) {
            append_utf8(out, final_sigma(s, start, i) ? kFinalSigma : kSmallSigma);
            continue;
        }
        const tables::Kind& k = kind_of(c);
        if (k.special != 0) {
            const tables::Special& sp = tables::kSpecial[k.special - 1];
            out.append(sp.utf8, sp.bytes);
        } else if (k.delta == 0) {
            out.append(s.data() + start, i - start);
        } else {
            append_utf8(out, static_cast<char32_t>(static_cast<std::int32_t>(c) + k.delta));
        }
    }
}

std::string to_lowercase(std::string_view text) {
    std::string out;
    append_lowercase(text, out);
    return out;
}

}  // namespace mivo::strings
