#!/usr/bin/env python3
"""Fault-catching tally of the test suite.

Applies small deliberate faults (mutants) to the C++ sources one at a time,
rebuilds, runs the C++ unit tests and then pytest, records which layer
catches each fault, and puts the source back. Run it before and after a
change to the tests (same sources) to see whether the tests still catch the
same faults.

Every mutant is (file, exact old text, new text, description). The old text
must occur exactly once in the file; otherwise the mutant is reported as
stale and not applied. A fault that needs edits in two places of one file
gives tuples of old and new texts, each applied in turn.

Run from anywhere (paths are relative to the repository root):

    .venv/bin/python scripts/mutants.py                 # every mutant
    .venv/bin/python scripts/mutants.py --only 3,17     # a subset
    .venv/bin/python scripts/mutants.py --list          # list (and check) the mutants
    .venv/bin/python scripts/mutants.py --json out.json
    .venv/bin/python scripts/mutants.py --compare scripts/mutants_baseline.json
    .venv/bin/python scripts/mutants.py --layer python --only 1-21   # pytest alone

scripts/mutants_baseline.json holds the result on the sources and tests of
its commit; --compare lists the mutants caught there and not in this run.
A full run of the 126 faults takes about 25 minutes on two cores.

The build directory (build/mutants by default) is configured once with the
C++ tests on and built incrementally after each mutation (cmake --build -j2).
pytest imports the freshly built module from it (PYTHONPATH), not the one
installed in .venv; the script checks that before it starts.
"""

from __future__ import annotations

import argparse
import fcntl
import json
import os
import re
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


@dataclass(frozen=True)
class Mutant:
    file: str
    old: str | tuple[str, ...]
    new: str | tuple[str, ...]
    desc: str

    def edits(self) -> list[tuple[str, str]]:
        if isinstance(self.old, str):
            return [(self.old, str(self.new))]
        return list(zip(self.old, self.new))


M = Mutant

