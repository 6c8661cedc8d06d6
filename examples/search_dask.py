"""Nearest-identifier search over a Dask cluster, one Hamming index per shard.

The pipeline:

1. a Parquet dataset of Mini128 identifiers (synthetic embeddings: points
   scattered around a few hundred centres, hashed with
   mivo_collections.encode_batch), one file per partition;
2. on the workers, one mivo_collections.HammingIndex per partition, built
   from the partition's identifiers and ids and kept in the worker's memory;
3. a batch of query identifiers sent to every shard, each shard answering
   with its own exact top-k;
4. the per-shard answers merged on the client into the global top-k
   (smaller distance first, then smaller id), as merge_topk does;
5. the check: the merged answer equals the answer of one index built over
   the whole collection in this process.

Without --scheduler the script starts a LocalCluster of worker processes on
this machine; with --scheduler tcp://host:8786 the same code runs on a
cluster of many machines (each worker needs mivo, pandas and pyarrow, and
--data must then be on storage that every worker can reach).

The dataset goes into a new directory of its own (by default a fresh one
under the system's temporary directory, kept after the run); a --data
directory that exists and is not empty is refused, never written into.

    python examples/search_dask.py                      # 2 local worker processes
    python examples/search_dask.py --rows 200000 --partitions 8 --batches 10
    python examples/search_dask.py --scheduler tcp://10.0.0.5:8786 --data /shared/codes
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import tempfile
import time

import mivo_collections
import numpy as np

DIMS = 64


# ------------------------------------------------------------ the merge of top-k
def merge_topk(distances, ids, k):
    """Per-shard top-k answers -> the global top-k of each query.

    distances, ids: sequences of (q, k_i) arrays, one pair per shard (any
    numeric distance type; an id of -1 marks an empty slot, as an index
    holding fewer than k entries pads its answer). Returns (q, k) arrays,
    each row ordered by distance and then by smaller id, -1 in both where
    the shards hold fewer than k entries in all. The order is fixed by the
    values alone, so it does not depend on the order of the shards.
    """
    dist = np.concatenate([np.asarray(d) for d in distances], axis=1)
    ident = np.concatenate([np.asarray(i, dtype=np.int64) for i in ids], axis=1)
    if dist.shape != ident.shape:
        raise ValueError(f"distances and ids differ in shape: {dist.shape} and {ident.shape}")
    empty = ident < 0
    order = np.lexsort((ident, dist, empty), axis=1)[:, :k]  # the last key sorts first
    dist = np.take_along_axis(dist, order, axis=1)
    ident = np.take_along_axis(ident, order, axis=1)
    empty = np.take_along_axis(empty, order, axis=1)
    dist[empty], ident[empty] = -1, -1
    if dist.shape[1] < k:
        pad = ((0, 0), (0, k - dist.shape[1]))
        dist, ident = np.pad(dist, pad, constant_values=-1), np.pad(ident, pad, constant_values=-1)
    return dist, ident


# ----------------------------------------------------------------- the dataset
def embeddings(rows, seed, centres=256):
    """rows float32 vectors of DIMS values scattered around `centres` fixed centres."""
    middle = np.random.default_rng(0).standard_normal((centres, DIMS), dtype=np.float32)
    rng = np.random.default_rng(seed)
    noise = rng.standard_normal((rows, DIMS), dtype=np.float32)
    return middle[rng.integers(0, centres, rows)] + np.float32(0.6) * noise


def fresh_directory(path):
    """The directory to write into: a new one, or an existing empty one."""
    if path is None:
        return pathlib.Path(tempfile.mkdtemp(prefix="mivo-search-"))
    path = pathlib.Path(path)
    if path.exists() and (not path.is_dir() or any(path.iterdir())):
        raise SystemExit(f"search_dask: {path} exists and is not an empty directory; give a new or empty one")
    path.mkdir(parents=True, exist_ok=True)
    return path


def make_dataset(path, rows, partitions, seed=0):
    """Writes `partitions` Parquet files of (id, mivo) rows; returns the files."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    idents = mivo_collections.encode_batch(embeddings(rows, seed), output="identifiers")
    ids = np.random.default_rng(seed + 1).permutation(rows).astype(np.int64) * 3 + 7  # ids need not be row numbers
    files = []
    for part, chunk in enumerate(np.array_split(np.arange(rows), partitions)):
        table = pa.table({"id": pa.array(ids[chunk]), "mivo": pa.array([idents[i] for i in chunk], pa.string())})
        files.append(path / f"part-{part:03d}.parquet")
        pq.write_table(table, files[-1])
    return files


