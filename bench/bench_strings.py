#!/usr/bin/env python3
"""Per-call timings of the string functions against peer libraries.

Prints one table: for each case the time per call of every library and
mivo's time over the peer's (mivo / peer: below 1.0, mivo is faster). Peers
that are not installed are left out (pip install mivo[bench]).
Not a test: numbers depend on the machine and its load.

    PYTHONPATH=build/dev python3 bench/bench_strings.py [--quick]
"""

from __future__ import annotations

import argparse
import importlib
import pathlib
import random
import sys
import time

import mivo


def optional(name: str):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


rapidfuzz = optional("rapidfuzz")
lev_pkg = optional("Levenshtein")
jellyfish = optional("jellyfish")
simhash_pkg = optional("simhash")
if rapidfuzz:
    from rapidfuzz import process as rf_process
    from rapidfuzz.distance import OSA as rf_osa
    from rapidfuzz.distance import Hamming as rf_hamming
    from rapidfuzz.distance import JaroWinkler as rf_jw
    from rapidfuzz.distance import Levenshtein as rf_lev

QUICK = False


def batch_size(fn, *args) -> int:
    """Calls that take about 20 ms (5 ms with --quick)."""
    budget = 0.005 if QUICK else 0.02
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            fn(*args)
        elapsed = time.perf_counter() - start
        if elapsed >= budget or n >= 1 << 22:
            return n
        n *= 2 if elapsed == 0 else max(2, min(100, int(budget / elapsed) + 1))


def per_call(fns: list, *args) -> list[float]:
    """Seconds per call of each function: batches of the functions taken in
    turn, the fastest batch of each (other work on the machine only ever adds
    time, so the minimum of interleaved batches is the steadiest figure on a
    shared machine)."""
    sizes = [batch_size(fn, *args) for fn in fns]
    best = [float("inf")] * len(fns)
    for _ in range(3 if QUICK else 7):
        for i, (fn, n) in enumerate(zip(fns, sizes)):
            start = time.perf_counter()
            for _ in range(n):
                fn(*args)
            best[i] = min(best[i], (time.perf_counter() - start) / n)
    return best


def fmt_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:7.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:7.2f} us"
    return f"{seconds * 1e3:7.2f} ms"


ROWS: list[tuple[str, str, float, float]] = []


def compare(case: str, ours, peers: dict, *args) -> None:
    present = [(name, fn) for name, fn in peers.items() if fn is not None]
    times = per_call([ours] + [fn for _, fn in present], *args)
    ROWS.append((case, "mivo", times[0], 1.0))
    for (name, _), t in zip(present, times[1:]):
        ROWS.append((case, name, t, times[0] / t))


# ------------------------------------------------------------------ inputs

ASCII = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJ"
NON_ASCII = "àéîõüßçñøåΑΒΓΔΣαβγδσςжшщ日本語中文😀🎉"