MUTANTS: list[Mutant] = [
    # ------------------------------------------------------------- strings
    M("src/strings/levenshtein.cpp",
      "const std::size_t len = std::max(count_scalars(a), count_scalars(b));",
      "const std::size_t len = std::max(a.size(), b.size());",
      "normalized_levenshtein divides by the byte length instead of the scalar count"),
    M("src/strings/levenshtein_bitparallel.hpp",
      "        d0 = (((eq & vp) + vp) ^ vp) | eq | vn | tr;",
      "        d0 = (((eq & vp) + vp) ^ vp) | eq | tr;",
      "one-word edit distance: the vertical minus delta left out of D0"),
    M("src/strings/levenshtein_bitparallel.hpp",
      "        if constexpr (Osa) tr = ((~d0 & eq) << 1) & pm_prev;",
      "        if constexpr (Osa) tr = ((~d0 & eq) << 1) & eq;",
      "one-word OSA: transposition tested against this column instead of the previous one"),
    M("src/strings/levenshtein_bitparallel.hpp",
      "        d0 |= ((rising << 1) | tr_carry) & prev_eq;",
      "        d0 |= (rising << 1) & prev_eq;",
      "multi-word OSA: transposition carry between words dropped"),
    M("src/strings/hamming.cpp",
      "    if (count_scalars(b) != n) return std::nullopt;",
      "    if (count_scalars(b) < n) return std::nullopt;",
      "hamming: missing refusal of unequal lengths (non-ASCII path)"),
    M("src/strings/jaro_winkler.cpp",
      "return longest < 2 ? 0 : longest / 2 - 1;",
      "return longest < 2 ? 0 : longest / 2;",
      "Jaro match window one too wide"),
    M("src/strings/jaro_winkler.cpp",
      "if (p < end && positions[p] < hi) {",
      "if (p < end && positions[p] <= hi) {",
      "Jaro for strings over 64 characters: window end inclusive"),
    M("src/strings/jaro_winkler.hpp",
      "const double x = (md - static_cast<double>(t / 2)) / md;",
      "const double x = (md - static_cast<double>(t) / 2.0) / md;",
      "Jaro: half the transpositions not rounded down"),
    M("src/strings/best_match.cpp",
      "if (s && best.score <= *s) best = {i, *s};",
      "if (s && best.score < *s) best = {i, *s};",
      "find_best_match: ties keep the earlier candidate"),
    M("src/strings/levenshtein_bitparallel.hpp",
      "        hp = (hp << 1) | 1;",
      "        hp = hp << 1;",
      "bit-parallel edit distance: carry-in of the horizontal delta dropped"),
    M("src/strings/best_match.cpp",
      "k += ++used_ascii_[c] <= ascii_[c];",
      "k += ++used_ascii_[c] < ascii_[c];",
      "candidate pruning: common-character bound one too low (prunes reachable candidates)"),
    M("src/strings/best_match.cpp",
      "const std::size_t rows = std::min(m, n + w);",
      "const std::size_t rows = std::min(m, n);",
      "bit-parallel Jaro: query rows past the candidate length skipped"),
    M("src/strings/similarity_opts.cpp",
      "if (opts.case_sensitive) return levenshtein(a, b);",
      "if (!opts.case_sensitive) return levenshtein(a, b);",
      "levenshtein_with_opts: case_sensitive flag inverted"),
    M("src/strings/unicode.cpp",
      "return (flags & tables::kCased) == 0;",
      "return (flags & tables::kCased) != 0;",
      "final sigma: 'not followed by a cased letter' inverted"),
    M("src/strings/unicode.cpp",
      "return b == ' ' || (b >= 0x09 && b <= 0x0D);",
      "return b == ' ' || (b >= 0x09 && b < 0x0D);",
      "ASCII white space misses carriage return"),
    M("src/strings/unicode.cpp",
      "(static_cast<unsigned char>(b - 'A') < 26u) << 5",
      "(static_cast<unsigned char>(b - 'A') < 25u) << 5",
      "ASCII lowercasing skips 'Z'"),
    M("src/strings/text_simhash.cpp",
      "constexpr std::uint64_t kPrime = 0x100000001b3ull;",
      "constexpr std::uint64_t kPrime = 0x100000001b1ull;",
      "FNV-1a prime wrong"),
    M("src/strings/text_simhash.cpp",
      "if (counter > 0) out |= std::uint64_t{1} << b;",
      "if (counter >= 0) out |= std::uint64_t{1} << b;",
      "text SimHash: tied votes set the bit"),
    M("src/strings/text_simhash.cpp",
      "if (++pending_ == (1u << kPlanes) - 1) flush();",
      "if (++pending_ == (1u << kPlanes)) flush();",
      "vote planes flushed one token too late (count overflows at 256 tokens)"),
    M("src/strings/text_simhash.cpp",
      "if (simhash_distance(candidates[i], query) <= max_distance) kept.push_back(i);",
      "if (simhash_distance(candidates[i], query) < max_distance) kept.push_back(i);",
      "find_similar_hashes: max_distance exclusive"),
    M("src/strings/utf8.hpp",
      "for (unsigned char c : s) n += (c & 0xC0) != 0x80;",
      "for (unsigned char c : s) n += (c & 0x80) != 0x80;",
      "count_scalars counts only ASCII bytes"),
    # ---------------------------------------------------------- embeddings
    M("src/embeddings/morton.cpp",
      "level |= std::uint64_t{(c[j] >> k) & 1u} << j;",
      "level |= std::uint64_t{(c[j] >> k) & 1u} << (n - 1 - j);",
      "Morton: coordinate order reversed within a level"),
    M("src/embeddings/morton.cpp",
      "if (n < 128) code <<= n;",
      "if (n < 64) code <<= n;",
      "Morton: no level shift for 64 or more dims"),
    M("src/embeddings/hilbert.cpp",
      "if ((g & 1u) == 0) e ^= 1u << (z % nn);",
      "if ((g & 1u) != 0) e ^= 1u << (z % nn);",
      "Hilbert: entry update condition inverted"),
    M("src/embeddings/hilbert.cpp",
      "if (d & 1u) l = ((l << 1) | (l >> 1)) & 3u;",
      "if (d & 2u) l = ((l << 1) | (l >> 1)) & 3u;",
      "Hilbert, 2 dims: rotation keyed on the wrong direction bit"),
    M("src/embeddings/hilbert.cpp",
      "return t >> (32 - n);",
      "return t >> (31 - n);",
      "Hilbert: bit reversal shifted by one"),
    M("src/embeddings/vector_simhash.cpp",
      "if (dots[h] > 0.0f) out |= static_cast<u128>(1) << h;",
      "if (dots[h] >= 0.0f) out |= static_cast<u128>(1) << h;",
      "vector SimHash (table path): a zero dot product sets the bit"),
    M("src/embeddings/vector_simhash.cpp",
      "if (acc > 0.0f) out |= static_cast<u128>(1) << h;",
      "if (acc < 0.0f) out |= static_cast<u128>(1) << h;",
      "vector SimHash (streamed path): comparison flipped"),
    M("src/embeddings/projection.cpp",
      "out[r] = canonical(stream.dot_scaled_normal_f32(values, scale, -0.0f));",
      "out[r] = canonical(stream.dot_scaled_normal_f32(values, scale, 0.0f));",
      "projection (streamed path): accumulator starts at +0.0 instead of -0.0"),
    M("src/embeddings/projection.cpp",
      "dot_table(*table, values.first(n), -0.0f, out.data());",
      "dot_table(*table, values.first(n), 0.0f, out.data());",
      "projection (table path): accumulator starts at +0.0 instead of -0.0"),
    M("src/embeddings/projection.cpp",
      "        out[r] = canonical(acc);",
      "        out[r] = acc;",
      "projection (table path): NaN not canonicalised"),
    M("src/embeddings/projection.cpp",
      "table->last_unsigned[r] > n) acc = 0.0f;",
      "table->last_unsigned[r] >= n) acc = 0.0f;",
      "projection: -0.0 sum fix-up off by one on the last unsigned entry"),
    M("src/embeddings/projection.cpp",
      "\"Cannot project to higher dimensions: \"",
      "\"Cannot project to higher dimension: \"",
      "projection refusal message text wrong"),
    M("src/embeddings/tables.cpp",
      "block[j * width + k] = group[k * length + j];",
      "block[j * width + k] = group[j * kDotRowGroup + k];",
      "table interleave reads the row group transposed"),
    M("src/embeddings/tables.cpp",
      "const Key key{1, seed, d, t};",
      "const Key key{1, seed, d, 0};",
      "projection table cache key ignores the target dims"),
    M("src/embeddings/tables.cpp",
      "const float scale = 1.0f / std::sqrt(static_cast<float>(t));",
      "const float scale = 1.0f / std::sqrt(static_cast<float>(d));",
      "projection table scaled by 1/sqrt(d) instead of 1/sqrt(t)"),
    M("src/embeddings/tables.cpp",
      "            held_ -= s->second->bytes;\n            slots_.erase(s);",
      "            slots_.erase(s);",
      "table cache: eviction does not release the held bytes"),
    M("src/embeddings/dot_rows_kernel.inc",
      "if (rows - r >= 2 * (LANES)) {",
      "if (rows - r > 2 * (LANES)) {",
      "dot kernel: two-vector remainder block skipped when exactly two vectors remain"),
    M("src/embeddings/dot_rows.cpp",
      "return static_cast<int>(kernel) <= static_cast<int>(dot_best_kernel());",
      "return static_cast<int>(kernel) < static_cast<int>(dot_best_kernel());",
      "dot kernel availability excludes the best kernel"),
    M("src/embeddings/dot_rows_x86.cpp",
      "_mm256_add_ps, _mm256_storeu_ps)",
      "_mm256_sub_ps, _mm256_storeu_ps)",
      "AVX2 dot kernel subtracts instead of adds"),
    M("src/embeddings/seeded_stream.cpp",
      "    a += b; d ^= a; d = rotl32(d, 8);",
      "    a += b; d ^= a; d = rotl32(d, 7);",
      "scalar ChaCha20 quarter round: rotation by 7 instead of 8"),
    M("src/embeddings/seeded_stream.cpp",
      "    for (int i = 0; i < 8; ++i) m[i] = static_cast<std::uint8_t>(seed >> (8 * i));\n    m[8] = h;",
      "    for (int i = 0; i < 8; ++i) m[i] = static_cast<std::uint8_t>(seed >> (8 * (7 - i)));\n    m[8] = h;",
      "hyperplane key material: seed bytes big-endian"),
    M("src/embeddings/seeded_stream.cpp",
      "    m[12] = static_cast<std::uint8_t>(r);\n    m[13] = static_cast<std::uint8_t>(r >> 8);",
      "    m[12] = static_cast<std::uint8_t>(r >> 8);\n    m[13] = static_cast<std::uint8_t>(r);",
      "projection row key material: row index bytes swapped"),
    M("src/embeddings/seeded_stream.cpp",
      "return u < 0.0 ? xt - ziggurat::kR : ziggurat::kR - xt;",
      "return u > 0.0 ? xt - ziggurat::kR : ziggurat::kR - xt;",
      "ziggurat tail: sign of the deviate flipped"),
    M("src/embeddings/seeded_stream.cpp",
      "const double diff = kF[i] - kF[i + 1];",
      "const double diff = kF[i + 1] - kF[i];",
      "ziggurat wedge test: layer height difference negated"),
    M("src/embeddings/seeded_stream.cpp",
      "            pos_ += 2 * (k + 1);",
      "            pos_ += 2 * k;",
      "buffered ziggurat: slow path re-reads the draw that left the fast path"),
    M("src/embeddings/seeded_stream.cpp",
      "        const float g = static_cast<float>(x);\n        o[j] = g * scale;",
      "        o[j] = static_cast<float>(x * scale);",
      "scaled deviates: rounding of the deviate to f32 before scaling dropped"),
    M("src/embeddings/seeded_stream.hpp",
      "static_cast<std::uint64_t>(buf_[pos_]) | (static_cast<std::uint64_t>(buf_[pos_ + 1]) << 32);",
      "static_cast<std::uint64_t>(buf_[pos_ + 1]) | (static_cast<std::uint64_t>(buf_[pos_]) << 32);",
      "next_u64: keystream words swapped"),
    M("src/embeddings/chacha_wide.cpp",
      "m.lo[bit][p] = static_cast<std::uint32_t>((p & s) ? L + p - s : p);",
      "m.lo[bit][p] = static_cast<std::uint32_t>((p & s) ? L + p : p);",
      "wide ChaCha20 transpose mask wrong"),
    M("src/embeddings/chacha_wide.cpp",
      "(b - by / 8 + 4) % 4",
      "(b + by / 8) % 4",
      "AVX2 ChaCha20 byte rotation turns the wrong way"),
    M("src/embeddings/base32hex.cpp",
      "for (std::size_t k = 0; k < chars; ++k) dst[k] = kAlphabet[(g >> (35 - 5 * k)) & 31];",
      "for (std::size_t k = 0; k < chars; ++k) dst[k] = kAlphabet[(g >> (34 - 5 * k)) & 31];",
      "base32 encode: last partial group shifted by one bit"),
    M("src/embeddings/base32hex.cpp",
      "const bool letter = static_cast<unsigned char>(c - 'a') < 22;",
      "const bool letter = static_cast<unsigned char>(c - 'a') <= 22;",
      "character check accepts 'w' (missing refusal)"),
    M("src/embeddings/base32hex.cpp",
      "constexpr int kTailBytes[8] = {0, -1, 1, -1, 2, 3, -1, 4};",
      "constexpr int kTailBytes[8] = {0, -1, 1, -1, 2, 3, 3, 4};",
      "base32 decode accepts a tail of 6 characters (missing refusal)"),
    M("src/embeddings/base32hex.cpp",
      "if (x & ((std::uint64_t{1} << leftover) - 1)) return fail(MivoError::invalid_encoding());",
      "if (x & ((std::uint64_t{1} << (leftover - 1)) - 1)) return fail(MivoError::invalid_encoding());",
      "base32 decode: top leftover bit not checked"),
    M("src/embeddings/base32hex.cpp",
      "        dst[1] = static_cast<std::uint8_t>(x >> 24);\n        dst[2] = static_cast<std::uint8_t>(x >> 16);",
      "        dst[1] = static_cast<std::uint8_t>(x >> 16);\n        dst[2] = static_cast<std::uint8_t>(x >> 24);",
      "base32 decode: two bytes of a whole group swapped"),
    M("src/embeddings/full_vector.cpp",
      "if (rem > 0x1000u || (rem == 0x1000u && (h & 1u))) ++h;",
      "if (rem >= 0x1000u) ++h;",
      "f32 -> f16: ties round up instead of to even"),
    M("src/embeddings/full_vector.cpp",
      "if (ax >= 0x477FF000u) return static_cast<std::uint16_t>(sign | 0x7C00u);",
      "if (ax >= 0x477FE000u) return static_cast<std::uint16_t>(sign | 0x7C00u);",
      "f32 -> f16: overflow threshold one step low"),
    M("src/embeddings/full_vector.cpp",
      "return static_cast<std::uint16_t>(sign | 0x7E00u | ((ax >> 13) & 0x3FFu));",
      "return static_cast<std::uint16_t>(sign | 0x7C00u | ((ax >> 13) & 0x3FFu));",
      "f32 -> f16: NaN not made quiet"),
    M("src/embeddings/full_vector.cpp",
      "const std::uint32_t middle = std::uint32_t{1} << (bits - 1);",
      "const std::uint32_t middle = (std::uint32_t{1} << (bits - 1)) - 1;",
      "quantiser: constant vector gets the wrong middle code"),
    M("src/embeddings/full_vector.cpp",
      "float q = std::roundf(t);",
      "float q = t;",
      "quantiser: rounding step dropped (codes truncated)"),
    M("src/embeddings/full_vector.cpp",
      "        v = v / maxq;\n        v = v * range;",
      "        v = v * (1.0f / maxq);\n        v = v * range;",
      "dequantiser: division replaced by a reciprocal multiply"),
    M("src/embeddings/full_vector.cpp",
      "if (pending > 0) *dst = static_cast<std::uint8_t>(acc << (8 - pending));",
      "if (pending > 0) *dst = static_cast<std::uint8_t>(acc);",
      "bit packing: last partial byte not left-aligned"),
    M("src/embeddings/byte_order.hpp",
      "return static_cast<std::uint16_t>((p[0] << 8) | p[1]);",
      "return static_cast<std::uint16_t>((p[1] << 8) | p[0]);",
      "big-endian reader: u16 (half16 values, header counts) read little-endian"),
    M("src/embeddings/byte_order.hpp",
      "    p[0] = static_cast<std::uint8_t>(v >> 8);\n    p[1] = static_cast<std::uint8_t>(v);",
      "    p[1] = static_cast<std::uint8_t>(v >> 8);\n    p[0] = static_cast<std::uint8_t>(v);",
      "big-endian writer: u16 (header counts, half16 values, f32 halves) written little-endian"),
    M("src/embeddings/header.cpp",
      "out.push_back(static_cast<std::uint8_t>((info.version << 4) | (info.profile & 0x0F)));",
      "out.push_back(static_cast<std::uint8_t>((info.profile << 4) | (info.version & 0x0F)));",
      "header writer: version and profile nibbles swapped"),
    M("src/embeddings/types.cpp",
      "out.coords.push_back(static_cast<std::uint16_t>(std::roundf(v)));",
      "out.coords.push_back(static_cast<std::uint16_t>(v));",
      "curve quantiser: rounding step dropped"),
    M("src/embeddings/types.cpp",
      "\" dims × \"",
      "\" dims x \"",
      "curve width error message text wrong"),
    M("src/embeddings/header.cpp",
      "    const std::optional<Precision> precision = Precision::from_code(bytes[4]);\n"
      "    if (!precision) return fail(MivoError::invalid_metadata(\"Invalid precision type\"));\n"
      "    const std::optional<ModeKind> mode = DimensionMode::kind_from_code(bytes[5]);\n"
      "    if (!mode) return fail(MivoError::invalid_metadata(\"Invalid dimension mode\"));\n",
      "    const std::optional<ModeKind> mode = DimensionMode::kind_from_code(bytes[5]);\n"
      "    if (!mode) return fail(MivoError::invalid_metadata(\"Invalid dimension mode\"));\n"
      "    const std::optional<Precision> precision = Precision::from_code(bytes[4]);\n"
      "    if (!precision) return fail(MivoError::invalid_metadata(\"Invalid precision type\"));\n",
      "header reader: mode code judged before the precision code"),
    M("src/embeddings/types.hpp",
      "if (code <= 2) return static_cast<ModeKind>(code);",
      "if (code < 2) return static_cast<ModeKind>(code);",
      "dimension mode code 2 (Common) refused"),
    M("src/embeddings/error.cpp",
      "\", expected range (\" + to_string(low_) + \", \"",
      "\", expected range [\" + to_string(low_) + \", \"",
      "InvalidDimension message text wrong"),
    M("src/embeddings/error.cpp",
      "\" bytes, got \" + to_string(got_);",
      "\" bytes got \" + to_string(got_);",
      "InsufficientData message text wrong"),
    M("src/embeddings/encode.cpp",
      "if (d < kMinDims || d > kMaxDims) return",
      "if (d <= kMinDims || d > kMaxDims) return",
      "encode refuses the smallest allowed length"),
    M("src/embeddings/encode.cpp",
      "return (std::bit_cast<std::uint32_t>(v) & 0x7FFFFFFFu) < 0x7F800000u;",
      "return (std::bit_cast<std::uint32_t>(v) & 0x7FFFFFFFu) <= 0x7F800000u;",
      "encode accepts infinities (missing refusal)"),
    M("src/embeddings/encode.cpp",
      "            if (t >= d)\n",
      "            if (t > d)\n",
      "Reduce mode accepts target == input dims (missing refusal)"),
    M("src/embeddings/encode.cpp",
      "if (t == 0) return fail(MivoError::invalid_dimension(0, 1, kMaxDims));",
      "if (t == 0) return fail(MivoError::invalid_dimension(0, 1, d));",
      "Common mode refusal of 0 target names the wrong range"),
    M("src/embeddings/encode.cpp",
      "const std::size_t keep = (static_cast<std::size_t>(curve.count) * curve.bits + 7) / 8;",
      "const std::size_t keep = (static_cast<std::size_t>(curve.count) * curve.bits) / 8;",
      "curve identifiers: byte count rounded down"),
    # ------------------------------------------------------------ bindings
    M("src/policy/policy.hpp",
      "inline constexpr std::uint64_t kSeedCrossDims = seed_word(\"MIVOXDII\");",
      "inline constexpr std::uint64_t kSeedCrossDims = seed_word(\"MIVOXDIM\");",
      "cross-dimensional seed wrong"),
    M("src/policy/policy.cpp",
      "    if (d32 >= quarter)\n",
      "    if (d32 > quarter)\n",
      "compression ladder: 32-bit step boundary off by one"),
    M("src/policy/policy.cpp",
      "const std::uint64_t budget = left > UINT64_MAX / 5 ? UINT64_MAX : left * 5;",
      "const std::uint64_t budget = left > UINT64_MAX / 5 ? UINT64_MAX : left * 4;",
      "length budget: 4 bits per character instead of 5"),
    M("src/policy/policy.cpp",
      "if (id.size() != 18) return refuse(Check::Length, emb::MivoError::invalid_encoding());",
      "if (id.size() < 18) return refuse(Check::Length, emb::MivoError::invalid_encoding());",
      "mivo_hamming_distance accepts over-long Mini128 identifiers"),
    M("src/policy/policy.hpp",
      "constexpr bool valid_band_count(std::uint8_t n) { return n != 0 && 16 % n == 0; }",
      "constexpr bool valid_band_count(std::uint8_t n) { return n != 0; }",
      "embedding_to_bands: band counts not dividing 16 not refused"),
    M("src/bindings/embeddings_api.cpp",
      "py_bool(m.encoded_dims < m.original_dims)",
      "py_bool(m.encoded_dims <= m.original_dims)",
      "get_metadata: has_dimension_reduction true without reduction"),
    M("src/bindings/strings_api.cpp",
      "PyUnicode_InternFromString(\"index\");",
      "PyUnicode_InternFromString(\"idx\");",
      "match records use the key 'idx'"),
    M("src/bindings/simhash_api.cpp",
      "return py_int(strings::simhash_distance(h1, h2));",
      "return py_int(strings::simhash_distance(h1, h1));",
      "simhash_distance compares the first hash with itself"),
    M("src/bindings/enums.cpp",
      "return PyUnicode_FromFormat(\"%s.%s\", info->short_name, info->variants[*v]);",
      "return PyUnicode_FromFormat(\"%s::%s\", info->short_name, info->variants[*v]);",
      "enum repr text wrong"),
    M("src/bindings/arguments.cpp",
      "if (k > 0) msg += missing.size() == 2 ? \" and \" : (k + 1 == missing.size() ? \", and \" : \", \");",
      "if (k > 0) msg += k + 1 == missing.size() ? \", and \" : \", \";",
      "missing-arguments message: two names joined with ', and'"),
    M("src/bindings/arguments.cpp",
      "\"%s() got an unexpected keyword argument '%U'\"",
      "\"%s() got unexpected keyword argument '%U'\"",
      "unexpected-keyword message text wrong"),
    M("src/bindings/similarity_opts_class.cpp",
      "    if (point <= 0) {\n",
      "    if (point < 0) {\n",
      "SimilarityOpts repr: 0.1 written as '.1'"),
    M("src/bindings/numpy_glue.cpp",
      "return same && PyArray_NDIM(arr) == 1;",
      "return same && PyArray_NDIM(arr) >= 1;",
      "embedding arrays of two or more dimensions accepted (missing refusal)"),
    M("src/bindings/module.cpp",
      "Ref module_name(PyUnicode_FromString(\"mivo\"));",
      "Ref module_name(PyUnicode_FromString(\"_mivo\"));",
      "module functions report the wrong __module__"),
    # ------------------------------------------- companion module: the index
    M("src/collections/hamming_index.hpp",
      "return a.distance != b.distance ? a.distance < b.distance : a.id < b.id;",
      "return a.distance != b.distance ? a.distance < b.distance : a.id > b.id;",
      "index search: ties broken by the larger id"),
    M("src/collections/hamming_index.cpp",
      "return s.filled_[h] < s.cap_ ? s.index_.bits() : s.heaps_[h * s.cap_].distance;",
      "return s.filled_[h] < s.cap_ ? s.index_.bits() : s.heaps_[h * s.cap_].distance - 1;",
      "k-nearest: a full heap no longer offered codes at its worst distance (smaller ids lose the tie)"),
    M("src/collections/hamming_kernels.hpp",
      "    return within_rest(PLAIN, WORDS, codes, n, i, query, bound, index, distance, found)",
      "    return found",
      "wide popcount kernels: the codes after the last whole step dropped"),
    M("src/collections/hamming_kernels_avx2.cpp",
      "_MM_SHUFFLE(3, 1, 2, 0)",
      "_MM_SHUFFLE(3, 2, 1, 0)",
      "AVX2 128-bit distances: codes 1 and 2 of a step swapped"),
    M("src/collections/hamming_index.cpp",
      "lane_end = codes_ * (lane + 1) / lanes_;",
      "lane_end = codes_ * (lane + 1) / lanes_ - (lane + 1 < lanes_);",
      "scan plan: the last code of every lane but the last skipped"),
    M("src/collections/hamming_index.cpp",
      "            ids_[kept] = ids_[i];\n",
      "",
      "remove: ids not moved down with their codes (stale ids left)"),
    M("src/collections/hamming_index.hpp",
      "if constexpr (std::endian::native == std::endian::little) {",
      "if constexpr (false) {",
      "64-bit codes given as numbers stored in native byte order (unlike uint8 rows and the saved form)"),
    M("src/collections/index_file.cpp",
      "if (std::memcmp(stored, computed, kChecksumSize) != 0)",
      "if (false && std::memcmp(stored, computed, kChecksumSize) != 0)",
      "index file: the checksum not checked on load"),
    M("src/collections/index_file.cpp",
      "put_le(header_ + 24, index.next_id(), 8);",
      "put_le(header_ + 24, index.size(), 8);",
      "index file: the count of codes saved as the next default id"),
    M("src/collections/index_file.cpp",
      "refuse((fits ? \"is damaged: \" : \"is truncated: \")",
      "refuse((fits ? \"is truncated: \" : \"is damaged: \")",
      "index file: truncated and damaged sizes named the wrong way round"),
    M("src/bindings/collections/index_class.cpp",
      "            if (ids[i] < 0) {",
      "            if (ids[i] < -1) {",
      "HammingIndex.add: the id -1 (the padding of results) accepted"),
    # ------------------------------------ companion module: cdist and extract
    M("src/collections/string_matrix.cpp",
      "if (m_ == 0 || (cutoff_.active && gap > cutoff_.distance)) {",
      "if (m_ == 0 || (cutoff_.active && gap >= cutoff_.distance)) {",
      "cdist: a block whose length gap equals the distance cutoff skipped (off by one)"),
    M("src/collections/string_matrix.cpp",
      "    return a.index < b.index;",
      "    return a.index > b.index;",
      "extract: ties go to the later choice"),
    M("src/collections/string_matrix.cpp",
      "    const std::size_t k = std::min(m, n);\n",
      "    const std::size_t k = std::min(m, n) - (std::min(m, n) > 1);\n",
      "similarity bound from the lengths one match too low (prunes reachable scores)"),
    M("src/collections/string_matrix.cpp",
      "            if (q[i] < 256)",
      "            if (q[i] < 128)",
      "extract: the query's Latin-1 letters not counted when pruning by characters"),
    M("src/collections/string_matrix.cpp",
      "        return similarity != 0.0;",
      "        return similarity >= 1.0;",
      "cdist dtype=bool: similarities below 1 written as False"),
    M("src/strings/lane_kernels.inc",
      "const std::size_t hi = i + w + 1 < n ? i + w + 1 : n;",
      "const std::size_t hi = i + w < n ? i + w : n;",
      "lane Jaro: the last position of the match window left out"),
    M("src/strings/lane_kernels.inc",
      "const V mask = vset1<E>(ones_below(b.length));",
      "const V mask = vset1<E>(ones_below(b.length - 1));",
      "short lane edit distance: the choice's last position left out of the sum"),
    M("src/strings/lane_kernels_x86.cpp",
      "    if constexpr (E == 32) return _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));",
      "    if constexpr (E == 32) return pairs;",
      "AVX2 lanes of 32 bits: the bits of the upper half not counted"),
    M("src/bindings/collections/matrix_api.cpp",
      ("        for (PyObject* o : objects) Py_DECREF(o);\n", "        Py_INCREF(item);\n"),
      ("", ""),
      "cdist and extract: the str objects read with the lock released are not held"),
    # ------------------------ companion module: encode_batch and bands_batch
    M("src/bindings/collections/batch_api.cpp",
      "PyErr_Format(type, \"row %zu: %s\", e.row, e.error.display().c_str());",
      "PyErr_Format(type, \"%s\", e.error.display().c_str());",
      "batch refusals without the row prefix"),
    M("src/collections/batch_encode.cpp",
      "if (!first_ || e->row < first_->row) first_ = std::move(e);",
      "if (!first_ || e->row > first_->row) first_ = std::move(e);",
      "batch refusals: the last refused row of the workers named instead of the first"),
    M("src/collections/batch_encode.cpp",
      "x.row_stride == static_cast<std::ptrdiff_t>(d * sizeof(float));",
      "x.row_stride >= static_cast<std::ptrdiff_t>(d * sizeof(float));",
      "encode_batch: rows with gaps between them read in place as if contiguous"),
    M("src/bindings/collections/batch_api.cpp",
      ("    if (!x.convert(args.raw(0), \"X\")) return nullptr;  // viewed after the last conversion that can run "
       "Python code\n    const embeddings::EncodingProfile"),
      "    const embeddings::EncodingProfile",
      "encode_batch: the matrix viewed before workers= is converted (a conversion that reshapes it frees it)"),
    M("src/bindings/numpy_glue.cpp",
      "        if (stride == static_cast<Py_ssize_t>(sizeof(float))) {",
      "        if (stride != 0) {",
      "embedding_to_bands: strided float32 arrays copied as if contiguous"),
    # --------------------------------------------------------- the sign pass
    M("src/embeddings/sign_pass.cpp",
      "const double u = 0x1p-24, eta = 0x1p-150, kappa = 1 + 0x1p-11;",
      "const double u = 0x1p-34, eta = 0x1p-150, kappa = 1 + 0x1p-11;",
      "sign pass bound: the unit roundoff taken as 2^-34 (a bound a thousand times too small)"),
    M("src/embeddings/vector_simhash.cpp",
      "        for (std::size_t k = 0; k < kDotRowGroup; ++k) {",
      "        for (std::size_t k = 0; k + 1 < kDotRowGroup; ++k) {",
      "sign pass: the literal sum skipped for the last doubtful row of each group"),
    M("src/embeddings/sign_pass.cpp",
      "doubtful[h] = !(f[h] > bound) & !(f[h] < -bound);",
      "doubtful[h] = !(f[h] > bound) & !(f[h] < -bound) & (h != 127);",
      "sign pass: a doubtful last row taken as negative without its literal sum"),
    M("src/embeddings/sign_pass_x86.cpp",
      "#define MIVO_AVX2_ABS(a) _mm256_andnot_ps(_mm256_set1_ps(-0.0f), (a))",
      "#define MIVO_AVX2_ABS(a) (a)",
      "AVX2 sign pass: checkpoint sums of signed instead of absolute values"),
    M("src/embeddings/sign_pass_kernel.inc",
      "for (; count - i >= (MANY_V); i += (MANY_V))",
      "for (; count - i > (MANY_V); i += (MANY_V))",
      "sign pass over many vectors: a last tile of exactly the tile's width skipped"),
    # ----------------------------------------------- more of cdist and bands
    M("src/strings/stored_query.cpp",
      "cursor[id] = static_cast<std::uint32_t>(pos + 1);",
      "cursor[id] = static_cast<std::uint32_t>(pos);",
      "Jaro of a query over 64 values: a character's cursor not moved past its match"),
    M("src/strings/lane_blocks.cpp",
      "const std::size_t lanes = vector_bytes * 8 / bits;",
      "const std::size_t lanes = vector_bytes * 8 / bits + 1;",
      "lane blocks: one short choice more than the vector holds"),
    M("src/strings/lane_blocks.cpp",
      "left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1);",
      "left > 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (left % 64)) - 1);",
      "long lanes: a last word of 64 positions masked as empty"),
    M("src/collections/string_matrix.cpp",
      "        if (m != m_ || n != n_) {",
      "        if (m != m_) {",
      "cdist: the scores kept for one choice length reused for the next"),
    M("src/bindings/numpy_glue.cpp",
      ("std::strcmp(Py_TYPE(obj)->tp_name, \"numpy.ndarray\") != 0", "if (!PyArray_CheckExact(obj))"),
      ("false", "if (!PyArray_Check(obj))"),
      "embedding_to_bands: any ndarray subclass read through its buffer, not its items; NumPy loaded for a list"),
    M("src/bindings/numpy_glue.cpp",
      " || !PyArray_ISNOTSWAPPED(arr))",
      ")",
      "embedding_to_bands: big-endian float arrays read directly, bytes unswapped"),
]

