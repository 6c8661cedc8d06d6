"""Writes tests/golden/identifiers.json: pinned identifiers, bands and decoded
values for a few fixed input vectors.

The file is the contract for the identifier byte format: identifiers are
stored and compared later, on other machines, so every character in it must
stay as it is. Regenerate it only when the format changes on purpose (it must
not); a difference in a test run is a fault in the code, not in the file.

Inputs come from a formula with exact integer arithmetic and one correctly
rounded division per value, so they are the same with every NumPy:

    v[i] = float32(((i * 7919 + 104729 * k) % 1009 - 504) / 97.0)

for the vector of length d with salt k.

Run from the repository root after a build:

    .venv/bin/python scripts/make_golden.py
"""

from __future__ import annotations

import hashlib
import json
import pathlib

import numpy as np

import mivo

OUT = pathlib.Path(__file__).resolve().parent.parent / "tests" / "golden" / "identifiers.json"

VECTORS = [(64, 1), (768, 2), (2048, 3)]
RETENTIONS = [1.0, 0.5, 0.25, 0.1, 0.01]
MAX_CHARS = [20, 40, 100, 300, 1000, 20000]
COMMON_DIMS = [16, 128, 768, 2048]
BANDS = [1, 4, 16]
BAND_SEEDS = [None, 1, 1 << 63]


def golden_vector(d: int, k: int) -> np.ndarray:
    i = np.arange(d, dtype=np.int64)
    return (((i * 7919 + 104729 * k) % 1009 - 504) / 97.0).astype(np.float32)


# Texts longer than this are pinned by their SHA-256 (with their length and
# first characters, to read a difference more easily).
FULL_TEXT_LIMIT = 200


def pin(text: str) -> str:
    if len(text) <= FULL_TEXT_LIMIT:
        return text
    digest = hashlib.sha256(text.encode()).hexdigest()
    return f"{text[:32]}...({len(text)} chars, sha256 {digest})"


def decoded_pin(text: str) -> str:
    """The decoded values as big-endian f32 bytes, pinned like a text."""
    values = mivo.decode_to_embedding(text)
    assert values is not None
    return pin(values.astype(">f4").tobytes().hex())


def entry(d: int, k: int) -> dict:
    v = golden_vector(d, k)
    ids: dict[str, str] = {
        "encode Mini128": mivo.encode(v, mivo.Profile.Mini128),
        "encode Morton10x10": mivo.encode(v, mivo.Profile.Morton10x10),
        "encode Hilbert10x10": mivo.encode(v, mivo.Profile.Hilbert10x10),
        "encode_lossless": mivo.encode_lossless(v),
    }
    for r in RETENTIONS:
        ids[f"encode_compressed {r}"] = mivo.encode_compressed(v, r)
    for m in MAX_CHARS:
        ids[f"encode_max_length {m}"] = mivo.encode_max_length(v, m)
    for c in COMMON_DIMS:
        ids[f"encode_cross_dimensional {c}"] = mivo.encode_cross_dimensional(v, c)
    decoded = {name: decoded_pin(text) for name, text in ids.items() if mivo.is_reversible(text)}
    bands = {
        f"{n} {seed}": mivo.embedding_to_bands(v.tolist(), n, seed) for n in BANDS for seed in BAND_SEEDS
    }
    return {
        "d": d,
        "k": k,
        "identifiers": {name: pin(text) for name, text in ids.items()},
        "decoded_f32_be_hex": decoded,
        "bands": bands,
    }


def main() -> None:
    data = {
        "about": "Pinned mivo identifiers; see scripts/make_golden.py for the inputs. Never regenerate to "
        "make a test pass.",
        "version": 1,
        "vectors": [entry(d, k) for d, k in VECTORS],
    }
    OUT.write_text(json.dumps(data, indent=1) + "\n")
    print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
