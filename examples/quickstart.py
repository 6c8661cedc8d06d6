"""A short tour of mivo: string similarity, then identifiers for embeddings."""
import math
import os
import pathlib
import sqlite3
import tempfile

import numpy as np

import mivo


def section(title):
    print(f"\n{title}\n{'-' * len(title)}")


print(f"mivo {mivo.__version__}")

# ----------------------------------------------------------------- strings
section("String similarity, by Unicode code point")
for a, b in [("kitten", "sitting"), ("café", "cafe\u0301"), ("日本語", "日本")]:
    print(
        f"  {a!r} vs {b!r}: levenshtein={mivo.levenshtein(a, b)}"
        f"  normalized={mivo.normalized_levenshtein(a, b):.3f}"
    )
print("  The two 'café' look alike but differ: the first has one code point é (U+00E9), the")
print("  second e followed by a combining acute accent (U+0301), so one substitution and one")
print("  insertion. Normalise both first (unicodedata.normalize('NFC', s)) to compare them as equal.")

section("Fuzzy matching against a word list")
words_file = pathlib.Path("/usr/share/dict/words")
if words_file.exists():
    words = words_file.read_text(encoding="utf-8", errors="replace").split()
else:  # a small stand-in when the system word list is missing
    words = ["accommodate", "accommodation", "acknowledge", "necessary", "separate", "definitely"]

query = "acommodate"
best = mivo.find_best_match(query, words)
print(f"  Best match for {query!r} among {len(words):,} words: "
      f"{words[best['index']]!r} (score {best['score']:.3f})")

close = mivo.find_matches_above_threshold(query, words, 0.9)
close.sort(key=lambda m: m["score"], reverse=True)
print(f"  Words scoring at least 0.9 ({len(close)}):")
for match in close[:5]:
    print(f"    {words[match['index']]:<16} {match['score']:.3f}")

# The scores behind best_match, side by side.
print("  The scores behind best_match:")
for a, b in [("acommodate", "accommodate"), ("martha", "marhta"), ("kitten", "sitting")]:
    print(f"    {a!r} vs {b!r}: levenshtein={mivo.levenshtein(a, b)}, "
          f"osa={mivo.osa_distance(a, b)}, jaro_winkler={mivo.jaro_winkler(a, b):.3f}, "
          f"best_match={mivo.best_match(a, b):.3f}")

# Case and surrounding white space can be ignored.
opts = mivo.SimilarityOpts(case_sensitive=False, trim_whitespace=True)
print(f"  levenshtein_with_opts('  Straße ', 'STRASSE', {opts!r}) ="
      f" {mivo.levenshtein_with_opts('  Straße ', 'STRASSE', opts)}")

section("Near-duplicate sentences with the text SimHash")
sentences = [
    "The quick brown fox jumps over the lazy dog.",
    "The quick brown fox jumped over the lazy dog!",
    "A quick brown fox jumps over the lazy dog.",
    "Quarterly revenue grew by twelve percent in the last fiscal year.",
    "Revenue grew by twelve percent in the last fiscal quarter.",
]
hashes = [mivo.simhash(s) for s in sentences]

print("  SimHash fingerprints (unsigned 64-bit integers, 0 to 2**64 - 1):")
for s, h in zip(sentences, hashes):
    print(f"    {h:016x}  {s}")


# Databases store signed 64-bit integers: a value of 2**63 or more does not
# fit as it is (SQLite: "Python int too large", PostgreSQL: "bigint out of
# range"). Store h - 2**64 instead and add 2**64 back when reading, or store
# the 8 bytes h.to_bytes(8, "big").
def to_signed(h):
    return h - 2**64 if h >= 2**63 else h


def from_signed(s):
    return s + 2**64 if s < 0 else s


con = sqlite3.connect(":memory:")
con.execute("CREATE TABLE texts (id INTEGER PRIMARY KEY, simhash INTEGER, simhash_bytes BLOB)")
con.executemany("INSERT INTO texts VALUES (?, ?, ?)",
                [(i, to_signed(h), h.to_bytes(8, "big")) for i, h in enumerate(hashes)])
stored = con.execute("SELECT simhash, simhash_bytes FROM texts ORDER BY id").fetchall()
assert [from_signed(s) for s, _ in stored] == [int.from_bytes(b, "big") for _, b in stored] == hashes
print(f"  Stored in SQLite as signed 64-bit integers ({sum(h >= 2**63 for h in hashes)} of {len(hashes)} are >= 2**63"
      " and stored negative)\n  and as 8 bytes; both read back to the same values.")
con.close()

print("  Pairs within 8 differing bits (of 64):")
for i, h in enumerate(hashes):
    for j in mivo.find_similar_hashes(h, hashes, 8):
        if j > i:
            d = mivo.simhash_distance(h, hashes[j])
            print(f"    #{i} ~ #{j}: {d} bits apart, similarity {1 - d / 64:.3f}")

# ----------------------------------------------------------- the embeddings
section("Embeddings used below")
try:
    from sklearn.datasets import load_digits

    data = load_digits().data.astype(np.float32)  # shipped inside scikit-learn, no download
    source = "scikit-learn's handwritten digits: 1797 real feature vectors of 64 values"
except ImportError:
    rng = np.random.default_rng(0)
    centres = rng.standard_normal((20, 64)).astype(np.float32)
    data = (centres[rng.integers(0, 20, 2000)] + 0.4 * rng.standard_normal((2000, 64))).astype(np.float32)
    source = ("synthetic: 2000 vectors of 64 values around 20 cluster centres (with scikit-learn installed,\n"
              "  its handwritten digits: pip install scikit-learn)")
