"""encode_batch and bands_batch against mivo's one-vector functions, row by
row: every profile, lengths from 64 to 2048 (odd ones among them), rows the
fast sign pass cannot take (zeros, subnormal, huge), float64 and strided
input, every worker count; refusals and their messages; no rows."""
import mivo_collections as mc
import numpy as np
import pytest

import mivo

from .models import raises

PROFILES = [mivo.Profile.Mini128, mivo.Profile.Morton10x10, mivo.Profile.Hilbert10x10]
WORKERS = [1, 2, 3, -1]
NAN_MESSAGE = "Invalid embedding value (NaN or Inf detected)"


def matrix(rows, d, seed, dtype=np.float32):
    """Gaussian rows, then rows the sign pass leaves to the literal sums: all
    zeros, signed zeros, subnormal values, tiny and huge ones, a single
    entry; in float64, values at and near ties of the rounding to float32,
    and values finite once rounded."""
    x = np.random.default_rng(seed).standard_normal((rows, d))
    x[1] = 0.0
    x[2] = -0.0
    x[3] *= 1e-42  # subnormal in float32
    x[4] *= 1e-30
    x[5] *= 1e30
    x[6] = 0.0
    x[6, d // 2] = 3.0
    x[7] *= 1e37
    if dtype == np.float64:
        x[8] = np.nextafter(np.float32(0.1), 1, dtype=np.float32).astype(np.float64) * (1 + 2**-30)
        x[9] = 3.4e38
    return x.astype(dtype)


def payload(text):
    return mivo.decode(text)[2:]


@pytest.mark.parametrize("d", [0, 5, 63, 64, 65, 127, 300, 768, 1023, 1537, 2047, 2048, 2050])
@pytest.mark.parametrize("workers", WORKERS)
def test_rows_match_the_one_vector_functions(d, workers):
    """encode_batch as mivo.encode and bands_batch as mivo.embedding_to_bands
    row by row; lengths that encode refuses are named at row 0 (d = 0: rows
    of no values)."""
    x = matrix(40, d, d) if d else np.zeros((40, 0), np.float32)
    x[-1] = np.finfo(np.float32).max  # the largest finite values still hash
    for bands in (1, 4, None) if d <= 2048 else (2,):  # None: the default 16; longer rows draw their hyperplanes
        got = mc.bands_batch(x, *([bands] if bands else []), workers=workers)
        assert got == [mivo.embedding_to_bands(r.tolist(), bands or 16) for r in x]
    if not 64 <= d <= 2048:
        want = f"row 0: Invalid dimension: got {d}, expected range (64, 2048)"
        assert raises(lambda: mc.encode_batch(x, workers=workers)) == want
        assert raises(lambda: mc.encode_batch(x, mivo.Profile.Hilbert10x10, output="identifiers")) == want
        return
    for profile in PROFILES:
        assert mc.encode_batch(x, profile, output="identifiers", workers=workers) == texts_of(x, profile)
    codes = mc.encode_batch(x, workers=workers)
    assert codes.dtype == np.uint8 and codes.shape == (40, 16) and codes.flags.c_contiguous
    assert [bytes(c) for c in codes] == [payload(t) for t in texts_of(x, mivo.Profile.Mini128)]


def texts_of(x, profile):
    """mivo.encode of each row (a float32 copy of it: encode takes contiguous
    float32 arrays)."""
    return [mivo.encode(np.ascontiguousarray(row, np.float32), profile) for row in x]


@pytest.mark.parametrize("view", ["columns", "rows", "transposed", "reversed", "float64 columns"])
def test_strided_input(view):
    base = matrix(300, 1600, 7)
    x = {
        "columns": base[:150, ::2],
        "rows": base[::3, :800],
        "transposed": np.asfortranarray(base[:100, :700]),
        "reversed": base[::-2, ::-2],
        "float64 columns": matrix(300, 1600, 7, np.float64)[:120, 1::2],  # rounded to float32 first
    }[view]
    assert not x.flags.c_contiguous
    want = texts_of(x, mivo.Profile.Mini128)
    for workers in WORKERS:
        assert mc.encode_batch(x, output="identifiers", workers=workers) == want
        assert [bytes(c) for c in mc.encode_batch(x, workers=workers)] == [payload(t) for t in want]
        assert mc.bands_batch(x, 8, workers=workers) == [mivo.embedding_to_bands(r.tolist(), 8) for r in x]


def test_no_rows():
    empty = np.zeros((0, 768), np.float32)
    codes = mc.encode_batch(empty)
    assert codes.shape == (0, 16) and codes.dtype == np.uint8
    assert mc.encode_batch(empty, output="identifiers", workers=2) == []
    assert mc.bands_batch(empty, 4, workers=-1) == []
    assert mc.encode_batch(np.zeros((0, 3), np.float32)).shape == (0, 16)  # no row to refuse


@pytest.mark.parametrize("workers", WORKERS)
def test_first_refused_row_is_named(workers):
    x = matrix(300, 128, 3)
    x[[290, 77, 200], 5] = [np.nan, np.inf, -np.inf]
    message = f"row 77: {NAN_MESSAGE}"
    assert raises(lambda: mc.encode_batch(x, workers=workers), ValueError) == message
    for profile in PROFILES:
        assert raises(lambda p=profile: mc.encode_batch(x, p, output="identifiers", workers=workers)) == message
    assert raises(lambda: mc.bands_batch(x, 4, workers=workers)) == message
    wide = x.astype(np.float64)
    wide[50, 0] = 1e39  # infinite once rounded to float32
    assert raises(lambda: mc.encode_batch(wide, workers=workers)) == f"row 50: {NAN_MESSAGE}"
    assert raises(lambda: mc.bands_batch(wide, workers=workers)) == f"row 50: {NAN_MESSAGE}"


@pytest.mark.parametrize("call, exc, message", [
    (lambda: mc.encode_batch(np.ones(768, np.float32)), ValueError,
     "X must be a 2-D array (one row per vector), got 1 dimension"),
    (lambda: mc.encode_batch(np.ones((2, 64), ">f4")), TypeError,
     "X must hold float32 or float64 values (native byte order), got dtype >f4"),
    (lambda: mc.encode_batch([[0.5] * 64]), TypeError,
     "X must be a 2-D NumPy array of float32 or float64 values, got 'list'"),
    (lambda: mc.encode_batch(np.ones((2, 64), np.float32), mivo.Profile.Morton10x10), ValueError,
     "output='codes' gives Mini128 SimHash payloads: use Profile.Mini128, or output='identifiers' for the other "
     "profiles"),
    (lambda: mc.encode_batch(np.ones((2, 64), np.float32), output="bytes"), ValueError, None),
    (lambda: mc.encode_batch(np.ones((2, 64), np.float32), workers=0), ValueError,
     "workers must be -1 (every core) or a positive count, got 0"),
    (lambda: mc.bands_batch(np.ones((2, 64), np.float32), 3), ValueError, "num_bands must be 1, 2, 4, 8 or 16, got 3"),
])
def test_refusals(call, exc, message):
    text = raises(call, exc)
    if message is not None:
        assert text == message
    else:
        assert "output" in text and "'bytes'" in text
