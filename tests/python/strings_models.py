"""Straightforward Python models of the string metrics and the text SimHash,
and the random string generator used by the differential tests."""

from __future__ import annotations

import random

WHITE_SPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + ["\u0020", "\u0085", "\u00a0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)

# ----------------------------------------------------------------- metrics


def edit_distance(a: str, b: str, transpositions: bool = False) -> int:
    """The full table of edit costs; with transpositions of two neighbours
    (optimal string alignment) when asked."""
    d = [[i + j if i == 0 or j == 0 else 0 for j in range(len(b) + 1)] for i in range(len(a) + 1)]
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            d[i][j] = min(d[i - 1][j - 1] + (a[i - 1] != b[j - 1]), d[i][j - 1] + 1, d[i - 1][j] + 1)
            if transpositions and i >= 2 and j >= 2 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + 1)
    return d[-1][-1]


def levenshtein(a: str, b: str) -> int:
    return edit_distance(a, b)


def osa_distance(a: str, b: str) -> int:
    return edit_distance(a, b, transpositions=True)


def normalized_levenshtein(a: str, b: str) -> float:
    return 1.0 if a == b else 1.0 - levenshtein(a, b) / max(len(a), len(b))


def jaro(a: str, b: str) -> float:
    if a == b:
        return 1.0
    if not a or not b:
        return 0.0
    la, lb = len(a), len(b)
    w = max(max(la, lb) // 2 - 1, 0)
    fa, fb = [False] * la, [False] * lb
    m = 0
    for i in range(la):
        for j in range(max(0, i - w), min(i + w + 1, lb)):
            if not fb[j] and b[j] == a[i]:
                fa[i] = fb[j] = True
                m += 1
                break
    if m == 0:
        return 0.0
    t = sum(x != y for x, y in zip([x for x, f in zip(a, fa) if f], [y for y, f in zip(b, fb) if f]))
    return (m / lb + m / la + (m - t // 2) / m) / 3.0


def jaro_winkler(a: str, b: str) -> float:
    j = jaro(a, b)
    if j < 0.7:
        return j
    prefix = next((i for i, (x, y) in enumerate(zip(a[:4], b[:4])) if x != y), min(len(a), len(b), 4))
    return (1.0 - j) * (prefix * 0.1) + j


def hamming(a: str, b: str) -> int | None:
    return sum(x != y for x, y in zip(a, b)) if len(a) == len(b) else None


def best_match(a: str, b: str) -> float:
    return max(jaro_winkler(a, b), normalized_levenshtein(a, b))


def find_best_match(query: str, candidates: list[str]) -> dict:
    """The last of the best scores wins."""
    scores = [best_match(query, c) for c in candidates]
    index = max(reversed(range(len(scores))), key=scores.__getitem__, default=0)
    return {"index": index, "score": scores[index] if scores else 0.0}


def find_matches_above_threshold(query: str, candidates: list[str], threshold: float) -> list[dict]:
    scores = [best_match(query, c) for c in candidates]
    return [{"index": i, "score": s} for i, s in enumerate(scores) if s >= threshold]


# ------------------------------------------------------------------ SimHash

def fnv1a64(data: bytes) -> int:
    h = 0xCBF29CE484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def simhash_tokens(lowered: str) -> list[str]:
    """Every run of three code points and every word; a text under three
    code points is its code points."""
    if len(lowered) < 3:
        return list(lowered)
    words = "".join(" " if ch in WHITE_SPACE else ch for ch in lowered).split(" ")
    return [lowered[i : i + 3] for i in range(len(lowered) - 2)] + [w for w in words if w]


def simhash(text: str) -> int:
    """Bit b set where more than half the tokens of the lowercased text have
    it set in their FNV-1a hash."""
    hashes = [fnv1a64(token.encode()) for token in simhash_tokens(text.lower())]
    return sum(1 << b for b in range(64) if 2 * sum(h >> b & 1 for h in hashes) > len(hashes))


# ----------------------------------------------------------- random strings

ALPHABETS = {
    "ascii": "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,'-:",
    "latin": "àáâäåçèéêëìíîïñòóôöøùúûüýÿÀÁÂÄÅÇÈÉÊËÑÖØÜŒœ",
    "greek": "αβγδεζηθικλμνξοπρστυφχψωςΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣΤΥΦΧΨΩΣΣΣ",
    "turkish": "İıIiŞşĞğ",
    "german": "ßẞäöüÄÖÜ",
    "cjk": "日本語中文漢字한국어カタカナ",
    "combining": "\u0301\u0307\u0308\u0345\u0327\u00ad\u02b0",
    "astral": "😀🎉👍🏽𝐀𝐚𐐀𐐨🜁",
    "space": "".join(sorted(WHITE_SPACE)),
    "lookalike": "\u200b\ufeff\u180e\u001c\u001f\u2060",
}


def random_text(rng: random.Random, max_len: int = 12, groups: tuple[str, ...] | None = None) -> str:
    """A random string mixing the alphabets above (all by default, with Greek
    words ending in a capital sigma now and then: the Final_Sigma context)."""
    names = groups or tuple(ALPHABETS)
    length = rng.randint(0, max_len)
    out = []
    while len(out) < length:
        if groups is None and rng.random() < 0.08:
            out.extend(rng.choice(["ΟΔΟΣ", "Σ", "ΑΣ ", "Α\u0301Σ", "ΣΑ", "ΑΣ\u0345", "a'Σ", "Σ."]))
        else:
            out.append(rng.choice(ALPHABETS[rng.choice(names)]))
    return "".join(out[:length])


def related_pair(rng: random.Random, max_len: int = 12, groups: tuple[str, ...] | None = None) -> tuple[str, str]:
    """A random string and, half the time, an edited copy (else another random string)."""
    names = groups or tuple(ALPHABETS)
    a = random_text(rng, max_len, groups)
    if rng.random() < 0.5:
        return a, random_text(rng, max_len, groups)
    b = list(a)
    for _ in range(rng.randint(0, 3)):
        op, p = rng.random(), rng.randint(0, max(len(b) - 1, 0))
        if op < 0.3:
            del b[p : p + 1]
        elif op < 0.6:
            b.insert(p, rng.choice(ALPHABETS[rng.choice(names)]))
        elif op < 0.8:
            b[p : p + 2] = b[p : p + 2][::-1]
        else:
            b[p : p + 1] = [rng.choice(ALPHABETS[names[0]])]
    return a, "".join(b)
