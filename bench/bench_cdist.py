#!/usr/bin/env python3
"""mivo_collections.cdist and extract against rapidfuzz's process.cdist and
process.extract, in one process, the two taking turns.

Prints one table: for each case the median wall time of the interleaved
repeats on both sides and their ratio (mivo / rapidfuzz; the goal is at most
0.8), then the memory a 10,000 x 100,000 uint8 matrix takes beyond itself.
Not a test: numbers depend on the machine and its load.

    python3 bench/bench_cdist.py [--quick] [--no-memory]
"""

from __future__ import annotations

import argparse
import pathlib
import random
import resource
import statistics
import subprocess
import sys
import time
from collections.abc import Callable
from functools import partial

import mivo_collections as mc
import numpy as np

import mivo

try:
    from rapidfuzz import process
    from rapidfuzz.distance import JaroWinkler, Levenshtein
except ImportError:
    sys.exit("bench_cdist needs rapidfuzz: pip install rapidfuzz")

GOAL = 0.8
NON_ASCII = "àéîõüßçñøåΑΒΓΔΣαβγδσςжшщ日本語中文 "


def words() -> list[str]:
    path = pathlib.Path("/usr/share/dict/words")
    if not path.exists():
        sys.exit("bench_cdist needs /usr/share/dict/words (apt-get install wamerican)")
    seen = dict.fromkeys(w.strip() for w in path.read_text(encoding="utf-8", errors="replace").splitlines())
    return [w for w in seen if w]


def interleaved(ours: Callable[[], object], peer: Callable[[], object], repeats: int) -> tuple[float, float]:
    """Median seconds of each, the two run in turn."""
    times: tuple[list[float], list[float]] = ([], [])
    for _ in range(repeats):
        for fn, out in ((ours, times[0]), (peer, times[1])):
            start = time.perf_counter()
            fn()
            out.append(time.perf_counter() - start)
    return statistics.median(times[0]), statistics.median(times[1])


def fmt(seconds: float) -> str:
    return f"{seconds * 1e3:9.1f} ms"


def memory_of_large_matrix() -> str:
    """Peak resident memory beyond the inputs while cdist fills a 10,000 x
    100,000 uint8 matrix, in a fresh process."""
    code = (
        "import gc, os, random, resource, numpy, mivo_collections as mc\n"
        "rng = random.Random(5)\n"
        "words = [''.join(rng.choice('abcdefghij') for _ in range(rng.randint(3, 12))) for _ in range(100_000)]\n"
        "gc.collect()\n"
        "before = int(open('/proc/self/statm').read().split()[1]) * os.sysconf('SC_PAGESIZE')\n"
        "m = mc.cdist(words[:10_000], words, dtype='uint8', workers=2)\n"
        "peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024\n"
        "print(peak - before, m.nbytes)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split()
    grown, matrix = int(out[0]), int(out[1])
    return (f"10,000 x 100,000 uint8: matrix {matrix / 2**20:.1f} MiB, peak memory grew by "
            f"{grown / 2**20:.1f} MiB: {(grown - matrix) / 2**20:+.1f} MiB beyond the matrix")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer repeats")
    parser.add_argument("--no-memory", action="store_true", help="leave out the 10,000 x 100,000 matrix")
    args = parser.parse_args()
    repeats = 3 if args.quick else 7
    rng = random.Random(1)
    vocabulary = words()
    choices, queries = rng.sample(vocabulary, 20_000), rng.sample(vocabulary, 300)
    rows: list[tuple[str, float, float]] = []

    for name, ours, theirs in (
        ("levenshtein", mivo.levenshtein, Levenshtein.distance),
        ("jaro_winkler", mivo.jaro_winkler, JaroWinkler.similarity),
    ):
        assert np.allclose(mc.cdist(queries[:20], choices, ours), process.cdist(queries[:20], choices, scorer=theirs))
        for workers in (1, 2):
            rows.append((f"cdist 300 x 20,000 words, {name}, workers={workers}", *interleaved(
                partial(mc.cdist, queries, choices, ours, workers=workers),
                partial(process.cdist, queries, choices, scorer=theirs, workers=workers), repeats)))

    for label, alphabet in (("ASCII", "abcdefghijklmnopqrstuvwxyz "), ("non-ASCII", NON_ASCII)):
        texts = ["".join(rng.choice(alphabet) for _ in range(rng.randint(100, 300))) for _ in range(1000)]
        for name, ours, theirs in (
            ("levenshtein", mivo.levenshtein, Levenshtein.distance),
            ("jaro_winkler", mivo.jaro_winkler, JaroWinkler.similarity),
        ):
            rows.append((f"cdist 1,000 x 1,000 {label} 100-300 chars, {name}", *interleaved(
                partial(mc.cdist, texts, texts, ours), partial(process.cdist, texts, texts, scorer=theirs),
                max(3, repeats // 2))))

    pool = rng.sample(vocabulary, 100_000)
    lookups = rng.sample(vocabulary, 20)
    for q in lookups[:3]:
        ours_found = [s for _, s, _ in mc.extract(q, pool, mivo.jaro_winkler, limit=10)]
        assert ours_found == [s for _, s, _ in process.extract(q, pool, scorer=JaroWinkler.similarity, limit=10)]
    mivo_t, peer_t = interleaved(
        lambda: [mc.extract(q, pool, mivo.jaro_winkler, limit=10) for q in lookups],
        lambda: [process.extract(q, pool, scorer=JaroWinkler.similarity, limit=10) for q in lookups], repeats)
    rows.append(("extract limit=10 over 100,000 words, jaro_winkler (per query)", mivo_t / 20, peer_t / 20))

    print("| case | mivo_collections | peer | peer time | ratio | goal |")
    print("|---|---:|---|---:|---:|---|")
    for case, ours_t, theirs_t in rows:
        ratio = ours_t / theirs_t
        peer = "rapidfuzz process." + ("extract" if case.startswith("extract") else "cdist")
        print(f"| {case} | {fmt(ours_t).strip()} | {peer} | {fmt(theirs_t).strip()} | {ratio:.2f} "
              f"| ≤ {GOAL} {'met' if ratio <= GOAL else 'MISSED'} |")
    if not args.no_memory:
        print(memory_of_large_matrix())
    print(f"(medians of {repeats} interleaved repeats; peak memory of this process "
          f"{resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.0f} MiB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