def random_pair(rng: random.Random, alphabet: str, length: int) -> tuple[str, str]:
    a = "".join(rng.choice(alphabet) for _ in range(length))
    b = list(a)
    for _ in range(max(1, length // 5)):
        b[rng.randrange(length)] = rng.choice(alphabet)
    return a, "".join(b)


def words() -> list[str]:
    path = pathlib.Path("/usr/share/dict/words")
    if not path.exists():
        return []
    seen = dict.fromkeys(w.strip() for w in path.read_text(encoding="utf-8", errors="replace").splitlines())
    return [w for w in seen if w]


def text_1k(rng: random.Random, vocabulary: list[str]) -> str:
    out = []
    size = 0
    while size < 1024:
        w = rng.choice(vocabulary)
        out.append(w)
        size += len(w.encode()) + 1
    return " ".join(out)[:1024]


def peer(module, attr: str):
    if module is None:
        return None
    obj = module
    for part in attr.split("."):
        obj = getattr(obj, part)
    return obj


def main() -> int:
    global QUICK
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="shorter batches")
    QUICK = parser.parse_args().quick
    rng = random.Random(7)

    # Levenshtein distance
    for label, alphabet in (("ascii", ASCII), ("non-ascii", NON_ASCII)):
        for length in (10, 100, 1000):
            a, b = random_pair(rng, alphabet, length)
            expected = mivo.levenshtein(a, b)
            if rapidfuzz:
                assert rf_lev.distance(a, b) == expected
            compare(
                f"levenshtein {label} {length}",
                mivo.levenshtein,
                {
                    "rapidfuzz": rf_lev.distance if rapidfuzz else None,
                    "Levenshtein": peer(lev_pkg, "distance"),
                },
                a,
                b,
            )

    # Jaro-Winkler, OSA, Hamming
    short = ("dwayne", "duane")
    long_a, long_b = random_pair(rng, ASCII, 200)
    long_u = random_pair(rng, NON_ASCII, 200)
    for label, (a, b) in (("short", short), ("long ascii 200", (long_a, long_b)), ("long non-ascii 200", long_u)):
        if rapidfuzz:
            assert rf_jw.similarity(a, b) == mivo.jaro_winkler(a, b)
        compare(
            f"jaro_winkler {label}",
            mivo.jaro_winkler,
            {
                "rapidfuzz": rf_jw.similarity if rapidfuzz else None,
                "jellyfish": peer(jellyfish, "jaro_winkler_similarity"),
                "Levenshtein": peer(lev_pkg, "jaro_winkler"),
            },
            a,
            b,
        )
    osa_cases = [("short", ("kitten", "sitting"))]
    for label, alphabet in (("ascii", ASCII), ("non-ascii", NON_ASCII)):
        for length in (100, 1000):
            osa_cases.append((f"{label} {length}", random_pair(rng, alphabet, length)))
    for label, (a, b) in osa_cases:
        if rapidfuzz:
            assert rf_osa.distance(a, b) == mivo.osa_distance(a, b)
        compare(
            f"osa_distance {label}",
            mivo.osa_distance,
            {
                "rapidfuzz": rf_osa.distance if rapidfuzz else None,
                # jellyfish offers the unrestricted Damerau-Levenshtein distance only.
                "jellyfish (DL)": peer(jellyfish, "damerau_levenshtein_distance") if len(a) <= 200 else None,
            },
            a,
            b,
        )
    hamming_cases = [("short", ("karolin", "kathrin")), ("ascii 1000", random_pair(rng, ASCII, 1000)),
                     ("non-ascii 1000", random_pair(rng, NON_ASCII, 1000))]
    for label, (a, b) in hamming_cases:
        if rapidfuzz:
            assert rf_hamming.distance(a, b) == mivo.hamming(a, b)
        compare(
            f"hamming {label}",
            mivo.hamming,
            {
                "rapidfuzz": rf_hamming.distance if rapidfuzz else None,
                "jellyfish": peer(jellyfish, "hamming_distance"),
            },
            a,
            b,
        )

    # Candidate search over dictionary words. mivo scores each candidate with
    # max(normalized Levenshtein, Jaro-Winkler); the peer with Jaro-Winkler only.
    vocabulary = words()
    if vocabulary:
        sample = random.Random(11).sample(vocabulary, min(100_000, len(vocabulary)))
        for count in (10_000, 100_000):
            cands = sample[:count]
            for query in ("aplication", "zebbra"):
                extract = (
                    (lambda q, c: rf_process.extractOne(q, c, scorer=rf_jw.similarity)) if rapidfuzz else None
                )
                compare(f"find_best_match {len(cands)} words '{query}'", mivo.find_best_match,
                        {"rapidfuzz extractOne JW": extract}, query, cands)

    # Text SimHash of 1 KB texts.
    vocab = vocabulary[:5000] if vocabulary else ["lorem", "ipsum", "dolor", "sit", "amet"]
    text = text_1k(rng, vocab)
    greek = text_1k(rng, ["ΟΔΟΣ", "λόγος", "Σοφία", "straße", "İstanbul", "日本語", "naïve", "Über"])
    simhash_peer = {"simhash (PyPI)": (lambda t: simhash_pkg.Simhash(t).value) if simhash_pkg else None}
    compare("simhash 1 KB ascii", mivo.simhash, simhash_peer, text)
    compare("simhash 1 KB non-ascii", mivo.simhash, simhash_peer, greek)

    width = max(len(r[0]) for r in ROWS)
    pw = max(len(r[1]) for r in ROWS)
    print(f"{'case':<{width}}  {'library':<{pw}}  {'per call':>10}  {'mivo / peer':>11}")
    print("-" * (width + pw + 27))
    last = None
    for case, name, t, ratio in ROWS:
        if last is not None and case != last:
            print()
        shown = f"{ratio:.2f}" if ratio >= 0.1 else f"{ratio:.2g}"  # two significant digits below 0.1
        print(f"{case if case != last else '':<{width}}  {name:<{pw}}  {fmt_time(t):>10}  {shown:>11}")
        last = case
    print_goals()
    return 0


# The targets, as mivo's time over the peer's (lower is better).
GOALS = {
    "levenshtein ascii 10": 0.7, "levenshtein non-ascii 10": 0.7,
    "levenshtein ascii 100": 0.8, "levenshtein non-ascii 100": 0.8,
    "levenshtein ascii 1000": 0.8, "levenshtein non-ascii 1000": 0.8,
    "osa_distance ascii 100": 1.0, "osa_distance non-ascii 100": 1.0,
    "osa_distance ascii 1000": 1.0, "osa_distance non-ascii 1000": 1.0,
    "hamming non-ascii 1000": 1.0,
    "find_best_match 100000 words 'aplication'": 0.8, "find_best_match 100000 words 'zebbra'": 0.8,
}


def print_goals() -> None:
    ours = {case: t for case, name, t, _ in ROWS if name == "mivo"}
    theirs = {case: t for case, name, t, _ in ROWS if name.startswith("rapidfuzz")}
    rows = [(case, ours[case] / theirs[case], goal) for case, goal in GOALS.items() if case in ours and case in theirs]
    if not rows:
        return
    width = max(len(r[0]) for r in rows)
    print()
    print(f"{'case':<{width}}  {'mivo / rapidfuzz':>16}  {'goal':>6}")
    print("-" * (width + 28))
    for case, ratio, goal in rows:
        print(f"{case:<{width}}  {ratio:16.2f}  {'<= ' + format(goal, '.1f'):>6}{'' if ratio <= goal else '  missed'}")


if __name__ == "__main__":
    sys.exit(main())
