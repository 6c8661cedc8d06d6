"""One shard of a sharded Hamming search: memory and search time of a HammingIndex.

    .venv/bin/python bench/shard_scale.py [--sizes 1000000 10000000] [--batches 1 10 100]

For each size: random 128-bit codes (the scan's cost does not depend on the
codes) added with int64 ids, the resident memory the index added (and the
bytes of its saved form), then the best of --repeat timed searches (top-10)
of each query batch size on one thread and on every core; then the cost of
merging the shards' answers (examples/search_dask.py's merge_topk). The output is
Markdown; the README's paragraph on sharding turns it into cluster sizes.
"""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time

import mivo_collections
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
from search_dask import merge_topk  # noqa: E402


def resident_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def best_of(repeat: int, call, *args, **kwargs) -> float:
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        call(*args, **kwargs)
        times.append(time.perf_counter() - t0)
    return min(times)


def shard(n: int, batches: list[int], repeat: int, rng: np.random.Generator) -> None:
    """Prints one table row per query batch size for a shard of n random codes."""
    codes = rng.integers(0, 256, (n, 16), dtype=np.uint8)
    ids = np.arange(n, dtype=np.int64)
    before = resident_bytes()
    index = mivo_collections.HammingIndex(128)
    t0 = time.perf_counter()
    index.add(codes, ids=ids)
    added = time.perf_counter() - t0
    memory = resident_bytes() - before
    del codes, ids
    with tempfile.TemporaryDirectory() as tmp:
        index.save(os.path.join(tmp, "shard.idx"))
        saved = os.path.getsize(os.path.join(tmp, "shard.idx"))
    for q in batches:
        queries = rng.integers(0, 256, (q, 16), dtype=np.uint8)
        one = best_of(repeat, index.search, queries, 10)
        every = best_of(repeat, index.search, queries, 10, workers=-1)
        print(f"| {n:,} | {memory / 2**20:,.0f} MiB ({memory / n:.1f} B/code) | {saved / 2**20:,.0f} MiB | "
              f"{added:.2f} s | {q} | {1e3 * one:,.1f} ms | {1e3 * one / q:.2f} ms | {1e3 * every / q:.2f} ms |",
              flush=True)


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sizes", type=int, nargs="+", default=[1_000_000, 10_000_000])
    ap.add_argument("--batches", type=int, nargs="+", default=[1, 10, 100])
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args(argv)
    rng = np.random.default_rng(0)
    cores = os.cpu_count() or 1
    print(f"{cores} cores; top-10 searches, best of {args.repeat}\n")
    print("| codes | memory added | saved file | add | batch | one thread: per batch | per query | "
          f"{cores} threads: per query |")
    print("|---|---|---|---|---|---|---|---|")
    for n in args.sizes:
        shard(n, args.batches, args.repeat, rng)
    print("\n| shards | merge of their top-10, 100 queries | per query | bytes per query from the shards |")
    print("|---|---|---|---|")
    for shards in (10, 100, 1000):
        dist = [np.sort(rng.integers(0, 40, (100, 10), dtype=np.int32), axis=1) for _ in range(shards)]
        found = [rng.integers(0, 2**40, (100, 10), dtype=np.int64) for _ in range(shards)]
        took = best_of(args.repeat, merge_topk, dist, found, 10)
        print(f"| {shards} | {1e3 * took:.1f} ms | {1e6 * took / 100:.0f} us | {shards * 10 * 12:,} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
