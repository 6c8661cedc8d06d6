"""Draws every picture of the README into docs/ (run by `make plots`).

- hamming_vs_angle.png: Mini128 Hamming distance against the true angle of
  pairs of real vectors (scikit-learn's handwritten digits, centred).
- band_recall.png: recall@10 against the share of rows examined, for 4, 8 and
  16 LSH bands, looking up 1, 2, ... of the band positions.
- bench_<name>.png for every bench/bench_<name>.py: a fresh run of the
  benchmark on this machine, its ratios drawn in one convention: mivo's time
  over the peer's (lower is better). A script's ratios are read from its
  output: a table with a "mivo / peer" column and a "library" column, or a
  Markdown table with a "ratio" column (mivo / baseline).
- recall_real.png: recall@10 on real sentence embeddings against the rows
  examined, from bench/recall_real.py where the realdata extra is installed.

    python docs/make_plots.py [--skip-bench]
"""
import argparse
import datetime
import importlib.util
import os
import pathlib
import platform
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import mivo  # noqa: E402

DOCS = pathlib.Path(__file__).resolve().parent
ROOT = DOCS.parent


def digits():
    from sklearn.datasets import load_digits

    data = load_digits().data.astype(np.float32)
    return (data - data.mean(axis=0)).astype(np.float32)


def payload_bits(data):
    """The 128 SimHash bits of each row's Mini128 identifier."""
    payload = np.array([list(mivo.decode(mivo.encode(v, mivo.Profile.Mini128))[2:]) for v in data], np.uint8)
    return np.unpackbits(payload, axis=1)


def plot_hamming_vs_angle(data, out):
    rng = np.random.default_rng(0)
    bits = payload_bits(data)
    unit = data / np.linalg.norm(data, axis=1, keepdims=True)
    a, b = rng.integers(0, len(data), (2, 30000))
    keep = a != b
    a, b = a[keep], b[keep]
    angle = np.degrees(np.arccos(np.clip(np.einsum("ij,ij->i", unit[a], unit[b]), -1, 1)))
    dist = (bits[a] != bits[b]).sum(axis=1)
    fig, ax = plt.subplots(figsize=(6.4, 4.4), dpi=110)
    hb = ax.hexbin(angle, dist, gridsize=60, cmap="Blues", mincnt=1, bins="log")
    line = np.linspace(0, 180, 50)
    ax.plot(line, 128 * line / 180, color="#d62728", lw=1.5, label="expected: 128 · angle / 180°")
    ax.set_xlabel("true angle between the vectors (degrees)")
    ax.set_ylabel("Hamming distance of the Mini128 identifiers (bits)")
    ax.set_title(f"Mini128 on {len(data)} real vectors ({len(a):,} random pairs)", fontsize=10)
    ax.set_xlim(0, 180)
    ax.set_ylim(0, 128)
    ax.legend(loc="upper left")
    fig.colorbar(hb, ax=ax, label="pairs")
    fig.tight_layout()
    fig.savefig(out)
    plt.close(fig)


def band_curves(data, every=5, k=10):
    """recall@10 and share of rows examined, per band count and positions used."""
    bands16 = np.array([[int(b, 32) for b in mivo.embedding_to_bands(v, 16)] for v in data], np.int64)
    unit = data / np.linalg.norm(data, axis=1, keepdims=True)
    queries = np.arange(0, len(data), every)
    curves = {}
    for n in (4, 8, 16):
        width = 16 // n
        points = []
        for used in range(1, n + 1):
            found = examined = 0
            for q in queries:
                same = bands16 == bands16[q]  # rows x 16 positions
                groups = same.reshape(len(data), n, width).all(axis=2)[:, :used]
                cand = groups.any(axis=1)
                cand[q] = False
                sims = unit @ unit[q]
                sims[q] = -2
                truth = np.argsort(-sims, kind="stable")[:k]
                found += cand[truth].sum()
                examined += cand.sum()
            points.append((examined / (len(queries) * (len(data) - 1)), found / (k * len(queries))))
        curves[n] = points
    return curves


