"""examples/postgres_search.py against a private PostgreSQL server."""
import importlib.util
import os
import pathlib

import numpy as np
import pytest

import mivo

pytest.importorskip("psycopg")
EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "postgres_search.py"
_module_source = importlib.util.spec_from_file_location("postgres_search", EXAMPLE)
example = importlib.util.module_from_spec(_module_source)
_module_source.loader.exec_module(example)

if os.environ.get("MIVO_SANITIZER"):
    pytest.skip("the server would inherit the preloaded sanitizer runtime", allow_module_level=True)
if example.find_pg_bin() is None and not os.environ.get("CI"):
    pytest.skip("PostgreSQL is not installed (scripts/setup.sh installs it)", allow_module_level=True)


@pytest.fixture(scope="module")
def server():
    with example.private_server() as dsn:
        yield dsn
    # Stopped and removed on leaving.
    assert not pathlib.Path(dsn.split()[0].removeprefix("host=")).exists()


def test_sql_hamming_and_band_lookup_agree_with_mivo(server):
    import psycopg

    rng = np.random.default_rng(5)
    base = rng.standard_normal((12, 64)).astype(np.float32)
    vectors = np.concatenate([base, base + 0.3 * rng.standard_normal(base.shape).astype(np.float32)])
    ids = [mivo.encode(v, mivo.Profile.Mini128) for v in vectors]
    bands = [mivo.embedding_to_bands(v, 16) for v in vectors]
    with psycopg.connect(server) as con:
        example.store(con, vectors)
        for q in range(len(vectors)):
            params = {"id": q, "hash": mivo.decode(ids[q])[2:]}
            params.update({f"b{i}": b for i, b in enumerate(bands[q])})
            for group in (1, 2, 4):
                got = con.execute(example.band_query(group), params).fetchall()
                # A row is a candidate when a whole group of neighbouring bands
                # matches in the same positions.
                want = [
                    r for r in range(len(vectors))
                    if r != q and any(bands[r][g:g + group] == bands[q][g:g + group] for g in range(0, 16, group))
                ]
                assert sorted(r for r, _ in got) == want
                assert all(bits == mivo.mivo_hamming_distance(ids[q], ids[r]) for r, bits in got)
                assert [bits for _, bits in got] == sorted(bits for _, bits in got)


def test_server_is_stopped_after_an_error():
    with pytest.raises(KeyError):
        with example.private_server() as dsn:
            root = pathlib.Path(dsn.split()[0].removeprefix("host="))
            assert (root / "data" / "postmaster.pid").exists()
            raise KeyError("boom")
    assert not root.exists()


def test_example_prints_recall_for_each_band_count(capsys):
    assert example.main(["--every", "30"]) == 0
    out = capsys.readouterr().out
    rows = {int(line.split()[0]): line for line in out.splitlines() if line.strip()[:2] in ("4 ", "8 ", "16")}
    assert sorted(rows) == [4, 8, 16]
    in_candidates = {b: float(line.split()[-4].rstrip("%")) for b, line in rows.items()}
    assert in_candidates[4] < in_candidates[8] < in_candidates[16] and in_candidates[16] > 70
    assert "server: stopped" in out
