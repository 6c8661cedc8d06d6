"""A short tour of mivo."""
import mivo

print(f"mivo {mivo.__version__}\n")

print("String similarity")
pairs = [("kitten", "sitting"), ("hello", "hallo"), ("café", "cafe\u0301"), ("日本語", "日本")]
for a, b in pairs:
    print(
        f"  {a!r:>12} vs {b!r:<14} levenshtein={mivo.levenshtein(a, b)}"
        f"  normalized={mivo.normalized_levenshtein(a, b):.3f}"
    )
