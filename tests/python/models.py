"""Straightforward reference models of the identifier text form, the
full-vector header and the payload formulas, written plainly in Python /
NumPy, and helpers shared by the embedding tests."""

import base64
import struct

import numpy as np
import pytest

F32_MAX = float(np.finfo(np.float32).max)

SEED_SIMHASH = 0x4D49564F53494D48  # "MIVOSIMH"
SEED_WORDS = {  # the low 32 bits of each full-vector seed, as stored
    "lossless": 0x46554C4C,  # "FULL"
    "compressed": 0x434F4D50,  # "COMP"
    "max_length": 0x4D41584C,  # "MAXL"
    "cross": 0x58444949,  # "XDII"
}
PRECISION_CODES = {"Full32": 0, "Half16": 1, "Quant8": 2}


def vec(n, seed):
    return np.random.default_rng(seed).standard_normal(n).astype(np.float32)


def bits_of(a):
    return np.asarray(a, np.float32).view(np.uint32)


def raises(call, exc=ValueError):
    """The message of the exception of exactly type exc that call raises."""
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    return str(info.value)


def metadata(precision, mode, encoded, original=768, bits=None):
    """get_metadata's dictionary, keys in their order."""
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


# base32hex is base32 with another alphabet (base64.b32hexencode needs 3.10).
_STD, _HEX = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", "0123456789ABCDEFGHIJKLMNOPQRSTUV"
_TO_HEX, _FROM_HEX = str.maketrans(_STD, _HEX), str.maketrans(_HEX, _STD)


def b32(data):
    """Lowercase base32hex without padding."""
    return base64.b32encode(bytes(data)).decode().translate(_TO_HEX).rstrip("=").lower()


def unb32(text):
    upper = text.upper()
    if not set(upper) <= set(_HEX):
        raise ValueError("not base32hex")
    return base64.b32decode((upper + "=" * (-len(upper) % 8)).translate(_FROM_HEX))


def text_len(nbytes):
    return (8 * nbytes + 4) // 5


def precision_code(precision, bits=None):
    return bits + 2 if precision == "Bits" else PRECISION_CODES[precision]


def payload_len(precision, count, bits=None):
    if precision == "Full32":
        return 4 * count
    if precision == "Half16":
        return 2 * count
    if precision == "Quant8":
        return 8 + count
    return 8 + (count * bits + 7) // 8


def full_header(original, precision, mode, target, seed_word, first=0x04, reserved=0):
    """The 12-byte full-vector header; precision and mode are raw codes."""
    return bytes([first, reserved]) + struct.pack(">HBBHI", original, precision, mode, target, seed_word)


def full_id(payload, original=64, precision=0, mode=0, target=0, seed_word=0, **kw):
    return b32(full_header(original, precision, mode, target, seed_word, **kw) + bytes(payload))


def normalize_model(values):
    """Unit length in f32: sequential sum of squares from -0.0, sqrt, divide."""
    v = np.asarray(values, np.float32)
    s = np.float32(-0.0)
    with np.errstate(over="ignore"):
        for x in v:
            s = np.float32(s + np.float32(x * x))
    if not s > 0:
        return v.copy()
    return (v / np.sqrt(s)).astype(np.float32)

