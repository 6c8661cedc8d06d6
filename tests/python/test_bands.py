"""LSH bands from Python: band counts and defaults, the values accepted and
their conversion (one-dimensional float32 and float64 arrays read directly,
any strides, as their tolist(); every other array item by item), refusals
(the bands themselves are pinned in the golden file)."""
import subprocess
import sys

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

    assert mivo.embedding_to_bands(tuple(V.tolist())) == mivo.embedding_to_bands(V)
    wide = np.random.default_rng(3).standard_normal(200).tolist()  # not representable in f32
    assert mivo.embedding_to_bands(wide, 1) == mivo.embedding_to_bands(np.array(wide, np.float32), 1)
    assert mivo.embedding_to_bands([2, 2.0, True, Two(), Idx()], 1) == mivo.embedding_to_bands(
        [2.0, 2.0, 1.0, 2.0, 2.0], 1)
    # No length check here.
    assert len(mivo.embedding_to_bands(np.ones(5000, np.float32), 2)) == 2


_BASE = np.random.default_rng(5).standard_normal(3000)


def _misaligned(values):
    out = np.frombuffer(bytearray(values.nbytes + 1), values.dtype, len(values), offset=1)
    out[:] = values
    return out


ARRAYS = {
    "f32": _BASE[:768].astype(np.float32),
    "f64 not exact in f32": _BASE[:768] * (1 + 2**-30),
    "f32 every 3rd reversed": _BASE.astype(np.float32)[::-3],
    "column of a matrix": np.asfortranarray(_BASE[:2400].reshape(800, 3))[:, 1],
    "zero stride": np.broadcast_to(np.float32(0.25), (300,)),
    "misaligned f32": _misaligned(_BASE[:100].astype(np.float32)),
    "misaligned f64": _misaligned(_BASE[:100]),
    "read-only": np.broadcast_to(_BASE[:64], (64,)),
    "empty": np.zeros(0, np.float32),
    "signed zeros and extremes": np.array([-0.0, 0.0, 3.4e38, -1e-45, 1e-300, 2.0**-149], np.float64),
}


@pytest.mark.parametrize("array", ARRAYS.values(), ids=ARRAYS.keys())
@pytest.mark.parametrize("bands, seed", [(4, None), (16, 7), (1, 2**64 - 1)])
def test_float_arrays_give_the_bands_of_their_list(array, bands, seed):
    assert mivo.embedding_to_bands(array, bands, seed) == mivo.embedding_to_bands(array.tolist(), bands, seed)


class Negated(np.ndarray):
    """A subclass whose items read differently from its buffer."""

    def __getitem__(self, i):
        return -np.asarray(self)[i]


@pytest.mark.parametrize("array", [_BASE[:200].astype(">f4"), _BASE[:200].astype(np.float16),
                                   np.arange(-100, 100, dtype=np.int32), np.array(_BASE[:200].tolist(), dtype=object),
                                   _BASE[:300].astype(np.float32).view(Negated)])
def test_other_arrays_are_read_item_by_item(array):
    as_list = [float(array[i]) for i in range(len(array))]
    assert mivo.embedding_to_bands(array, 16) == mivo.embedding_to_bands(as_list, 16)


def test_lists_leave_numpy_unloaded():
    code = "import sys, mivo; mivo.embedding_to_bands([1.0] * 64, 16); assert 'numpy' not in sys.modules"
    subprocess.run([sys.executable, "-c", code], check=True)


@pytest.mark.parametrize("bands", [0, 3, 5, 7, 9, 15, 17, 32, 255])
def test_band_count_that_does_not_divide_16_is_refused(bands):
    assert raises(lambda: mivo.embedding_to_bands(V, bands)) == f"num_bands must be 1, 2, 4, 8 or 16, got {bands}"


@pytest.mark.parametrize("bad", [float("nan"), -float("inf"), 1e39, -3.5e38])
@pytest.mark.parametrize("as_array", [False, True])
def test_values_not_finite_in_f32_are_refused(bad, as_array):
    values = V.astype(np.float64)
    values[100] = bad
    assert raises(lambda: mivo.embedding_to_bands(values[::-1] if as_array else values.tolist(), 16)) == NAN_MESSAGE
    values[100] = np.finfo(np.float32).max  # the largest finite f32 still hashes
    assert len(mivo.embedding_to_bands(values.tolist(), 16)) == 16


@pytest.mark.parametrize(
    "kwargs,exc,message",
    [
        ({"embedding": "abc"}, TypeError, "argument 'embedding': Can't extract `str` to `Vec`"),
        ({"embedding": {1.0}}, TypeError, "argument 'embedding': 'set' object cannot be cast as 'Sequence'"),
        ({"embedding": [1.0, None]}, TypeError, "argument 'embedding': must be real number, not NoneType"),
        ({"embedding": np.ones((20, 20))}, TypeError, "argument 'embedding': "),  # not one-dimensional
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
