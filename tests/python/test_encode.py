"""The encode functions: records chosen, identifier layout, refusals."""
import numpy as np
import pytest

import mivo

from .models import (
    F32_MAX,
    SEED_WORDS,
    b32,
    budget_model,
    full_header,
    ladder_model,
    payload_len,
    precision_code,
    text_len,
    unb32,
)

P = mivo.Profile


def vec(n, seed=768):
    return np.random.default_rng(seed).standard_normal(n).astype(np.float32)


V768 = vec(768)

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


def metadata(precision, mode, encoded, original=768, bits=None):
    meta = {
        "original_dims": original,
        "encoded_dims": encoded,
        "is_lossless": precision == "Full32" and mode == "Preserve",
        "has_dimension_reduction": encoded < original,
    }
    if precision == "Bits":
        meta["precision_bits"] = bits
    meta["precision"] = precision
    meta["dimension_mode"] = mode
    return meta


def header_of(text):
    return unb32(text)[:12]


# ------------------------------------------------------------ short profiles


@pytest.mark.parametrize("d", [64, 100, 768, 2048])
@pytest.mark.parametrize(
    "profile,chars,prefix,first",
    [(P.Mini128, 29, "040", 0x01), (P.Morton10x10, 24, "0800", 0x02), (P.Hilbert10x10, 24, "0c00", 0x03)],
    ids=["mini128", "morton", "hilbert"],
)
def test_short_profile_layout(d, profile, chars, prefix, first):
    text = mivo.encode(vec(d, d), profile)
    assert len(text) == chars and text.startswith(prefix)
    raw = unb32(text)
    assert len(raw) == (18 if profile is P.Mini128 else 15)
    assert raw[:2] == bytes([first, 0])
    if profile is not P.Mini128:
        assert raw[2] >> 4 == 0  # a 100-bit code in 13 bytes
    assert set(text) <= set("0123456789abcdefghijklmnopqrstuv")


@pytest.mark.parametrize(
    "values,morton,hilbert",
    [
        (np.ones(64, np.float32), "0800vv000000vvvvvvvvvvvv", "0c00vv010307vgv0u0s0o0g0"),
        (np.arange(64, dtype=np.float32), "0800vv0000000000v0soqkgu", "0c00vv0103070f0v01o5sh2s"),
    ],
    ids=["ones", "ramp"],
)
def test_curve_identifiers_end_to_end(values, morton, hilbert):
    assert mivo.encode(values, P.Morton10x10) == morton
    assert mivo.encode(values, P.Hilbert10x10) == hilbert


def test_scaling_changes_only_full_vector_identifiers():
    v = vec(300, 5)
    w = v * np.float32(2.0)
    for profile in (P.Mini128, P.Morton10x10, P.Hilbert10x10):
        assert mivo.encode(v, profile) == mivo.encode(w, profile)
    assert mivo.encode_lossless(v) != mivo.encode_lossless(w)


def test_largest_finite_values_hash_like_zero():
    # The sum of squares overflows, every normalised value is a signed zero.
    big = np.where(np.arange(128) % 3 == 0, -F32_MAX, F32_MAX).astype(np.float32)
    zero = np.zeros(128, np.float32)
    mini = mivo.encode(big, P.Mini128)
    assert mini == mivo.encode(zero, P.Mini128) == b32(b"\x01\x00" + bytes(16))
    for profile in (P.Morton10x10, P.Hilbert10x10):
        assert mivo.encode(big, profile) == mivo.encode(zero, profile)
    assert np.array_equal(mivo.decode_to_embedding(mivo.encode_lossless(big)).view(np.uint32), big.view(np.uint32))


def test_zero_vector_encodes_with_every_function():
    zero = np.zeros(128, np.float32)
    for name, fn in ENCODERS.items():
        assert isinstance(fn(zero), str), name
    assert unb32(mivo.encode(zero, P.Mini128))[2:] == bytes(16)


# ------------------------------------------------------------------ lossless


