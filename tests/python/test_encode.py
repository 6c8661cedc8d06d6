"""The encode functions: records chosen, identifier layout, refusals."""
import numpy as np
import pytest

import mivo

from .models import (
    F32_MAX,
    SEED_WORDS,
    full_header,
    metadata,
    payload_len,
    precision_code,
    raises,
    text_len,
    unb32,
    vec,
)

P = mivo.Profile
V768 = vec(768, 768)

# Every encode function with a valid second argument, to run one embedding
# through all of them.
ENCODERS = {
    "encode_mini128": lambda e: mivo.encode(e, P.Mini128),
    "encode_morton": lambda e: mivo.encode(e, P.Morton10x10),
    "encode_hilbert": lambda e: mivo.encode(e, P.Hilbert10x10),
    "encode_lossless": mivo.encode_lossless,
    "encode_compressed": lambda e: mivo.encode_compressed(e, 0.5),
    "encode_max_length": lambda e: mivo.encode_max_length(e, 300),
    "encode_cross_dimensional": lambda e: mivo.encode_cross_dimensional(e, 64),
}


# ------------------------------------------------------------------ lossless


def test_lossless_768_length_and_aliases():
    text = mivo.encode_lossless(V768)
    assert len(text) == 4935 and text.startswith("0g")
    assert mivo.encode_compressed(V768, 1.0) == text
    assert mivo.encode_max_length(V768, 4936) == text
    assert mivo.encode_max_length(V768, 2**64 - 1) == text


# ------------------------------------------------------- compression ladder


def header_of(text):
    return unb32(text)[:12]


LADDER_768 = [
    # retention, precision, mode, encoded dims, characters
    (1.0, "Full32", "Preserve", 768, 4935),
    (0.99, "Full32", "Reduce", 760, 4884),
    (0.5, "Full32", "Reduce", 384, 2477),
    (0.4, "Full32", "Reduce", 307, 1984),
    (0.25, "Full32", "Reduce", 192, 1248),
    (0.2, "Half16", "Reduce", 307, 1002),
    (0.1, "Quant8", "Reduce", 307, 524),
    (0.01, "Quant8", "Reduce", 31, 82),
    (0.0, "Quant8", "Reduce", 31, 82),
    (float("-inf"), "Quant8", "Reduce", 31, 82),
    (float("nan"), "Quant8", "Reduce", 1, 34),
    (float("inf"), "Full32", "Preserve", 768, 4935),
    (2.0, "Full32", "Preserve", 768, 4935),
]


@pytest.mark.parametrize("retention,precision,mode,encoded,chars", LADDER_768, ids=[str(r[0]) for r in LADDER_768])
def test_compression_ladder_768(retention, precision, mode, encoded, chars):
    text = mivo.encode_compressed(V768, retention)
    assert mivo.get_metadata(text) == metadata(precision, mode, encoded)
    assert len(text) == chars == text_len(12 + payload_len(precision, encoded))
    lossless = precision == "Full32" and mode == "Preserve"
    word = SEED_WORDS["lossless" if lossless else "compressed"]
    assert header_of(text) == full_header(768, precision_code(precision), 1 if mode == "Reduce" else 0,
                                          0 if lossless else encoded, word)
    assert (text == mivo.encode_lossless(V768)) == lossless


def test_retention_conversion():
    class Half:
        def __float__(self):
            return 0.5

    assert mivo.encode_compressed(V768, Half()) == mivo.encode_compressed(V768, 0.5)
    assert mivo.encode_compressed(V768, 1) == mivo.encode_compressed(V768, True) == mivo.encode_lossless(V768)


# ------------------------------------------------------ length budget search

BUDGET_768 = [
    # max_chars, precision, bits, encoded dims, characters
    (4936, "Full32", None, 768, 4935),
    (4935, "Full32", None, 767, 4928),
    (1000, "Full32", None, 153, 999),
    (180, "Full32", None, 25, 180),
    (123, "Full32", None, 16, 122),  # the least reduced count
    (122, "Half16", None, 31, 119),
    (100, "Half16", None, 25, 100),
    (60, "Quant8", None, 25, 72),
    (40, "Bits", 4, 25, 53),
    (30, "Bits", 2, 25, 44),
    (25, "Bits", 1, 25, 39),
    (22, "Bits", 1, 10, 36),
    (21, "Bits", 1, 5, 34),
    (20, "Bits", 1, 1, 34),
    (0, "Bits", 1, 1, 34),
]


@pytest.mark.parametrize("max_chars,precision,bits,encoded,chars", BUDGET_768, ids=[str(r[0]) for r in BUDGET_768])
def test_length_budget_768(max_chars, precision, bits, encoded, chars):
    text = mivo.encode_max_length(V768, max_chars)
    mode = "Preserve" if encoded == 768 else "Reduce"
    assert mivo.get_metadata(text) == metadata(precision, mode, encoded, bits=bits)
    assert len(text) == chars == text_len(12 + payload_len(precision, encoded, bits))
    lossless = mode == "Preserve"
    word = SEED_WORDS["lossless" if lossless else "max_length"]
    assert header_of(text) == full_header(768, precision_code(precision, bits), 0 if lossless else 1,
                                          0 if lossless else encoded, word)


# ------------------------------------------------------ cross-dimensional


def test_cross_dimensional_common_space():
    a = mivo.encode_cross_dimensional(vec(256, 1), 128)
    b = mivo.encode_cross_dimensional(vec(768, 2), 128)
    assert mivo.decode_to_embedding(a).shape == mivo.decode_to_embedding(b).shape == (128,)
    assert mivo.get_metadata(a) == metadata("Half16", "Common", 128, original=256)
    assert header_of(b) == full_header(768, 1, 2, 128, SEED_WORDS["cross"])
    assert mivo.get_metadata(mivo.encode_cross_dimensional(vec(256, 1), 512)) == metadata(
        "Half16", "Common", 512, original=256)


