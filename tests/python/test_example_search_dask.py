"""examples/search_dask.py on a LocalCluster of two worker processes."""
import pathlib
import re
import subprocess
import sys

import pytest

import mivo

pq = pytest.importorskip("pyarrow.parquet")
pytest.importorskip("dask.distributed")

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "search_dask.py"
sys.path.insert(0, str(EXAMPLE.parent))
import search_dask  # noqa: E402


def run(*args):
    return subprocess.run([sys.executable, str(EXAMPLE), *args], capture_output=True, text=True, timeout=300)


def test_two_workers_answer_as_one_index_over_the_whole_collection(tmp_path):
    data = tmp_path / "codes"
    done = run("--rows", "3000", "--partitions", "3", "--workers", "2", "--queries", "40", "--batches", "2",
               "-k", "5", "--data", str(data))
    assert done.returncode == 0, done.stdout + done.stderr
    assert "cluster: 2 workers" in done.stdout and "same answers: True" in done.stdout
    assert f"dataset kept in {data}" in done.stdout

    rows = pq.read_table(data).to_pandas()
    assert len(rows) == 3000 and len(list(data.glob("*.parquet"))) == 3 and rows["id"].is_unique
    # The first query's printed neighbours against a brute force with mivo's one-pair distance.
    query = search_dask.query_batches(2, 40, seed=0)[0][0]
    dist = [mivo.mivo_hamming_distance(query, m) for m in rows["mivo"]]
    expected = sorted(zip(dist, rows["id"].tolist()))[:5]
    line = next(x for x in done.stdout.splitlines() if x.startswith("first query's neighbours"))
    found = [(int(d), int(i)) for i, d in re.findall(r"(\d+): (\d+)", line.split(":", 1)[1])]
    assert found == expected


def test_a_directory_that_holds_files_is_refused_and_left_alone(tmp_path):
    keep = tmp_path / "mine.txt"
    keep.write_text("not the example's")
    done = run("--rows", "100", "--data", str(tmp_path))
    assert done.returncode != 0 and "not an empty directory" in done.stderr
    assert [p.name for p in tmp_path.iterdir()] == ["mine.txt"] and keep.read_text() == "not the example's"
