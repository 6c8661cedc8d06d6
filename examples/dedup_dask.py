"""Near-duplicate embeddings on a Dask cluster, partition by partition.

The pipeline:

1. a Parquet dataset of embeddings: yours (--data, read only, never written),
   or a synthetic one that the script makes in its own output directory:
   scikit-learn's handwritten digits (1797 real vectors of 64 values, centred;
   random clusters when scikit-learn is missing) plus planted near-duplicates,
   copies of random rows with a little noise added;
2. for each partition, on the workers: a Mini128 identifier and 16 LSH bands
   per row, laid out as one row per (band position, band text);
3. a band self-join: rows that share a band in the same position are
   candidate pairs;
4. each candidate pair confirmed by the Hamming distance of the two Mini128
   identifiers (at most --max-bits of 128 bits differ);
5. the pairs written as Parquet into OUT/pairs.

With 16 bands of 8 bits, two identifiers that differ in fewer than 16 bits
always share at least one band, so for --max-bits below 16 the band join
misses no pair: the result is every pair within --max-bits.

The output directory (--out) must be new or empty: the script refuses to
write into a directory that holds anything. Without --out it makes a new
directory mivo-dedup-* in the system's temporary directory and keeps it.

Without --scheduler the script starts a LocalCluster of worker processes on
this machine; with --scheduler tcp://host:8786 the same code runs on a
cluster of many machines (each worker needs mivo, pandas and pyarrow, and
--data and --out must then be on storage that every worker can reach).

    python examples/dedup_dask.py                     # 2 local worker processes, synthetic data
    python examples/dedup_dask.py --workers 4 --dups 500 --out ./pairs-run
    python examples/dedup_dask.py --data /shared/emb --column vector --id-column doc_id \\
        --scheduler tcp://10.0.0.5:8786 --out /shared/mivo-pairs
"""
import argparse
import logging
import pathlib
import sys
import tempfile
import time
from typing import Optional

import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.parquet as pq

import mivo

BANDS = 16


# --------------------------------------------------------------- the dataset
def make_dataset(path, rows=None, dups=200, partitions=8, noise=0.05, seed=0):
    """Writes `partitions` Parquet files of (id, embedding, copy_of) rows.

    Each planted copy is a random row plus Gaussian noise of `noise` times
    the row's length; copy_of is the original's id (-1 for the originals).
    Returns the planted pairs (original id, copy id).
    """
    try:
        from sklearn.datasets import load_digits

        data = load_digits().data.astype(np.float32)  # shipped inside scikit-learn
    except ImportError:  # a stand-in with the same shape
        rng = np.random.default_rng(seed)
        centres = rng.standard_normal((20, 64)).astype(np.float32)
        data = centres[rng.integers(0, 20, 1797)] + 0.4 * rng.standard_normal((1797, 64)).astype(np.float32)
    data = data - data.mean(axis=0)  # centred: cosine similarity spreads over -1..1
    if rows is not None:
        data = data[:rows]
    rng = np.random.default_rng(seed)
    originals = rng.choice(len(data), size=dups, replace=False)
    scale = noise * np.linalg.norm(data[originals], axis=1, keepdims=True) / np.sqrt(data.shape[1])
    copies = data[originals] + scale * rng.standard_normal((dups, data.shape[1]))
    vectors = np.concatenate([data, copies]).astype(np.float32)
    ids = np.arange(len(vectors), dtype=np.int64)
    copy_of = np.concatenate([np.full(len(data), -1), originals]).astype(np.int64)
    order = rng.permutation(len(vectors))  # spread the copies over the partitions
    path = pathlib.Path(path)
    path.mkdir(parents=True)  # a new directory: never over files already there
    for part, chunk in enumerate(np.array_split(order, partitions)):
        chunk = np.sort(chunk)
        table = pa.table({
            "id": pa.array(ids[chunk]),
            "embedding": pa.FixedSizeListArray.from_arrays(pa.array(vectors[chunk].ravel()), vectors.shape[1]),
            "copy_of": pa.array(copy_of[chunk]),
        })
        pq.write_table(table, path / f"part-{part:03d}.parquet")
    return [(int(o), len(data) + k) for k, o in enumerate(originals)]


