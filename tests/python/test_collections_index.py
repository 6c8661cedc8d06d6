"""mivo_collections.HammingIndex as Python sees it: every input form searched
against mivo's one-pair distances, the refusals, the saved form (round trip
and damaged files), pickling, threads and Ctrl-C. The kernels, the cutting
of the work, the tie rule and remove are tested in C++
(tests/cpp/test_hamming_index.cpp)."""

import copy
import os
import pickle
import signal
import threading
import time

import numpy as np
import pytest
from mivo_collections import HammingIndex

import mivo

from .models import raises

RNG = np.random.default_rng(20)


def _identifiers(n, seed):
    """Mini128 identifiers of vectors near four centres, some repeated, so
    that distances cluster and tie."""
    rng = np.random.default_rng(seed)
    X = rng.standard_normal((4, 96)).astype(np.float32)[rng.integers(0, 4, n)]
    X += 0.4 * rng.standard_normal((n, 96)).astype(np.float32)
    X[rng.integers(0, n, n // 5)] = X[rng.integers(0, n, n // 5)]
    return [mivo.encode(x, mivo.Profile.Mini128) for x in X]


def _simhashes(n, seed):
    """Text SimHash values of near-duplicate texts (top bit cleared, so that
    an int64 array holds them too)."""
    rng = np.random.default_rng(seed)
    words = ["red", "green", "blue", "apple", "pear", "iphone", "galaxy", "14", "15", "pro"]
    return [mivo.simhash(" ".join(rng.choice(words, 4))) & (2**63 - 1) for _ in range(n)]


def _rows(identifiers):
    return np.array([list(mivo.decode(t)[2:]) for t in identifiers], dtype=np.uint8).reshape(-1, 16)


FORMS = {
    128: {
        "uint8 rows": _rows,
        "strided uint8 rows": lambda t: np.asfortranarray(np.repeat(_rows(t), 2, axis=1)[:, ::2]),
        "identifier list": list,
        "identifier tuple": tuple,
    },
    64: {
        "int list": list,
        "uint64 array": lambda v: np.array(v, dtype=np.uint64),
        "int64 array": lambda v: np.array(v, dtype=np.int64),
        "big-endian uint8 rows": lambda v: np.array(v, dtype=">u8").view(np.uint8).reshape(-1, 8),
    },
}
DATA = {128: (_identifiers, mivo.mivo_hamming_distance), 64: (_simhashes, mivo.simhash_distance)}


def as_pairs(distances, ids):
    return [list(zip(d.tolist(), i.tolist())) for d, i in zip(distances, ids)]


@pytest.mark.parametrize("bits, form", [(b, f) for b in FORMS for f in FORMS[b]])
def test_search_and_range_search_match_one_pair_distances(bits, form):
    """Codes in one form, queries in the next one: every form stores the
    bytes the others do."""
    make, distance = DATA[bits]
    items = make(220, bits)
    stored, queries = items[:200], items[190:]  # some queries are stored codes
    ids = RNG.integers(0, 120, 200)  # repeated on purpose
    names = list(FORMS[bits])
    as_form, query_form = FORMS[bits][form], FORMS[bits][names[(names.index(form) + 1) % len(names)]]
    index = HammingIndex(bits)
    index.add(as_form(stored[:150]), ids=ids[:150])
    index.add(as_form(stored[150:]), ids=list(ids[150:]))
    gone = [int(ids[0]), int(ids[7]), 10**12]
    assert index.remove(np.array(gone)) == int(np.isin(ids, gone).sum())
    kept = [(s, i) for s, i in zip(stored, ids.tolist()) if i not in gone]
    assert len(index) == len(kept)
    model = [sorted((distance(q, s), i) for s, i in kept) for q in queries]
    for k in (7, len(kept) + 5):
        distances, found = index.search(query_form(queries), k, workers=2)
        assert distances.dtype == np.int32 and found.dtype == np.int64 and found.shape == (len(queries), k)
        assert as_pairs(distances, found) == [(m + [(-1, -1)] * k)[:k] for m in model]
    got = [list(zip(d.tolist(), i.tolist())) for d, i in index.range_search(query_form(queries), 9)]
    assert got == [[p for p in m if p[0] <= 9] for m in model]


def test_an_empty_index_pads_and_64_bit_values_are_taken_whole():
    index = HammingIndex(64)
    distances, ids = index.search([5, 6], 3)
    assert distances.tolist() == ids.tolist() == [[-1] * 3] * 2
    assert [d.size for pair in index.range_search([5], 64) for d in pair] == [0, 0]
    assert index.search([], 2)[0].shape == (0, 2)
    index.add([0, 2**64 - 1])
    index.add(np.array([2**63], dtype=np.uint64))
    assert len(index) == 3 and repr(index) == "<mivo_collections.HammingIndex bits=64, 3 codes>" and index.bits == 64
    assert as_pairs(*index.search([1], 4)) == [[(1, 0), (2, 2), (63, 1), (-1, -1)]]


# ------------------------------------------------------------------ refusals

_MINI = _identifiers(3, 0)
_MORTON = mivo.encode(np.linspace(-1, 1, 64, dtype=np.float32), mivo.Profile.Morton10x10)
_FULL = mivo.encode_lossless(np.linspace(-1, 1, 64, dtype=np.float32))


@pytest.mark.parametrize(
    "bits, call, exc, message",
    [
        (128, lambda ix: HammingIndex(32), ValueError,
         "bits must be 128 (Mini128 payloads) or 64 (mivo.simhash values), got 32"),
        (128, lambda ix: HammingIndex("128"), TypeError, "argument 'bits': "),
        (128, lambda ix: ix.add(_MINI[0]), TypeError,
         "codes must be an (n, 16) uint8 array or a list of Mini128 identifiers, not a single str (put it in a list)"),
        (64, lambda ix: ix.add({1, 2}), TypeError,
         "codes must be an (n, 8) uint8 array, a 1-D uint64 array or a list of ints, got 'set'"),
        (128, lambda ix: ix.add(np.zeros(16, np.uint8)), ValueError,
         "codes must have shape (n, 16) for 128-bit codes, got shape (16,)"),
        (128, lambda ix: ix.add(np.zeros((2, 16), np.int64)), TypeError,
         "codes must be a uint8 (n, 16) array, got dtype int64"),
        (64, lambda ix: ix.add(np.zeros((2, 2), np.uint64)), ValueError,
         "codes as integers must be 1-D (one 64-bit code each), got shape (2, 2)"),
        (64, lambda ix: ix.add(np.array([4, -3])), ValueError, "codes[1] is -3: 64-bit codes run from 0 to 2**64 - 1"),
        (128, lambda ix: ix.add([_MINI[0], 5]), TypeError, "argument 'codes': 'int' object cannot be cast as 'str'"),
        (128, lambda ix: ix.add([_MORTON]), ValueError, "codes[0]: Profile mismatch: expected Mini128, got Type 0x2"),
        (128, lambda ix: ix.search([_MINI[0], _FULL], 1), ValueError, "queries[1]: Invalid ID header"),
        (128, lambda ix: ix.add(_MINI, ids=[1, 2]), ValueError, "ids has 2 items for 3 codes"),
        (128, lambda ix: ix.add(_MINI, ids=[1, -1, 2]), ValueError,
         "ids[1] is -1: ids must be 0 or more (-1 pads search results)"),
        (128, lambda ix: ix.add(_MINI, ids=np.ones(3)), TypeError,
         "ids must be a 1-D integer array, got dtype float64 and shape (3,)"),
        (128, lambda ix: ix.remove("ab"), TypeError, "ids must be a 1-D int64 array or a list of ints, got 'str'"),
        (128, lambda ix: ix.remove([1.5]), TypeError, "argument 'ids': "),
        (128, lambda ix: ix.search(_MINI, 0), ValueError, "k must be 1 or more, got 0"),
        (128, lambda ix: ix.search(_MINI, "3"), TypeError, "argument 'k': "),
        (128, lambda ix: ix.range_search(_MINI, -1), ValueError, "radius must be 0 or more, got -1"),
        (128, lambda ix: ix.save(3), TypeError, "argument 'path': "),
        (128, lambda ix: ix.__setstate__("x"), TypeError,
         "the state of a HammingIndex is the bytes of its saved form, got 'str'"),
        (64, lambda ix: ix.__setstate__(HammingIndex(128).__reduce__()[2]),
         ValueError, "the pickled HammingIndex holds 128-bit codes, this one 64-bit"),
    ],
)
def test_refusals_say_what_was_expected_and_change_nothing(bits, call, exc, message):
    index = HammingIndex(bits)
    index.add([_MINI[2]] if bits == 128 else [9])
    raises(lambda: call(index), exc, message)
    assert len(index) == 1 and index.search([_MINI[2]] if bits == 128 else [9], 1)[1].tolist() == [[0]]


# --------------------------------------------------------------- saved form


def _filled(bits):
    index = HammingIndex(bits)
    index.add(DATA[bits][0](40, 1), ids=np.arange(40) % 30)
    index.remove([3, 4])  # 36 codes left
    return index


@pytest.mark.parametrize("bits", [128, 64])
def test_save_load_and_pickle_keep_codes_ids_and_numbering(tmp_path, bits):
    index = _filled(bits)
    queries = DATA[bits][0](5, 2)
    want = index.search(queries, 50)
    path = tmp_path / "codes.idx"
    index.save(path)
    assert os.listdir(tmp_path) == ["codes.idx"]  # the temporary file was renamed
    assert path.stat().st_size == 64 + len(index) * (bits // 8 + 8)
    for copy_ in (HammingIndex.load(path), HammingIndex.load(str(path)), HammingIndex.load(bytes(path)),
                  pickle.loads(pickle.dumps(index)), copy.deepcopy(index)):
        assert copy_.bits == bits and len(copy_) == len(index)
        np.testing.assert_array_equal(copy_.search(queries, 50)[1], want[1])
        copy_.add(queries[:1])
        assert copy_.search(queries[:1], 1)[1].tolist() == [[40]]  # numbering goes on after the 40 added
    _filled(64).save(path)  # replaces the file
    assert HammingIndex.load(path).bits == 64


def _with(data, at, value):
    return data[:at] + bytes([value]) + data[at + 1 :]


_DATA = bytes(_filled(128).__reduce__()[2])  # 36 codes: 64 + 36 * 24 = 928 bytes
_END = len(_DATA)
_CHECKSUM = "is damaged: its checksum does not match its contents"


def _sizes(kind, size, codes=36):
    return f"is {kind}: {size} bytes, which does not match the {codes} codes of 16 bytes its header announces"


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "is not a HammingIndex file (it does not begin with the index magic)"),
        (b"PK\x03\x04" + bytes(100), "is not a HammingIndex file (it does not begin with the index magic)"),
        (_DATA[:31], "is truncated: 31 bytes, shorter than the 32-byte header"),
        (_DATA[:32], _sizes("truncated", 32)),
        (_DATA[:-1], _sizes("truncated", _END - 1)),
        (_with(_DATA, 16, 35), _sizes("damaged", _END, 35)),
        (_with(_DATA, 8, 2), "has format version 2, and this build reads version 1"),
        (_with(_DATA, 12, 12), "has code size 12 (8 or 16 bytes expected)"),
        (_with(_DATA, 24, 99), _CHECKSUM),  # the next id
        (_with(_DATA, _END - 40, _DATA[_END - 40] ^ 128), _CHECKSUM),  # an id
    ],
    ids=lambda v: f"{len(v)} bytes" if isinstance(v, bytes) else v.split(":")[0].split(" (")[0],
)
def test_damaged_files_are_refused_naming_the_problem(tmp_path, data, message):
    path = tmp_path / "bad.idx"
    path.write_bytes(data)
    raises(lambda: HammingIndex.load(path), ValueError, f"{str(path)!r} {message}")
    raises(lambda: HammingIndex(128).__setstate__(data), ValueError, f"the pickled HammingIndex {message}")


