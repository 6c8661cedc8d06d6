"""Hostile arguments: Python code run by a conversion, lying sequences, and
many failing and succeeding calls (memory stays flat, nothing crashes)."""
import gc
import os
from functools import partial

import numpy as np
import pytest

import mivo

from .test_frame import VALID_ARGS


class ShrinksArray:
    """Frees the embedding's buffer while a later argument is converted."""

    def __init__(self, array, value):
        self.array, self.value = array, value

    def __float__(self):
        self.array.resize(64, refcheck=False)
        self.array[:] = 1.0
        return self.value

    __index__ = __float__


@pytest.mark.parametrize(
    "call",
    [
        lambda v: mivo.encode_compressed(v, ShrinksArray(v, 0.5)),
        lambda v: mivo.encode_max_length(v, ShrinksArray(v, 10_000)),
        lambda v: mivo.encode_cross_dimensional(v, ShrinksArray(v, 16)),
    ],
)
def test_array_reshaped_by_a_later_conversion_is_read_as_it_is_then(call):
    # The data are viewed after every conversion: the identifier is that of
    # the 64 ones the array holds by then.
    text = call(np.ones(1 << 20, np.float32))
    assert mivo.get_metadata(text)["original_dims"] == 64


class LyingSequence:
    """A sequence whose length is wrong, or unknown (None: len() raises)."""

    def __init__(self, items, claimed):
        self.items, self.claimed = items, claimed

    def __len__(self):
        if self.claimed is None:
            raise RuntimeError("length unknown")
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("claimed", [10**12, 2**62, None])
def test_sequence_length_is_only_a_claim(claimed):
    # Nothing is reserved from the length: the items are read until IndexError.
    assert mivo.find_best_match("a", LyingSequence(["b", "a"], claimed)) == {"index": 1, "score": 1.0}
    assert mivo.find_similar_hashes(0, LyingSequence([0, 3], claimed), 1) == [0]
    assert mivo.embedding_to_bands(LyingSequence([0.0] * 3, claimed)) == ["0000000"] * 4
    with pytest.raises(KeyError):  # an error while reading the items passes through
        mivo.embedding_to_bands(LyingSequence({0: 1.0}, claimed))


def bad_calls():
    """Calls that fail in binding or conversion, for every function."""
    calls = []
    for name, kwargs in VALID_ARGS.items():
        fn, v = getattr(mivo, name), list(kwargs.values())
        calls += [partial(fn), partial(fn, *v, *v), partial(fn, *v, no_such_parameter=1), partial(fn, object(), *v[1:])]
        if len(v) > 1:
            calls.append(partial(fn, *v[:-1], [object()]))
    return calls


def good_calls():
    return [partial(getattr(mivo, name), **kwargs) for name, kwargs in VALID_ARGS.items()]


def rss_bytes():
    with open(f"/proc/{os.getpid()}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def run(calls, total, failing):
    for i in range(total):
        try:
            calls[i % len(calls)]()
        except (TypeError, ValueError, OverflowError):
            continue
        assert not failing, "a bad call went through"


@pytest.mark.parametrize("failing", [True, False])
def test_memory_stays_flat(failing):
    calls = bad_calls() if failing else good_calls()
    run(calls, 20_000, failing)  # warm up caches and allocator pools
    gc.collect()
    before = rss_bytes()
    run(calls, 100_000, failing)
    gc.collect()
    grown = rss_bytes() - before
    # A leak of one small object per call would add several megabytes (no
    # measure under the sanitizer, whose quarantine holds freed memory).
    assert os.environ.get("MIVO_SANITIZER") or grown < 2 * 1024 * 1024, f"RSS grew by {grown} bytes"
