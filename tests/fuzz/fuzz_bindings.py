"""Random calls of every function of mivo and mivo_collections with valid,
wrong and hostile arguments: objects whose __float__, __index__, __len__ or
__iter__ first change the call's other arguments (empty or refill a list,
resize an array in place, collect garbage, raise), and a second thread that
changes lists and arrays while a call runs (while a conversion runs Python
code in mivo; without the interpreter lock in mivo_collections).

Run on the AddressSanitizer build (scripts/fuzz.sh does), where a read of
freed memory stops the run. Beyond that a call must return or raise a
conversion error, and a call nothing disturbed must leave its arguments as
they were (contents and reference counts) and answer the same again (with
workers=1 for the companion module).

A seeded driver rather than a coverage-guided one: the faults it hunts lie in
how arguments combine, which the generators build on purpose, and it runs on
the same sanitizer build as the tests. Each call has its own seed:
"--replay SEED:INDEX" repeats a reported one.

Adding a function is one entry in FUNCTIONS: its parameters as "name:kind"
("?" after an optional one, "*" before a keyword-only one, "/" before a
positional-only one, "!" after the kind of one the call changes by design),
each kind a generator in KINDS. A method is an entry "module.Class.method"
whose first parameter is "self" (always passed by position), of a kind that
builds one. The second call of a changed argument's function runs on a copy
made before the first, and both copies must end alike. Indexes are among the
things the hostile objects and the second thread change (adding, removing,
searching); paths lie in a directory of the run's own, emptied after each
call that takes one.
"""
from __future__ import annotations

import argparse
import gc
import itertools
import math
import operator
import os
import pathlib
import pickle
import random
import shutil
import sys
import tempfile
import threading
import time
import warnings
from decimal import Decimal
from fractions import Fraction

import mivo_collections
import numpy as np
from mivo_collections import HammingIndex

import mivo

MODULES = {"mivo": mivo, "mivo_collections": mivo_collections, "harness": sys.modules[__name__]}

FUNCTIONS = {
    "mivo.levenshtein": "a:text b:text",
    "mivo.normalized_levenshtein": "a:text b:text",
    "mivo.jaro": "a:text b:text",
    "mivo.jaro_winkler": "a:text b:text",
    "mivo.hamming": "a:text b:text",
    "mivo.osa_distance": "a:text b:text",
    "mivo.best_match": "a:text b:text",
    "mivo.find_best_match": "query:text candidates:texts",
    "mivo.find_matches_above_threshold": "query:text candidates:texts threshold:real",
    "mivo.SimilarityOpts": "case_sensitive:flag? trim_whitespace:flag? prefix_scale:real?",
    "mivo.levenshtein_with_opts": "a:text b:text opts:opts",
    "mivo.simhash": "text:text",
    "mivo.simhash_distance": "hash1:u64 hash2:u64",
    "mivo.simhash_similarity": "a:text b:text",
    "mivo.find_similar_hashes": "query_hash:u64 candidate_hashes:u64s max_distance:u32",
    "mivo.encode": "embedding:vector profile:profile",
    "mivo.decode": "mivo_str:identifier",
    "mivo.mivo_hamming_distance": "mivo1:mini128 mivo2:mini128",
    "mivo.encode_lossless": "embedding:vector",
    "mivo.encode_compressed": "embedding:vector retention_pct:real",
    "mivo.encode_max_length": "embedding:vector max_chars:max_chars",
    "mivo.decode_to_embedding": "mivo_str:identifier",
    "mivo.is_reversible": "mivo_str:identifier",
    "mivo.encode_cross_dimensional": "embedding:vector common_dims:common_dims",
    "mivo.get_metadata": "mivo_str:identifier",
    "mivo.embedding_to_bands": "embedding:floats num_bands:band_count? seed:seed?",
    "mivo_collections.encode_batch": "X:matrix profile:profile? *output:output? *workers:workers?",
    "mivo_collections.bands_batch": "X:matrix num_bands:band_count? *workers:workers?",
    "mivo_collections.cdist": "queries:strs choices:strs scorer:scorer? *dtype:dtype? *score_cutoff:cutoff? "
                              "*workers:workers?",
    "mivo_collections.extract": "query:text choices:strs scorer:scorer? *limit:limit? *score_cutoff:cutoff?",
    "mivo_collections.HammingIndex": "bits:bits",
    "mivo_collections.HammingIndex.add": "self:index! codes:codes ids:ids?",
    "mivo_collections.HammingIndex.remove": "self:index! ids:ids",
    "mivo_collections.HammingIndex.search": "self:index queries:codes k:k *workers:workers?",
    "mivo_collections.HammingIndex.range_search": "self:index queries:codes radius:radius *workers:workers?",
    "mivo_collections.HammingIndex.save": "self:index path:path",
    "mivo_collections.HammingIndex.load": "path:path",
    "mivo_collections.HammingIndex.__len__": "self:index",
    "mivo_collections.HammingIndex.__repr__": "self:index",
    "mivo_collections.HammingIndex.bits.__get__": "self:index",
    "mivo_collections.HammingIndex.__reduce__": "self:index",
    "mivo_collections.HammingIndex.__setstate__": "self:index! /state:state",
    "harness.round_trip": "obj:index protocol:protocol?",
}
NOT_CALLED = {"mivo.Profile", "mivo.VectorPrecision", "mivo.DimensionMode"}  # no constructor
ALLOWED = (TypeError, ValueError, OverflowError, UnicodeEncodeError)  # anything else is a finding
TMP = ""  # the run's directory for the files that save writes and load reads


