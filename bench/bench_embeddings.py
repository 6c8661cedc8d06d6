"""Per-call timings of the embedding functions against NumPy baselines.

Run from the repository root after building (make bench runs it):

    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE .venv/bin/python bench/bench_embeddings.py

Every figure is the median of several timed runs of the per-call time (each
run calls the function enough times to last about --run-ms milliseconds);
mivo and its baseline take turns, run by run, and a ratio is the median of
the per-run ratios, so that a machine that is busy with other work slows
both alike. The NumPy baselines do the nearest equivalent work with
precomputed float32 matrices: what a user would write if identifiers did
not have to be the same on every machine. mivo draws its hyperplanes and projection matrices once per
key and then reads them from a table, so after the first call it competes
with the precomputed matrices directly. The first call of a key in a fresh
process (which draws the table) and the memory the tables take are measured
in their own sections, and so is the share of SimHash rows whose sign the
fast pass leaves to the literal f32 sum (read from the C++ benchmarks,
build/py/mivo_bench, when they are built). The output is Markdown.
"""

from __future__ import annotations

import argparse
import base64
import json
import os
import pathlib
import platform
import statistics
import subprocess
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
TABLE_BUDGET_MIB = 64


def calls_per_run(timer: timeit.Timer, run_s: float) -> int:
    """Calls that make one timed run last about run_s seconds."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= run_s / 10 or number >= 1 << 20:
            break
        number *= 4
    return max(1, int(number * run_s / max(elapsed, 1e-9)))


def per_call_us(fn, base, run_s: float, repeat: int) -> tuple[float, float | None, float | None]:
    """Median per-call times in microseconds of fn and of base (if any),
    taking turns run by run, and the median of the per-run ratios."""
    timers = [timeit.Timer(f) for f in (fn, base) if f is not None]
    numbers = [calls_per_run(t, run_s) for t in timers]
    runs: list[list[float]] = [[] for _ in timers]
    for _ in range(repeat):
        for timer, number, out in zip(timers, numbers, runs):
            out.append(timer.timeit(number) / number * 1e6)
    ours = statistics.median(runs[0])
    if base is None:
        return ours, None, None
    return ours, statistics.median(runs[1]), statistics.median(a / b for a, b in zip(*runs))


def cases(d: int, rng: np.random.Generator):
    """(operation, mivo callable, baseline label, baseline callable or None, goal ratio or None)."""
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
        return half @ v

    def common_projection():
        padded = np.zeros(2048, dtype=np.float32)
        padded[:d] = v
        return common @ padded

    def bands_baseline(bands):
        def split():
            x = np.asarray(as_list, dtype=np.float32)
            return np.split(np.packbits(hyperplanes @ x > 0), bands)
        return split

    mini_goal = 0.3 if d in (768, 1536) else None
    at_768 = 1.0 if d == 768 else None
    return [
        ("encode Mini128", lambda: mivo.encode(v, mivo.Profile.Mini128), "packbits(H @ v > 0)", simhash_bits,
         mini_goal),
        ("encode Morton10x10", lambda: mivo.encode(v, mivo.Profile.Morton10x10), "", None, None),
        ("encode Hilbert10x10", lambda: mivo.encode(v, mivo.Profile.Hilbert10x10), "", None, None),
        ("encode_lossless", lambda: mivo.encode_lossless(v), "b32hexencode of the values", raw_b32, None),
        ("encode_compressed(v, 0.5)", lambda: mivo.encode_compressed(v, 0.5), "H(d/2×d) @ v", projected_half,
         at_768),
        ("encode_cross_dimensional(v, 128)", lambda: mivo.encode_cross_dimensional(v, 128),
         "H(128×2048) @ padded v", common_projection, at_768),
        ("decode_to_embedding (lossless)", lambda: mivo.decode_to_embedding(lossless_text),
         "b32hexdecode to float32", raw_b32_decode, None),
        ("embedding_to_bands(list, 4)", lambda: mivo.embedding_to_bands(as_list, 4),
         "split(packbits(H @ asarray(list) > 0), 4)", bands_baseline(4), at_768),
        ("embedding_to_bands(list, 16)", lambda: mivo.embedding_to_bands(as_list, 16),
         "split(packbits(H @ asarray(list) > 0), 16)", bands_baseline(16), 0.15 if d == 768 else None),
        # The same values as a float32 array, against mivo's own list call.
        ("embedding_to_bands(array, 4)", lambda: mivo.embedding_to_bands(v, 4), "mivo.embedding_to_bands(list, 4)",
         lambda: mivo.embedding_to_bands(as_list, 4), 1.2 if d == 768 else None),
    ]


COLD_SNIPPET = """
import time, numpy as np, mivo
v = np.random.default_rng(1).standard_normal(768).astype(np.float32)
mivo.encode(v, mivo.Profile.Morton10x10)  # loads NumPy's C API, draws nothing
t = time.perf_counter(); {call}; print(time.perf_counter() - t)
"""

MEMORY_SNIPPET = """
import resource, numpy as np, mivo
def rss_mib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() / 2**20
rng = np.random.default_rng(2)
vectors = {d: rng.standard_normal(d).astype(np.float32) for d in (384, 768, 1536, 2048)}
lists = {d: v.tolist() for d, v in vectors.items()}
mivo.encode(vectors[768], mivo.Profile.Morton10x10)
start = rss_mib()
peak = start
# 20 keys: ten band seeds and ten projection matrices (up to 16 MiB each),
# more than the budget together, so the cache has to evict.
keys = [("bands", 1536, seed) for seed in range(10)]
keys += [("xdim", d, c) for d, c in ((768, 2048), (2048, 1536), (384, 1024), (1536, 512), (768, 128))]
keys += [("compressed", d, r) for d, r in ((2048, 0.5), (1536, 0.5), (768, 0.3), (384, 0.5), (2048, 0.9))]
for i in range(10000):
    kind, d, arg = keys[i % len(keys)]
    if kind == "bands":
        mivo.embedding_to_bands(lists[d], 16, arg)
    elif kind == "xdim":
        mivo.encode_cross_dimensional(vectors[d], arg)
    else:
        mivo.encode_compressed(vectors[d], arg)
    if i % 20 == 19:
        peak = max(peak, rss_mib())