# ------------------------------------------------- the steps, one partition each
def band_rows(part):
    """(id, embedding) rows -> one row per band: id, mivo, key.

    The key is "position:band": a band matches only in its own position.
    """
    ids, mivos, keys = [], [], []
    for row_id, embedding in zip(part["id"], part["embedding"]):
        v = np.asarray(embedding, dtype=np.float32)
        ident = mivo.encode(v, mivo.Profile.Mini128)
        for pos, band in enumerate(mivo.embedding_to_bands(v, BANDS)):
            ids.append(row_id)
            mivos.append(ident)
            keys.append(f"{pos}:{band}")
    return pd.DataFrame({
        "id": pd.Series(ids, dtype="int64"),
        "mivo": pd.Series(mivos, dtype=object),
        "key": pd.Series(keys, dtype=object),
    })


def confirm(joined, max_bits):
    """Joined candidate rows -> confirmed pairs (id_a < id_b, distance)."""
    joined = joined[joined["id_a"] < joined["id_b"]]
    joined = joined.drop_duplicates(["id_a", "id_b"])
    dist = [mivo.mivo_hamming_distance(a, b) for a, b in zip(joined["mivo_a"], joined["mivo_b"])]
    out = pd.DataFrame({
        "id_a": joined["id_a"].to_numpy(dtype=np.int64),
        "id_b": joined["id_b"].to_numpy(dtype=np.int64),
        "distance": np.asarray(dist, dtype=np.int64),
    })
    return out[out["distance"] <= max_bits]


BAND_META = pd.DataFrame({
    "id": pd.Series([], dtype="int64"), "mivo": pd.Series([], dtype=object), "key": pd.Series([], dtype=object)
})
PAIR_META = pd.DataFrame({k: pd.Series([], dtype="int64") for k in ("id_a", "id_b", "distance")})


def side(frame, suffix):
    return frame.rename(columns={"id": f"id_{suffix}", "mivo": f"mivo_{suffix}"})


def run_dask(client, data, out, max_bits, column="embedding", id_column="id"):
    """The pipeline on the cluster behind `client`; writes the pairs to out."""
    import dask.dataframe as dd
    from dask.distributed import progress

    rows = dd.read_parquet(str(data), columns=[id_column, column])
    rows = rows.rename(columns={id_column: "id", column: "embedding"})
    bands = rows.map_partitions(band_rows, meta=BAND_META)
    joined = side(bands, "a").merge(side(bands, "b"), on="key")  # the band self-join
    pairs = joined.map_partitions(confirm, max_bits, meta=PAIR_META)
    # Each joined partition can hold a pair found through several bands; a
    # pair whose bands fell into different partitions is dropped once more.
    pairs = pairs.drop_duplicates(["id_a", "id_b"])
    job = client.compute(pairs.to_parquet(str(out), write_index=False, compute=False))
    progress(job)
    print()
    job.result()


def run_single(data, max_bits, column="embedding", id_column="id"):
    """The same steps in this process with pandas alone: the reference."""
    rows = pq.read_table(str(data), columns=[id_column, column]).to_pandas()
    rows = rows.rename(columns={id_column: "id", column: "embedding"})
    bands = band_rows(rows)
    joined = side(bands, "a").merge(side(bands, "b"), on="key")
    return sort_pairs(confirm(joined, max_bits))


def sort_pairs(frame):
    return frame.sort_values(["id_a", "id_b"]).reset_index(drop=True)[["id_a", "id_b", "distance"]]


def read_pairs(out):
    return sort_pairs(pq.read_table(str(out)).to_pandas())


# ------------------------------------------------------- where to read and write
def check_input(data: pathlib.Path, column: str, id_column: str) -> Optional[str]:
    """Why the dataset at `data` cannot be read as asked, or None."""
    if not data.exists():
        return f"--data {data}: no such file or directory"
    try:
        names = pq.ParquetDataset(str(data)).schema.names
    except Exception as err:  # any reason pyarrow gives
        return f"--data {data}: not a Parquet dataset ({err})"
    absent = [c for c in (column, id_column) if c not in names]
    if absent:
        return (f"--data {data}: no column {' or '.join(map(repr, absent))}; its columns are {', '.join(names)} "
                "(choose them with --column and --id-column)")
    return None


