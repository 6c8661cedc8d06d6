"""Near-neighbour search over embeddings in PostgreSQL with mivo's LSH bands.

Each row stores its Mini128 identifier, its 16 bands (one indexed column per
band position: band0 matches only band0) and the 128-bit SimHash as a 16-byte
`bytea`. A query looks up the rows that share a band with it (equality on
indexed columns), re-ranks those candidates by `bit_count(simhash # query)`,
the Hamming distance in bits, and keeps the 10 nearest. The script prints the
recall of that answer against brute-force cosine similarity.

Requiring 2 or 4 neighbouring band columns to match together gives the
selectivity of 8 or 4 wider bands with the same table, so one run compares
the three band counts.

    python examples/postgres_search.py                     # a private, throw-away server
    python examples/postgres_search.py --dsn "host=db.example dbname=vectors user=me"

Without --dsn the script creates a private PostgreSQL cluster with initdb and
pg_ctl (Debian's `postgresql` package) in a temporary directory, listening
only on a Unix socket there, and stops and removes it at exit, also after an
error. Run as root, the server runs as the `postgres` user (PostgreSQL
refuses to run as root).

With --dsn it works in a schema of its own on your database: it says what it
will create, creates a new schema (mivo_example_ and 8 random hex digits, or
--schema NAME, which must not exist yet) and puts its table, function and
operator there, touching nothing outside it. At exit it drops exactly those
objects and the schema (--keep leaves them); anything else found in the
schema by then stops the drop.
"""
import argparse
import contextlib
import glob
import os
import pathlib
import pwd
import re
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from typing import Any

import numpy as np
import psycopg
from psycopg import sql

import mivo

BANDS = 16

# The objects the example creates, in a schema of its own (first on the search
# path). `#` on two bytea values: byte-wise exclusive or. bit_count(bytea) is
# built in (PostgreSQL 14 and later); together they give the Hamming distance.
OBJECTS = f"""
CREATE FUNCTION bytea_xor(a bytea, b bytea) RETURNS bytea
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE r bytea := a;
BEGIN
    FOR i IN 0 .. length(a) - 1 LOOP
        r := set_byte(r, i, get_byte(a, i) # get_byte(b, i));
    END LOOP;
    RETURN r;
END $$;
CREATE OPERATOR # (LEFTARG = bytea, RIGHTARG = bytea, FUNCTION = bytea_xor);
CREATE TABLE mivo_items (
    id integer PRIMARY KEY,
    mivo text NOT NULL,
    simhash bytea NOT NULL,
    {", ".join(f"band{i} text NOT NULL" for i in range(BANDS))}
);
"""
OBJECTS_TEXT = f"table mivo_items (with {BANDS} band indexes), function bytea_xor(bytea, bytea), operator #"
SCHEMA_NAME = re.compile(r"[a-z_][a-z0-9_]{0,62}")


@contextlib.contextmanager
def own_schema(con, name=None, keep=False):
    """Creates a new schema (`name`, or mivo_example_ and random hex digits)
    holding the example's objects, first on the connection's search path;
    yields its name. On leaving, unless `keep`, drops those objects and the
    schema by name, without CASCADE: something else put into the schema
    meanwhile makes the drop fail rather than go with it."""
    name = name or f"mivo_example_{secrets.token_hex(4)}"
    if not SCHEMA_NAME.fullmatch(name):
        raise ValueError(f"schema name must be lowercase letters, digits and _ (at most 63), got {name!r}")
    schema = sql.Identifier(name)
    print(f"database: creating schema {name} with {OBJECTS_TEXT}; "
          + ("kept at exit" if keep else "all dropped again at exit (--keep keeps them)"))
    with con.cursor() as cur:
        try:
            cur.execute(sql.SQL("CREATE SCHEMA {}").format(schema))
        except psycopg.errors.DuplicateSchema:
            con.rollback()
            raise RuntimeError(f"schema {name} exists already: it is left alone; choose a new name") from None
        cur.execute(sql.SQL("SET search_path TO {}").format(schema))
        cur.execute(OBJECTS)
    con.commit()
    try:
        yield name
    finally:
        if not keep:
            con.rollback()
            with con.cursor() as cur:
                for drop in ("DROP TABLE {}.mivo_items", "DROP OPERATOR {}.# (bytea, bytea)",
                             "DROP FUNCTION {}.bytea_xor(bytea, bytea)", "DROP SCHEMA {}"):
                    cur.execute(sql.SQL(drop).format(schema))
            con.commit()
            print(f"database: schema {name} and its objects dropped")


