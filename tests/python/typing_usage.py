"""Typed use of the module, checked by `mypy --strict` (test_typing.py).

Not a test module: pytest does not collect it. Every call's result type is
pinned with assert_type; the refused calls carry a `type: ignore` with the
error code mypy must report (an ignore that is not needed fails the check).
"""
from __future__ import annotations

from typing import Optional

import numpy as np
import numpy.typing as npt
from typing_extensions import assert_type

import mivo


def strings() -> None:
    assert_type(mivo.levenshtein("kitten", "sitting"), int)
    assert_type(mivo.normalized_levenshtein("a", "b"), float)
    assert_type(mivo.jaro("martha", "marhta"), float)
    assert_type(mivo.jaro_winkler("martha", "marhta"), float)
    assert_type(mivo.hamming("karolin", "kathrin"), Optional[int])
    assert_type(mivo.osa_distance("ca", "ac"), int)
    assert_type(mivo.best_match("hello", "hallo"), float)

    best = mivo.find_best_match("app", ["apple", "apply"])
    assert_type(best["index"], int)
    assert_type(best["score"], float)
    assert_type(mivo.find_matches_above_threshold("app", ("apple", "banana"), 0.5)[0]["index"], int)

    opts = mivo.SimilarityOpts(np.bool_(False), trim_whitespace=True, prefix_scale=5)
    assert_type(opts.prefix_scale, float)
    opts.prefix_scale = 0.25
    assert_type(mivo.levenshtein_with_opts("  HELLO  ", "hello", opts), int)

    h = mivo.simhash("iPhone 14")
    assert_type(mivo.simhash_distance(h, np.uint64(3)), int)
    assert_type(mivo.simhash_similarity("a", "b"), float)
    assert_type(mivo.find_similar_hashes(h, [h, 0, 2**64 - 1], 10), list[int])


def embeddings(v: npt.NDArray[np.float32]) -> None:
    profile = mivo.Profile.Mini128
    assert_type(int(profile), int)
    assert_type(mivo.VectorPrecision.Quant8, mivo.VectorPrecision)
    assert_type(mivo.DimensionMode.Common, mivo.DimensionMode)

    text = mivo.encode(v, profile)
    assert_type(mivo.decode(text), bytes)
    assert_type(mivo.mivo_hamming_distance(text, text), int)
    assert_type(mivo.encode_lossless(v), str)
    assert_type(mivo.encode_compressed(v, 0.5), str)
    assert_type(mivo.encode_max_length(v, 1000), str)
    assert_type(mivo.encode_cross_dimensional(v, 128), str)
    assert_type(mivo.is_reversible(text), bool)

    restored = mivo.decode_to_embedding(text)
    assert_type(restored, Optional[npt.NDArray[np.float32]])
    if restored is not None:
        assert_type(restored.dtype, np.dtype[np.float32])

    meta = mivo.get_metadata(text)
    if meta is not None:
        assert_type(meta["original_dims"], int)
        assert_type(meta["is_lossless"], bool)
        assert_type(meta.get("precision_bits", 32), int)

    assert_type(mivo.embedding_to_bands(v), list[str])
    assert_type(mivo.embedding_to_bands([0.5, 1, 2.0], num_bands=8, seed=None), list[str])


def refused(v: npt.NDArray[np.float32], w: npt.NDArray[np.float64]) -> None:
    mivo.encode([0.1] * 128, mivo.Profile.Mini128)  # type: ignore[arg-type]
    mivo.encode(w, mivo.Profile.Mini128)  # type: ignore[arg-type]
    mivo.encode(v, 0)  # type: ignore[arg-type]
    mivo.levenshtein(1, "a")  # type: ignore[arg-type]
    mivo.levenshtein_with_opts("a", "b", None)  # type: ignore[arg-type]
    length: str = mivo.levenshtein("a", "b")  # type: ignore[assignment]
    print(length)


class Subclass(mivo.Profile):  # type: ignore[misc]
    pass


version: str = mivo.__version__
names: list[str] = mivo.__all__