def round_trip(obj, protocol=pickle.HIGHEST_PROTOCOL):
    """A pickling round trip."""
    return pickle.loads(pickle.dumps(obj, protocol))


class HostileError(Exception):
    """Raised by a hostile object on purpose."""


class Finding(Exception):
    pass


class Call:
    """A call being built and made: its generator, every argument value (for
    the hostile objects to reach) and whether anything disturbed it."""

    def __init__(self, rng: random.Random):
        self.rng, self.values, self.disturbed = rng, [], False
        self.changed: list = []  # the arguments the call changes by design
        self.bits, self.count = None, None  # of the index and the codes built last
        self.busy = threading.Lock()  # the second thread's, held while it changes things

    def pick(self, *choices, weights=None):
        return self.rng.choices(choices, weights=weights)[0]

    def strike(self):
        """A hostile object's move: change other arguments, collect, take the
        freed memory back with other contents, and perhaps raise."""
        self.disturbed = True
        rng = self.rng
        targets = [v for v in self.values if isinstance(v, CHANGEABLE)]
        with self.busy:  # never resizing what NumPy writes on the second thread
            for target in rng.sample(targets, k=min(len(targets), rng.randint(1, 2))):
                mutate(rng, target, in_place_only=False)
        if rng.random() < 0.3:
            gc.collect(0)  # finalisers, as any allocation may run them
        _ = [rng.choice("ZY\u00e9\u4e2d") * rng.choice((8, 600, 1500)) for _ in range(rng.randint(0, 40))]
        if rng.random() < 0.1:
            raise HostileError("hostile")


def fresh_text(rng: random.Random, text: str, same: bool = False) -> str:
    """Equal text in a new object, or other text."""
    if (same or rng.random() < 0.5) and len(text) > 1:
        return text[:1] + text[1:]
    return rng.choice("qz\u00e9\u4e2d\U0001f600") * rng.randint(0, 900)


def mutate(rng: random.Random, target, in_place_only: bool):
    """Changes a list, an array or an index. Without in_place_only an array
    may be resized in place, its memory freed: what Python code run by a
    conversion may do (while a call works without the lock NumPy itself
    forbids it). An index is changed as documented: add and remove wait for
    the searches under way."""
    try:
        if isinstance(target, HammingIndex):
            move = rng.randrange(6)
            if move < 2:
                target.add(code_rows(rng, target.bits, rng.randint(1, 8)))
            elif move < 4:
                target.remove([rng.randrange(300) for _ in range(rng.randint(1, 4))])
            elif move == 4:
                target.search(code_rows(rng, target.bits, 2), 3, workers=2)
            else:
                target.__setstate__(HammingIndex(target.bits).__reduce__()[2])  # emptied
            return
        if isinstance(target, list):
            move = rng.randrange(5)
            if move == 0:
                target.clear()
            elif move == 1:
                target[:] = [fresh_text(rng, t) if isinstance(t, str) else t for t in target]
            elif move == 2:
                target[rng.randrange(len(target))] = rng.choice([fresh_text(rng, "abc"), 7, None])
            elif move == 3:
                target.reverse()
            else:
                target.extend(["x" * 700, 3.5])
            return
        if not in_place_only and rng.random() < 0.5:
            target.resize(tuple(rng.choice((0, 1, 3, 64, 300)) for _ in range(max(target.ndim, 1))), refcheck=False)
        target[...] = rng.choice((np.nan, 0.0, 1.5, -np.inf, 1e39))
    except (ValueError, TypeError, OverflowError, IndexError):
        pass  # read-only, not owning its data, emptied meanwhile