# ---------------------------------------------------- a private PostgreSQL server
def find_pg_bin():
    """The directory of initdb and pg_ctl: on PATH, or Debian's newest; None if neither."""
    on_path = shutil.which("initdb")
    if on_path:
        return pathlib.Path(on_path).parent
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"), key=lambda p: int(p.split("/")[4]))
    return pathlib.Path(found[-1]).parent if found else None


@contextlib.contextmanager
def private_server():
    """Starts a throw-away PostgreSQL cluster; yields its connection string."""
    bindir = find_pg_bin()
    if bindir is None:
        raise RuntimeError("initdb not found: install PostgreSQL (apt-get install postgresql) or pass --dsn")
    root = pathlib.Path(tempfile.mkdtemp(prefix="mivo-pg-"))
    as_user: dict[str, Any] = {}
    if os.geteuid() == 0:  # the server refuses root: run it as an ordinary account
        users = {p.pw_name for p in pwd.getpwall()}
        account = pwd.getpwnam("postgres" if "postgres" in users else "nobody")
        os.chown(root, account.pw_uid, account.pw_gid)
        as_user = {"user": account.pw_uid, "group": account.pw_gid, "extra_groups": []}
    data, log = root / "data", root / "server.log"

    def pg(*args):
        subprocess.run([str(bindir / args[0]), *args[1:]], check=True, cwd=root, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, **as_user)

    started = False
    try:
        pg("initdb", "-D", str(data), "-U", "mivo", "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync")
        # No TCP port at all: the only way in is the Unix socket in root.
        pg("pg_ctl", "-D", str(data), "-l", str(log), "-w", "-o", f"-k {root} -h '' -c fsync=off", "start")
        started = True
        print(f"server: private PostgreSQL cluster in {root} (Unix socket only)")
        yield f"host={root} dbname=postgres user=mivo"
    except subprocess.CalledProcessError as err:
        detail = err.stderr.decode(errors="replace") if err.stderr else ""
        if log.exists():
            detail += log.read_text(errors="replace")
        raise RuntimeError(f"{pathlib.Path(err.cmd[0]).name} failed: {detail.strip()}") from None
    finally:
        if started:
            pg("pg_ctl", "-D", str(data), "-m", "fast", "-w", "stop")
            print(f"server: stopped, {root} removed")
        shutil.rmtree(root, ignore_errors=True)


# ------------------------------------------------------------------- the data
def load_vectors():
    try:
        from sklearn.datasets import load_digits

        data = load_digits().data.astype(np.float32)  # shipped inside scikit-learn
        source = "scikit-learn's handwritten digits (1797 vectors of 64 values), centred"
    except ImportError:
        rng = np.random.default_rng(0)
        centres = rng.standard_normal((20, 64)).astype(np.float32)
        data = centres[rng.integers(0, 20, 2000)] + 0.4 * rng.standard_normal((2000, 64)).astype(np.float32)
        source = "synthetic: 2000 vectors of 64 values around 20 centres"
    return (data - data.mean(axis=0)).astype(np.float32), source


def store(con, vectors):
    """Fills mivo_items (in the schema of own_schema) and indexes its bands."""
    with con.cursor() as cur:
        columns = ", ".join(f"band{i}" for i in range(BANDS))
        rows = []
        for i, v in enumerate(vectors):
            ident = mivo.encode(v, mivo.Profile.Mini128)
            rows.append((i, ident, mivo.decode(ident)[2:], *mivo.embedding_to_bands(v, BANDS)))
        cur.executemany(
            f"INSERT INTO mivo_items (id, mivo, simhash, {columns}) VALUES ({', '.join(['%s'] * (BANDS + 3))})", rows)
        for i in range(BANDS):
            cur.execute(f"CREATE INDEX mivo_items_band{i} ON mivo_items (band{i})")
        cur.execute("ANALYZE mivo_items")
    con.commit()