def plot_band_recall(data, out):
    curves = band_curves(data)
    fig, ax = plt.subplots(figsize=(6.4, 4.4), dpi=110)
    colors = {4: "#9467bd", 8: "#ff7f0e", 16: "#1f77b4"}
    for n, points in curves.items():
        x, y = zip(*points)
        ax.plot(x, y, marker="o", ms=3.5, color=colors[n], label=f"{n} bands of {128 // n} bits")
        ax.annotate(f"all {n}: {y[-1]:.0%}", (x[-1], y[-1]), textcoords="offset points", xytext=(6, -4),
                    fontsize=8, color=colors[n])
    ax.set_xscale("log")
    ax.set_xlabel("share of the table examined per query (rows sharing a band)")
    ax.set_ylabel("recall@10 against brute-force cosine")
    ax.set_ylim(0, 1)
    ax.yaxis.set_major_formatter(matplotlib.ticker.PercentFormatter(1.0))
    ax.xaxis.set_major_formatter(matplotlib.ticker.PercentFormatter(1.0, decimals=None))
    ax.set_title(f"LSH bands on {len(data)} real vectors: each point looks up one more band position",
                 fontsize=9)
    ax.grid(alpha=0.3)
    ax.legend(loc="upper left")
    fig.tight_layout()
    fig.savefig(out)
    plt.close(fig)
    return curves


RATIO_AXIS = "mivo's time / peer's time per call (lower is better; left of 1: mivo is faster)"


def parse_fixed_table(lines):
    """(case, peer, mivo / peer) rows of a fixed-width table whose header names
    the columns "case", "library", "per call" and "mivo / peer"; a row with an
    empty case continues the case above it, and mivo's own rows are left out."""
    header = next((i for i, line in enumerate(lines) if line.startswith("case") and "mivo / peer" in line), None)
    if header is None:
        return []
    lib_col = lines[header].index("library")
    rows, case = [], None
    for line in lines[header + 2:]:
        if not line.strip():
            continue
        try:
            rest, ratio = line.rsplit(None, 1)
            rest, _unit = rest.rsplit(None, 1)
            rest, _value = rest.rsplit(None, 1)
            value = float(ratio)
        except ValueError:
            break  # the end of the table
        case = rest[:lib_col].strip() or case
        peer = rest[lib_col:].strip()
        if peer != "mivo":
            rows.append((case, peer, value))
    return rows


def parse_markdown_tables(lines):
    """(case, peer, mivo / baseline) rows of every Markdown table with a
    "ratio" column. The case is the first cell (with d = ... where a "d"
    column exists); the peer is a "peer" column, else the name before
    "baseline" in a column header (NumPy baseline: NumPy)."""
    rows = []
    i = 0
    while i < len(lines):
        if not lines[i].startswith("|"):
            i += 1
            continue
        block = []
        while i < len(lines) and lines[i].startswith("|"):
            block.append([c.strip() for c in lines[i].strip().strip("|").split("|")])
            i += 1
        head = [h.lower() for h in block[0]]
        if "ratio" not in head:
            continue
        baseline = next((h for h in block[0] if h.lower().endswith(" baseline")), None)
        for cells in block[2:]:
            cell = dict(zip(head, cells))
            try:
                value = float(cell["ratio"])
            except ValueError:
                continue  # no baseline for this row
            case = cells[0].strip("`") + (f", d = {cell['d']}" if cell.get("d") else "")
            peer = cell.get("peer") or (baseline.rsplit(" ", 1)[0] if baseline else "peer")
            rows.append((case, peer, value))
    return rows


def parse_ratios(text):
    lines = text.splitlines()
    return parse_fixed_table(lines) + parse_markdown_tables(lines)


def run_bench(script):
    env = dict(os.environ)
    for var in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE"):
        env.pop(var, None)
    print(f"running {script.relative_to(ROOT)} ...", flush=True)
    run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, check=True, env=env)
    return run.stdout