class HostileNumber:
    """A number whose conversion strikes first."""

    def __init__(self, call: Call, value):
        self.call, self.value = call, value

    def __float__(self):
        self.call.strike()
        return float(self.value)

    def __index__(self):
        self.call.strike()
        return operator.index(self.value)


class HostileSequence:
    """A sequence whose length query and iteration strike; its length may lie."""

    def __init__(self, call: Call, items):
        self.call, self.items = call, list(items)
        self.claimed = call.pick(len(self.items), 0, 10**12, None)
        self.strikes = [call.rng.random() < 0.2 for _ in self.items]  # the same in every pass

    def __len__(self):
        self.call.strike()
        if self.claimed is None:
            raise HostileError("no length")
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        for item, strikes in zip(self.items, self.strikes):
            if strikes:
                self.call.strike()
            yield item


class HostilePath(os.PathLike):
    """A path whose conversion strikes first, and may give no path."""

    def __init__(self, call: Call, path: str):
        self.call, self.path = call, call.pick(path, path, 3)

    def __fspath__(self):
        self.call.strike()
        return self.path


# ------------------------------------------------------------ generators

WORDS = ["", "a", "kitten", "sitting", "h\u00e9llo", "he\u0301llo", "\u65e5\u672c\u8a9e", "\U0001f600 x",
         "  trim  ", "A\u0130\u00df", "\u0000nul", "martha", "marhta"]
IDENTIFIERS: list[str] = []
MINI128: list[str] = []


class Text(str):
    """A str subclass, viewed like any str."""


def wrong(call: Call):
    return call.pick(None, 1.5, "x", b"bytes", [], {}, object(), {1}, -1, 2**70, math.nan, True, 3 + 4j,
                     np.float32(1.0), np.zeros(3, np.float32), Fraction(1, 3),
                     dict.fromkeys("ab").keys())  # iterable, not a sequence; read alike twice


def text(call: Call):
    rng, word = call.rng, call.rng.choice(WORDS)
    return call.pick(word, "".join(rng.choice("abcde\u00e9\u4e2d\U0001f600 ") for _ in range(rng.randint(0, 80))),
                     (word + "-") * rng.randint(50, 400),  # in the allocator's large blocks
                     Text(word * 3), "a\ud800b", fresh_text(rng, word * 4), weights=(3, 3, 3, 2, 1, 3))


def texts(call: Call):
    items = [text(call) for _ in range(call.pick(0, 1, 3, 12, 40))]
    if items and call.rng.random() < 0.1:
        items[call.rng.randrange(len(items))] = call.pick(1, None, b"x")
    return call.pick(items, tuple(items), HostileSequence(call, items), weights=(8, 1, 1))


def unsigned(bits):
    top = 2**bits - 1
    return lambda call: call.pick(0, 1, 7, top, top + 1, -1, call.rng.randrange(top + 1), np.uint8(3), False)


def values(call: Call, n: int, dtype) -> np.ndarray:
    v = np.random.default_rng(call.rng.randrange(2**32)).standard_normal(n)
    if n and call.rng.random() < 0.1:
        v[call.rng.randrange(n)] = call.pick(np.nan, np.inf, 0.0, 3.4e38, 1e39)
    return v.astype(dtype)


def vector(call: Call):
    n = call.pick(64, 65, 100, 300, 768, 2048, 0, 1, 63, 2049, weights=(4, 1, 2, 3, 2, 1, 1, 1, 1, 1))
    v = values(call, n, np.float32)
    form = call.rng.randrange(12)
    if form == 0:
        return values(call, 2 * n, np.float32)[::2]  # not contiguous
    if form == 1:
        raw = np.frombuffer(bytearray(v.nbytes + 1), np.float32, n, offset=1)  # misaligned
        raw[:] = v
        return raw
    return [v.astype(np.float64), v.reshape(1, -1), v.astype(">f4"), v.tolist()][form - 2] if form < 6 else v