@pytest.mark.parametrize("d", [64, 100, 768, 2048])
def test_lossless_layout(d):
    v = vec(d, d + 1)
    text = mivo.encode_lossless(v)
    raw = full_header(d, 0, 0, 0, SEED_WORDS["lossless"]) + v.astype(">f4").tobytes()
    assert text == b32(raw)
    assert len(text) == text_len(12 + 4 * d) and text.startswith("0g00")


def test_lossless_768_length_and_aliases():
    text = mivo.encode_lossless(V768)
    assert len(text) == 4935 and text.startswith("0g")
    assert mivo.encode_compressed(V768, 1.0) == text
    assert mivo.encode_max_length(V768, 4936) == text
    assert mivo.encode_max_length(V768, 2**64 - 1) == text


# ------------------------------------------------------- compression ladder

LADDER_768 = [
    # retention, precision, mode, encoded dims, characters (None: lossless text)
    (1.0, "Full32", "Preserve", 768, 4935),
    (0.99, "Full32", "Reduce", 760, 4884),
    (0.5, "Full32", "Reduce", 384, 2477),
    (0.4, "Full32", "Reduce", 307, 1984),
    (0.25, "Full32", "Reduce", 192, 1248),
    (0.2, "Half16", "Reduce", 307, 1002),
    (0.1, "Quant8", "Reduce", 307, 524),
    (0.01, "Quant8", "Reduce", 31, 82),
    (0.0, "Quant8", "Reduce", 31, 82),
    (-3.0, "Quant8", "Reduce", 31, 82),
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


def test_compressed_accepts_int_and_float_protocol():
    class Half:
        def __float__(self):
            return 0.5

    expected = mivo.encode_compressed(V768, 0.5)
    assert mivo.encode_compressed(V768, Half()) == expected
    assert mivo.encode_compressed(V768, 1) == mivo.encode_lossless(V768)
    assert mivo.encode_compressed(V768, True) == mivo.encode_lossless(V768)


LADDER_GRID = [0.0, 0.05, 0.1, 0.13, 0.2, 0.249, 0.25, 0.26, 0.3, 0.5, 0.75, 0.999, 1.0, float("nan"), 1e-30]


@pytest.mark.parametrize("d", [64, 67, 333, 1000])
def test_compression_ladder_matches_model(d):
    v = vec(d, d)
    for retention in LADDER_GRID:
        precision, mode, target, _ = ladder_model(d, retention)
        text = mivo.encode_compressed(v, retention)
        assert mivo.get_metadata(text) == metadata(precision, mode, target, original=d), (d, retention)


# ------------------------------------------------------ length budget search

BUDGET_768 = [
    # max_chars, precision, bits, encoded dims, characters
    (4936, "Full32", None, 768, 4935),
    (4935, "Full32", None, 767, 4928),
    (1000, "Full32", None, 153, 999),
    (200, "Full32", None, 28, 199),
    (180, "Full32", None, 25, 180),
    (100, "Half16", None, 25, 100),
    (60, "Quant8", None, 25, 72),
    (40, "Bits", 4, 25, 53),
    (30, "Bits", 2, 25, 44),
    (25, "Bits", 1, 25, 39),
    (22, "Bits", 1, 10, 36),
    (21, "Bits", 1, 5, 34),
    (20, "Bits", 1, 1, 34),
    (0, "Bits", 1, 1, 34),
    (2**64 - 1, "Full32", None, 768, 4935),
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
    assert (text == mivo.encode_lossless(V768)) == lossless


@pytest.mark.parametrize("d", [64, 100, 500])
def test_length_budget_matches_model(d):
    v = vec(d, d)
    grid = [0, 19, 20, 21, 23, 26, 28, 33, 40, 52, 60, 84, 100, 122, 123, 150, 400, 2000, 20 + 32 * d // 5,
            21 + 32 * d // 5, 10**6]
    for m in grid:
        precision, bits, mode, target, _ = budget_model(d, m)
        text = mivo.encode_max_length(v, m)
        assert mivo.get_metadata(text) == metadata(precision, mode, target, original=d, bits=bits), (d, m)
        if precision in ("Full32", "Half16"):
            assert len(text) <= m


def test_length_budget_refuses_huge_and_negative_limits():
    with pytest.raises(OverflowError):
        mivo.encode_max_length(V768, 10**30)
    with pytest.raises(OverflowError) as info:
        mivo.encode_max_length(V768, -1)
    assert "max_chars" not in str(info.value)


# ------------------------------------------------------ cross-dimensional


def test_cross_dimensional_common_space():
    a = mivo.encode_cross_dimensional(vec(256, 1), 128)
    b = mivo.encode_cross_dimensional(vec(768, 2), 128)
    assert mivo.decode_to_embedding(a).shape == mivo.decode_to_embedding(b).shape == (128,)
    assert mivo.get_metadata(a) == metadata("Half16", "Common", 128, original=256)
    assert header_of(b) == full_header(768, 1, 2, 128, SEED_WORDS["cross"])
    wider = mivo.encode_cross_dimensional(vec(256, 1), 512)
    meta = mivo.get_metadata(wider)
    assert meta["encoded_dims"] == 512 and meta["has_dimension_reduction"] is False
    assert meta["dimension_mode"] == "Common"


def test_cross_dimensional_padding_is_invisible():
    # The embedding is padded with +0.0 into the 2048-value space, so explicit
    # trailing zeros change only the stored original length.
    v = vec(100, 3)
    padded = np.concatenate([v, np.zeros(300, np.float32)])
    a = unb32(mivo.encode_cross_dimensional(v, 32))
    b = unb32(mivo.encode_cross_dimensional(padded, 32))
    assert a[12:] == b[12:] and a[2:4] != b[2:4]


def test_cross_dimensional_full_common_space():
    text = mivo.encode_cross_dimensional(vec(100, 4), 2048)
    assert mivo.get_metadata(text)["encoded_dims"] == 2048


@pytest.mark.parametrize(
    "common,exc,message",
    [
        (0, ValueError, "Invalid dimension: got 0, expected range (1, 2048)"),
        (2049, ValueError, "Projection error: Cannot project to higher dimensions: 2048 -> 2049"),
        (65535, ValueError, "Projection error: Cannot project to higher dimensions: 2048 -> 65535"),
        (65536, OverflowError, "out of range integral type conversion attempted"),
        (70000, OverflowError, "out of range integral type conversion attempted"),
    ],
)
def test_cross_dimensional_refusals(common, exc, message):
    with pytest.raises(exc) as info:
        mivo.encode_cross_dimensional(V768, common)
    assert type(info.value) is exc and str(info.value) == message


def test_cross_dimensional_negative_is_overflow():
    with pytest.raises(OverflowError):
        mivo.encode_cross_dimensional(V768, -1)


# ---------------------------------------------------------- driver refusals


def dim_message(d):
    return f"Invalid dimension: got {d}, expected range (64, 2048)"


NAN_MESSAGE = "Invalid embedding value (NaN or Inf detected)"


@pytest.mark.parametrize("name", list(ENCODERS))
# 65536 and 65600 read as 0 and 64 in 16 bits; the driver still sees the true length.
@pytest.mark.parametrize("d", [0, 1, 50, 63, 2049, 4096, 65536, 65600])
def test_length_refused_everywhere(name, d):
    with pytest.raises(ValueError) as info:
        ENCODERS[name](vec(d, 9))
    assert str(info.value) == dim_message(d)


@pytest.mark.parametrize("d", [64, 2048])
@pytest.mark.parametrize("name", list(ENCODERS))
def test_length_limits_accepted(name, d):
    assert isinstance(ENCODERS[name](vec(d, 10)), str)


@pytest.mark.parametrize("max_chars", [0, 25, 10**6, 2**64 - 1])
def test_empty_array_refused_whatever_the_limit(max_chars):
    with pytest.raises(ValueError) as info:
        mivo.encode_max_length(np.zeros(0, np.float32), max_chars)
    assert str(info.value) == dim_message(0)


@pytest.mark.parametrize("name", list(ENCODERS))
@pytest.mark.parametrize("bad", [float("nan"), float("inf"), float("-inf"), -float("nan")])
@pytest.mark.parametrize("where", [0, 383, 767])
def test_non_finite_refused_everywhere(name, bad, where):
    v = V768.copy()
    v[where] = bad
    with pytest.raises(ValueError) as info:
        ENCODERS[name](v)
    assert str(info.value) == NAN_MESSAGE


@pytest.mark.parametrize("name", list(ENCODERS))
def test_length_checked_before_values(name):
    v = vec(50, 11)
    v[3] = np.nan
    with pytest.raises(ValueError) as info:
        ENCODERS[name](v)
    assert str(info.value) == dim_message(50)


def test_lossless_64_with_nan():
    v = vec(64, 12)
    v[17] = np.nan
    with pytest.raises(ValueError) as info:
        mivo.encode_lossless(v)
    assert str(info.value) == NAN_MESSAGE


@pytest.mark.parametrize("name", list(ENCODERS))
def test_largest_finite_values_accepted(name):
    v = np.full(256, F32_MAX, np.float32)
    v[::2] = -F32_MAX
    assert isinstance(ENCODERS[name](v), str)


# ------------------------------------------------------- argument conversion


def cast_message(param, obj_type, target):
    return f"argument '{param}': '{obj_type}' object cannot be cast as '{target}'"


NON_VECTORS = [
    ([0.1] * 128, "list"),
    ((0.1,) * 128, "tuple"),
    (np.zeros(128, np.float64), "ndarray"),
    (np.zeros(128, np.float16), "ndarray"),
    (np.zeros(128, np.int32), "ndarray"),
    (np.zeros((2, 64), np.float32), "ndarray"),
    (np.zeros((128, 1), np.float32), "ndarray"),
    (np.float32(1.0), "float32"),
    (np.zeros(128, np.float32).astype(">f4" if np.little_endian else "<f4"), "ndarray"),
    (None, "NoneType"),
    (memoryview(np.zeros(128, np.float32)), "memoryview"),
]


@pytest.mark.parametrize("name", list(ENCODERS))
@pytest.mark.parametrize("value,type_name", NON_VECTORS, ids=[f"{t}-{i}" for i, (_, t) in enumerate(NON_VECTORS)])
def test_embedding_must_be_a_float32_vector(name, value, type_name):
    with pytest.raises(TypeError) as info:
        ENCODERS[name](value)
    assert type(info.value) is TypeError
    assert str(info.value) == cast_message("embedding", type_name, "ndarray")


def test_ndarray_subclass_accepted():
    class Sub(np.ndarray):
        pass

    assert mivo.encode_lossless(V768.view(Sub)) == mivo.encode_lossless(V768)


@pytest.mark.parametrize("name", list(ENCODERS))
@pytest.mark.parametrize("view", ["every_other", "reversed"])
def test_non_contiguous_refused(name, view):
    base = np.arange(1536, dtype=np.float32)
    arr = base[::2] if view == "every_other" else base[::-1]
    with pytest.raises(TypeError) as info:
        ENCODERS[name](arr)
    assert type(info.value) is TypeError and str(info.value) == "The given array is not contiguous"


@pytest.mark.parametrize(
    "call,exc,message",
    [
        (lambda a: mivo.encode(a, 0), TypeError, cast_message("profile", "int", "Profile")),
        (lambda a: mivo.encode_compressed(a, "x"), TypeError, "argument 'retention_pct': "),
        (lambda a: mivo.encode_max_length(a, -1), OverflowError, None),
        (lambda a: mivo.encode_max_length(a, "x"), TypeError, "argument 'max_chars': "),
        (lambda a: mivo.encode_cross_dimensional(a, 70000), OverflowError, "out of range integral type conversion attempted"),
    ],
    ids=["profile", "retention", "max_chars-negative", "max_chars-type", "common_dims"],
)
def test_contiguity_checked_after_conversions(call, exc, message):
    with pytest.raises(exc) as info:
        call(np.zeros(256, np.float32)[::2])
    if message is not None:
        assert str(info.value).startswith(message)


def test_contiguous_column_view_accepted():
    # A column of a (n, 1) array is a strided view whose stride is one element.
    column = np.zeros((64, 1), np.float32)[:, 0]
    assert mivo.encode_lossless(column) == mivo.encode_lossless(np.zeros(64, np.float32))


@pytest.mark.parametrize(
    "profile,message",
    [
        (0, cast_message("profile", "int", "Profile")),
        (None, cast_message("profile", "NoneType", "Profile")),
        ("Mini128", cast_message("profile", "str", "Profile")),
        (mivo.VectorPrecision.Full32, cast_message("profile", "VectorPrecision", "Profile")),
        (mivo.DimensionMode.Common, cast_message("profile", "DimensionMode", "Profile")),
        (mivo.Profile, cast_message("profile", "type", "Profile")),
    ],
)
def test_profile_must_be_a_profile(profile, message):
    with pytest.raises(TypeError) as info:
        mivo.encode(V768, profile)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call,param",
    [
        (lambda: mivo.encode_compressed(V768, "x"), "retention_pct"),
        (lambda: mivo.encode_compressed(V768, None), "retention_pct"),
        (lambda: mivo.encode_compressed(V768, [0.5]), "retention_pct"),
        (lambda: mivo.encode_max_length(V768, 10.0), "max_chars"),
        (lambda: mivo.encode_max_length(V768, None), "max_chars"),
        (lambda: mivo.encode_cross_dimensional(V768, 128.0), "common_dims"),
    ],
)
def test_scalar_type_errors_name_the_parameter(call, param):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value).startswith(f"argument '{param}': ")
    assert len(str(info.value)) > len(f"argument '{param}': ")


@pytest.mark.parametrize(
    "call",
    [
        lambda: mivo.encode_max_length(V768, -1),
        lambda: mivo.encode_max_length(V768, 2**64),
        lambda: mivo.encode_cross_dimensional(V768, 2**40),
    ],
)
def test_overflow_has_no_parameter_name(call):
    with pytest.raises(OverflowError) as info:
        call()
    assert "argument" not in str(info.value)


def test_index_protocol_for_integer_arguments():
    class Idx:
        def __index__(self):
            return 1000

    assert mivo.encode_max_length(V768, Idx()) == mivo.encode_max_length(V768, 1000)
    assert mivo.encode_max_length(V768, np.uint64(1000)) == mivo.encode_max_length(V768, 1000)


@pytest.mark.parametrize("name", list(ENCODERS))
def test_arrays_are_never_written(name):
    writable = vec(300, 13) * np.float32(7.0)
    before = writable.tobytes()
    frozen = writable.copy()
    frozen.flags.writeable = False
    assert ENCODERS[name](writable) == ENCODERS[name](frozen)
    assert writable.tobytes() == before == frozen.tobytes()


@pytest.mark.parametrize("name", list(ENCODERS))
def test_failed_calls_leave_the_array_alone(name):
    v = vec(300, 14)
    v[-1] = np.inf
    before = v.tobytes()
    with pytest.raises(ValueError):
        ENCODERS[name](v)
    assert v.tobytes() == before


# ---------------------------------------------------------------- docstrings

ENCODE_DOC_LINES = [
    "    embedding (numpy.ndarray): Input vector (f32, 64-2048 dimensions)",
    "    str: Encoded MIVO string",
    "If embedding dimensions are invalid or values contain NaN/Inf",
    "Example:",
    "    >>> import mivo",
]


@pytest.mark.parametrize(
    "name", ["encode", "encode_lossless", "encode_compressed", "encode_max_length", "encode_cross_dimensional"]
)
def test_encode_docstrings(name):
    doc = getattr(mivo, name).__doc__
    for line in ENCODE_DOC_LINES:
        assert line in doc, line
    assert "Args:\n" in doc and "Returns:\n" in doc and "Raises:\n    ValueError: " in doc


def test_compressed_docstring_states_the_scale():
    doc = mivo.encode_compressed.__doc__
    for text in [
        "1.0 = lossless (Full32 precision, all dimensions)",
        "0.5 = half precision and/or half dimensions",
        "0.25 = quarter precision and/or quarter dimensions",
        "The algorithm optimizes for dimension reduction first (which preserves\n"
        "more geometric relationships) before reducing precision.",
    ]:
        assert text in doc, text
