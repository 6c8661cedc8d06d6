"""Hostile arguments: Python code run by a conversion (in this thread or in
another one), lying sequences, and many failing and succeeding calls (memory
stays flat, nothing crashes)."""
import gc
import itertools
import os
import sys
import threading
import time
from fractions import Fraction
from functools import partial

import mivo_collections
import numpy as np
import pytest

import mivo

from .models import raises
from .test_frame import VALID_ARGS


class ShrinksArray:
    """Frees the array's buffer while a later argument is converted."""

    def __init__(self, array, value, shape=64):
        self.array, self.value, self.shape = array, value, shape

    def __float__(self):
        self.array.resize(self.shape, refcheck=False)
        self.array[...] = 1.0
        return self.value

    __index__ = __float__


@pytest.mark.parametrize(
    "call, shape, late, copies",
    [
        (lambda a, late: mivo.encode_compressed(a, late), 1 << 20, 0.5, False),
        (lambda a, late: mivo.encode_max_length(a, late), 1 << 20, 10_000, False),
        (lambda a, late: mivo.encode_cross_dimensional(a, late), 1 << 20, 16, False),
        (lambda x, late: mivo_collections.encode_batch(x, workers=late), (3000, 256), 1, False),
        (lambda x, late: mivo_collections.encode_batch(x, mivo.Profile.Hilbert10x10, output="identifiers",
                                                       workers=late), (3000, 256), 1, False),
        (lambda x, late: mivo_collections.bands_batch(x, late), (3000, 256), 1, False),
        (lambda x, late: mivo_collections.bands_batch(x, workers=late), (3000, 256), 1, False),
        (lambda v, late: mivo.embedding_to_bands(v, late), 1000, 4, True),
    ],
)
def test_array_reshaped_by_a_later_conversion_is_read_as_it_is_then(call, shape, late, copies):
    # The data are viewed after every conversion: the result is that of the
    # ones the array holds by then (embedding_to_bands copies the values first).
    array = np.linspace(-1.0, 1.0, np.prod(shape), dtype=np.float32).reshape(shape).copy()  # owns its data
    small = (3, 64) if array.ndim == 2 else 64
    want = call(array.copy() if copies else np.ones(small, np.float32), late)
    assert np.array_equal(np.asarray(call(array, ShrinksArray(array, late, small))), np.asarray(want))


# Long candidates live in the allocator's large blocks, where a freed one is
# soon reused (and where the sanitizer watches them).
QUERY = "cand-3-" * 200


def long_candidates():
    return [f"cand-{i}-" * 200 for i in range(50)]


def fresh_copies(items):
    # Equal texts in new objects: assigning them frees the old ones.
    items[:] = ["".join(list(s)) for s in items]


@pytest.mark.parametrize("mutate", [list.clear, fresh_copies, lambda c: c.reverse(), lambda c: c.append("x")])
def test_threshold_that_changes_the_candidates_scores_them_as_given(mutate):
    cands = long_candidates()
    expected = mivo.find_matches_above_threshold(QUERY, list(cands), 0.0)

    class Threshold:
        def __float__(self):
            mutate(cands)
            _ = [f"Z{i}" * 400 for i in range(200)]
            return 0.0

    assert expected[3] == {"index": 3, "score": 1.0}
    assert mivo.find_matches_above_threshold(QUERY, cands, Threshold()) == expected


@pytest.fixture
def fast_switching():
    before = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(before)


def test_candidates_replaced_by_another_thread_while_the_threshold_converts(fast_switching):
    # Fraction.__float__ is Python code, and the only Python code this thread
    # runs while it searches (map calls the function from C): whenever the
    # lock passes to the other thread, it passes there, after the candidates
    # were converted and before they are scored. The other thread replaces
    # every candidate by an equal text in a new object, freeing the old one,
    # and fills the freed memory with other text.
    shared = [f"cand-{i}-" * 200 for i in range(10)]
    threshold = Fraction(1, 2)
    expected = mivo.find_matches_above_threshold(QUERY, list(shared), threshold)
    stop = threading.Event()

    def replace():
        sizes = [len(s) for s in shared]
        while not stop.is_set():
            shared[:] = [s[:1] + s[1:] for s in shared]
            _ = list(map("Z".__mul__, sizes))

    writer = threading.Thread(target=replace)
    writer.start()
    search = partial(mivo.find_matches_above_threshold, QUERY, shared)
    try:
        deadline, calls = time.monotonic() + 2.0, 0
        while time.monotonic() < deadline:
            got = list(map(search, itertools.repeat(threshold, 50)))
            assert got == [expected] * len(got)
            calls += len(got)
    finally:
        stop.set()
        writer.join()
    assert calls >= 50


class Raising:
    def __float__(self):
        raise ZeroDivisionError("threshold")


@pytest.mark.parametrize(
    "candidates, exc, message",
    [
        (["a", 1], TypeError, "argument 'candidates': 'int' object cannot be cast as 'str'"),
        (["a", "\ud800"], UnicodeEncodeError, None),
        (["a", "b"], ZeroDivisionError, "threshold"),
    ],
)
def test_the_threshold_converts_after_the_candidates(candidates, exc, message):
    raises(lambda: mivo.find_matches_above_threshold("a", candidates, Raising()), exc, message)


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