def floats(call: Call):
    n = call.pick(0, 5, 64, 300, 768)
    v = values(call, 3 * n, call.pick(np.float32, np.float64, np.float16, np.int32))
    return call.pick(v[n:2 * n].tolist(), tuple(v[:n].tolist()), v[::-3], HostileSequence(call, v[:n].tolist()),
                     v.reshape(3, -1) if n else v, v[:n].copy(), weights=(2, 1, 1, 1, 1, 3))


def identifier(call: Call, pool=None):
    text = call.rng.choice(pool or IDENTIFIERS)
    cut = call.rng.randrange(len(text) + 1)
    return call.pick(text, text[:cut], text[:cut] + "w" + text[cut + 1:], text.upper(), text + "0", "",
                     weights=(6, 1, 1, 1, 1, 1))


def matrix(call: Call):
    rows, cols = call.pick(0, 1, 2, 7, 33), call.pick(0, 1, 5, 64, 300)
    x = values(call, rows * cols * 2, call.pick(np.float32, np.float64, np.int32, weights=(5, 4, 1)))
    x = x.reshape(rows * 2, cols)
    form = call.rng.randrange(8)
    if form < 5:
        return [x[::2], np.asfortranarray(x[:rows]), x[:rows, ::-1], x[:rows].astype(x.dtype.newbyteorder()),
                x.ravel()][form]
    return x[:rows].copy()


POOLS: dict[int, np.ndarray] = {}  # bits -> rows of codes (uint8) to draw codes from, with repeats


def code_rows(rng: random.Random, bits: int, n: int) -> np.ndarray:
    pool = POOLS[bits]
    return pool[np.random.default_rng(rng.randrange(2**32)).integers(0, len(pool), n)]


def new_index(call: Call):
    """An index of 0 to 140000 codes (more than one round of a scan), with
    default or repeated ids, some removed, perhaps through a pickle."""
    rng, bits = call.rng, call.pick(128, 64)
    built, n = HammingIndex(bits), call.pick(0, 1, 5, 300, 5000, 140_000, weights=(1, 2, 3, 4, 2, 1))
    built.add(code_rows(rng, bits, n), call.pick(None, np.arange(n) % 97, np.arange(n)[::-1]))
    if rng.random() < 0.3:
        built.remove([rng.randrange(300) for _ in range(rng.randint(1, 40))])
    call.bits = bits
    return round_trip(built) if rng.random() < 0.1 else built


def codes(call: Call):
    """Codes in the forms add and search take for the index built (or the
    other size's), and wrong ones."""
    rng = call.rng
    bits = call.bits if call.bits and rng.random() < 0.9 else call.pick(128, 64)
    call.count = n = call.pick(0, 1, 3, 33, 100, weights=(1, 3, 3, 3, 1))
    rows = code_rows(rng, bits, n)
    if bits == 128:
        texts = [rng.choice(MINI128) for _ in range(n)]
        if texts and rng.random() < 0.1:
            texts[rng.randrange(n)] = identifier(call, MINI128)  # perhaps broken
        return call.pick(rows, np.asfortranarray(rows), np.repeat(rows, 2, axis=1)[:, ::2], texts, tuple(texts),
                         HostileSequence(call, texts), rows.ravel(), rows[:, :8], rows.astype(np.int64),
                         rows.view(">u8"), weights=(4, 1, 1, 4, 1, 1, 1, 1, 1, 1))
    values = rows.view(">u8").ravel()
    ints = values.tolist()
    if ints and rng.random() < 0.1:
        ints[rng.randrange(n)] = call.pick(-1, 2**64, 1.5, "7")
    signed = (values >> np.uint64(call.pick(0, 1))).astype(np.int64)  # negative ones, or none
    return call.pick(rows, values.astype(np.uint64), signed, ints, HostileSequence(call, ints),
                     [HostileNumber(call, v) for v in ints], values, values.astype(np.int32), values[::-2],
                     values.reshape(-1, 1), weights=(3, 3, 2, 3, 1, 1, 1, 1, 1, 1))


def id_list(call: Call):
    """Ids for the codes built last (or any count), duplicates among them,
    in the forms add and remove take, and wrong ones."""
    rng = call.rng
    n = call.count if call.count is not None else call.pick(0, 1, 5, 50)
    v = np.random.default_rng(rng.randrange(2**32)).integers(0, 2 * n + 1, n)
    if n and rng.random() < 0.3:
        v = v[:-1] if rng.random() < 0.5 else v - 3  # one short, or some negative
    items = v.tolist() + ([2**63] if rng.random() < 0.05 else [])
    return call.pick(None, v, items, v.astype(np.int32), v.astype(np.uint64), v[::-1], HostileSequence(call, items),
                     [HostileNumber(call, x) for x in items], v.astype(np.float64), v.reshape(-1, 1),
                     weights=(2, 3, 3, 1, 1, 1, 1, 1, 1, 1))


