"""HammingIndex.search against FAISS IndexBinaryFlat.search, with index memory
and save/load times.

Run from the repository root after building (make bench-index runs it):

    .venv/bin/python bench/bench_index.py            # 200,000, 10^6 and 10^7 codes
    .venv/bin/python bench/bench_index.py --quick    # 200,000 codes only

Random 128-bit codes, 500 random queries, k = 10. Each case is timed in one
process with the two libraries interleaved (ours, FAISS, ours, FAISS, ...)
and the median of the repeats is reported, so that a machine shared with
other work slows both alike. Threads: workers=n for mivo_collections,
faiss.omp_set_num_threads(n) for FAISS. Index memory is the growth of the
resident set when the codes are added (the codes array itself already
exists), set against the bytes of the codes and their 8-byte ids; the load
peak is the highest resident set during HammingIndex.load above the level
before it. The output is Markdown.
"""

from __future__ import annotations

import argparse
import gc
import os
import platform
import statistics
import tempfile
import time
from typing import Any, Callable

import faiss
import numpy as np
from mivo_collections import HammingIndex

SEED = 20
QUERIES = 500
K = 10
GOAL = 0.8


def status_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def rss_bytes() -> int:
    return status_kib("VmRSS") * 1024


def reset_peak() -> bool:
    """Starts a new peak (VmHWM) where the kernel allows it."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def grown(add: Callable[[], Any]) -> tuple[Any, int]:
    """What add() returns, and by how much it grew the resident set."""
    gc.collect()
    before = rss_bytes()
    out = add()
    return out, rss_bytes() - before


def interleaved(calls: dict[str, Callable[[], Any]], repeat: int) -> dict[str, float]:
    """Median seconds per call, the calls taking turns."""
    times: dict[str, list[float]] = {name: [] for name in calls}
    for call in calls.values():  # warm up
        call()
    for r in range(repeat):
        order = list(calls.items())
        for name, call in order if r % 2 == 0 else order[::-1]:
            start = time.perf_counter()
            call()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def ms(seconds: float) -> str:
    return f"{seconds * 1e3:,.1f} ms" if seconds < 10 else f"{seconds:,.2f} s"


def mib(n: int) -> str:
    return f"{n / 2**20:,.0f} MiB"


def compare(codes: np.ndarray, queries: np.ndarray, repeat: int) -> list[dict[str, Any]]:
    ours, our_bytes = grown(lambda: _filled(codes))
    theirs, their_bytes = grown(lambda: _faiss(codes))
    rows = []
    for threads in (1, 2):

        def search_ours(threads: int = threads) -> Any:
            return ours.search(queries, K, workers=threads)

        def search_faiss(threads: int = threads) -> Any:
            faiss.omp_set_num_threads(threads)
            return theirs.search(queries, K)

        d_ours, _ = search_ours()
        d_faiss, _ = search_faiss()
        assert np.array_equal(d_ours, d_faiss), "the two libraries disagree on the distances"
        t = interleaved({"ours": search_ours, "faiss": search_faiss}, repeat)
        rows.append(
            dict(codes=len(codes), threads=threads, ours=t["ours"], faiss=t["faiss"], ours_rss=our_bytes,
                 faiss_rss=their_bytes, payload=len(codes) * (16 + 8))
        )
    return rows


def _filled(codes: np.ndarray) -> HammingIndex:
    index = HammingIndex(128)
    index.add(codes)
    return index


def _faiss(codes: np.ndarray) -> Any:
    index = faiss.IndexBinaryFlat(128)
    index.add(codes)
    return index


def save_load(codes: np.ndarray, repeat: int) -> dict[str, Any]:
    index = _filled(codes)
    with tempfile.TemporaryDirectory(dir=os.environ.get("MIVO_BENCH_DIR")) as folder:
        path = os.path.join(folder, "codes.idx")
        saves, loads, peaks = [], [], []
        for _ in range(repeat):
            start = time.perf_counter()
            index.save(path)
            saves.append(time.perf_counter() - start)
            gc.collect()
            before = rss_bytes()
            tracked = reset_peak()
            start = time.perf_counter()
            loaded = HammingIndex.load(path)
            loads.append(time.perf_counter() - start)
            if tracked:
                peaks.append(status_kib("VmHWM") * 1024 - before)
            assert len(loaded) == len(index)
            del loaded
        size = os.path.getsize(path)
    return dict(codes=len(codes), size=size, save=statistics.median(saves), load=statistics.median(loads),
                peak=max(peaks) if peaks else None, payload=len(codes) * (16 + 8))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="200,000 codes only")
    parser.add_argument("--repeat", type=int, default=9, help="timed repeats at 200,000 codes")
    args = parser.parse_args()
    rng = np.random.default_rng(SEED)
    queries = rng.integers(0, 256, (QUERIES, 16), dtype=np.uint8)

    print(f"# HammingIndex.search against FAISS {faiss.__version__} IndexBinaryFlat.search\n")
    print(f"{platform.processor() or platform.machine()}, {os.cpu_count()} cores; {QUERIES} queries, k = {K}, "
          "random 128-bit codes; medians of interleaved repeats.\n")
    print("| codes | threads | mivo_collections | FAISS | ratio | goal |")
    print("|---:|---:|---:|---:|---:|---|")
    sizes = [(200_000, args.repeat)] + ([] if args.quick else [(1_000_000, 5), (10_000_000, 3)])
    memory = []
    for n, repeat in sizes:
        codes = rng.integers(0, 256, (n, 16), dtype=np.uint8)
        for row in compare(codes, queries, repeat):
            ratio = row["ours"] / row["faiss"]
            goal = (f"≤ {GOAL} {'met' if ratio <= GOAL else 'MISSED'}") if n == 200_000 else ""
            print(f"| {n:,} | {row['threads']} | {ms(row['ours'])} | {ms(row['faiss'])} | {ratio:.2f} | {goal} |",
                  flush=True)
        memory.append(row)
        if n == 10_000_000:
            stored = save_load(codes, 3)
        del codes
        gc.collect()

    print("\n## Index memory (growth of the resident set when the codes are added)\n")
    print("| codes | code + id bytes | HammingIndex | ratio (goal ≤ 1.1) | FAISS (codes only, no ids) |")
    print("|---:|---:|---:|---:|---:|")
    for row in memory:
        print(f"| {row['codes']:,} | {mib(row['payload'])} | {mib(row['ours_rss'])} | "
              f"{row['ours_rss'] / row['payload']:.2f} | {mib(row['faiss_rss'])} |")

    if not args.quick:
        print("\n## Save and load (10^7 codes; save includes flushing the file to disk)\n")
        print("| codes | file | save | load | load peak above the level before |")
        print("|---:|---:|---:|---:|---:|")
        peak = "n/a"
        if stored["peak"] is not None:
            peak = f"{mib(stored['peak'])} ({stored['peak'] / stored['payload']:.2f} × code + id bytes)"
        print(f"| {stored['codes']:,} | {mib(stored['size'])} | {ms(stored['save'])} | {ms(stored['load'])} | {peak} |")


if __name__ == "__main__":
    main()