def query_batches(batches, size, seed):
    """Query identifiers: fresh points around the dataset's centres."""
    vectors = embeddings(batches * size, seed + 2)
    return [mivo_collections.encode_batch(vectors[b * size:(b + 1) * size], output="identifiers")
            for b in range(batches)]


# ---------------------------------------------------------- the steps, per shard
def build_shard(part):
    """One partition's (id, mivo) rows -> a HammingIndex of them."""
    index = mivo_collections.HammingIndex(128)
    index.add(list(part["mivo"]), ids=part["id"].to_numpy(dtype=np.int64))
    return index


def search_shard(index, queries, k):
    return index.search(queries, k)


def run_dask(client, data, batches, k):
    """Builds the shards on the workers and answers each batch; returns the answers and the times."""
    import dask
    import dask.dataframe as dd
    from dask.distributed import wait

    parts = dd.read_parquet(str(data), columns=["id", "mivo"]).to_delayed()
    t0 = time.perf_counter()
    shards = client.compute([dask.delayed(build_shard)(p) for p in parts])  # stay on the workers
    wait(shards)
    built = time.perf_counter() - t0
    answers, times = [], []
    for queries in batches:
        t0 = time.perf_counter()
        per_shard = client.gather([client.submit(search_shard, s, queries, k, pure=False) for s in shards])
        answers.append(merge_topk([d for d, _ in per_shard], [i for _, i in per_shard], k))
        times.append(time.perf_counter() - t0)
    return answers, built, times, len(shards)


def run_single(files, batches, k):
    """The same answers from one index over the whole collection: the reference."""
    import pyarrow.parquet as pq

    rows = pq.read_table([str(f) for f in files] if len(files) > 1 else str(files[0])).to_pandas()
    index = build_shard(rows)
    return [index.search(q, k) for q in batches]


# ---------------------------------------------------------------------- main
def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    ap.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster (default 2)")
    ap.add_argument("--rows", type=int, default=100_000, help="identifiers in the dataset (default 100000)")
    ap.add_argument("--partitions", type=int, default=4, help="Parquet files, one shard each (default 4)")
    ap.add_argument("--queries", type=int, default=100, help="queries per batch (default 100)")
    ap.add_argument("--batches", type=int, default=5, help="query batches (default 5)")
    ap.add_argument("-k", type=int, default=10, help="neighbours per query (default 10)")
    ap.add_argument("--data", help="new or empty directory for the dataset (default: a fresh temporary one)")
    args = ap.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    data = fresh_directory(args.data)
    t0 = time.perf_counter()
    files = make_dataset(data, args.rows, args.partitions)
    print(f"dataset: {args.rows} identifiers in {len(files)} Parquet files in {data} "
          f"({time.perf_counter() - t0:.1f} s)")
    batches = query_batches(args.batches, args.queries, seed=0)

    t0 = time.perf_counter()
    if args.scheduler:
        cluster, client = None, Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    started = time.perf_counter() - t0
    try:
        info = client.scheduler_info()
        print(f"cluster: {len(info['workers'])} workers at {info['address']} (started in {started:.1f} s)")
        answers, built, times, shards = run_dask(client, data, batches, args.k)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    print(f"shards: {shards} HammingIndex built on the workers in {built:.2f} s")
    per_query = 1e3 * np.median(times) / args.queries
    print(f"search: {args.batches} batches of {args.queries} queries, top-{args.k}: "
          f"{1e3 * np.median(times):.1f} ms per batch (median; {per_query:.2f} ms per query), "
          f"first batch {1e3 * times[0]:.1f} ms")
    t0 = time.perf_counter()
    reference = run_single(files, batches, args.k)
    same = all(np.array_equal(a[0], r[0]) and np.array_equal(a[1], r[1]) for a, r in zip(answers, reference))
    print(f"one index over all {args.rows} rows ({time.perf_counter() - t0:.1f} s): same answers: {same}")
    dist, ids = answers[0]
    print("first query's neighbours (id: distance):",
          ", ".join(f"{i}: {d}" for d, i in zip(dist[0].tolist(), ids[0].tolist())))
    print(f"dataset kept in {data}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