def saved(call: Call) -> bytes:
    """The saved form of a small index, whole or damaged."""
    rng, small = call.rng, HammingIndex(call.bits if call.bits and call.rng.random() < 0.8 else call.pick(128, 64))
    small.add(code_rows(rng, small.bits, call.pick(0, 1, 7)))
    data = bytearray(small.__reduce__()[2])
    move = call.pick(0, 1, 2, 3, 4, weights=(4, 1, 1, 1, 1))
    if move == 1:
        del data[rng.randrange(len(data)):]  # cut
    elif move == 2:
        data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)  # flipped
    elif move == 3:
        data[16:24] = rng.choice((2**63, 2**64 - 1, 2**40, 1)).to_bytes(8, "little")  # another count
    elif move == 4:
        data += b"\0" * rng.choice((1, 24, 32))
    return bytes(data)


def file_path(call: Call):
    """A path in the run's directory (never beside it, where save would
    write its temporary file): missing, a folder, damaged, as str, bytes,
    pathlib.Path or a hostile os.PathLike; or no path at all. Wrong values
    of other kinds (a str) would name files elsewhere, so there are none."""
    name = call.pick("a.mhi", "b.mhi", "dir", "missing/c.mhi", "saved.mhi", "empty", "s\udcff.mhi", "n\0ul",
                     weights=(5, 3, 1, 1, 5, 1, 1, 1))
    full = os.path.join(TMP, name)
    if name == "saved.mhi":
        pathlib.Path(full).write_bytes(saved(call))
    return call.pick(full, os.fsencode(full), pathlib.Path(full), HostilePath(call, full), None, 3.0,
                     weights=(4, 1, 1, 1, 1, 1))


def strs(call: Call):
    """Strings for cdist and extract: mostly short ones (each pair is
    compared), now and then a long one, in any iterable."""
    rng = call.rng
    items = [text(call) if rng.random() < 0.1 else rng.choice(WORDS) for _ in range(call.pick(0, 1, 3, 12, 40))]
    if items and rng.random() < 0.05:
        items[rng.randrange(len(items))] = call.pick(1, None, b"x")
    return call.pick(items, tuple(items), HostileSequence(call, items), np.array(items, dtype=str), "abc",
                     weights=(8, 1, 2, 2, 1))


SCORERS = ["levenshtein", "normalized_levenshtein", "jaro", "jaro_winkler", "osa_distance", "best_match"]


def scorer(call: Call):
    """A scorer of mivo, its name (a new str: an interned one's count is not
    the call's alone), or another function or name."""
    name = call.rng.choice(SCORERS)
    return call.pick(getattr(mivo, name), fresh_text(call.rng, name, same=True), "hamming", mivo.hamming, "Jaro",
                     Text("jaro"), len, weights=(8, 4, 1, 1, 1, 1, 1))

