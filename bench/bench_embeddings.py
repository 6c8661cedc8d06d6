"""Per-call timings of the embedding functions against NumPy baselines.

Run from the repository root after building:

    PYTHONPATH=build/dev python3 bench/bench_embeddings.py

Every figure is the median over several timed runs of the per-call time
(each run calls the function enough times to last about --run-ms
milliseconds). The NumPy baselines do the nearest equivalent work with
precomputed matrices; they skip what makes identifiers reproducible on every
machine (drawing the seeded hyperplanes and projection rows), so they are
lower bounds rather than competitors. The output is a Markdown table.
"""

from __future__ import annotations

import argparse
import base64
import os
import platform
import statistics
import sys
import time
import timeit

# mivo runs on the calling thread; keep the baselines' BLAS on one thread too
# (set before NumPy loads its BLAS).
for _var in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_var, "1")

import numpy as np  # noqa: E402

import mivo  # noqa: E402

SEED = 20240611


def per_call_us(fn, run_s: float, repeat: int) -> float:
    """Median per-call time in microseconds."""
    timer = timeit.Timer(fn)
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= run_s / 10 or number >= 1 << 20:
            break
        number *= 4
    number = max(1, int(number * run_s / max(elapsed, 1e-9)))
    runs = timer.repeat(repeat=repeat, number=number)
    return statistics.median(runs) / number * 1e6


def cases(d: int, rng: np.random.Generator):
    """(operation, mivo callable, baseline callable or None) for dimension d."""
    v = rng.standard_normal(d).astype(np.float32)
    as_list = v.tolist()
    hyperplanes = rng.standard_normal((128, d)).astype(np.float32)
    half = rng.standard_normal((d // 2, d)).astype(np.float32)
    common = rng.standard_normal((128, 2048)).astype(np.float32)
    lossless_text = mivo.encode_lossless(v)
    baseline_text = base64.b32hexencode(v.astype(">f4").tobytes())

    def simhash_bits():
        return np.packbits(hyperplanes @ v > 0)

    def raw_b32():
        return base64.b32hexencode(v.astype(">f4").tobytes())

    def raw_b32_decode():
        return np.frombuffer(base64.b32hexdecode(baseline_text), dtype=">f4").astype(np.float32)

    def projected_half():
        return base64.b32hexencode((half @ v).astype(">f4").tobytes())

    def common_half16():
        padded = np.zeros(2048, dtype=np.float32)
        padded[:d] = v
        return base64.b32hexencode((common @ padded).astype(">f2").tobytes())

    def bands_baseline():
        x = np.asarray(as_list, dtype=np.float32)
        return np.packbits(hyperplanes @ x > 0)

    return [
        ("encode Mini128", lambda: mivo.encode(v, mivo.Profile.Mini128), simhash_bits),
        ("encode Morton10x10", lambda: mivo.encode(v, mivo.Profile.Morton10x10), None),
        ("encode Hilbert10x10", lambda: mivo.encode(v, mivo.Profile.Hilbert10x10), None),
        ("encode_lossless", lambda: mivo.encode_lossless(v), raw_b32),
        ("encode_compressed(v, 0.5)", lambda: mivo.encode_compressed(v, 0.5), projected_half),
        ("encode_cross_dimensional(v, 128)", lambda: mivo.encode_cross_dimensional(v, 128), common_half16),
        ("decode_to_embedding (lossless)", lambda: mivo.decode_to_embedding(lossless_text), raw_b32_decode),
        ("embedding_to_bands(list, 4)", lambda: mivo.embedding_to_bands(as_list, 4), bands_baseline),
    ]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dims", type=int, nargs="+", default=[384, 768, 1536])
    parser.add_argument("--repeat", type=int, default=7, help="timed runs per figure (median taken)")
    parser.add_argument("--run-ms", type=float, default=50.0, help="approximate length of one timed run")
    args = parser.parse_args()

    rng = np.random.default_rng(SEED)
    started = time.perf_counter()
    rows = []
    for d in args.dims:
        for name, fn, base in cases(d, rng):
            ours = per_call_us(fn, args.run_ms / 1000, args.repeat)
            theirs = per_call_us(base, args.run_ms / 1000, args.repeat) if base else None
            rows.append((name, d, ours, theirs))

    print(f"mivo {mivo.__version__}, NumPy {np.__version__}, Python {platform.python_version()}, "
          f"{platform.machine()}; median of {args.repeat} runs, per call.")
    print()
    print("NumPy baselines use precomputed float32 matrices (128×d hyperplanes for Mini128 and the bands, "
          "d/2×d for encode_compressed, 128×2048 for encode_cross_dimensional) and raw base32hex of the values; "
          "they skip the seeded hyperplane and projection-row generation that makes identifiers reproducible "
          "across machines, so they are lower bounds. Ratio = mivo / baseline.")
    print()
    print("| operation | d | mivo µs | baseline µs | ratio |")
    print("|---|---:|---:|---:|---:|")
    for name, d, ours, theirs in rows:
        base_cell = f"{theirs:.1f}" if theirs is not None else "—"
        ratio_cell = f"{ours / theirs:.3g}" if theirs else "—"
        print(f"| {name} | {d} | {ours:.1f} | {base_cell} | {ratio_cell} |")
    print()
    print(f"(total benchmark time {time.perf_counter() - started:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
