"""examples/dedup_dask.py on a LocalCluster of two worker processes."""
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import mivo

pq = pytest.importorskip("pyarrow.parquet")
pytest.importorskip("dask.distributed")

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "dedup_dask.py"


def brute_force_pairs(ids, vectors, max_bits):
    """Every pair of rows whose Mini128 payloads differ in at most max_bits bits."""
    payload = np.array([list(mivo.decode(mivo.encode(v, mivo.Profile.Mini128))[2:]) for v in vectors], np.uint8)
    bits = np.unpackbits(payload, axis=1).astype(np.int32)
    dist = bits.shape[1] - (bits @ bits.T + (1 - bits) @ (1 - bits).T)
    a, b = np.nonzero(np.triu(dist <= max_bits, k=1))
    lo, hi = np.minimum(ids[a], ids[b]), np.maximum(ids[a], ids[b])
    return sorted(zip(lo.tolist(), hi.tolist(), dist[a, b].tolist()))


def test_two_workers_find_every_pair_within_the_radius(tmp_path):
    data, out = tmp_path / "data", tmp_path / "pairs"
    run = subprocess.run(
        [sys.executable, str(EXAMPLE), "--rows", "300", "--dups", "30", "--partitions", "4",
         "--workers", "2", "--max-bits", "12", "--data", str(data), "--out", str(out)],
        capture_output=True, text=True, timeout=300,
    )
    assert run.returncode == 0, run.stdout + run.stderr
    assert "cluster: 2 workers" in run.stdout and "same pairs: True" in run.stdout

    rows = pq.read_table(data).to_pandas()
    assert len(rows) == 330 and len(list(data.glob("*.parquet"))) == 4
    vectors = np.stack(rows["embedding"].to_numpy()).astype(np.float32)
    expected = brute_force_pairs(rows["id"].to_numpy(), vectors, 12)

    pairs = pq.read_table(out).to_pandas()
    found = sorted(zip(pairs["id_a"].tolist(), pairs["id_b"].tolist(), pairs["distance"].tolist()))
    assert found == expected
    planted = {(o, i) for i, o in zip(rows["id"], rows["copy_of"]) if o >= 0}
    assert len(planted) == 30 and planted <= {(a, b) for a, b, _ in found}