KINDS = {
    "text": text,
    "texts": texts,
    "real": lambda call: call.pick(0.0, 0.5, 1.0, -0.0, 1e-300, math.inf, -math.inf, math.nan, 1, True,
                                   Fraction(1, 2), Decimal("0.25"), np.float64(0.75), np.float32(0.3), 2**1100),
    "u64": unsigned(64),
    "u32": unsigned(32),
    "u64s": lambda call: [unsigned(64)(call) for _ in range(call.pick(0, 1, 5, 50))],
    "flag": lambda call: call.pick(True, False, np.bool_(True), 1, None),
    "opts": lambda call: call.pick(mivo.SimilarityOpts(), mivo.SimilarityOpts(False, True, 0.2)),
    "profile": lambda call: call.pick(mivo.Profile.Mini128, mivo.Profile.Morton10x10, mivo.Profile.Hilbert10x10,
                                      mivo.VectorPrecision.Half16, 0, weights=(6, 2, 2, 1, 1)),
    "vector": vector,
    "floats": floats,
    "identifier": identifier,
    "mini128": lambda call: identifier(call, MINI128),
    "matrix": matrix,
    "seed": lambda call: call.pick(None, 0, 1, 2**64 - 1, 0x4D49564F53494D48, 2**64, -1),
    "band_count": lambda call: call.pick(4, 16, 1, 2, 8, 0, 3, 255, 256, -1),
    # Few distinct projections: each new one draws a matrix.
    "max_chars": lambda call: call.pick(0, 25, 40, 200, 1000, 10**6, 2**64 - 1, -1),
    "common_dims": lambda call: call.pick(0, 1, 16, 128, 2048, 2049, 65535, 65536, -1),
    "output": lambda call: call.pick("codes", "identifiers", "other", None, weights=(4, 4, 1, 1)),
    "workers": lambda call: call.pick(1, 2, 3, -1, 0, -2, 300, 10**20, 1.0, weights=(4, 3, 1, 3, 1, 1, 1, 1, 1)),
    "strs": strs,
    "scorer": scorer,
    "dtype": lambda call: call.pick(None, np.int32, "uint8", np.float32, "f8", bool, "i8", "u2", "i1", ">i4",
                                    "complex128", "U3", object, "no such type", "f2",
                                    weights=(8, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1)),
    "cutoff": lambda call: call.pick(None, 0, 1, 3, 10, 0.5, 0.0, 0.95, -1, math.nan, math.inf, -0.5, 2**64,
                                     10**30, Fraction(1, 2), True, weights=(6,) + (1,) * 15),
    "limit": lambda call: call.pick(None, 0, 1, 2, 5, 100, 2**64, -1),
    "bits": lambda call: call.pick(128, 64, 32, 0, -1, 2**70, 128.0, np.int64(64), weights=(4, 4, 1, 1, 1, 1, 1, 1)),
    "index": new_index,
    "codes": codes,
    "ids": id_list,
    # Large enough to overflow the result's size, never to be allocated.
    "k": lambda call: call.pick(1, 2, 5, 10, 100, 3000, 0, -1, 2**62, 2**63, 10**30,
                                weights=(3, 3, 3, 2, 2, 1, 1, 1, 1, 1, 1)),
    "radius": lambda call: call.pick(0, 1, 2, 8, 50, 64, 128, 129, 10**6, -1, 2**63,
                                     weights=(3, 3, 3, 3, 2, 1, 1, 1, 1, 1, 1)),
    "path": file_path,
    "state": lambda call: call.pick(saved(call), bytearray(saved(call)), b"", "x", None, weights=(8, 1, 1, 1, 1)),
    "protocol": lambda call: call.pick(0, 1, 2, 5, -1, 6),
}
CHANGEABLE = (list, np.ndarray, HammingIndex)  # what the hostile objects and the second thread change


def argument(call: Call, kind: str):
    """A value of the kind, of a wrong type, or a hostile number."""
    value, roll = KINDS[kind](call), call.rng.random()
    if roll < 0.05 and kind != "path":
        value = wrong(call)
    elif roll < 0.2 and isinstance(value, (int, float, Fraction, Decimal, np.generic)):
        value = HostileNumber(call, value)
    call.values.append(value)
    return value


def build(call: Call, params: str):
    """Positional and keyword arguments, now and then with a binding mistake."""
    args, kwargs, by_name = [], {}, False
    for word in params.split():
        name, kind = word.lstrip("*/").split(":")
        if kind.endswith("?") and call.rng.random() < 0.3:
            by_name = True  # the later ones must come by name
            continue
        value = argument(call, kind.rstrip("?!"))
        if kind.endswith("!"):
            call.changed.append(value)
        by_name = name != "self" and word[0] != "/" and (by_name or word[0] == "*" or call.rng.random() < 0.2)
        if by_name:
            kwargs[name] = value
        else:
            args.append(value)
    mistake = call.rng.random()
    if mistake < 0.02:
        kwargs["no_such_parameter"] = 1
    elif mistake < 0.04:
        args.append(1)
    elif mistake < 0.06 and args:
        args.pop()
    return args, kwargs


class Mutator(threading.Thread):
    """Changes the lists and arrays of the call under way in place (never
    resizing) from start_on() to end()."""

    def __init__(self):
        super().__init__(daemon=True)
        self.targets: list = []
        self.active, self.stop = threading.Event(), threading.Event()
        self.busy = threading.Lock()  # held while this thread holds targets
        self.rng, self.moves = random.Random(0), 0

    def start_on(self, targets):
        self.targets = targets
        self.active.set()

    def end(self):
        self.active.clear()
        with self.busy:  # its last move is over and it holds nothing of the call
            self.targets = []

    def run(self):
        while not self.stop.is_set():
            if self.active.wait(0.05):
                with self.busy:
                    for target in self.targets:
                        mutate(self.rng, target, in_place_only=True)
                        self.moves += 1
                    target = None


