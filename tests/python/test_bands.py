"""LSH bands from Python: band counts and defaults, the values accepted and
their conversion, refusals (the bands themselves are pinned in the golden
file)."""
import numpy as np
import pytest

import mivo

from .models import raises, vec

V = vec(768, 768)
NAN_MESSAGE = "Invalid embedding value (NaN or Inf detected)"


def test_band_counts_widths_and_defaults():
    for bands, chars in [(1, 26), (2, 13), (4, 7), (8, 4), (16, 2)]:
        texts = mivo.embedding_to_bands(V, bands)
        assert type(texts) is list and [(type(t), len(t)) for t in texts] == [(str, chars)] * bands
    default = mivo.embedding_to_bands(V)
    assert mivo.embedding_to_bands(V, 4, None) == default != mivo.embedding_to_bands(V, 4, 0)
    assert len(default) == len(mivo.embedding_to_bands(V, 4, 2**64 - 1)) == 4
    assert mivo.embedding_to_bands([]) == ["0000000"] * 4
    assert mivo.embedding_to_bands([0.0, -0.0], 1) == ["0" * 26]


def test_values_are_read_one_by_one_and_narrowed_to_f32():
    class Two:
        def __float__(self):
            return 2.0

    class Idx:
        def __index__(self):
            return 2

    expected = mivo.embedding_to_bands(V)
    for same in (V.tolist(), tuple(V.tolist()), V.astype(np.float64), np.repeat(V, 2)[::2]):
        assert mivo.embedding_to_bands(same) == expected
    wide = np.random.default_rng(3).standard_normal(200).tolist()  # not representable in f32
    assert mivo.embedding_to_bands(wide, 1) == mivo.embedding_to_bands(np.array(wide, np.float32), 1)
    assert mivo.embedding_to_bands([2, 2.0, True, Two(), Idx()], 1) == mivo.embedding_to_bands(
        [2.0, 2.0, 1.0, 2.0, 2.0], 1)
    # No length check here.
    assert len(mivo.embedding_to_bands(np.ones(5000, np.float32), 2)) == 2


@pytest.mark.parametrize("bands", [0, 3, 5, 7, 9, 15, 17, 32, 255])
def test_band_count_that_does_not_divide_16_is_refused(bands):
    assert raises(lambda: mivo.embedding_to_bands(V, bands)) == f"num_bands must be 1, 2, 4, 8 or 16, got {bands}"


@pytest.mark.parametrize("bad", [float("nan"), -float("inf"), 1e39, -3.5e38])
@pytest.mark.parametrize("as_array", [False, True])
def test_values_not_finite_in_f32_are_refused(bad, as_array):
    values = V.astype(np.float64)
    values[100] = bad
    assert raises(lambda: mivo.embedding_to_bands(values if as_array else values.tolist(), 16)) == NAN_MESSAGE
    values[100] = np.finfo(np.float32).max  # the largest finite f32 still hashes
    assert len(mivo.embedding_to_bands(values.tolist(), 16)) == 16


@pytest.mark.parametrize(
    "kwargs,exc,message",
    [
        ({"embedding": "abc"}, TypeError, "argument 'embedding': Can't extract `str` to `Vec`"),
        ({"embedding": {1.0}}, TypeError, "argument 'embedding': 'set' object cannot be cast as 'Sequence'"),
        ({"embedding": [1.0, None]}, TypeError, "argument 'embedding': must be real number, not NoneType"),
        ({"embedding": [1.0], "num_bands": 4.0}, TypeError, "argument 'num_bands': "),
        ({"embedding": [1.0], "seed": 1.5}, TypeError, "argument 'seed': "),
        ({"embedding": [1.0], "seed": -1}, OverflowError, ""),
        ({"embedding": [1.0], "num_bands": 256}, OverflowError, ""),
        # the band count is checked after every conversion
        ({"embedding": [1.0], "num_bands": 3, "seed": "y"}, TypeError, "argument 'seed': "),
        ({"embedding": [float("nan")], "num_bands": 3}, ValueError, "num_bands must be 1, 2, 4, 8 or 16, got 3"),
    ],
    ids=lambda x: repr(x)[:40] if isinstance(x, dict) else None,
)
def test_conversion_errors(kwargs, exc, message):
    raises(lambda: mivo.embedding_to_bands(**kwargs), exc, message)
