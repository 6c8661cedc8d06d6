"""mivo_collections.encode_batch against its peers, in one process.

Run from the repository root after building (make bench runs it):

    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE .venv/bin/python bench/bench_batch.py

Encodes a matrix of float32 rows (20,000 x 768 by default, Gaussian) to
Mini128 SimHash payloads and compares, with the same number of threads:
- a Python loop of mivo.encode (one thread: mivo holds the interpreter lock);
- NumPy's np.packbits(X @ H.T > 0, axis=1) with the 128 x d hyperplanes H
  drawn beforehand (the BLAS limited to the thread count by threadpoolctl);
- FAISS IndexLSH(d, 128).add (its OpenMP threads set to the count).
NumPy's and FAISS's codes are not the same from one machine to another;
mivo's are. Every measurement is repeated, the contenders taking turns
within each round, and the table shows medians; a ratio is the median of the
per-round ratios (mivo / peer, lower is better). The output is Markdown.
"""

from __future__ import annotations

import argparse
import functools
import importlib
import platform
import statistics
import sys
import time
from typing import Any, Callable

import mivo_collections as mc
import numpy as np

import mivo

SEED = 20240611


def seconds(fn: Callable[[], object]) -> float:
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def rounds(contenders: dict[str, Callable[[], object]], repeat: int, pause: float) -> dict[str, list[float]]:
    """Times of each contender, taking turns within every round. A pause
    after each turn lets the BLAS and OpenMP threads, which spin for a while
    after a call, fall asleep before the next contender starts."""
    for fn in contenders.values():
        fn()  # warm up: tables drawn, threads started
    times: dict[str, list[float]] = {name: [] for name in contenders}
    for _ in range(repeat):
        for name, fn in contenders.items():
            time.sleep(pause)
            times[name].append(seconds(fn))
    return times


def lsh_add(index: Any, x: np.ndarray) -> None:
    index.reset()
    index.add(x)


def ratio(ours: list[float], theirs: list[float]) -> float:
    return statistics.median(a / b for a, b in zip(ours, theirs))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=20000)
    parser.add_argument("--dims", type=int, default=768)
    parser.add_argument("--repeat", type=int, default=9, help="rounds per thread count (medians taken)")
    parser.add_argument("--loop-rows", type=int, default=2000, help="rows the mivo.encode loop encodes per round")
    parser.add_argument("--pause", type=float, default=0.2, help="seconds of rest before each timed call")
    args = parser.parse_args()

    from threadpoolctl import threadpool_info, threadpool_limits

    faiss: Any
    try:
        faiss = importlib.import_module("faiss")
    except ImportError:
        faiss = None

    rng = np.random.default_rng(SEED)
    x = rng.standard_normal((args.rows, args.dims)).astype(np.float32)
    h = rng.standard_normal((128, args.dims)).astype(np.float32)
    sample = x[: args.loop_rows]

    # The batch gives what the loop gives.
    assert [bytes(c) for c in mc.encode_batch(sample[:200])] == [
        mivo.decode(mivo.encode(v, mivo.Profile.Mini128))[2:] for v in sample[:200]]

    blas = ", ".join(f"{i.get('internal_api')} {i.get('architecture')}" for i in threadpool_info()
                     if i.get("user_api") == "blas") or "no BLAS found"
    print(f"mivo {mivo.__version__}, NumPy {np.__version__} ({blas}), "
          f"FAISS {faiss.__version__ if faiss else 'not installed'}, Python {platform.python_version()}, "
          f"{platform.machine()}; {args.rows:,} x {args.dims} float32 rows, Mini128; medians of {args.repeat} "
          "rounds, contenders taking turns.")
    print()
    print("| threads | mivo encode_batch ms | peer | peer ms | ratio | goal |")
    print("|---:|---:|---|---:|---:|---:|")
    for threads in (1, 2):
        contenders: dict[str, Callable[[], object]] = {
            "mivo": functools.partial(mc.encode_batch, x, workers=threads),
            "numpy": lambda: np.packbits(x @ h.T > 0, axis=1),
        }
        if threads == 1:
            contenders["loop"] = lambda: [mivo.encode(v, mivo.Profile.Mini128) for v in sample]
        if faiss is not None:
            faiss.omp_set_num_threads(threads)
            contenders["faiss"] = functools.partial(lsh_add, faiss.IndexLSH(args.dims, 128), x)
        with threadpool_limits(threads):
            times = rounds(contenders, args.repeat, args.pause)
        ours = times["mivo"]
        med = statistics.median(ours) * 1e3
        if "loop" in times:
            scale = args.rows / args.loop_rows
            loop = [t * scale for t in times["loop"]]
            print(f"| {threads} | {med:.1f} | loop of mivo.encode (1 thread) | {statistics.median(loop) * 1e3:.1f} "
                  f"| {ratio(ours, loop):.3g} | ≤ 0.5 |")
        print(f"| {threads} | {med:.1f} | NumPy packbits(X @ H.T > 0) | {statistics.median(times['numpy']) * 1e3:.1f} "
              f"| {ratio(ours, times['numpy']):.3g} | ≤ 1.0 |")
        if "faiss" in times:
            faiss_ms = statistics.median(times["faiss"]) * 1e3
            print(f"| {threads} | {med:.1f} | FAISS IndexLSH(d, 128).add | {faiss_ms:.1f} "
                  f"| {ratio(ours, times['faiss']):.3g} | |")
    print()
    print(f"(the loop encodes {args.loop_rows:,} rows per round; its time is scaled to {args.rows:,})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