def test_every_cut_and_every_flipped_byte_is_refused():
    small = _filled(64)
    small.remove(list(range(30)))
    for index in (HammingIndex(64), small):
        saved = bytes(index.__reduce__()[2])
        damaged = [saved[:cut] for cut in range(len(saved))]
        damaged += [_with(saved, at, saved[at] ^ bit) for at in range(len(saved)) for bit in (1, 128)]
        for data in damaged:
            with pytest.raises(ValueError):
                HammingIndex(64).__setstate__(data)


def test_missing_files_and_folders_are_os_errors(tmp_path):
    raises(lambda: HammingIndex.load(tmp_path / "none.idx"), FileNotFoundError)
    raises(lambda: HammingIndex.load(tmp_path), IsADirectoryError)
    raises(lambda: HammingIndex(64).save(tmp_path / "no" / "x.idx"), FileNotFoundError)
    assert os.listdir(tmp_path) == []


class _Resizing:
    """An int whose conversion first resizes an array in place, freeing its
    memory, and overwrites it: what Python code run by a later argument's
    conversion may do."""

    def __init__(self, value, array):
        self.value, self.array = value, array

    def __index__(self):
        self.array.resize((len(self.array) + 10, self.array.shape[1]), refcheck=False)
        self.array[...] = 0xFF
        return self.value