print(start, peak, rss_mib())
"""


def blas_kernel() -> str:
    """The BLAS library and kernel NumPy runs, as threadpoolctl reports them."""
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        return "BLAS kernel unknown (no threadpoolctl)"
    info = [i for i in threadpool_info() if i.get("user_api") == "blas"]
    return ", ".join(f"{i.get('internal_api')} {i.get('architecture')} kernel, {i.get('num_threads')} thread(s)"
                     for i in info) or "no BLAS found"


def print_literal_share() -> None:
    """The share of SimHash rows whose sign the fast pass leaves to the
    literal f32 sum, on Gaussian vectors (counted by the C++ benchmarks)."""
    bench = pathlib.Path(__file__).resolve().parent.parent / "build" / "py" / "mivo_bench"
    print("SimHash rows summed literally after the fast sign pass (the rest are decided by the "
          "pass's error bound):")
    print()
    if not bench.exists():
        print(f"(not measured: {bench} is built by make bench)")
        print()
        return
    out = subprocess.run([str(bench), "--benchmark_filter=BM_SimhashSigns/", "--benchmark_min_time=0.01",
                          "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    print("| vectors | input | d | literal rows per vector | share of rows |")
    print("|---|---|---:|---:|---:|")
    rows = json.loads(out)["benchmarks"]
    real = real_embeddings()
    if real is not None:
        vectors = bench.parent / "real_vectors.f32"
        real.astype("<f4").tofile(vectors)
        env = dict(os.environ, MIVO_SIGN_VECTORS=str(vectors), MIVO_SIGN_DIM=str(real.shape[1]))
        out = subprocess.run([str(bench), "--benchmark_filter=BM_SimhashSignsFile", "--benchmark_format=json"],
                             check=True, capture_output=True, text=True, env=env).stdout
        rows += json.loads(out)["benchmarks"]
    for b in rows:
        real_row = b["name"].startswith("BM_SimhashSignsFile")
        unit = b["name"].split("/")[1 if real_row else 2].startswith("1")
        d = int(b["d"]) if real_row else b["name"].split("/")[1]
        source = f"{len(real):,} sentence embeddings" if real_row else "Gaussian"
        kind = "unit length (encode, Mini128)" if unit else "as given (embedding_to_bands)"
        print(f"| {source} | {kind} | {d} | {b['literal_rows']:.4f} | {b['literal_share']:.2e} |")
    print()


def real_embeddings():
    """The sentence embeddings that bench/recall_real.py cached, if any."""
    base = os.environ.get("MIVO_CACHE") or os.path.join(os.path.expanduser("~"), ".cache", "mivo")
    found = sorted(pathlib.Path(base, "recall").glob("*.npz"))
    if not found:
        return None
    with np.load(found[0]) as f:
        return f["embeddings"]


def fresh_process_seconds(code: str) -> float:
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True).stdout
    return float(out.split()[-1])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dims", type=int, nargs="+", default=[384, 768, 1536])
    parser.add_argument("--repeat", type=int, default=9, help="timed runs per figure (median taken)")
    parser.add_argument("--run-ms", type=float, default=50.0, help="approximate length of one timed run")
    parser.add_argument("--cold-runs", type=int, default=5, help="fresh processes per first-call figure")
    args = parser.parse_args()

    rng = np.random.default_rng(SEED)
    started = time.perf_counter()
    rows = []
    for d in args.dims:
        for name, fn, label, base, goal in cases(d, rng):
            fn()  # the first call of a key draws its table; timed below
            ours, theirs, ratio = per_call_us(fn, base, args.run_ms / 1000, args.repeat)
            rows.append((name, d, ours, label, theirs, ratio, goal))

    print(f"mivo {mivo.__version__}, NumPy {np.__version__}, Python {platform.python_version()}, "
          f"{platform.machine()}; medians of {args.repeat} runs, per call, one thread, mivo and NumPy taking "
          f"turns; NumPy's BLAS: {blas_kernel()}.")
    print()
    print("NumPy baselines use precomputed float32 matrices. Ratio = mivo / baseline (lower is better).")
    print()
    print("| operation | d | mivo µs | NumPy baseline | baseline µs | ratio | goal |")
    print("|---|---:|---:|---|---:|---:|---:|")
    for name, d, ours, label, theirs, ratio, goal in rows:
        base_cell = f"{theirs:.1f}" if theirs is not None else "—"
        ratio_cell = f"{ratio:.3g}" if ratio is not None else "—"
        goal_cell = f"≤ {goal}" if goal else ""
        print(f"| {name} | {d} | {ours:.1f} | {label or '—'} | {base_cell} | {ratio_cell} | {goal_cell} |")
    print()

    print("First call of a key in a fresh process (draws the hyperplanes or the projection matrix), "
          f"median of {args.cold_runs} processes:")
    print()
    print("| call | first call ms | goal |")
    print("|---|---:|---:|")
    for call, goal in (("mivo.encode(v, mivo.Profile.Mini128)", 20), ("mivo.encode_cross_dimensional(v, 128)", 40)):
        times = sorted(fresh_process_seconds(COLD_SNIPPET.format(call=call)) for _ in range(args.cold_runs))
        print(f"| `{call}`, d = 768 | {times[len(times) // 2] * 1e3:.2f} | ≤ {goal} |")
    print()

    print_literal_share()

    out = subprocess.run([sys.executable, "-c", MEMORY_SNIPPET], check=True, capture_output=True, text=True).stdout
    start, peak, end = (float(x) for x in out.split())
    print(f"Resident memory over 10,000 calls cycling through 20 seeds and (d, t) keys: {start:.0f} MiB before, "
          f"peak {peak:.0f} MiB (+{peak - start:.0f} MiB), {end:.0f} MiB after; table budget "
          f"{TABLE_BUDGET_MIB} MiB.")
    print()
    print(f"(total benchmark time {time.perf_counter() - started:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
