"""Reading identifiers from Python: results, None for what is not a full
vector, refusals as exceptions, get_metadata's dictionary, decoded arrays."""
import numpy as np
import pytest

import mivo

from .models import b32, full_id, metadata, raises, vec

BAD = "Invalid base32hex encoding"

V = vec(256, 1)
MINI = mivo.encode(V, mivo.Profile.Mini128)
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


def test_decode_gives_bytes():
    assert mivo.decode("") == b"" and b32(mivo.decode(MINI)) == MINI


# One byte is too short; two bytes with profile code 4 will do, whatever the
# version and reserved bits. What is not a full vector has no metadata and no
# values.
@pytest.mark.parametrize(
    "text,reversible",
    [("", False), ("0", False), ("04", False), ("0g", False), ("0g00", True), (b32(b"\x14\x7f"), True),
     (MINI, False), (LOSSLESS, True), (LOSSLESS[:-1], False)]
    + [(b32(bytes([code, 0]) + bytes(40)), False) for code in range(16) if code != 4],
)
def test_is_reversible(text, reversible):
    assert mivo.is_reversible(text) is reversible
    if not reversible:
        assert mivo.get_metadata(text) is None and mivo.decode_to_embedding(text) is None


# One refusal of each kind as both readers raise it (the decoder's full table
# is tested in C++).
@pytest.mark.parametrize(
    "text,message",
    [
        ("0g00", "Invalid ID header"),
        (full_id(bytes(8), precision=36), "Invalid metadata in header: Invalid precision type"),
        (full_id(bytes(5)), BAD),
        (full_id(bytes(3), precision=2), "Insufficient data: expected 8 bytes, got 3"),
    ],
    ids=["two-bytes", "precision-36", "full32-5", "quant8-3"],
)
@pytest.mark.parametrize("reader", ["get_metadata", "decode_to_embedding"])
def test_rejected_full_vector_identifiers(reader, text, message):
    assert mivo.is_reversible(text) is True
    assert raises(lambda: getattr(mivo, reader)(text)) == message


@pytest.mark.parametrize(
    "code,mode,target,size,precision,bits,encoded",
    [
        (0, 0, 40, 400, "Full32", None, 100),  # the target of Preserve is not read
        (0, 1, 40, 160, "Full32", None, 40),
        (1, 2, 300, 600, "Half16", None, 300),
        (2, 1, 40, 48, "Quant8", None, 40),
        (3, 1, 40, 13, "Bits", 1, 40),
        (35, 2, 300, 8 + (300 * 33 + 7) // 8, "Bits", 33, 300),
    ],
)
def test_metadata_of_crafted_headers(code, mode, target, size, precision, bits, encoded):
    text = full_id(bytes(size), original=100, precision=code, mode=mode, target=target)
    meta = mivo.get_metadata(text)
    want = metadata(precision, ["Preserve", "Reduce", "Common"][mode], encoded, original=100, bits=bits)
    assert list(meta.items()) == list(want.items())
    assert all(type(meta[k]) is bool for k in ("is_lossless", "has_dimension_reduction"))
    assert mivo.decode_to_embedding(text).shape == (encoded,)


def test_decoded_array_is_a_fresh_float32_vector():
    out = mivo.decode_to_embedding(LOSSLESS)
    assert out.dtype == np.float32 and out.flags.c_contiguous and out.flags.writeable and out.flags.owndata
    assert np.array_equal(out.view(np.uint32), V.view(np.uint32)) and mivo.encode_lossless(out) == LOSSLESS


def test_hamming_converts_both_arguments_before_checking():
    assert raises(lambda: mivo.mivo_hamming_distance("ABC", 5), TypeError) == (
        "argument 'mivo2': 'int' object cannot be cast as 'str'")
