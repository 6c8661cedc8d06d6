"""Reading identifiers: bytes, reversibility, metadata, vectors, Hamming distance."""
import math
import struct

import numpy as np
import pytest

import mivo

from .models import (
    F32_MAX,
    b32,
    dequantize_model,
    full_id,
    half_bits_to_f32_bits,
    pack_codes,
    quantize_model,
    unb32,
    unpack_codes,
)

P = mivo.Profile
BAD = "Invalid base32hex encoding"
HEADER = "Invalid ID header"


def vec(n, seed):
    return np.random.default_rng(seed).standard_normal(n).astype(np.float32)


V = vec(256, 1)
MINI = mivo.encode(V, P.Mini128)
MORTON = mivo.encode(V, P.Morton10x10)
HILBERT = mivo.encode(V, P.Hilbert10x10)
LOSSLESS = mivo.encode_lossless(V)

READERS = {
    "decode": mivo.decode,
    "is_reversible": mivo.is_reversible,
    "get_metadata": mivo.get_metadata,
    "decode_to_embedding": mivo.decode_to_embedding,
    "hamming_first": lambda t: mivo.mivo_hamming_distance(t, MINI),
    "hamming_second": lambda t: mivo.mivo_hamming_distance(MINI, t),
}


def raises(call, exc=ValueError):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    return str(info.value)


def bits_of(a):
    return np.asarray(a, np.float32).view(np.uint32)


# ------------------------------------------------------------ character check


@pytest.mark.parametrize("name", list(READERS))
@pytest.mark.parametrize(
    "text",
    ["ABC", "0G", "0w", "0400=", " 04", "04 ", "04\n", "0\u00e9", "\u0660\u0664", "0-", LOSSLESS.upper(),
     LOSSLESS[:-1] + "w", MINI + "x"],
)
def test_characters_outside_the_alphabet_refused_by_every_reader(name, text):
    assert raises(lambda: READERS[name](text)) == BAD


@pytest.mark.parametrize("name", ["decode", "is_reversible", "get_metadata", "decode_to_embedding"])
@pytest.mark.parametrize("value,type_name", [(1, "int"), (b"04", "bytes"), (None, "NoneType")])
def test_reader_argument_must_be_str(name, value, type_name):
    message = raises(lambda: getattr(mivo, name)(value), TypeError)
    assert message == f"argument 'mivo_str': '{type_name}' object cannot be cast as 'str'"


@pytest.mark.parametrize("name", list(READERS))
def test_lone_surrogate_raises_the_interpreter_error(name):
    with pytest.raises(UnicodeEncodeError) as info:
        READERS[name]("04\ud800")
    assert "argument" not in str(info.value)


def test_hamming_converts_both_arguments_before_checking():
    assert raises(lambda: mivo.mivo_hamming_distance("ABC", 5), TypeError) == (
        "argument 'mivo2': 'int' object cannot be cast as 'str'")
    assert raises(lambda: mivo.mivo_hamming_distance(5, MINI), TypeError) == (
        "argument 'mivo1': 'int' object cannot be cast as 'str'")


# ---------------------------------------------------------------------- decode


@pytest.mark.parametrize(
    "text,expected",
    [("", b""), ("04", b"\x01"), ("c5h66", b"abc"), ("0400", b"\x01\x00"), ("vvvvvvvv", b"\xff" * 5)],
)
def test_decode_values(text, expected):
    assert mivo.decode(text) == expected


@pytest.mark.parametrize("text", ["0", "01", "000", "000000", "041", "c5h67", "vvvvvvv"])
def test_decode_refuses_bad_lengths_and_trailing_bits(text):
    assert raises(lambda: mivo.decode(text)) == BAD


def test_decode_round_trips_every_length():
    rng = np.random.default_rng(2)
    for n in range(0, 41):
        for _ in range(5):
            data = rng.integers(0, 256, n, dtype=np.uint8).tobytes()
            text = b32(data)
            assert mivo.decode(text) == data
            assert b32(mivo.decode(text)) == text


@pytest.mark.parametrize(
    "text,length,head",
    [(MINI, 18, b"\x01\x00"), (MORTON, 15, b"\x02\x00"), (HILBERT, 15, b"\x03\x00"), (LOSSLESS, 12 + 1024, b"\x04\x00")],
    ids=["mini128", "morton", "hilbert", "lossless"],
)
def test_decode_identifiers(text, length, head):
    raw = mivo.decode(text)
    assert len(raw) == length and raw[:2] == head
    assert b32(raw) == text


