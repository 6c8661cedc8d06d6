"""Helpers shared by the tests: the message of an expected exception, and for
the embedding tests fixed random vectors, get_metadata's dictionary and
crafted identifiers written from raw bytes."""

import base64
import struct

import numpy as np
import pytest


def vec(n, seed):
    return np.random.default_rng(seed).standard_normal(n).astype(np.float32)


def raises(call, exc=ValueError, message=None):
    """The message of the exception of exactly type exc that call raises.
    Given a message, checks it: in full, or, where it ends in ': ' or is
    empty, as the prefix of the interpreter's own text; an overflow names no
    parameter."""
    with pytest.raises(exc) as info:
        call()
    text = str(info.value)
    assert type(info.value) is exc and (exc is not OverflowError or "argument" not in text)
    if message is not None:
        assert text.startswith(message) and (text == message) == (message != "" and not message.endswith(": "))
    return text


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
_TO_HEX = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", "0123456789ABCDEFGHIJKLMNOPQRSTUV")


def b32(data):
    """Lowercase base32hex without padding."""
    return base64.b32encode(bytes(data)).decode().translate(_TO_HEX).rstrip("=").lower()


def full_id(payload, original=64, precision=0, mode=0, target=0):
    """A full-vector identifier: the 12-byte header (raw precision and mode
    codes, a zero seed word) and the payload."""
    return b32(bytes([4, 0]) + struct.pack(">HBBHI", original, precision, mode, target, 0) + bytes(payload))