@pytest.mark.parametrize(
    "common,exc,message",
    [
        (0, ValueError, "Invalid dimension: got 0, expected range (1, 2048)"),
        (2049, ValueError, "Projection error: Cannot project to higher dimensions: 2048 -> 2049"),
        (65535, ValueError, "Projection error: Cannot project to higher dimensions: 2048 -> 65535"),
        (65536, OverflowError, "out of range integral type conversion attempted"),
    ],
)
def test_cross_dimensional_refusals(common, exc, message):
    assert raises(lambda: mivo.encode_cross_dimensional(V768, common), exc) == message


# ---------------------------------------------------------- driver refusals


def dim_message(d):
    return f"Invalid dimension: got {d}, expected range (64, 2048)"


NAN_MESSAGE = "Invalid embedding value (NaN or Inf detected)"


def with_value(v, where, value):
    v = v.copy()
    v[where] = value
    return v


@pytest.mark.parametrize("name", list(ENCODERS))
def test_driver_checks_through_every_encoder(name):
    encode = ENCODERS[name]
    # 65536 and 65600 read as 0 and 64 in 16 bits; the driver still sees the true length.
    for d in [0, 63, 2049, 65536, 65600]:
        assert raises(lambda: encode(vec(d, 9))) == dim_message(d)
    assert raises(lambda: encode(with_value(vec(50, 11), 3, np.nan))) == dim_message(50)
    for where, bad in [(0, np.nan), (383, -np.inf), (767, -np.nan), (767, np.inf)]:
        v = with_value(V768, where, bad)
        before = v.tobytes()
        assert raises(lambda: encode(v)) == NAN_MESSAGE
        assert v.tobytes() == before
    largest = np.full(256, F32_MAX, np.float32)
    largest[::2] = -F32_MAX
    for v in [vec(64, 10), vec(2048, 10), largest]:
        assert isinstance(encode(v), str)
    # Arrays are only read: a read-only one gives the same text.
    writable = vec(300, 13) * np.float32(7.0)
    before = writable.tobytes()
    frozen = writable.copy()
    frozen.flags.writeable = False
    assert encode(writable) == encode(frozen) and writable.tobytes() == before


@pytest.mark.parametrize("max_chars", [0, 2**64 - 1])
def test_empty_array_refused_whatever_the_limit(max_chars):
    assert raises(lambda: mivo.encode_max_length(np.zeros(0, np.float32), max_chars)) == dim_message(0)


# ------------------------------------------------------- argument conversion


def cast_message(param, obj_type, target):
    return f"argument '{param}': '{obj_type}' object cannot be cast as '{target}'"


@pytest.mark.parametrize(
    "value,type_name",
    [
        ([0.1] * 128, "list"),
        (np.zeros(128, np.float64), "ndarray"),
        (np.zeros((2, 64), np.float32), "ndarray"),
        (np.float32(1.0), "float32"),
        (np.zeros(128, np.float32).astype(">f4" if np.little_endian else "<f4"), "ndarray"),
        (memoryview(np.zeros(128, np.float32)), "memoryview"),
    ],
)
def test_embedding_must_be_a_float32_vector(value, type_name):
    assert raises(lambda: mivo.encode_lossless(value), TypeError) == cast_message("embedding", type_name, "ndarray")


def test_every_encoder_refuses_lists_and_non_contiguous_views():
    base = np.arange(1536, dtype=np.float32)
    for name, encode in ENCODERS.items():
        assert raises(lambda: encode([0.1] * 128), TypeError) == cast_message("embedding", "list", "ndarray")
        for view in (base[::2], base[::-1]):
            assert raises(lambda: encode(view), TypeError) == "The given array is not contiguous", name


def test_subclass_and_unit_stride_column_accepted():
    class Sub(np.ndarray):
        pass

    assert mivo.encode_lossless(V768.view(Sub)) == mivo.encode_lossless(V768)
    column = np.zeros((64, 1), np.float32)[:, 0]  # strided view whose stride is one element
    assert mivo.encode_lossless(column) == mivo.encode_lossless(np.zeros(64, np.float32))


@pytest.mark.parametrize(
    "call,exc,message",
    [
        (lambda a: mivo.encode(a, 0), TypeError, cast_message("profile", "int", "Profile")),
        (lambda a: mivo.encode_compressed(a, "x"), TypeError, "argument 'retention_pct': "),
        (lambda a: mivo.encode_max_length(a, -1), OverflowError, ""),
        (lambda a: mivo.encode_max_length(a, "x"), TypeError, "argument 'max_chars': "),
        (lambda a: mivo.encode_cross_dimensional(a, 70000), OverflowError, "out of range integral type conversion"),
    ],
    ids=["profile", "retention", "max_chars-negative", "max_chars-type", "common_dims"],
)
def test_contiguity_checked_after_conversions(call, exc, message):
    text = raises(lambda: call(np.zeros(256, np.float32)[::2]), exc)
    assert text.startswith(message)
    assert exc is not OverflowError or "argument" not in text  # overflow names no parameter


@pytest.mark.parametrize(
    "profile,type_name",
    [(0, "int"), (mivo.VectorPrecision.Full32, "VectorPrecision"), (mivo.Profile, "type")],
)
def test_profile_must_be_a_profile(profile, type_name):
    assert raises(lambda: mivo.encode(V768, profile), TypeError) == cast_message("profile", type_name, "Profile")