# ----------------------------------------------------------------- reversible


@pytest.mark.parametrize(
    "text,expected",
    [
        ("", False),
        ("0", False),
        ("04", False),
        ("01", False),
        ("0g", False),  # one byte
        ("0g00", True),  # two bytes, code 4
        ("0g0", False),  # bad length
        (b32(b"\x14\x7f"), True),  # version and reserved bits are not examined
        (b32(b"\x04\x00\x00"), True),
        (MINI, False),
        (MORTON, False),
        (HILBERT, False),
        (LOSSLESS, True),
        (LOSSLESS[:-1], False),  # length modulo 8 of 6
    ],
)
def test_is_reversible(text, expected):
    assert mivo.is_reversible(text) is expected


@pytest.mark.parametrize("code", [c for c in range(16) if c != 4])
def test_other_profile_codes_are_not_reversible(code):
    text = b32(bytes([code, 0]) + bytes(40))
    assert mivo.is_reversible(text) is False
    assert mivo.get_metadata(text) is None
    assert mivo.decode_to_embedding(text) is None


@pytest.mark.parametrize("text", ["", "0", "04", "01", "0g", MINI, MORTON, HILBERT, LOSSLESS[:-1]])
def test_not_full_vector_gives_none(text):
    assert mivo.get_metadata(text) is None
    assert mivo.decode_to_embedding(text) is None


# ----------------------------------------------- rejected full-vector identifiers

FAILURES = [
    # (name, text, message)
    ("two-bytes", "0g00", HEADER),
    ("five-bytes", b32(b"\x04\x00\x00\x40\x00"), HEADER),
    ("eleven-bytes", b32(bytes([4]) + bytes(10)), HEADER),
    ("precision-36", full_id(bytes(8), precision=36), "Invalid metadata in header: Invalid precision type"),
    ("precision-255", full_id(bytes(8), precision=255), "Invalid metadata in header: Invalid precision type"),
    ("precision-and-mode", full_id(bytes(8), precision=36, mode=3), "Invalid metadata in header: Invalid precision type"),
    ("mode-3", full_id(bytes(8), mode=3), "Invalid metadata in header: Invalid dimension mode"),
    ("mode-255", full_id(bytes(8), precision=5, mode=255), "Invalid metadata in header: Invalid dimension mode"),
    ("full32-1", full_id(bytes(1)), BAD),
    ("full32-5", full_id(bytes(5)), BAD),
    ("full32-1023", full_id(bytes(1023)), BAD),
    ("half16-odd", full_id(bytes(3), precision=1), BAD),
    ("quant8-0", full_id(b"", precision=2), "Insufficient data: expected 8 bytes, got 0"),
    ("quant8-3", full_id(bytes(3), precision=2), "Insufficient data: expected 8 bytes, got 3"),
    ("quant8-7", full_id(bytes(7), precision=2), "Insufficient data: expected 8 bytes, got 7"),
    ("bits4-0", full_id(b"", precision=6, original=3), "Insufficient data: expected 8 bytes, got 0"),
    ("bits1-5", full_id(bytes(5), precision=3), "Insufficient data: expected 8 bytes, got 5"),
    ("bits32-7", full_id(bytes(7), precision=34, mode=1, target=2), "Insufficient data: expected 8 bytes, got 7"),
]


@pytest.mark.parametrize("text,message", [f[1:] for f in FAILURES], ids=[f[0] for f in FAILURES])
@pytest.mark.parametrize("reader", ["get_metadata", "decode_to_embedding"])
def test_rejected_full_vector_identifiers(reader, text, message):
    assert mivo.is_reversible(text) is True
    assert raises(lambda: getattr(mivo, reader)(text)) == message


def test_full32_count_comes_from_the_payload():
    raw = unb32(LOSSLESS)
    shorter = b32(raw[:-4])
    assert mivo.decode_to_embedding(shorter).shape == (255,)
    assert mivo.get_metadata(shorter)["encoded_dims"] == 256  # the header's count
    assert raises(lambda: mivo.decode_to_embedding(b32(raw[:-1]))) == BAD
    longer = b32(raw + struct.pack(">f", 2.5))
    assert mivo.decode_to_embedding(longer)[-1] == 2.5


def test_quant8_with_only_the_range_is_empty():
    out = mivo.decode_to_embedding(full_id(struct.pack(">ff", 1.0, 2.0), precision=2))
    assert out.dtype == np.float32 and out.shape == (0,)