# ----------------------------------------------------------------------------


def run(cmd: list[str], timeout: float, env: dict[str, str] | None = None) -> tuple[int | None, str]:
    """Runs cmd in its own process group; rc None on timeout (the group is killed)."""
    proc = subprocess.Popen(cmd, cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, errors="replace", start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise


class Runner:
    def __init__(self, build: Path, build_timeout: float, test_timeout: float, layer: str = "both"):
        self.build = build
        self.layer = layer
        self.build_timeout = build_timeout
        self.test_timeout = test_timeout
        self.python = str(ROOT / ".venv" / "bin" / "python")
        self.env = dict(os.environ)
        inherited = self.env.get("PYTHONPATH")
        self.env["PYTHONPATH"] = str(build) + (os.pathsep + inherited if inherited else "")
        self.env.pop("PYTHONDONTWRITEBYTECODE", None)

    def configure(self) -> None:
        if (self.build / "build.ninja").exists():
            return
        rc, out = run(["cmake", "-S", ".", "-B", str(self.build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                       "-DMIVO_BUILD_TESTS=ON", f"-DPython_EXECUTABLE={self.python}"], self.build_timeout)
        if rc != 0:
            sys.exit(f"configure failed:\n{out[-3000:]}")

    def compile(self) -> tuple[bool, str]:
        rc, out = run(["cmake", "--build", str(self.build), "-j2"], self.build_timeout)
        if rc == 0:
            return True, ""
        if rc is None:
            return False, "build timed out"
        errs = [line for line in out.splitlines() if "error" in line]
        return False, (errs[0] if errs else out.strip().splitlines()[-1] if out.strip() else "build failed")[:300]

    def check_import(self) -> str:
        rc, out = run([self.python, "-c", "import mivo; print(mivo.__file__)"], 60, self.env)
        path = out.strip().splitlines()[-1] if out.strip() else ""
        if rc != 0 or not Path(path).resolve().is_relative_to(self.build.resolve()):
            sys.exit(f"pytest would not import the module from {self.build}: {out.strip()}")
        return path

    def cpp_tests(self) -> tuple[str, str]:
        """('pass'|'fail'|'timeout', detail)."""
        rc, out = run([str(self.build / "mivo_tests"), "--gtest_brief=1"], self.test_timeout)
        return test_outcome(rc, out, "C++ tests", r"^\[  FAILED  \] (\S+?),?(?:\s|$)")

    def py_tests(self) -> tuple[str, str]:
        rc, out = run([self.python, "-m", "pytest", "-q", "-x", "-p", "no:cacheprovider", "tests/python"],
                      self.test_timeout, self.env)
        return test_outcome(rc, out, "pytest", r"^(?:FAILED|ERROR) (.+?)(?: - .*)?$")


def test_outcome(rc: int | None, out: str, what: str, failed_pattern: str) -> tuple[str, str]:
    """('pass'|'fail'|'timeout', detail): the first failed test's name, if the output names one."""
    if rc is None:
        return "timeout", f"{what} timed out"
    if rc == 0:
        return "pass", ""
    failed = re.findall(failed_pattern, out, re.M)
    if failed:
        return "fail", failed[0]
    return "fail", f"exit status {rc}" + (" (crash)" if rc < 0 else "")


# A mutated file is recorded here before it is written, so that a run that
# dies hard (SIGKILL, power) can be repaired by the next run.
def journal_path(build: Path) -> Path:
    return build / "mutant_in_progress.json"


def restore_from_journal(build: Path) -> None:
    j = journal_path(build)
    if not j.exists():
        return
    data = json.loads(j.read_text())
    (ROOT / data["file"]).write_bytes(data["original"].encode("utf-8", "surrogateescape"))
    print(f"restored {data['file']} left mutated by an interrupted run", file=sys.stderr)
    j.unlink()


def occurrences(m: Mutant) -> int:
    """How often the old texts occur: 1 when each occurs once, else the first other count."""
    path = ROOT / m.file
    if not path.exists():
        return 0
    text = path.read_text(encoding="utf-8")
    counts = [text.count(old) for old, _ in m.edits()]
    return next((c for c in counts if c != 1), 1)


def mutated(text: str, m: Mutant) -> str:
    for old, new in m.edits():
        text = text.replace(old, new, 1)
    return text


def run_mutant(runner: Runner, idx: int, m: Mutant) -> dict:
    t0 = time.monotonic()
    rec = {"id": idx, "file": m.file, "desc": m.desc}
    n = occurrences(m)
    if n != 1:
        rec.update(result="stale", detail=f"old text found {n} times")
        return rec
    path = ROOT / m.file
    original = path.read_bytes()
    text = original.decode("utf-8")
    journal = journal_path(runner.build)
    journal.write_text(json.dumps({"file": m.file, "original": text}))
    try:
        path.write_text(mutated(text, m), encoding="utf-8")
        ok, err = runner.compile()
        if not ok:
            rec.update(result="compile error", detail=err)
        else:
            status, detail = runner.cpp_tests() if runner.layer != "python" else ("pass", "")
            if status != "pass":
                rec.update(result="caught C++", detail=detail if status == "fail" else "timeout")
            else:
                status, detail = runner.py_tests() if runner.layer != "cpp" else ("pass", "")
                if status != "pass":
                    rec.update(result="caught Python", detail=detail if status == "fail" else "timeout")
                else:
                    rec.update(result="survived", detail="")
    finally:
        path.write_bytes(original)
        journal.unlink(missing_ok=True)
    rec["seconds"] = round(time.monotonic() - t0, 1)
    return rec


RESULTS = ["caught C++", "caught Python", "survived", "compile error", "stale"]


def tally(records: list[dict]) -> dict[str, int]:
    return {r: sum(1 for x in records if x["result"] == r) for r in RESULTS}


def markdown(records: list[dict]) -> str:
    lines = ["| id | file | description | result |", "|---:|---|---|---|"]
    for r in records:
        res = r["result"] + (f" ({r['detail']})" if r.get("detail") else "")
        lines.append(f"| {r['id']} | {r['file'].removeprefix('src/')} | {r['desc']} | {res} |")
    t = tally(records)
    lines.append("")
    lines.append("Tally: " + ", ".join(f"{k}: {v}" for k, v in t.items()) + f" (of {len(records)})")
    return "\n".join(lines)


def to_json(out: dict) -> str:
    """One result per line, so that two runs diff line by line."""
    head = {k: v for k, v in out.items() if k != "results"}
    lines = json.dumps(head, indent=1, ensure_ascii=False)[:-2].rstrip() + ',\n "results": [\n'
    lines += ",\n".join("  " + json.dumps(r, ensure_ascii=False) for r in out["results"])
    return lines + "\n ]\n}\n"


def compare(baseline: dict, records: list[dict]) -> str:
    """The mutants caught in the baseline run but not now (and the reverse)."""
    def caught(r: dict) -> bool:
        return r["result"].startswith("caught")
    before = {r["id"]: r for r in baseline.get("results", [])}
    lost, gained, moved = [], [], []
    for r in records:
        b = before.get(r["id"])
        if b is None or b["desc"] != r["desc"]:
            continue
        if caught(b) and not caught(r):
            lost.append(f"- #{r['id']} {r['file']}: {r['desc']}: {b['result']} -> {r['result']}")
        elif caught(r) and not caught(b):
            gained.append(f"- #{r['id']} {r['file']}: {r['desc']}: {b['result']} -> {r['result']}")
        elif caught(r) and r["result"] != b["result"]:
            moved.append(f"- #{r['id']}: {b['result']} -> {r['result']}")
    out = [f"Compared with {baseline.get('commit', '?')}: {len(lost)} no longer caught, {len(gained)} newly caught,"
           f" {len(moved)} caught by the other layer now"]
    out += lost + gained + moved
    return "\n".join(out)


def parse_only(ids_text: str) -> list[int]:
    ids: list[int] = []
    for part in ids_text.split(","):
        part = part.strip()
        if not part:
            continue
        if "-" in part:
            lo, hi = part.split("-", 1)
            ids.extend(range(int(lo), int(hi) + 1))
        else:
            ids.append(int(part))
    bad = [i for i in ids if not 1 <= i <= len(MUTANTS)]
    if bad:
        sys.exit(f"no such mutant: {bad} (1..{len(MUTANTS)})")
    return ids


def git_head() -> str:
    try:
        return subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT, capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--only", help="comma-separated mutant ids or ranges (e.g. 1,4,10-12)")
    ap.add_argument("--list", action="store_true", help="list the mutants (with a stale check) and exit")
    ap.add_argument("--json", metavar="OUT", help="write the results as JSON")
    ap.add_argument("--compare", metavar="BASELINE",
                    help="after the run, list the mutants whose outcome differs from a JSON file of an earlier run")
    ap.add_argument("--build-dir", default="build/mutants", help="CMake build directory (default build/mutants)")
    ap.add_argument("--timeout", type=float, default=600, help="seconds per test run (default 600)")
    ap.add_argument("--build-timeout", type=float, default=1800, help="seconds per build (default 1800)")
    ap.add_argument("--layer", choices=["both", "cpp", "python"], default="both",
                    help="run only the C++ tests or only pytest against each mutant (default both)")
    ap.add_argument("--skip-clean-check", action="store_true",
                    help="do not check first that the unmutated tree passes")
    args = ap.parse_args()

    ids = parse_only(args.only) if args.only else list(range(1, len(MUTANTS) + 1))

    if args.list:
        for i in ids:
            m = MUTANTS[i - 1]
            n = occurrences(m)
            state = "" if n == 1 else f"  [stale: old text found {n} times]"
            print(f"{i:3d}  {m.file:40s} {m.desc}{state}")
        return 0

    build = (ROOT / args.build_dir).resolve()
    build.mkdir(parents=True, exist_ok=True)
    # One run at a time per build directory: a second run would rebuild and
    # restore files under the first one's feet.
    lock = open(build / "mutants.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit(f"another mutants.py run is using {build}")
    restore_from_journal(build)
    runner = Runner(build, args.build_timeout, args.timeout, args.layer)

    # SIGINT (also when started in the background, where it may be ignored),
    # SIGTERM and SIGHUP unwind the same way, so the finally blocks restore
    # the source.
    def interrupted(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)

    started = time.monotonic()
    records: list[dict] = []
    clean: dict | None = None
    aborted = False
    try:
        runner.configure()
        ok, err = runner.compile()
        if not ok:
            sys.exit(f"the unmutated tree does not build: {err}")
        module = runner.check_import()
        print(f"module under test: {module}", flush=True)
        if not args.skip_clean_check:
            t0 = time.monotonic()
            cpp, cpp_detail = runner.cpp_tests()
            py, py_detail = runner.py_tests() if cpp == "pass" else ("not run", "")
            clean = {"cpp": cpp, "python": py, "seconds": round(time.monotonic() - t0, 1)}
            if cpp != "pass" or py != "pass":
                sys.exit(f"the unmutated tree fails its tests: C++ {cpp} {cpp_detail}; Python {py} {py_detail}")
            print(f"unmutated tree passes ({clean['seconds']} s for both test runs)", flush=True)
        for i in ids:
            rec = run_mutant(runner, i, MUTANTS[i - 1])
            records.append(rec)
            detail = f" ({rec['detail']})" if rec.get("detail") else ""
            print(f"[{len(records)}/{len(ids)}] #{i} {rec['file']}: {rec['desc']} -> {rec['result']}{detail}"
                  f" [{rec.get('seconds', 0)} s]", flush=True)
    except KeyboardInterrupt:
        aborted = True
        print("\ninterrupted; sources restored", file=sys.stderr)
    finally:
        # Leave the build directory matching the unmutated sources (a no-op
        # when nothing was mutated).
        if (build / "build.ninja").exists():
            ok, err = runner.compile()
            if not ok:
                print(f"warning: final rebuild failed: {err}", file=sys.stderr)

    elapsed = time.monotonic() - started
    print()
    print(markdown(records))
    print(f"\n{len(records)} mutants in {elapsed / 60:.1f} min" + (" (interrupted)" if aborted else ""))
    if args.compare:
        print()
        print(compare(json.loads(Path(args.compare).read_text()), records))
    if args.json:
        out = {
            "commit": git_head(),
            "mutants_total": len(MUTANTS),
            "complete": not aborted and len(records) == len(ids),
            "minutes": round(elapsed / 60, 1),
            "clean_run": clean,
            "tally": tally(records),
            "results": records,
        }
        Path(args.json).write_text(to_json(out))
    return 130 if aborted else 0


if __name__ == "__main__":
    sys.exit(main())