# ------------------------------------------------------------ checks


def outcome(fn, args, kwargs, allowed):
    try:
        return ("returned", comparable(fn(*args, **kwargs)))
    except HostileError:
        return ("hostile",)
    except allowed as e:
        if not str(e):
            raise Finding(f"{type(e).__name__} without a message") from e
        return ("raised", type(e), str(e))


def comparable(value):
    """A copy to compare by value, holding no str or array of the value
    (those must stay free to be freed while a call runs)."""
    if isinstance(value, str):
        return ("str", type(value).__name__, value.encode("utf-8", "surrogatepass"))
    if isinstance(value, np.ndarray):
        return ("ndarray", value.dtype.str, value.shape, value.tobytes())
    if isinstance(value, (list, tuple)):
        return [comparable(v) for v in value]
    if isinstance(value, dict):
        return {k: comparable(v) for k, v in value.items()}
    if isinstance(value, HammingIndex):
        return ("HammingIndex", value.__reduce__()[2])  # every code, id and the next default id
    if isinstance(value, (mivo.SimilarityOpts, float)):
        return repr(value)  # a NaN as equal as it is exact
    return ("object", type(value).__qualname__) if type(value).__eq__ is object.__eq__ else value


def reference_counts(args, kwargs):
    """Reference counts that only the call could change (no shared small
    numbers, one-character strings or empty tuple), holding none of the
    objects."""
    def counted(objects):
        for obj in objects:
            if isinstance(obj, (list, tuple)):
                yield from counted(obj)
            if isinstance(obj, (*CHANGEABLE, HostileNumber, HostileSequence, HostilePath, mivo.SimilarityOpts,
                                float)) or (
                    isinstance(obj, (str, tuple)) and len(obj) > 1):
                yield obj
    return [(type(o).__name__, sys.getrefcount(o)) for o in counted(list(args) + list(kwargs.values()))]


def run_one(names: list[str], seed: int, index: int, mutator: Mutator) -> tuple[str, str]:
    """Call `index` of the run `seed`: (function, what happened). Raises Finding."""
    call = Call(random.Random(seed << 40 | index))
    name = call.rng.choice(names)
    try:
        return checked_call(name, call, mutator)
    finally:
        call.values.clear()  # no cycle through a hostile object keeps the arguments alive
        call.changed.clear()
        if ":path" in FUNCTIONS[name]:
            fresh_directory()


def fresh_directory():
    """Empties the run's directory, so that each call replays alike; a
    temporary file that save left there is a finding."""
    left = [f for f in os.listdir(TMP) if ".tmp-" in f]
    shutil.rmtree(TMP)
    os.makedirs(os.path.join(TMP, "dir"))
    pathlib.Path(TMP, "empty").touch()
    if left:
        raise Finding(f"save left {left} behind")


def checked_call(name: str, call: Call, mutator: Mutator) -> tuple[str, str]:
    module, _, path = name.partition(".")
    fn = MODULES[module]
    for part in path.split("."):
        fn = getattr(fn, part)
    call.busy = mutator.busy
    args, kwargs = build(call, FUNCTIONS[name])
    allowed = ALLOWED + (OSError,) * (":path" in FUNCTIONS[name])  # a file that cannot be read or written
    threaded = call.rng.random() < (0.1 if module == "mivo" else 0.5)
    # Copies of the indexes the call changes, to repeat it on.
    copies = {} if threaded else {id(v): round_trip(v) for v in call.changed if isinstance(v, HammingIndex)}

    def kept(values):  # the arguments the call must leave as they are
        return [v for v in values if id(v) not in copies]

    snapshot, before = comparable([kept(args), kept(kwargs.values())]), reference_counts(args, kwargs)
    if threaded:
        mutator.start_on([v for v in call.values if isinstance(v, CHANGEABLE)])
    try:
        first = outcome(fn, args, kwargs, allowed)
    except Exception as e:
        raise Finding(f"{name} raised {type(e).__name__}: {e}") from e
    finally:
        if threaded:
            mutator.end()
    if call.disturbed or threaded or first[0] == "hostile":
        return name, "struck" if call.disturbed else "threaded" if threaded else first[0]
    if comparable([kept(args), kept(kwargs.values())]) != snapshot:
        raise Finding(f"{name}: the call changed its arguments")
    after = reference_counts(args, kwargs)  # the same objects, as nothing changed the arguments
    if after != before:
        raise Finding(f"{name}: reference counts changed: {[(b, a) for b, a in zip(before, after) if a != b]}")
    if first[0] == "returned" and "workers" in kwargs:
        kwargs["workers"] = 1  # the same answer for every count
    changed = comparable([args, kwargs])
    args = [copies.get(id(v), v) for v in args]
    kwargs = {k: copies.get(id(v), v) for k, v in kwargs.items()}
    again = outcome(fn, args, kwargs, allowed)
    if again != first:
        raise Finding(f"{name}: a second call gave another answer:\n  {first!r:.300}\n  {again!r:.300}")
    if copies and comparable([args, kwargs]) != changed:
        raise Finding(f"{name}: the call changed a copy of its arguments otherwise")
    return name, first[0]