# ---------------------------------------------------------------- metadata


def expected_meta(original, encoded, precision, mode, bits=None):
    meta = {
        "original_dims": original,
        "encoded_dims": encoded,
        "is_lossless": precision == "Full32" and mode == "Preserve",
        "has_dimension_reduction": encoded < original,
    }
    if bits is not None:
        meta["precision_bits"] = bits
    meta["precision"] = precision
    meta["dimension_mode"] = mode
    return meta


PRECISIONS = [(0, "Full32", None), (1, "Half16", None), (2, "Quant8", None)] + [(b + 2, "Bits", b) for b in range(1, 34)]
MODES = [(0, "Preserve"), (1, "Reduce"), (2, "Common")]


@pytest.mark.parametrize("code,precision,bits", PRECISIONS, ids=[f"code{c}" for c, _, _ in PRECISIONS])
@pytest.mark.parametrize("mode_code,mode", MODES, ids=[m for _, m in MODES])
@pytest.mark.parametrize("original,target", [(100, 40), (100, 300), (100, 0)])
def test_metadata_of_crafted_headers(code, precision, bits, mode_code, mode, original, target):
    encoded = original if mode == "Preserve" else target
    if precision == "Full32":
        payload = bytes(4 * encoded)
    elif precision == "Half16":
        payload = bytes(2 * encoded)
    else:
        payload = bytes(8 + (encoded * (bits or 8) + 7) // 8)
    text = full_id(payload, original=original, precision=code, mode=mode_code, target=target, seed_word=0xDEADBEEF)
    meta = mivo.get_metadata(text)
    assert meta == expected_meta(original, encoded, precision, mode, bits)
    assert list(meta) == list(expected_meta(original, encoded, precision, mode, bits))
    assert all(type(meta[k]) is bool for k in ("is_lossless", "has_dimension_reduction"))
    assert mivo.decode_to_embedding(text).shape == (encoded,)


def test_metadata_of_encoded_identifiers():
    v = vec(768, 3)
    assert list(mivo.get_metadata(mivo.encode_lossless(v)).items()) == [
        ("original_dims", 768), ("encoded_dims", 768), ("is_lossless", True), ("has_dimension_reduction", False),
        ("precision", "Full32"), ("dimension_mode", "Preserve")]
    assert list(mivo.get_metadata(mivo.encode_max_length(v, 40)).items()) == [
        ("original_dims", 768), ("encoded_dims", 25), ("is_lossless", False), ("has_dimension_reduction", True),
        ("precision_bits", 4), ("precision", "Bits"), ("dimension_mode", "Reduce")]
    assert mivo.get_metadata(mivo.encode_cross_dimensional(vec(256, 4), 512)) == expected_meta(
        256, 512, "Half16", "Common")


def test_metadata_decodes_the_payload():
    broken = full_id(bytes(3), precision=2, original=3)
    assert raises(lambda: mivo.get_metadata(broken)) == "Insufficient data: expected 8 bytes, got 3"


# ------------------------------------------------------ crafted payload decoding


def test_full32_payload_bit_patterns_kept():
    rng = np.random.default_rng(5)
    words = rng.integers(0, 2**32, 500, dtype=np.uint64).astype(np.uint32)
    words[:6] = [0x80000000, 0x00000001, 0x7F800000, 0xFF800000, 0x7FC00001, 0xFFBFFFFF]
    out = mivo.decode_to_embedding(full_id(words.astype(">u4").tobytes(), original=500))
    assert out.dtype == np.float32 and out.flags.c_contiguous and out.flags.writeable and out.flags.owndata
    assert np.array_equal(bits_of(out), words)


def test_half16_payload_every_pattern():
    patterns = np.arange(65536, dtype=np.uint32)
    out = mivo.decode_to_embedding(full_id(patterns.astype(">u2").tobytes(), precision=1, original=65535))
    assert out.shape == (65536,)
    expected = np.array([half_bits_to_f32_bits(int(h)) for h in patterns], np.uint32)
    assert np.array_equal(bits_of(out), expected)


def test_quant8_payload_matches_model():
    rng = np.random.default_rng(6)
    for lo, hi, n in [(-1.5, 2.25, 300), (0.0, 1.0, 2), (3.0, 3.0, 10), (2.0, -2.0, 50), (-1e-40, 1e-40, 20),
                      (-F32_MAX / 2, F32_MAX / 2, 64), (0.1, 0.1000001, 256)]:
        codes = rng.integers(0, 256, n).tolist()
        if n == 256:
            codes = list(range(256))
        payload = struct.pack(">ff", lo, hi) + bytes(codes)
        out = mivo.decode_to_embedding(full_id(payload, precision=2, original=n))
        assert np.array_equal(bits_of(out), bits_of(dequantize_model(codes, 8, lo, hi))), (lo, hi)


def test_quant8_range_ends_exact():
    out = mivo.decode_to_embedding(full_id(struct.pack(">ff", 0.0, 1.0) + bytes([0, 255]), precision=2, original=2))
    assert out.tolist() == [0.0, 1.0]


@pytest.mark.parametrize("bits", list(range(1, 34)))
def test_bits_payload_matches_model(bits):
    rng = np.random.default_rng(bits)
    lo, hi = -0.75, 1.25
    for count in (1, 3, 7, 8, 37):
        codes = [int(c) for c in rng.integers(0, 2**bits, count, dtype=np.uint64)]
        area = pack_codes(codes, bits)
        header = struct.pack(">ff", lo, hi)
        for mode, target, original in ((0, 0, count), (1, count, 999), (2, count, 5)):
            text = full_id(header + area, precision=bits + 2, mode=mode, target=target, original=original)
            expected = dequantize_model(unpack_codes(area, bits, count), bits, lo, hi)
            assert np.array_equal(bits_of(mivo.decode_to_embedding(text)), bits_of(expected)), (bits, count, mode)
        # A packed area that ends early: the cut code keeps the bits read so
        # far, codes starting after the end read as 0.
        for cut in range(1, min(len(area), 6) + 1):
            short = area[:-cut]
            text = full_id(header + short, precision=bits + 2, original=count)
            expected = dequantize_model(unpack_codes(short, bits, count), bits, lo, hi)
            assert np.array_equal(bits_of(mivo.decode_to_embedding(text)), bits_of(expected)), (bits, count, cut)


def test_bits_examples():
    header = struct.pack(">ff", 0.0, 15.0)
    out = mivo.decode_to_embedding(full_id(header + b"\xf0\xa0", precision=6, original=3))
    assert out.tolist() == [15.0, 0.0, 10.0]
    out = mivo.decode_to_embedding(full_id(header + b"\xab\x80", precision=5, mode=1, target=3, original=99))
    assert np.array_equal(out, dequantize_model([5, 2, 7], 3, 0.0, 15.0))
    # Missing area entirely: every value is the minimum.
    out = mivo.decode_to_embedding(full_id(struct.pack(">ff", -2.0, 5.0), precision=6, original=4))
    assert out.tolist() == [-2.0] * 4


def test_bits_constant_range_gives_min():
    out = mivo.decode_to_embedding(full_id(struct.pack(">ff", 0.5, 0.5) + b"\xff", precision=10, original=1))
    assert out.tolist() == [0.5]


# ------------------------------------------------------------- round trips


def lossless_samples():
    rng = np.random.default_rng(7)
    specials = np.array([-0.0, 0.0, 1e-45, -1e-45, 1e-40, -3e-39, 1.1754944e-38, F32_MAX, -F32_MAX, 1.0, -1.0],
                        np.float32)
    for n in (64, 777, 2048):
        v = (rng.standard_normal(n) * np.exp(rng.uniform(-40, 40, n))).astype(np.float32)
        v[rng.choice(n, len(specials), replace=False)] = specials
        yield v
    # Every finite bit pattern is fair game: subnormals, huge values, both zeros.
    words = rng.integers(0, 2**32, 2048, dtype=np.uint64).astype(np.uint32)
    words[(words >> 23) & 0xFF == 0xFF] &= ~np.uint32(1 << 30)
    words[:len(specials)] = specials.view(np.uint32)
    yield words.view(np.float32)


@pytest.mark.parametrize("v", list(lossless_samples()), ids=["64", "777", "2048", "bit-patterns"])
def test_lossless_round_trip_is_bit_exact(v):
    text = mivo.encode_lossless(v)
    out = mivo.decode_to_embedding(text)
    assert out.dtype == np.float32 and np.array_equal(bits_of(out), bits_of(v))
    assert b32(mivo.decode(text)) == text
    assert mivo.encode_lossless(out) == text


def decoded(text):
    return mivo.decode_to_embedding(text)


@pytest.mark.parametrize("scale", [1.0, 1e-6, 2e4], ids=["unit", "tiny", "huge"])
def test_reduced_precisions_against_full32_ladder(scale):
    # With one seed and one target the projection is shared, so each lower
    # precision must be exactly the f32 values quantised by its own rule.
    v = (vec(768, 8) * np.float32(scale)).astype(np.float32)
    full = decoded(mivo.encode_compressed(v, 0.4))
    assert full.shape == (307,) and mivo.get_metadata(mivo.encode_compressed(v, 0.4))["precision"] == "Full32"
    half = decoded(mivo.encode_compressed(v, 0.2))
    with np.errstate(over="ignore"):
        assert np.array_equal(bits_of(half), bits_of(full.astype(np.float16).astype(np.float32)))
    quant = decoded(mivo.encode_compressed(v, 0.1))
    codes, lo, hi = quantize_model(full, 8)
    assert np.array_equal(bits_of(quant), bits_of(dequantize_model(codes, 8, lo, hi)))


BUDGET_TARGET_25 = [(100, "Half16", None), (60, "Quant8", 8), (40, "Bits", 4), (30, "Bits", 2), (25, "Bits", 1)]


@pytest.mark.parametrize("max_chars,precision,bits", BUDGET_TARGET_25, ids=[r[1] + str(r[2]) for r in BUDGET_TARGET_25])
def test_reduced_precisions_against_full32_budget(max_chars, precision, bits):
    v = vec(768, 9)
    full_text = mivo.encode_max_length(v, 180)
    assert mivo.get_metadata(full_text)["precision"] == "Full32"
    full = decoded(full_text)
    assert full.shape == (25,)
    text = mivo.encode_max_length(v, max_chars)
    meta = mivo.get_metadata(text)
    assert (meta["precision"], meta.get("precision_bits", 8 if precision == "Quant8" else None)) == (precision, bits)
    out = decoded(text)
    if precision == "Half16":
        expected = full.astype(np.float16).astype(np.float32)
        assert np.all(np.abs(out - full) <= np.abs(full) * 2.0**-11)
    else:
        codes, lo, hi = quantize_model(full, bits)
        expected = dequantize_model(codes, bits, lo, hi)
        step = (float(hi) - float(lo)) / (2**bits - 1)
        assert np.all(np.abs(out.astype(np.float64) - full) <= step / 2 * (1 + 1e-5) + 1e-6)
        # the packed codes themselves are the model's codes
        area = unb32(text)[20:]
        if precision == "Bits":
            assert unpack_codes(area, bits, 25) == codes
        else:
            assert list(area) == codes
    assert np.array_equal(bits_of(out), bits_of(expected))


@pytest.mark.parametrize("retention", [0.5, 0.2, 0.1, 0.01, float("nan")])
def test_reencoding_decoded_bytes_reproduces_text(retention):
    text = mivo.encode_compressed(vec(300, 10), retention)
    assert b32(mivo.decode(text)) == text
    assert len(decoded(text)) == mivo.get_metadata(text)["encoded_dims"]


def test_quant8_error_bound():
    v = vec(768, 11)
    full = decoded(mivo.encode_compressed(v, 0.4))
    quant = decoded(mivo.encode_compressed(v, 0.1))
    step = (float(full.max()) - float(full.min())) / 255
    err = np.abs(quant.astype(np.float64) - full)
    assert err.max() <= step / 2 * (1 + 1e-5)
    assert quant.min() == full.min()  # code 0 is the minimum itself
    assert abs(float(quant.max()) - float(full.max())) <= abs(float(full.max())) * 2.0**-23


# ------------------------------------------------------------ Hamming distance


def mini_id(payload, first=0x01, second=0x00):
    return b32(bytes([first, second]) + bytes(payload))


def test_hamming_identity_and_extremes():
    assert mivo.mivo_hamming_distance(MINI, MINI) == 0
    assert mivo.mivo_hamming_distance(mini_id(bytes(16)), mini_id(b"\xff" * 16)) == 128


def test_hamming_matches_popcount_model():
    rng = np.random.default_rng(12)
    for _ in range(200):
        a, b = (rng.integers(0, 256, 16, dtype=np.uint8).tobytes() for _ in range(2))
        expected = bin(int.from_bytes(a, "big") ^ int.from_bytes(b, "big")).count("1")
        assert mivo.mivo_hamming_distance(mini_id(a), mini_id(b)) == expected


def test_hamming_ignores_version_and_reserved_byte():
    payload = bytes(range(16))
    assert mivo.mivo_hamming_distance(mini_id(payload, 0xF1, 0xAB), mini_id(payload)) == 0


FULL = mivo.encode_lossless(vec(64, 13))
CUT_MINI = MINI[:24]  # 15 bytes, profile code 1

HAMMING_FAILURES = [
    ("bad-chars-second", MORTON, "ABC", BAD),
    ("bad-chars-before-decode", "0", "0A", BAD),
    ("undecodable-second", MINI, "0", BAD),
    ("undecodable-before-header", "04", "0", BAD),
    ("undecodable-before-profile", MORTON, "000", BAD),
    ("one-byte-first", "04", MINI, HEADER),
    ("one-byte-second", MORTON, "04", HEADER),
    ("empty-second", MINI, "", HEADER),
    ("full-first", FULL, MORTON, HEADER),
    ("full-second", MORTON, FULL, HEADER),
    ("full-second-crafted", MINI, "0g00", HEADER),
    ("morton-first", MORTON, MINI, "Profile mismatch: expected Mini128, got Type 0x2"),
    ("hilbert-second", MINI, HILBERT, "Profile mismatch: expected Mini128, got Type 0x3"),
    ("first-before-second", MORTON, mini_id(bytes(16), 0x0F), "Profile mismatch: expected Mini128, got Type 0x2"),
    ("second-checked", mini_id(bytes(16)), mini_id(bytes(16), 0x0F), "Profile mismatch: expected Mini128, got Type 0xf"),
    ("profile-before-length", CUT_MINI, MORTON, "Profile mismatch: expected Mini128, got Type 0x2"),
    ("cut-mini-first", CUT_MINI, MINI, BAD),
    ("cut-mini-second", MINI, CUT_MINI, BAD),
    ("long-mini", mini_id(bytes(17)), MINI, BAD),
    ("two-byte-mini", "0400", MINI, BAD),
]


@pytest.mark.parametrize("a,b,message", [f[1:] for f in HAMMING_FAILURES], ids=[f[0] for f in HAMMING_FAILURES])
def test_hamming_checks_in_order(a, b, message):
    assert raises(lambda: mivo.mivo_hamming_distance(a, b)) == message


@pytest.mark.parametrize("code", [0, 2, 3] + list(range(5, 16)))
def test_hamming_profile_codes(code):
    message = f"Profile mismatch: expected Mini128, got Type 0x{code:x}"
    other = mini_id(bytes(16), code)
    assert raises(lambda: mivo.mivo_hamming_distance(other, MINI)) == message
    assert raises(lambda: mivo.mivo_hamming_distance(MINI, other)) == message


def test_hamming_tracks_angle():
    # E[distance] = 128 * angle / pi for random hyperplanes.
    rng = np.random.default_rng(14)
    for angle in (0.1, 0.5, 1.0, 1.5, 2.5, math.pi - 0.05):
        distances = []
        for _ in range(24):
            x = rng.standard_normal(256)
            x /= np.linalg.norm(x)
            y = rng.standard_normal(256)
            y -= x * (x @ y)
            y /= np.linalg.norm(y)
            a = x.astype(np.float32)
            b = (math.cos(angle) * x + math.sin(angle) * y).astype(np.float32)
            distances.append(mivo.mivo_hamming_distance(mivo.encode(a, P.Mini128), mivo.encode(b, P.Mini128)))
        mean = sum(distances) / len(distances)
        assert abs(mean - 128 * angle / math.pi) < 6.0, (angle, mean)
    opposite = mivo.mivo_hamming_distance(mivo.encode(V, P.Mini128), mivo.encode(-V, P.Mini128))
    assert opposite == 128


# ---------------------------------------------------------------- docstrings


@pytest.mark.parametrize(
    "name,phrases",
    [
        ("decode", ["header bytes + payload bytes", "18 bytes (2 header + 16 payload)"]),
        ("decode_to_embedding", ["will be in the reduced dimension space, not the original"]),
        ("mivo_hamming_distance", ["Both MIVOs must use the Mini128 profile.", "int: Hamming distance (0-128)"]),
        ("is_reversible", []),
        ("get_metadata", []),
    ],
)
def test_reader_docstrings(name, phrases):
    doc = getattr(mivo, name).__doc__
    assert "\nArgs:\n" in doc and "\nReturns:\n" in doc and "\nExample:\n    >>> import mivo\n" in doc
    for phrase in phrases:
        assert phrase in doc, phrase
