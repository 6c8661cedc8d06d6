"""Reading identifiers: bytes, reversibility, metadata, vectors, Hamming distance."""
import struct

import numpy as np
import pytest

import mivo

from .models import F32_MAX, b32, bits_of, dequantize_model, full_id, metadata, pack_codes, quantize_model, raises, unb32, vec

P = mivo.Profile
BAD = "Invalid base32hex encoding"
HEADER = "Invalid ID header"

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


@pytest.mark.parametrize("name", list(READERS))
@pytest.mark.parametrize("text", ["ABC", "0w", "04\n", "0\u00e9", LOSSLESS[:-1] + "w"])
def test_characters_outside_the_alphabet_refused_by_every_reader(name, text):
    assert raises(lambda: READERS[name](text)) == BAD


# ---------------------------------------------------------------------- decode


@pytest.mark.parametrize("text,expected", [("", b""), ("04", b"\x01"), ("c5h66", b"abc"), ("vvvvvvvv", b"\xff" * 5)])
def test_decode_values(text, expected):
    assert mivo.decode(text) == expected


@pytest.mark.parametrize("text", ["0", "01", "000", "000000", "c5h67", "ABC"])
def test_decode_refuses_bad_lengths_characters_and_trailing_bits(text):
    assert raises(lambda: mivo.decode(text)) == BAD


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


# One byte is too short; two bytes with profile code 4 will do, whatever the
# version and reserved bits; a length modulo 8 of 6 is no text.
@pytest.mark.parametrize(
    "text,expected",
    [("", False), ("0", False), ("04", False), ("0g", False), ("0g00", True), (b32(b"\x14\x7f"), True),
     (MINI, False), (MORTON, False), (LOSSLESS, True), (LOSSLESS[:-1], False)],
)
def test_is_reversible(text, expected):
    assert mivo.is_reversible(text) is expected


def test_not_full_vector_gives_none():
    others = [b32(bytes([code, 0]) + bytes(40)) for code in range(16) if code != 4]
    for text in others + ["", "0", "04", "0g", MINI, MORTON, HILBERT, LOSSLESS[:-1]]:
        assert mivo.get_metadata(text) is None, text
        assert mivo.decode_to_embedding(text) is None, text


# ----------------------------------------------- rejected full-vector identifiers

