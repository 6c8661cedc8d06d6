"""A short tour of mivo's string functions: fuzzy matching a misspelled word
against a word list, and spotting near-duplicate sentences with SimHash."""

import pathlib

import mivo

# --- Fuzzy matching -----------------------------------------------------------
words_file = pathlib.Path("/usr/share/dict/words")
if words_file.exists():
    words = words_file.read_text(encoding="utf-8", errors="replace").split()
else:  # a small stand-in when the system word list is missing
    words = ["accommodate", "accommodation", "acknowledge", "necessary", "separate", "definitely"]

query = "acommodate"
best = mivo.find_best_match(query, words)
print(f"Best match for {query!r} among {len(words):,} words: "
      f"{words[best['index']]!r} (score {best['score']:.3f})")

close = mivo.find_matches_above_threshold(query, words, 0.9)
close.sort(key=lambda m: m["score"], reverse=True)
print(f"Words scoring at least 0.9 ({len(close)}):")
for match in close[:5]:
    print(f"  {words[match['index']]:<16} {match['score']:.3f}")

# The scores behind best_match, side by side.
for a, b in [("acommodate", "accommodate"), ("martha", "marhta"), ("kitten", "sitting")]:
    print(f"  {a!r} vs {b!r}: levenshtein={mivo.levenshtein(a, b)}, "
          f"osa={mivo.osa_distance(a, b)}, jaro_winkler={mivo.jaro_winkler(a, b):.3f}, "
          f"best_match={mivo.best_match(a, b):.3f}")

# Case and surrounding white space can be ignored.
opts = mivo.SimilarityOpts(case_sensitive=False, trim_whitespace=True)
print(f"  levenshtein_with_opts('  Straße ', 'STRASSE', {opts!r}) ="
      f" {mivo.levenshtein_with_opts('  Straße ', 'STRASSE', opts)}")

# --- Near-duplicate detection ------------------------------------------------
sentences = [
    "The quick brown fox jumps over the lazy dog.",
    "The quick brown fox jumped over the lazy dog!",
    "A quick brown fox jumps over the lazy dog.",
    "Quarterly revenue grew by twelve percent in the last fiscal year.",
    "Revenue grew by twelve percent in the last fiscal quarter.",
]
hashes = [mivo.simhash(s) for s in sentences]  # 64-bit ints, easy to store

print("\nSimHash fingerprints:")
for s, h in zip(sentences, hashes):
    print(f"  {h:016x}  {s}")

print("Pairs within 8 differing bits (of 64):")
for i, h in enumerate(hashes):
    for j in mivo.find_similar_hashes(h, hashes, 8):
        if j > i:
            d = mivo.simhash_distance(h, hashes[j])
            print(f"  #{i} ~ #{j}: {d} bits apart, similarity {1 - d / 64:.3f}")
