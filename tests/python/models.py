"""Straightforward reference models and random test data for the differential tests."""

ALPHABETS = {
    "ascii": "abcdefghij ABC.,-",
    "latin": "aeiouàéîõüçñßÆø",
    "combining": "ae\u0301\u0300\u0308o",
    "cjk": "日本語中文字漢",
    "emoji": "\U0001F600\U0001F601\U0001F680a",
    "greek": "αβγσςΣΟΔ ",
    "mixed": "ab é\u0301日\U0001F600ΣİßI\u00a0\u200b\ufeff\u3000x",
}


def random_text(rng, alphabet, length):
    chars = ALPHABETS[alphabet]
    return "".join(rng.choice(chars) for _ in range(length))


# ---------------------------------------------------------------- identifiers
#
# Independent models of the identifier text form, the full-vector header and
# the payload formulas, written plainly in Python / NumPy. They build crafted
# identifiers for the decoders and predict what the encoders must produce.

import base64
import math
import struct

import numpy as np

F32_MAX = float(np.finfo(np.float32).max)

SEED_SIMHASH = 0x4D49564F53494D48  # "MIVOSIMH"
SEED_WORDS = {  # the low 32 bits of each full-vector seed, as stored
    "lossless": 0x46554C4C,  # "FULL"
    "compressed": 0x434F4D50,  # "COMP"
    "max_length": 0x4D41584C,  # "MAXL"
    "cross": 0x58444949,  # "XDII"
}
PRECISION_CODES = {"Full32": 0, "Half16": 1, "Quant8": 2}
MODE_CODES = {"Preserve": 0, "Reduce": 1, "Common": 2}


def b32(data):
    """Lowercase base32hex without padding."""
    return base64.b32hexencode(bytes(data)).decode().rstrip("=").lower()


def unb32(text):
    upper = text.upper()
    return base64.b32hexdecode(upper + "=" * (-len(upper) % 8))


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


def pack_codes(codes, bits):
    """Codes packed most significant bit first, the last byte zero-filled."""
    acc = 0
    for c in codes:
        acc = (acc << bits) | int(c)
    total = len(codes) * bits
    pad = -total % 8
    return (acc << pad).to_bytes((total + pad) // 8, "big")


def unpack_codes(area, bits, count):
    """Reads count codes of `bits` bits; a code cut by the end of the area keeps
    the bits read so far, a code starting beyond it is 0. Gathered in 32 bits."""
    codes = []
    for i in range(count):
        s, left, code = i * bits, bits, 0
        while left and s // 8 < len(area):
            avail = 8 - s % 8
            take = min(avail, left)
            chunk = (area[s // 8] >> (avail - take)) & ((1 << take) - 1)
            code = ((code << take) | chunk) & 0xFFFFFFFF
            s += take
            left -= take
        codes.append(code)
    return codes


def f32(x):
    return np.float32(x)


def maxq_f32(bits):
    return np.float32(float(2**bits - 1))


def roundf(x):
    """C roundf: halves away from zero (x is an f32 value)."""
    x = float(x)
    if math.isnan(x) or math.isinf(x):
        return x
    return math.copysign(math.floor(abs(x) + 0.5), x)


def quantize_model(values, bits):
    values = np.asarray(values, np.float32)
    if values.size == 0:
        return [], f32(0.0), f32(0.0)
    lo, hi = values.min(), values.max()
    span = np.float32(hi - lo)
    if span == 0:
        return [2 ** (bits - 1)] * values.size, lo, hi
    maxq = maxq_f32(bits)
    codes = []
    for v in values:
        t = np.float32(np.float32(np.float32(v - lo) / span) * maxq)
        q = min(max(roundf(t), 0.0), float(maxq))
        codes.append(min(int(q), 2**bits - 1))
    return codes, lo, hi


def dequantize_model(codes, bits, lo, hi):
    lo, hi = np.float32(lo), np.float32(hi)
    if len(codes) == 0:
        return np.zeros(0, np.float32)
    span = np.float32(hi - lo)
    if span == 0:
        return np.full(len(codes), lo, np.float32)
    maxq = maxq_f32(bits)
    c = np.array([float(x) for x in codes], np.float64).astype(np.float32)
    return ((c / maxq) * span + lo).astype(np.float32)


def half_bits_to_f32_bits(h):
    """Exact widening of a binary16 pattern; NaNs keep sign and payload (moved
    to the top of the mantissa) and come out quiet."""
    sign = (h >> 15) << 31
    exp, man = (h >> 10) & 0x1F, h & 0x3FF
    if exp == 0x1F:
        return sign | 0x7F800000 | (man << 13) | (0x400000 if man else 0)
    if exp == 0:
        if man == 0:
            return sign
        e = 127 - 14
        while not man & 0x400:
            man <<= 1
            e -= 1
        return sign | (e << 23) | ((man & 0x3FF) << 13)
    return sign | ((exp - 15 + 127) << 23) | (man << 13)


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


def saturate_u16(x):
    x = float(x)
    if math.isnan(x) or x <= 0:
        return 0
    return 65535 if x >= 65535 else int(x)


def ladder_model(d, retention):
    """(precision, mode, target, seed) chosen by the compression ladder."""
    r = np.float32(retention)
    floor_ = np.float32(0.01)
    if r < floor_:
        r = floor_
    if r > np.float32(1.0):
        r = np.float32(1.0)
    budget = np.float32(np.float32(np.float32(d) * np.float32(32.0)) * r)
    q = d // 4
    d32 = saturate_u16(roundf(np.float32(budget * np.float32(0.03125))))
    if d32 >= d:
        return ("Full32", "Preserve", d, "lossless")
    if d32 >= q:
        return ("Full32", "Reduce", max(d32, 1), "compressed")
    d16 = saturate_u16(roundf(np.float32(budget * np.float32(0.0625))))
    if d16 >= q:
        return ("Half16", "Reduce", d16, "compressed") if d16 < d else ("Half16", "Preserve", d, "compressed")
    d8 = saturate_u16(roundf(np.float32(budget * np.float32(0.125))))
    return ("Quant8", "Reduce", max(d8, 1), "compressed") if d8 < d else ("Quant8", "Preserve", d, "compressed")


def budget_model(d, max_chars):
    """(precision, bits, mode, target, seed) chosen by the length budget search."""
    if max_chars <= 20:
        return ("Bits", 1, "Reduce", 1, "max_length")
    budget = min(5 * (max_chars - 20), 2**64 - 1)
    if budget // d >= 32:
        return ("Full32", None, "Preserve", d, "lossless")
    for precision, bits in [("Full32", 32), ("Half16", 16), ("Quant8", 8), ("Bits", 4), ("Bits", 2), ("Bits", 1)]:
        k = budget // bits
        b = bits if precision == "Bits" else None
        if k >= d:
            return (precision, b, "Preserve", d, "max_length")
        if k >= 16:
            return (precision, b, "Reduce", k, "max_length")
    return ("Bits", 1, "Reduce", max(budget, 1), "max_length")
