"""The recall benchmark's code paths (bench/recall_real.py) on small synthetic data.

The benchmark itself needs a sentence model; its merges, metrics and band
lookups are checked here against plain Python models.
"""
import pathlib
import sys

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "bench"), str(ROOT / "examples")]
import recall_real  # noqa: E402
from search_dask import merge_topk  # noqa: E402


def model_topk(pairs, k):
    """(distance, id) pairs -> the k smallest, padded with (-1, -1)."""
    best = sorted(p for p in pairs if p[1] >= 0)[:k]
    return best + [(-1, -1)] * (k - len(best))


@pytest.mark.parametrize("shards,width,k,dtype", [
    (1, 5, 3, np.int32), (3, 4, 4, np.int32), (4, 2, 12, np.int32),  # 12 > 8 entries: padded
    (5, 6, 10, np.float32), (2, 0, 3, np.int32),
])
def test_merge_topk_equals_a_sort_of_all_entries(shards, width, k, dtype):
    rng = np.random.default_rng(shards * 100 + width)
    queries = 7
    dist = [rng.integers(0, 5, (queries, width)).astype(dtype) for _ in range(shards)]  # many ties
    ids = [rng.permutation(1000)[:queries * width].reshape(queries, width).astype(np.int64) for _ in range(shards)]
    for i in ids:
        i[rng.random(i.shape) < 0.2] = -1  # empty slots of a small shard
    got_d, got_i = merge_topk(dist, ids, k)
    assert got_d.shape == got_i.shape == (queries, k) and got_d.dtype == dtype and got_i.dtype == np.int64
    for q in range(queries):
        pairs = [(float(d[q, j]), int(i[q, j])) for d, i in zip(dist, ids) for j in range(width)]
        assert list(zip(got_d[q].tolist(), got_i[q].tolist())) == model_topk(pairs, k)
    # the shards' order does not matter
    back_d, back_i = merge_topk(dist[::-1], ids[::-1], k)
    assert np.array_equal(back_d, got_d) and np.array_equal(back_i, got_i)


def test_merge_topk_refuses_mismatched_shapes():
    with pytest.raises(ValueError, match="differ in shape"):
        merge_topk([np.zeros((2, 3))], [np.zeros((2, 4), np.int64)], 2)


@pytest.mark.parametrize("block", [3, 16, 1000])
def test_exact_topk_by_blocks_equals_a_full_sort(block):
    rng = np.random.default_rng(block)
    base = rng.integers(-2, 3, (50, 8)).astype(np.float32)  # small integers: tied dot products
    queries = rng.integers(-2, 3, (9, 8)).astype(np.float32)
    got = recall_real.exact_topk(base, queries, 6, block=block)
    for q, row in zip(queries, got):
        expected = sorted(range(len(base)), key=lambda i: (-float(base[i] @ q), i))[:6]
        assert row.tolist() == expected


def test_rerank_orders_the_candidates_by_dot_product_and_skips_empty_slots():
    rng = np.random.default_rng(1)
    base = rng.standard_normal((30, 5)).astype(np.float32)
    queries = rng.standard_normal((70, 5)).astype(np.float32)  # more than one chunk
    cand = np.stack([rng.permutation(30)[:8] for _ in queries])
    cand[:, -1] = -1
    got = recall_real.rerank(cand, base, queries, 4, chunk=32)
    for q, c, row in zip(queries, cand, got):
        assert row.tolist() == sorted(c[c >= 0].tolist(), key=lambda i: -float(base[i] @ q))[:4]


def test_band_candidates_are_the_rows_sharing_a_band_in_the_same_position():
    rng = np.random.default_rng(3)
    alphabet = ["a", "b", "c", "d"]  # the queries hold no "a" and the base no "d": numbered together or wrong
    base = [[alphabet[x] for x in row] for row in rng.integers(0, 3, (40, 4))]
    queries = [[alphabet[x] for x in row] for row in rng.integers(1, 4, (6, 4))]
    cand = recall_real.band_candidates(*recall_real.band_keys(base, queries))
    for q, row in zip(queries, cand):
        assert row.tolist() == [any(b[p] == q[p] for p in range(4)) for b in base]


def test_hyperplane_codes_are_the_packed_signs_and_hamming_topk_ranks_them():
    rng = np.random.default_rng(4)
    base = rng.standard_normal((200, 16)).astype(np.float32)
    codes = recall_real.hyperplane_codes(base, 128, seed=0)
    assert codes.shape == (200, 16) and codes.dtype == np.uint8
    bits = np.unpackbits(codes, axis=1).astype(int)
    found = recall_real.hamming_topk(codes, codes[:5], 7)
    for q in range(5):
        dist = (bits != bits[q]).sum(axis=1)
        assert found[q].tolist() == sorted(range(200), key=lambda i: (dist[i], i))[:7]


def test_recall_metrics_and_quantise8():
    truth = np.array([[1, 2, 3, 4], [5, 6, 7, 8]])
    assert recall_real.recall_at_k(np.array([[4, 9, 1, -1], [-1] * 4]), truth) == pytest.approx((2 / 4 + 0) / 2)
    assert recall_real.recall_at_k(truth[:, ::-1], truth) == 1.0
    hits = np.zeros((2, 40), bool)
    hits[0, 1] = hits[1, [2, 3]] = True
    assert recall_real.candidate_recall(hits, np.array([[0, 1], [2, 3]])) == pytest.approx(0.75)
    # quantise8 keeps each row's ends and steps of a 255th between them
    rows = np.array([[0.0, 0.3, 1.0], [2.0, 2.0, 2.0], [-1.0, 0.0, 3.0]], np.float32)
    back = recall_real.quantise8(rows)
    assert back[1].tolist() == [2.0, 2.0, 2.0]
    assert np.allclose(back[:, [0, 2]], rows[:, [0, 2]]) and np.allclose(back[0, 1], 77 / 255, atol=1e-7)
    assert np.allclose(back[2, 1], -1 + 4 * 64 / 255, atol=1e-6)
