"""The encode functions from Python: the record each one picks, the refusals
as exceptions, and the conversion of their arguments."""
from functools import partial

import numpy as np
import pytest

import mivo

from .models import metadata, raises, vec

OUT_OF_RANGE = "out of range integral type conversion attempted"
V768 = vec(768, 768)

# Every encode function with a valid second argument, to run one embedding
# through all of them (the profiles share one path).
ENCODERS = {
    "encode_mini128": lambda e: mivo.encode(e, mivo.Profile.Mini128),
    "encode_lossless": mivo.encode_lossless,
    "encode_compressed": lambda e: mivo.encode_compressed(e, 0.5),
    "encode_max_length": lambda e: mivo.encode_max_length(e, 300),
    "encode_cross_dimensional": lambda e: mivo.encode_cross_dimensional(e, 64),
}

# ------------------------------------------------------ the records chosen


class Half:
    def __float__(self):
        return 0.5


# (The golden file pins more arguments, with the same records.)
RECORDS_768 = [
    # function, its argument, precision, bits, dimension mode, encoded dims, characters
    ("compressed", True, "Full32", None, "Preserve", 768, 4935),
    ("compressed", float("inf"), "Full32", None, "Preserve", 768, 4935),
    ("compressed", 0.99, "Full32", None, "Reduce", 760, 4884),
    ("compressed", Half(), "Full32", None, "Reduce", 384, 2477),
    ("compressed", 0.2, "Half16", None, "Reduce", 307, 1002),
    ("compressed", float("-inf"), "Quant8", None, "Reduce", 31, 82),
    ("compressed", float("nan"), "Quant8", None, "Reduce", 1, 34),
    ("max_length", 2**64 - 1, "Full32", None, "Preserve", 768, 4935),
    ("max_length", 4936, "Full32", None, "Preserve", 768, 4935),
    ("max_length", 4935, "Full32", None, "Reduce", 767, 4928),
    ("max_length", 123, "Full32", None, "Reduce", 16, 122),  # the least reduced count
    ("max_length", 122, "Half16", None, "Reduce", 31, 119),
    ("max_length", 60, "Quant8", None, "Reduce", 25, 72),
    ("max_length", 25, "Bits", 1, "Reduce", 25, 39),
    ("max_length", 21, "Bits", 1, "Reduce", 5, 34),
    ("max_length", 0, "Bits", 1, "Reduce", 1, 34),
    ("cross_dimensional", 1024, "Half16", None, "Common", 1024, 3296),
]


@pytest.mark.parametrize("function,arg,precision,bits,mode,encoded,chars", RECORDS_768,
                         ids=[f"{r[0]}-{r[1]}" for r in RECORDS_768])
def test_record_chosen_for_768_dims(function, arg, precision, bits, mode, encoded, chars):
    text = getattr(mivo, "encode_" + function)(V768, arg)
    assert mivo.get_metadata(text) == metadata(precision, mode, encoded, bits=bits)
    assert len(text) == chars
    assert (text == mivo.encode_lossless(V768)) == (mode == "Preserve")


@pytest.mark.parametrize(
    "common,exc,message",
    [
        (0, ValueError, "Invalid dimension: got 0, expected range (1, 2048)"),
        (2049, ValueError, "Projection error: Cannot project to higher dimensions: 2048 -> 2049"),
    ],
)
def test_cross_dimensional_refusals(common, exc, message):
    assert raises(lambda: mivo.encode_cross_dimensional(V768, common), exc) == message


# ------------------------------------------------------- refused embeddings


def dim_message(d):
    return f"Invalid dimension: got {d}, expected range (64, 2048)"


@pytest.mark.parametrize("name", list(ENCODERS))
def test_length_and_value_checks_through_every_encoder(name):
    encode = ENCODERS[name]
    # 65536 and 65600 read as 0 and 64 in 16 bits; the check sees the true length.
    for d in [0, 63, 2049, 65536, 65600]:
        assert raises(partial(encode, vec(d, 9))) == dim_message(d)
    assert raises(partial(encode, np.full(50, np.nan, np.float32))) == dim_message(50)
    for where, bad in [(0, np.nan), (767, -np.inf)]:
        v = V768.copy()
        v[where] = bad
        assert raises(partial(encode, v)) == "Invalid embedding value (NaN or Inf detected)"
    for v in [vec(64, 10), vec(2048, 10)]:
        assert isinstance(encode(v), str)
    # Arrays are only read: a read-only one gives the same text.
    before = V768.tobytes()
    frozen = V768.copy()
    frozen.flags.writeable = False
    assert encode(V768) == encode(frozen) and V768.tobytes() == before


# ------------------------------------------------------- argument conversion

NOT_CONTIGUOUS = "The given array is not contiguous"


@pytest.mark.parametrize("name", list(ENCODERS))
@pytest.mark.parametrize(
    "value,message",
    [
        ([0.1] * 128, "list"),
        (np.zeros(128, np.float64), "ndarray"),
        (np.zeros((2, 64), np.float32), "ndarray"),
        (np.zeros(128, ">f4" if np.little_endian else "<f4"), "ndarray"),
        (np.float32(1.0), "float32"),
        (memoryview(np.zeros(128, np.float32)), "memoryview"),
        (np.arange(256, dtype=np.float32)[::2], NOT_CONTIGUOUS),
        (np.arange(128, dtype=np.float32)[::-1], NOT_CONTIGUOUS),
    ],
    ids=["list", "float64", "2d", "byteswapped", "scalar", "memoryview", "strided", "reversed"],
)
def test_embedding_must_be_a_contiguous_float32_vector(name, value, message):
    if message != NOT_CONTIGUOUS:  # the type that cannot be cast
        message = f"argument 'embedding': '{message}' object cannot be cast as 'ndarray'"
    assert raises(lambda: ENCODERS[name](value), TypeError) == message


def test_subclass_and_unit_stride_column_accepted():
    class Sub(np.ndarray):
        pass

    assert mivo.encode_lossless(V768.view(Sub)) == mivo.encode_lossless(V768)
    column = np.zeros((64, 1), np.float32)[:, 0]  # strided view whose stride is one element
    assert mivo.encode_lossless(column) == mivo.encode_lossless(np.zeros(64, np.float32))


@pytest.mark.parametrize(
    "call,exc,message",
    [
        (lambda a: mivo.encode(a, 0), TypeError, "argument 'profile': 'int' object cannot be cast as 'Profile'"),
        (lambda a: mivo.encode(a, mivo.VectorPrecision.Full32), TypeError,
         "argument 'profile': 'VectorPrecision' object cannot be cast as 'Profile'"),
        (lambda a: mivo.encode_compressed(a, "x"), TypeError, "argument 'retention_pct': "),
        (lambda a: mivo.encode_max_length(a, -1), OverflowError, ""),
        (lambda a: mivo.encode_max_length(a, "x"), TypeError, "argument 'max_chars': "),
        (lambda a: mivo.encode_cross_dimensional(a, 70000), OverflowError, OUT_OF_RANGE),
        (lambda a: mivo.encode_cross_dimensional(a, 16.0), TypeError,
         "argument 'common_dims': 'float' object cannot be interpreted as an integer"),
    ],
)
def test_other_arguments_converted_before_the_array_is_checked(call, exc, message):
    raises(lambda: call(np.zeros(256, np.float32)[::2]), exc, message)
