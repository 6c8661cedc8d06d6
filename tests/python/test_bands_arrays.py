"""embedding_to_bands with NumPy arrays: one-dimensional float32 and float64
arrays are copied through the buffer protocol, any strides, and give the
bands and refusals of their tolist(); every other array is read item by item
as before."""
import subprocess
import sys

import numpy as np
import pytest

import mivo

from .models import raises

_BASE = np.random.default_rng(5).standard_normal(3000)


def _misaligned(values):
    raw = bytearray(values.nbytes + 1)
    out = np.frombuffer(raw, values.dtype, len(values), offset=1)
    out[:] = values
    return out


def _read_only(values):
    values = values.copy()
    values.flags.writeable = False
    return values


ARRAYS = {
    "f32": _BASE[:768].astype(np.float32),
    "f64": _BASE[:768].copy(),
    "f64 not exact in f32": _BASE[:768] * (1 + 2**-30),
    "f32 every 2nd": _BASE.astype(np.float32)[::2],
    "f64 reversed": _BASE[::-1],
    "f32 every 3rd reversed": _BASE.astype(np.float32)[::-3],
    "column of a matrix": np.asfortranarray(_BASE[:2400].reshape(800, 3))[:, 1],
    "row of a C matrix": _BASE[:2400].astype(np.float32).reshape(3, 800)[2],
    "zero stride": np.broadcast_to(np.float32(0.25), (300,)),
    "misaligned f32": _misaligned(_BASE[:100].astype(np.float32)),
    "misaligned f64": _misaligned(_BASE[:100]),
    "read-only": _read_only(_BASE[:64]),
    "empty": np.zeros(0, np.float32),
    "five values": _BASE[:5].astype(np.float32),
    "signed zeros and extremes": np.array([-0.0, 0.0, 3.4e38, -1e-45, 1e-300, 2.0**-149], np.float64),
}


@pytest.mark.parametrize("array", ARRAYS.values(), ids=ARRAYS.keys())
@pytest.mark.parametrize("bands, seed", [(4, None), (16, 7), (1, 2**64 - 1)])
def test_float_arrays_give_the_bands_of_their_list(array, bands, seed):
    assert mivo.embedding_to_bands(array, bands, seed) == mivo.embedding_to_bands(array.tolist(), bands, seed)


OTHER_DTYPES = {
    "big-endian f32": _BASE[:200].astype(">f4"),
    "big-endian f64": _BASE[:200].astype(">f8"),
    "f16": _BASE[:200].astype(np.float16),
    "int32": np.arange(-100, 100, dtype=np.int32),
    "bool": _BASE[:200] > 0,
    "object": np.array(_BASE[:200].tolist(), dtype=object),
}


@pytest.mark.parametrize("array", OTHER_DTYPES.values(), ids=OTHER_DTYPES.keys())
def test_other_dtypes_are_read_item_by_item(array):
    assert mivo.embedding_to_bands(array, 16) == mivo.embedding_to_bands([float(x) for x in array], 16)


class Negated(np.ndarray):
    """A subclass whose items read differently from its buffer."""

    def __getitem__(self, i):
        return -np.asarray(self)[i]


def test_a_subclass_is_read_item_by_item():
    values = _BASE[:300].astype(np.float32)
    assert mivo.embedding_to_bands(values.view(Negated), 16) == mivo.embedding_to_bands((-values).tolist(), 16)


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("bad", [np.nan, -np.inf])
def test_refusals_are_those_of_the_list(dtype, bad):
    values = _BASE[:400].astype(dtype)
    values[399] = bad
    message = raises(lambda: mivo.embedding_to_bands(values.tolist(), 8))
    assert raises(lambda: mivo.embedding_to_bands(values[::-1], 8)) == message
    # Not one-dimensional: the item-by-item reading refuses it, as before.
    matrix = values.reshape(20, 20)
    assert raises(lambda: mivo.embedding_to_bands(matrix), TypeError).startswith("argument 'embedding': ")


def test_lists_leave_numpy_unloaded():
    code = "import sys, mivo; mivo.embedding_to_bands([1.0] * 64, 16); assert 'numpy' not in sys.modules"
    subprocess.run([sys.executable, "-c", code], check=True)