def check_output(out: pathlib.Path, data: Optional[pathlib.Path]) -> Optional[str]:
    """Why the results must not go to `out`, or None. The directory must be
    new or empty, and not inside the dataset."""
    if out.exists() and (not out.is_dir() or any(out.iterdir())):
        return f"--out {out}: not an empty directory; the script writes only into a new or empty one"
    if data is not None and data.is_dir() and out.resolve().is_relative_to(data.resolve()):
        return f"--out {out}: inside the dataset --data {data}; choose a directory outside it"
    return None


# ---------------------------------------------------------------------- main
def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    ap.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster (default 2)")
    ap.add_argument("--data", help="your Parquet dataset, a file or a directory (read only; default: synthetic data)")
    ap.add_argument("--column", default="embedding", help="column of --data holding the vectors (default embedding)")
    ap.add_argument("--id-column", default="id", help="column of --data holding integer row ids (default id)")
    ap.add_argument("--out", help="new or empty directory for the results (default: a new mivo-dedup-* directory "
                    "in the temporary directory)")
    ap.add_argument("--max-bits", type=int, default=12, help="largest Hamming distance of a pair (default 12)")
    ap.add_argument("--no-reference", action="store_true",
                    help="skip the single-process run that checks the cluster's pairs")
    synthetic = ap.add_argument_group("synthetic data (without --data)")
    synthetic.add_argument("--rows", type=int, help="use only the first ROWS digits (default: all 1797)")
    synthetic.add_argument("--dups", type=int, default=200, help="planted near-duplicates (default 200)")
    synthetic.add_argument("--partitions", type=int, default=8, help="Parquet files of the dataset (default 8)")
    args = ap.parse_args(argv)

    given = pathlib.Path(args.data) if args.data else None
    problem = (check_input(given, args.column, args.id_column) if given else None) or (
        check_output(pathlib.Path(args.out), given) if args.out else None)
    if problem:
        ap.error(problem)

    from dask.distributed import Client, LocalCluster

    # The shuffle of the join logs each of its steps as a warning.
    logging.getLogger("distributed.shuffle").setLevel(logging.ERROR)

    if args.out:
        out_dir = pathlib.Path(args.out)
        out_dir.mkdir(parents=True, exist_ok=True)
    else:
        out_dir = pathlib.Path(tempfile.mkdtemp(prefix="mivo-dedup-"))
    out = out_dir / "pairs"
    print(f"output: {out_dir} (kept after the run)")
    if given is None:
        data, column, id_column = out_dir / "embeddings", "embedding", "id"
        t0 = time.perf_counter()
        planted = make_dataset(data, args.rows, args.dups, args.partitions)
        print(f"dataset: synthetic, {args.partitions} Parquet files in {data} ({time.perf_counter() - t0:.1f} s)")
    else:
        data, column, id_column, planted = given, args.column, args.id_column, None
        print(f"dataset: {data} (columns {id_column!r} and {column!r}; read only)")

    t0 = time.perf_counter()
    if args.scheduler:
        cluster, client = None, Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    started = time.perf_counter() - t0
    try:
        info = client.scheduler_info()
        workers = len(info["workers"])
        print(f"cluster: {workers} workers at {info['address']} (started in {started:.1f} s)")
        t0 = time.perf_counter()
        run_dask(client, data, out, args.max_bits, column, id_column)
        took = time.perf_counter() - t0
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    pairs = read_pairs(out)
    print(f"pipeline: {took:.1f} s on {workers} workers; {len(pairs)} pairs within {args.max_bits} bits")
    same = True
    if not args.no_reference:
        t0 = time.perf_counter()
        reference = run_single(data, args.max_bits, column, id_column)
        same = pairs.equals(reference)
        print(f"single-process run ({time.perf_counter() - t0:.1f} s): same pairs: {same}")
    hits = 0
    if planted is not None:
        found = set(zip(pairs["id_a"], pairs["id_b"]))
        hits = sum((a, b) in found for a, b in planted)
        print(f"planted near-duplicates found: {hits} of {len(planted)}")
    print(pairs.head(8).to_string(index=False))
    print(f"pairs written to {out}")
    return 0 if same and (planted is None or hits == len(planted)) else 1


if __name__ == "__main__":
    sys.exit(main())