@pytest.mark.parametrize("bits", [128, 64])
def test_arrays_are_read_before_later_arguments_run_python_code(bits):
    rows = RNG.integers(0, 256, (50, bits // 8), dtype=np.uint8)
    index = HammingIndex(bits)
    index.add(rows)
    q = rows[:4] ^ 1
    assert as_pairs(*index.search(q, _Resizing(3, q))) == as_pairs(*index.search(rows[:4] ^ 1, 3))
    q, radius = rows[:4] ^ 1, bits // 8  # each query's row among the finds
    found = [as_pairs([d], [i]) for d, i in index.range_search(q, _Resizing(radius, q))]
    assert found == [as_pairs([d], [i]) for d, i in index.range_search(rows[:4] ^ 1, radius)] and found[0][0]
    # The codes are read after the ids: as the ids' conversion left them.
    codes = rows.copy()
    raises(lambda: index.add(codes, ids=[_Resizing(0, codes), *range(1, 50)]), ValueError,
           "ids has 50 items for 60 codes")
    assert len(index) == 50


# ------------------------------------------------------------------ threads


def test_searches_during_adds_see_one_consistent_state():
    codes = RNG.integers(0, 256, (60_000, 16), dtype=np.uint8)
    queries = codes[RNG.integers(0, 60_000, 40)] ^ RNG.integers(0, 2, (40, 16), dtype=np.uint8)
    batches = [codes[:20_000]] + [codes[i : i + 8_000] for i in range(20_000, 60_000, 8_000)]
    serial, answers = HammingIndex(128), []  # the answer after each add, searched alone
    for batch in batches:
        serial.add(batch)
        answers.append(b"".join(a.tobytes() for a in serial.search(queries, 5)))
    index, seen, errors = HammingIndex(128), [], []
    index.add(batches[0])
    started, added = threading.Barrier(3, timeout=60), threading.Event()

    def search():
        try:
            seen.append(index.search(queries, 5, workers=2))
            started.wait()
            while not added.is_set():
                seen.append(index.search(queries, 5, workers=2))
            seen.append(index.search(queries, 5))
        except BaseException as e:  # noqa: B036 - reported below
            errors.append(e)

    threads = [threading.Thread(target=search) for _ in range(2)]
    for t in threads:
        t.start()
    started.wait()
    for batch in batches[1:]:
        time.sleep(0.002)
        index.add(batch)
    added.set()
    for t in threads:
        t.join()
    assert not errors
    states = {answers.index(b"".join(a.tobytes() for a in got)) for got in seen}  # each one state, searched alone
    assert {0, len(batches) - 1} <= states


def test_ctrl_c_stops_a_long_search_and_leaves_the_index():
    index = HammingIndex(128)
    index.add(RNG.integers(0, 256, (1_000_000, 16), dtype=np.uint8))
    queries = RNG.integers(0, 256, (20_000, 16), dtype=np.uint8)  # some seconds of work
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    start = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        index.search(queries, 10, workers=2)
    stopped = time.perf_counter() - start
    timer.join()
    # About 0.1 s after the signal on a quiet machine; the sanitizer only
    # checks that nothing is left behind.
    assert stopped < 0.3 + 0.5 or os.environ.get("MIVO_SANITIZER"), stopped
    assert len(index) == 1_000_000 and index.search(queries[:2], 1)[0].shape == (2, 1)