def band_query(group):
    """Rows sharing `group` neighbouring bands with the query, nearest first."""
    ors = []
    for first in range(0, BANDS, group):
        ors.append("(" + " AND ".join(f"band{i} = %(b{i})s" for i in range(first, first + group)) + ")")
    where = " OR ".join(ors)
    return (f"SELECT id, bit_count(simhash # %(hash)s) AS bits FROM mivo_items "
            f"WHERE ({where}) AND id <> %(id)s ORDER BY bits, id")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--dsn", help="libpq connection string of an existing database (default: a private server)")
    ap.add_argument("--schema", help="name of the new schema for the example's objects "
                    "(default: mivo_example_ and random hex digits); it must not exist")
    ap.add_argument("--keep", action="store_true", help="keep the schema and its objects at exit")
    ap.add_argument("--every", type=int, default=10, help="query with every EVERY-th row (default 10)")
    args = ap.parse_args(argv)
    if args.schema and not SCHEMA_NAME.fullmatch(args.schema):
        ap.error(f"--schema {args.schema!r}: lowercase letters, digits and _ only, at most 63")

    vectors, source = load_vectors()
    unit = vectors / np.linalg.norm(vectors, axis=1, keepdims=True)
    with contextlib.ExitStack() as stack:
        dsn = args.dsn or stack.enter_context(private_server())
        con = stack.enter_context(psycopg.connect(dsn))
        print(f"server: PostgreSQL {con.info.server_version // 10000}")
        stack.enter_context(own_schema(con, args.schema, args.keep))
        t0 = time.perf_counter()
        store(con, vectors)
        print(f"stored {len(vectors)} rows ({source}): id, mivo, simhash bytea, band0..band{BANDS - 1} "
              f"with one index each ({time.perf_counter() - t0:.1f} s)")

        queries = range(0, len(vectors), args.every)
        print(f"\n{len(queries)} queries: the rows sharing a band, re-ranked by bit_count(simhash # query);")
        print("recall against the true 10 nearest by brute-force cosine over all rows:")
        print("  bands  matched as              candidates/query  in candidates  in first 10")
        for bands in (4, 8, 16):
            group = BANDS // bands
            sql = band_query(group)
            hits = top = examined = 0
            t0 = time.perf_counter()
            with con.cursor() as cur:
                for q in queries:
                    ident = mivo.encode(vectors[q], mivo.Profile.Mini128)
                    params = {"id": q, "hash": mivo.decode(ident)[2:]}
                    params.update({f"b{i}": b for i, b in enumerate(mivo.embedding_to_bands(vectors[q], BANDS))})
                    got = cur.execute(sql, params).fetchall()
                    examined += len(got)
                    sims = unit @ unit[q]
                    sims[q] = -2.0
                    truth = set(np.argsort(-sims, kind="stable")[:10].tolist())
                    hits += len(truth & {row[0] for row in got})
                    top += len(truth & {row[0] for row in got[:10]})
            how = "one column" if group == 1 else f"{group} columns together"
            print(f"  {bands:>5}  {how:<22}  {examined / len(queries):>16.1f}  {hits / (10 * len(queries)):>13.1%}"
                  f"  {top / (10 * len(queries)):>11.1%}   ({time.perf_counter() - t0:.2f} s)")

        q = 0
        with con.cursor() as cur:
            ident = mivo.encode(vectors[q], mivo.Profile.Mini128)
            params = {"id": q, "hash": mivo.decode(ident)[2:]}
            params.update({f"b{i}": b for i, b in enumerate(mivo.embedding_to_bands(vectors[q], BANDS))})
            rows = cur.execute(band_query(1), params).fetchall()
        print(f"\nthe 5 nearest to row {q} with 16 bands:")
        for row_id, bits in rows[:5]:
            print(f"  row {row_id:>4}: {bits:>3} bits apart, cosine {float(unit[row_id] @ unit[q]):.3f}")
    return 0


if __name__ == "__main__":
    # A termination signal unwinds like an error, so the server is stopped.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.exit(main())