def plot_ratios(rows, title, out):
    cases = list(dict.fromkeys(case for case, _, _ in rows))
    peers = list(dict.fromkeys(peer for _, peer, _ in rows))
    colors = {peer: plt.get_cmap("tab10")(j % 10) for j, peer in enumerate(peers)}
    fig, ax = plt.subplots(figsize=(8, 0.36 * len(cases) + 2.0), dpi=110)
    labelled = set()
    for i, case in enumerate(cases):
        mine = [(peer, ratio) for c, peer, ratio in rows if c == case]
        height = 0.8 / len(mine)
        for j, (peer, ratio) in enumerate(mine):
            y = i - 0.4 + height * (j + 0.5)
            ax.barh(y, ratio, height=height * 0.9, color=colors[peer], label=None if peer in labelled else peer)
            labelled.add(peer)
            ax.annotate(f"{ratio:.2g}" if ratio < 0.1 else f"{ratio:.2f}", (ratio, y), xytext=(3, 0),
                        textcoords="offset points", va="center", fontsize=6)
    ax.axvline(1.0, color="black", lw=1)
    ax.set_xscale("log")
    ratios = [ratio for _, _, ratio in rows]
    ax.set_xlim(min(min(ratios), 1.0) / 2, max(max(ratios), 1.0) * 2)
    ax.set_yticks(range(len(cases)))
    ax.set_yticklabels(cases, fontsize=7)
    ax.set_ylim(len(cases) - 0.5, -0.5)
    ax.set_xlabel(RATIO_AXIS, fontsize=8)
    machine = f"{platform.machine()}, {os.cpu_count()} cores, Python {platform.python_version()}"
    ax.set_title(f"{title}\n{machine}, mivo {mivo.__version__}, {datetime.date.today().isoformat()}", fontsize=9)
    ax.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    ax.grid(axis="x", alpha=0.3, which="both")
    fig.tight_layout()
    fig.savefig(out)
    plt.close(fig)


def plot_benchmarks(only=None):
    """A fresh run of every bench/bench_*.py (or those named), drawn into
    docs/<its name>.png; its printed tables are kept in build/bench/<its name>.txt."""
    tables = ROOT / "build" / "bench"
    tables.mkdir(parents=True, exist_ok=True)
    for script in sorted((ROOT / "bench").glob("bench_*.py")):
        if only and script.stem not in only:
            continue
        text = run_bench(script)
        (tables / f"{script.stem}.txt").write_text(text, encoding="utf-8")
        rows = parse_ratios(text)
        if not rows:
            print(f"  {script.name}: no ratio table in its output, no picture")
            continue
        out = DOCS / f"{script.stem}.png"
        plot_ratios(rows, f"bench/{script.name}: mivo against its peers", out)
        print(f"wrote {out} ({len(rows)} ratios)")


def plot_recall_real():
    """recall_real.png from a fresh run of bench/recall_real.py, where its
    packages (the realdata extra: make bench-recall) are installed."""
    if importlib.util.find_spec("sentence_transformers") is None:
        print("  recall_real.png: kept as it is (make bench-recall installs what it needs)")
        return
    out = DOCS / "recall_real.png"
    env = {k: v for k, v in os.environ.items() if k not in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")}
    subprocess.run([sys.executable, str(ROOT / "bench" / "recall_real.py"), "--plot", str(out)], check=True, env=env)
    print(f"wrote {out}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--skip-bench", action="store_true", help="leave the benchmark pictures as they are")
    ap.add_argument("--only", nargs="+", metavar="NAME", help="run only these benchmarks (bench_strings ...)")
    args = ap.parse_args()
    if args.only:
        plot_benchmarks(args.only)
        return 0
    data = digits()
    plot_hamming_vs_angle(data, DOCS / "hamming_vs_angle.png")
    print(f"wrote {DOCS / 'hamming_vs_angle.png'}")
    curves = plot_band_recall(data, DOCS / "band_recall.png")
    print(f"wrote {DOCS / 'band_recall.png'}")
    for n, points in curves.items():
        share, recall = points[-1]
        print(f"  {n:>2} bands: recall@10 {recall:.1%}, {share:.2%} of the rows examined")
    if not args.skip_bench:
        plot_benchmarks()
        plot_recall_real()
    return 0


if __name__ == "__main__":
    sys.exit(main())