# ------------------------------------------------------------ the driver


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--seed", type=int, default=None, help="default: from the clock (printed)")
    parser.add_argument("--replay", default=None, help="SEED:INDEX of one call to repeat")
    parser.add_argument("--only", default="", help="call only the functions whose name holds this text")
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    public = {f"{m}.{a}" for m, module in MODULES.items()
              for a in getattr(module, "__all__", ()) if callable(getattr(module, a))}
    if public - set(FUNCTIONS) - NOT_CALLED:
        print(f"fuzz_bindings: no entry for {sorted(public - set(FUNCTIONS) - NOT_CALLED)}", file=sys.stderr)
        return 2
    rng = np.random.default_rng(1)
    for v in rng.standard_normal((2, 300)).astype(np.float32):
        IDENTIFIERS.extend(mivo.encode(v, p) for p in (mivo.Profile.Mini128, mivo.Profile.Morton10x10,
                                                         mivo.Profile.Hilbert10x10))
        IDENTIFIERS.extend([mivo.encode_lossless(v), mivo.encode_compressed(v, 0.3), mivo.encode_max_length(v, 60),
                            mivo.encode_cross_dimensional(v, 16)])
    MINI128.extend(mivo.encode(v, mivo.Profile.Mini128) for v in rng.standard_normal((8, 64)).astype(np.float32))
    mini128 = np.array([list(mivo.decode(t)[2:]) for t in MINI128], np.uint8)
    POOLS[128] = np.concatenate([mini128, rng.integers(0, 256, (248, 16), np.uint8)])
    POOLS[64] = rng.integers(0, 256, (256, 8), np.uint8)
    global TMP
    TMP = tempfile.mkdtemp(prefix="fuzz_bindings-")
    fresh_directory()

    names = sorted(n for n in FUNCTIONS if args.only in n)
    seed, first = (int(x) for x in args.replay.split(":")) if args.replay else (args.seed or time.time_ns() % 10**9, 0)
    counts: dict[str, dict[str, int]] = {n: {} for n in names}
    mutator = Mutator()
    mutator.start()
    sys.setswitchinterval(1e-5)
    # Cycles are collected between calls only (and by the hostile objects):
    # a collection during a call would change its arguments' counts.
    gc.disable()
    deadline = time.monotonic() + args.seconds
    try:
        for index in [first] if args.replay else itertools.count():
            if not args.replay and time.monotonic() >= deadline:
                break
            if index % 1000 == 0:
                gc.collect()
            try:
                name, what = run_one(names, seed, index, mutator)
            except Finding as e:
                print(f"fuzz_bindings: FINDING in call {seed}:{index}: {e}\n  repeat: --replay {seed}:{index}"
                      + (f" --only {args.only}" if args.only else ""), file=sys.stderr)
                return 1
            counts[name][what] = counts[name].get(what, 0) + 1
    finally:
        mutator.stop.set()
        mutator.join()
        shutil.rmtree(TMP, ignore_errors=True)
    total = sum(sum(c.values()) for c in counts.values())
    print(f"fuzz_bindings: seed {seed}, {total} calls, {mutator.moves} moves of the other thread, no finding")
    for name in (n for n in names if counts[n]):
        print(f"  {name:40} " + "  ".join(f"{k} {v}" for k, v in sorted(counts[name].items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