FAILURES = [
    # (name, text, message)
    ("two-bytes", "0g00", HEADER),
    ("eleven-bytes", b32(bytes([4]) + bytes(10)), HEADER),
    ("precision-36", full_id(bytes(8), precision=36), "Invalid metadata in header: Invalid precision type"),
    ("precision-and-mode", full_id(bytes(8), precision=36, mode=3), "Invalid metadata in header: Invalid precision type"),
    ("mode-3", full_id(bytes(8), mode=3), "Invalid metadata in header: Invalid dimension mode"),
    ("full32-5", full_id(bytes(5)), BAD),
    ("half16-odd", full_id(bytes(3), precision=1), BAD),
    ("quant8-0", full_id(b"", precision=2), "Insufficient data: expected 8 bytes, got 0"),
    ("quant8-3", full_id(bytes(3), precision=2), "Insufficient data: expected 8 bytes, got 3"),
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
    assert mivo.decode_to_embedding(b32(raw + struct.pack(">f", 2.5)))[-1] == 2.5
    assert mivo.decode_to_embedding(full_id(struct.pack(">ff", 1.0, 2.0), precision=2)).shape == (0,)


# ---------------------------------------------------------------- metadata


def test_metadata_of_crafted_headers():
    precisions = [(0, "Full32", None), (1, "Half16", None), (2, "Quant8", None), (3, "Bits", 1), (34, "Bits", 32),
                  (35, "Bits", 33)]
    for code, precision, bits in precisions:
        for mode_code, mode in enumerate(["Preserve", "Reduce", "Common"]):
            for original, target in [(100, 40), (100, 300)]:
                encoded = original if mode == "Preserve" else target
                size = {"Full32": 4 * encoded, "Half16": 2 * encoded}.get(precision, 8 + (encoded * (bits or 8) + 7) // 8)
                text = full_id(bytes(size), original=original, precision=code, mode=mode_code, target=target,
                               seed_word=0xDEADBEEF)
                meta = mivo.get_metadata(text)
                want = metadata(precision, mode, encoded, original=original, bits=bits)
                assert list(meta.items()) == list(want.items())
                assert all(type(meta[k]) is bool for k in ("is_lossless", "has_dimension_reduction"))
                assert mivo.decode_to_embedding(text).shape == (encoded,)
    broken = full_id(bytes(3), precision=2, original=3)  # metadata decodes the payload too
    assert raises(lambda: mivo.get_metadata(broken)) == "Insufficient data: expected 8 bytes, got 3"


# ------------------------------------------------------ crafted payload decoding


def test_full32_payload_bit_patterns_kept():
    rng = np.random.default_rng(5)
    words = rng.integers(0, 2**32, 500, dtype=np.uint64).astype(np.uint32)
    words[:6] = [0x80000000, 0x00000001, 0x7F800000, 0xFF800000, 0x7FC00001, 0xFFBFFFFF]
    out = mivo.decode_to_embedding(full_id(words.astype(">u4").tobytes(), original=500))
    assert out.dtype == np.float32 and out.flags.c_contiguous and out.flags.writeable and out.flags.owndata
    assert np.array_equal(bits_of(out), words)


def test_quantised_payload_examples():
    header = struct.pack(">ff", 0.0, 15.0)
    assert mivo.decode_to_embedding(full_id(header + b"\xf0\xa0", precision=6, original=3)).tolist() == [15.0, 0.0, 10.0]
    out = mivo.decode_to_embedding(full_id(header + b"\xab\x80", precision=5, mode=1, target=3, original=99))
    assert np.array_equal(out, dequantize_model([5, 2, 7], 3, 0.0, 15.0))
    # Missing area entirely: every value is the minimum; so with a constant range.
    assert mivo.decode_to_embedding(full_id(struct.pack(">ff", -2.0, 5.0), precision=6, original=4)).tolist() == [-2.0] * 4
    assert mivo.decode_to_embedding(full_id(struct.pack(">ff", 0.5, 0.5) + b"\xff", precision=10, original=1)).tolist() == [0.5]
    quant8 = full_id(struct.pack(">ff", 0.0, 1.0) + bytes([0, 255]), precision=2, original=2)
    assert mivo.decode_to_embedding(quant8).tolist() == [0.0, 1.0]


# ------------------------------------------------------------- round trips


def lossless_samples():
    rng = np.random.default_rng(7)
    specials = np.array([-0.0, 0.0, 1e-45, -1e-45, 1e-40, -3e-39, 1.1754944e-38, F32_MAX, -F32_MAX, 1.0, -1.0],
                        np.float32)
    v = (rng.standard_normal(777) * np.exp(rng.uniform(-40, 40, 777))).astype(np.float32)
    v[rng.choice(777, len(specials), replace=False)] = specials
    yield v
    # Every finite bit pattern is fair game: subnormals, huge values, both zeros.
    words = rng.integers(0, 2**32, 2048, dtype=np.uint64).astype(np.uint32)
    words[(words >> 23) & 0xFF == 0xFF] &= ~np.uint32(1 << 30)
    words[:len(specials)] = specials.view(np.uint32)
    yield words.view(np.float32)


@pytest.mark.parametrize("v", list(lossless_samples()), ids=["777", "bit-patterns"])
def test_lossless_round_trip_is_bit_exact(v):
    text = mivo.encode_lossless(v)
    out = mivo.decode_to_embedding(text)
    assert out.dtype == np.float32 and np.array_equal(bits_of(out), bits_of(v))
    assert mivo.encode_lossless(out) == text


@pytest.mark.parametrize("scale", [1.0, 2e4], ids=["unit", "huge"])
def test_reduced_precisions_against_full32_ladder(scale):
    # With one seed and one target the projection is shared, so each lower
    # precision must be exactly the f32 values quantised by its own rule.
    v = (vec(768, 8) * np.float32(scale)).astype(np.float32)
    full = mivo.decode_to_embedding(mivo.encode_compressed(v, 0.4))
    assert full.shape == (307,) and mivo.get_metadata(mivo.encode_compressed(v, 0.4))["precision"] == "Full32"
    half = mivo.decode_to_embedding(mivo.encode_compressed(v, 0.2))
    with np.errstate(over="ignore"):
        assert np.array_equal(bits_of(half), bits_of(full.astype(np.float16).astype(np.float32)))
    quant = mivo.decode_to_embedding(mivo.encode_compressed(v, 0.1))
    codes, lo, hi = quantize_model(full, 8)
    assert np.array_equal(bits_of(quant), bits_of(dequantize_model(codes, 8, lo, hi)))


BUDGET_TARGET_25 = [(100, "Half16", None), (60, "Quant8", 8), (40, "Bits", 4), (30, "Bits", 2), (25, "Bits", 1)]


@pytest.mark.parametrize("max_chars,precision,bits", BUDGET_TARGET_25, ids=[r[1] + str(r[2]) for r in BUDGET_TARGET_25])
def test_reduced_precisions_against_full32_budget(max_chars, precision, bits):
    v = vec(768, 9)
    full = mivo.decode_to_embedding(mivo.encode_max_length(v, 180))
    assert full.shape == (25,)
    text = mivo.encode_max_length(v, max_chars)
    out = mivo.decode_to_embedding(text)
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
        assert area == (pack_codes(codes, bits) if precision == "Bits" else bytes(codes))
    assert np.array_equal(bits_of(out), bits_of(expected))


@pytest.mark.parametrize("retention", [0.5, 0.2, 0.1, float("nan")])
def test_reencoding_decoded_bytes_reproduces_text(retention):
    text = mivo.encode_compressed(vec(300, 10), retention)
    assert b32(mivo.decode(text)) == text
    assert len(mivo.decode_to_embedding(text)) == mivo.get_metadata(text)["encoded_dims"]


# ------------------------------------------------------------ Hamming distance


def test_hamming_converts_both_arguments_before_checking():
    assert raises(lambda: mivo.mivo_hamming_distance("ABC", 5), TypeError) == (
        "argument 'mivo2': 'int' object cannot be cast as 'str'")


