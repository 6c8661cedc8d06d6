"""Writes the fuzz targets' seed corpora: valid identifiers of every profile
and precision (as text, as bytes, as headers and as payloads, and in pairs
for the Mini128 comparison), a few string pairs and candidate lists, and
vectors with profile records for the encode driver. Usage: fuzz_seeds.py
OUTDIR"""
import base64
import pathlib
import struct
import sys

import numpy as np

import mivo


def identifiers():
    rng = np.random.default_rng(1)
    out = []
    for dims in (64, 300, 768):
        v = rng.standard_normal(dims).astype(np.float32)
        out += [mivo.encode(v, p) for p in (mivo.Profile.Mini128, mivo.Profile.Morton10x10, mivo.Profile.Hilbert10x10)]
        out.append(mivo.encode_lossless(v))
        out += [mivo.encode_compressed(v, r) for r in (0.5, 0.2, 0.1, 0.01)]
        out += [mivo.encode_max_length(v, n) for n in (25, 30, 40, 60, 100, 200)]
        out.append(mivo.encode_cross_dimensional(v, 32))
    return sorted(set(out))


WORDS = ["", "kitten", "sitting", "martha", "marhta", "héllo", "he\u0301llo", "ca", "abc", "dwayne", "duane",
         "日本語テキスト", "😀 emoji 😃", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"]


def b32(data):
    """Lowercase base32hex without padding."""
    table = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", "0123456789abcdefghijklmnopqrstuv")
    return base64.b32encode(data).decode().rstrip("=").translate(table)


def encode_inputs():
    """fuzz_encode's inputs: a record (kind, five field bytes, seed byte), the
    value count and how the values are read, then the values."""
    rng = np.random.default_rng(3)
    records = [bytes([0, 0, 0, 0, 0, 0, 0]), bytes([1, 10, 10, 1, 0, 0, 0]), bytes([2, 10, 10, 1, 0, 0, 0]),
               bytes([1, 10, 10, 0, 0, 7, 0]), bytes([2, 33, 4, 1, 0, 0, 0])]
    # FullVector: Full32, Half16, Quant8 and 4 bits; kept, reduced to 32 and in a common space of 16.
    records += [bytes([3, precision, mode, 0, 32 if mode == 1 else 16, 0, 1])
                for precision in (0, 1, 2, 7) for mode in (0, 1, 2)]
    out = []
    for i, record in enumerate(records):
        n = (64, 300, 768)[i % 3]
        values = rng.standard_normal(n)
        as_bytes = np.clip(values * 16, -128, 127).astype(np.int8)  # read back as byte / 16
        raw = values.astype(np.float32).tobytes() if i % 2 else as_bytes.tobytes()
        out.append(record + struct.pack(">H", n) + bytes([0 if i % 2 else 2]) + raw)
    return out


def mini128_pairs(texts):
    """fuzz_mini128_distance's inputs: two texts (byte 0 even), or two byte
    strings rendered as base32hex (byte 0 odd)."""
    mini = [t for t in texts if t.startswith("04")]
    others = [t for t in texts if not t.startswith("04")][:6]
    pairs = list(zip(mini, mini[1:] + mini[:1])) + [(m, o) for m, o in zip(mini, others)]
    out = [b"\x00" + a.encode() + b"\xff" + b.encode() for a, b in pairs]
    out += [b"\x01" + mivo.decode(a).replace(b"\xff", b"\xfe") + b"\xff" + mivo.decode(b).replace(b"\xff", b"\xfe")
            for a, b in pairs[:4]]
    return out


def main(outdir):
    root = pathlib.Path(outdir)
    seeds = {name: [] for name in ("fuzz_identifier", "fuzz_base32_decode", "fuzz_base32_roundtrip", "fuzz_header",
                                   "fuzz_payload", "fuzz_string_metrics", "fuzz_best_match")}
    seeds["fuzz_encode"] = encode_inputs()
    seeds["fuzz_mini128_distance"] = mini128_pairs(identifiers())
    for text in identifiers():
        raw = mivo.decode(text)
        seeds["fuzz_identifier"].append(text.encode())
        seeds["fuzz_base32_decode"].append(text.encode())
        seeds["fuzz_base32_roundtrip"].append(raw)
        seeds["fuzz_header"].append(raw[:12])
        if mivo.is_reversible(text):
            count = mivo.get_metadata(text)["encoded_dims"]
            seeds["fuzz_payload"].append(bytes([raw[4]]) + struct.pack(">H", count) + raw[12:])
    # One long identifier (a Full32 payload of 40,000 values, 256,000
    # characters) so that the readers meet large inputs from the start.
    rng = np.random.default_rng(2)
    header = bytearray(mivo.decode(mivo.encode_lossless(rng.standard_normal(64).astype(np.float32)))[:12])
    header[2:4] = struct.pack(">H", 40000)
    long_raw = bytes(header) + rng.standard_normal(40000).astype(">f4").tobytes()
    long_text = b32(long_raw)
    seeds["fuzz_identifier"].append(long_text.encode())
    seeds["fuzz_base32_decode"].append(long_text.encode())
    seeds["fuzz_payload"].append(bytes([2, 0x9C, 0x40]) + long_raw[12:])
    for a, b in zip(WORDS, WORDS[1:] + WORDS[:1]):
        seeds["fuzz_string_metrics"].append(a.encode() + b"\xff" + b.encode())
    seeds["fuzz_best_match"].append(bytes([100]) + b"\xff".join(w.encode() for w in WORDS))
    seeds["fuzz_best_match"].append(bytes([180]) + b"app\xffapple\xffapplication\xffapply\xffbanana")
    for name, items in seeds.items():
        d = root / name
        d.mkdir(parents=True, exist_ok=True)
        for i, item in enumerate(items):
            (d / f"seed-{i:03d}").write_bytes(item)
    print(f"fuzz seeds: {sum(map(len, seeds.values()))} inputs for {len(seeds)} targets in {root}")


if __name__ == "__main__":
    main(sys.argv[1])
