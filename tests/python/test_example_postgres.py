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
    with psycopg.connect(server) as con, example.own_schema(con):
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


def schemas(con):
    return {name for (name,) in con.execute("SELECT nspname FROM pg_namespace WHERE nspname LIKE 'mivo%'")}


@pytest.fixture
def users_objects(server):
    """Objects of the database's owner that the example must leave alone: a
    table of the same name and a `#` operator on bytea in public."""
    import psycopg

    with psycopg.connect(server, autocommit=True) as con:
        con.execute("CREATE TABLE public.mivo_items (note text); INSERT INTO public.mivo_items VALUES ('mine')")
        con.execute("CREATE FUNCTION public.mine(a bytea, b bytea) RETURNS bytea LANGUAGE sql AS 'SELECT a'")
        con.execute("CREATE OPERATOR public.# (LEFTARG = bytea, RIGHTARG = bytea, FUNCTION = public.mine)")
        yield con
        con.execute("DROP OPERATOR public.# (bytea, bytea); DROP FUNCTION public.mine; DROP TABLE public.mivo_items")
        for name in schemas(con):
            con.execute(f"DROP SCHEMA {name} CASCADE")


def test_dsn_works_in_a_schema_of_its_own_and_drops_only_that(server, users_objects, capsys):
    assert example.main(["--dsn", server, "--every", "200"]) == 0
    out = capsys.readouterr().out
    assert "database: creating schema mivo_example_" in out and "function bytea_xor(bytea, bytea)" in out
    assert "dropped" in out and schemas(users_objects) == set()
    assert users_objects.execute("SELECT note FROM public.mivo_items").fetchall() == [("mine",)]
    assert users_objects.execute("SELECT '\\x01'::bytea # '\\x02'::bytea").fetchone() == (b"\x01",)


def test_keep_leaves_the_schema_and_an_existing_name_is_refused(server, users_objects):
    assert example.main(["--dsn", server, "--every", "200", "--schema", "mivo_kept", "--keep"]) == 0
    assert schemas(users_objects) == {"mivo_kept"}
    count = users_objects.execute("SELECT count(*) FROM mivo_kept.mivo_items").fetchone()
    with pytest.raises(RuntimeError, match="schema mivo_kept exists already: it is left alone"):
        example.main(["--dsn", server, "--schema", "mivo_kept"])
    assert users_objects.execute("SELECT count(*) FROM mivo_kept.mivo_items").fetchone() == count != (0,)


@pytest.mark.parametrize("name", ["Mivo", "a;b", "x" * 64, "1abc"])
def test_schema_names_outside_lowercase_identifiers_are_refused(name, capsys):
    with pytest.raises(SystemExit):
        example.main(["--dsn", "host=/nonexistent", "--schema", name])
    assert "lowercase letters, digits and _ only" in capsys.readouterr().err