data = data - data.mean(axis=0)  # centre, so cosine similarity spreads over -1..1
print(f"  {source}, centred")
unit = data / np.linalg.norm(data, axis=1, keepdims=True)
v = data[0]

# ------------------------------------------------------------ every profile
section("One embedding, every kind of identifier")
examples = [
    ("encode(v, Profile.Mini128)", mivo.encode(v, mivo.Profile.Mini128)),
    ("encode(v, Profile.Morton10x10)", mivo.encode(v, mivo.Profile.Morton10x10)),
    ("encode(v, Profile.Hilbert10x10)", mivo.encode(v, mivo.Profile.Hilbert10x10)),
    ("encode_lossless(v)", mivo.encode_lossless(v)),
    ("encode_compressed(v, 0.5)", mivo.encode_compressed(v, 0.5)),
    ("encode_compressed(v, 0.1)", mivo.encode_compressed(v, 0.1)),
    ("encode_max_length(v, 60)", mivo.encode_max_length(v, 60)),
    ("encode_cross_dimensional(v, 32)", mivo.encode_cross_dimensional(v, 32)),
]
for call, text in examples:
    shown = text if len(text) <= 40 else text[:37] + "..."
    print(f"  {call:<33} {len(text):>4} chars  {shown}")

section("Decoding full-vector identifiers")
restored = mivo.decode_to_embedding(mivo.encode_lossless(v))
assert restored is not None  # None only for the short profiles
same_bits = np.array_equal(restored.view(np.uint32), v.view(np.uint32))
print(f"  lossless: {restored.shape[0]} values back, bit-identical: {same_bits}")
print("  compressed identifiers keep the geometry in a smaller, projected space;")
print("  error of the pairwise cosine similarity over 300 random pairs:")
rng = np.random.default_rng(1)
pairs = rng.integers(0, len(data), (300, 2))
true_cos = np.einsum("ij,ij->i", unit[pairs[:, 0]], unit[pairs[:, 1]])
for pct in (0.5, 0.25, 0.1):
    decoded = {}
    for row in np.unique(pairs):
        back = mivo.decode_to_embedding(mivo.encode_compressed(data[row], pct))
        assert back is not None
        decoded[row] = back
    meta = mivo.get_metadata(mivo.encode_compressed(v, pct))
    assert meta is not None
    cos_back = np.array([
        np.dot(decoded[a], decoded[b]) / (np.linalg.norm(decoded[a]) * np.linalg.norm(decoded[b])) for a, b in pairs
    ])
    size = len(mivo.encode_compressed(v, pct))
    shape = f"{meta['encoded_dims']:>2} x {meta['precision']:<6}"
    print(
        f"    encode_compressed(v, {pct}){'':<{4 - len(str(pct))}} -> {shape} {size:>4} chars,"
        f" mean |cos error| {np.mean(np.abs(cos_back - true_cos)):.3f}"
    )

# ------------------------------------------------------- Hamming vs cosine
section("Mini128 identifiers: Hamming distance tracks the angle")
ids = [mivo.encode(x, mivo.Profile.Mini128) for x in data]
anchor = 0
order = np.argsort(-(unit @ unit[anchor]))
print("  neighbour   cosine   angle   Hamming  angle from Hamming (pi * d / 128)")
for rank in (1, 2, 5, 50, 500, len(data) - 1):
    i = order[rank]
    cos = float(unit[i] @ unit[anchor])
    d = mivo.mivo_hamming_distance(ids[anchor], ids[i])
    print(f"  #{rank:<9} {cos:7.3f} {math.degrees(math.acos(min(1.0, cos))):6.1f}°   {d:5d}    {180 * d / 128:6.1f}°")

# ------------------------------------------------------- LSH bands in SQLite
section("Near-neighbour lookup with LSH bands in SQLite")


def band_index(con, bands):
    cols = [f"band{i}" for i in range(bands)]
    con.execute(f"CREATE TABLE items{bands} (id INTEGER PRIMARY KEY, {', '.join(c + ' TEXT' for c in cols)})")
    for c in cols:
        con.execute(f"CREATE INDEX idx{bands}_{c} ON items{bands}({c})")
    rows = [(i, *mivo.embedding_to_bands(x.tolist(), bands)) for i, x in enumerate(data)]
    con.executemany(f"INSERT INTO items{bands} VALUES ({', '.join('?' * (bands + 1))})", rows)
    con.commit()
    return f"SELECT id FROM items{bands} WHERE " + " OR ".join(f"{c} = ?" for c in cols)


with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "vectors.db")
    con = sqlite3.connect(path)
    queries = range(0, len(data), 10)
    for bands in (4, 8, 16):
        sql = band_index(con, bands)
        if bands == 4:
            print(f"  query: {sql.split('WHERE ')[1]}")
        found = examined = 0
        for q in queries:
            cand = {i for (i,) in con.execute(sql, mivo.embedding_to_bands(data[q].tolist(), bands)) if i != q}
            sims = unit @ unit[q]
            sims[q] = -2
            truth = set(np.argsort(-sims)[:10])
            found += len(cand & truth)
            examined += len(cand)
        print(
            f"  {bands:>2} bands of {128 // bands:>2} bits: recall@10 {found / (10 * len(queries)):5.1%}"
            f" against brute-force cosine, {examined / len(queries):6.1f} rows examined per query"
            f" (of {len(data)})"
        )
    con.close()
    print(f"  (an on-disk database in {tmp}, removed again)")
print("  Fewer, wider bands return only very close matches; more, narrower bands find more")
print("  neighbours at the cost of more candidate rows to re-rank: use 16 bands.")
print("  A band matches only in its own position (band0 against band0): with one column per")
print("  position that holds; in a single column (say a text[] array) store f'{i}:{band}' instead,")
print("  or bands equal by chance in different positions turn most of the table into candidates.")
