"""examples/dedup_dask.py on a LocalCluster of two worker processes."""
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

import mivo

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")
pytest.importorskip("dask.distributed")

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "dedup_dask.py"


def run_example(*args, cwd, timeout=300):
    # Temporary files (the default output directory, Dask's scratch space) stay in cwd.
    env = dict(os.environ, TMPDIR=str(cwd))
    return subprocess.run([sys.executable, str(EXAMPLE), *map(str, args)], capture_output=True, text=True,
                          timeout=timeout, cwd=cwd, env=env)


def brute_force_pairs(ids, vectors, max_bits):
    """Every pair of rows whose Mini128 payloads differ in at most max_bits bits."""
    payload = np.array([list(mivo.decode(mivo.encode(v, mivo.Profile.Mini128))[2:]) for v in vectors], np.uint8)
    bits = np.unpackbits(payload, axis=1).astype(np.int32)
    dist = bits.shape[1] - (bits @ bits.T + (1 - bits) @ (1 - bits).T)
    a, b = np.nonzero(np.triu(dist <= max_bits, k=1))
    lo, hi = np.minimum(ids[a], ids[b]), np.maximum(ids[a], ids[b])
    return sorted(zip(lo.tolist(), hi.tolist(), dist[a, b].tolist()))


def read_found(pairs_dir):
    pairs = pq.read_table(pairs_dir).to_pandas()
    return sorted(zip(pairs["id_a"].tolist(), pairs["id_b"].tolist(), pairs["distance"].tolist()))


def test_synthetic_data_goes_into_the_new_output_directory(tmp_path):
    out = tmp_path / "run"
    run = run_example("--rows", 300, "--dups", 30, "--partitions", 4, "--workers", 2, "--max-bits", 12,
                      "--out", out, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "cluster: 2 workers" in run.stdout and "same pairs: True" in run.stdout
    assert sorted(p.name for p in out.iterdir()) == ["embeddings", "pairs"]

    data = out / "embeddings"
    rows = pq.read_table(data).to_pandas()
    assert len(rows) == 330 and len(list(data.glob("*.parquet"))) == 4
    vectors = np.stack(rows["embedding"].to_numpy()).astype(np.float32)
    found = read_found(out / "pairs")
    assert found == brute_force_pairs(rows["id"].to_numpy(), vectors, 12)
    planted = {(o, i) for i, o in zip(rows["id"], rows["copy_of"]) if o >= 0}
    assert len(planted) == 30 and planted <= {(a, b) for a, b, _ in found}


def test_reads_a_users_dataset_and_leaves_it_as_it_was(tmp_path):
    rng = np.random.default_rng(3)
    vectors = rng.standard_normal((120, 64)).astype(np.float32)
    vectors[60:75] = vectors[:15] + 0.01 * rng.standard_normal((15, 64)).astype(np.float32)
    ids = np.arange(120, dtype=np.int64) * 7 + 1000
    mine = tmp_path / "mine.parquet"
    pq.write_table(pa.table({"doc": ids, "vec": list(vectors), "text": [f"row {i}" for i in ids]}), mine)
    before = mine.read_bytes()

    run = run_example("--data", mine, "--column", "vec", "--id-column", "doc", cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
    assert mine.read_bytes() == before
    # Without --out: a new directory of its own, still there after the run.
    out = pathlib.Path(re.search(r"^pairs written to (.+)$", run.stdout, re.M).group(1))
    assert out.parent.name.startswith("mivo-dedup-") and out.parent.parent == tmp_path
    assert sorted(p.name for p in out.parent.iterdir()) == ["pairs"]
    assert read_found(out) == brute_force_pairs(ids, vectors, 12)


@pytest.mark.parametrize("args, message", [
    ("--out full", "not an empty directory"),
    ("--out file", "not an empty directory"),
    ("--data data --column vec --id-column doc --out data/pairs", "inside the dataset"),
    ("--data absent", "no such file or directory"),
    pytest.param("--data notes.txt", "not a Parquet dataset", marks=pytest.mark.skipif(
        bool(os.environ.get("MIVO_SANITIZER")),
        reason="pyarrow's C++ exception meets the preloaded sanitizer runtime before libstdc++ is loaded")),
    ("--data data --id-column doc", "no column 'embedding'; its columns are doc, vec"),
])
def test_refuses_before_writing_anything(tmp_path, args, message):
    data = tmp_path / "data"
    data.mkdir()
    pq.write_table(pa.table({"doc": [1, 2], "vec": [[0.5] * 64, [0.25] * 64]}), data / "part.parquet")
    (tmp_path / "full").mkdir()
    for name in ("full/keep.txt", "file", "notes.txt"):
        (tmp_path / name).write_text("mine")
    listing = sorted((p, p.stat().st_mtime_ns) for p in tmp_path.rglob("*"))
    run = run_example(*args.split(), cwd=tmp_path, timeout=60)
    assert run.returncode == 2 and message in run.stderr, run.stdout + run.stderr
    assert sorted((p, p.stat().st_mtime_ns) for p in tmp_path.rglob("*")) == listing
