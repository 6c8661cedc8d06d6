"""The module frame: registration, binding messages, conversions, re-import."""
import importlib
import inspect
import sys

import numpy as np
import pytest

import mivo

_V64 = np.arange(64, dtype=np.float32)
_MINI = mivo.encode(_V64, mivo.Profile.Mini128)
_LOSSLESS = mivo.encode_lossless(_V64)

# Every public function with valid arguments, in registration order. The
# slot-routing test below requires an entry for each registered function.
VALID_ARGS = {
    "levenshtein": {"a": "kitten", "b": "sitting"},
    "normalized_levenshtein": {"a": "kitten", "b": "sitting"},
    "jaro": {"a": "martha", "b": "marhta"},
    "jaro_winkler": {"a": "martha", "b": "marhta"},
    "hamming": {"a": "karolin", "b": "kathrin"},
    "osa_distance": {"a": "ca", "b": "abc"},
    "best_match": {"a": "hello", "b": "hallo"},
    "find_best_match": {"query": "app", "candidates": ["apple", "apply"]},
    "find_matches_above_threshold": {"query": "app", "candidates": ["apple", "banana"], "threshold": 0.5},
    "levenshtein_with_opts": {"a": " A", "b": "a", "opts": mivo.SimilarityOpts(False, True)},
    "simhash": {"text": "iPhone 14"},
    "simhash_distance": {"hash1": 1, "hash2": 2},
    "simhash_similarity": {"a": "iPhone 14", "b": "iPhone 15"},
    "find_similar_hashes": {"query_hash": 1, "candidate_hashes": [1, 3, 2**64 - 1], "max_distance": 1},
    "encode": {"embedding": _V64, "profile": mivo.Profile.Morton10x10},
    "decode": {"mivo_str": "0400"},
    "mivo_hamming_distance": {"mivo1": _MINI, "mivo2": _MINI},
    "encode_lossless": {"embedding": _V64},
    "encode_compressed": {"embedding": _V64, "retention_pct": 0.5},
    "encode_max_length": {"embedding": _V64, "max_chars": 100},
    "decode_to_embedding": {"mivo_str": _LOSSLESS},
    "is_reversible": {"mivo_str": _LOSSLESS},
    "encode_cross_dimensional": {"embedding": _V64, "common_dims": 16},
    "get_metadata": {"mivo_str": _LOSSLESS},
    "embedding_to_bands": {"embedding": [0.5, -1.0, 2.0], "num_bands": 4, "seed": 7},
}


def public_functions():
    return [n for n in mivo.__all__ if callable(getattr(mivo, n)) and not isinstance(getattr(mivo, n), type)]


def test_version_and_all():
    assert mivo.__version__ == "0.4.51"
    assert mivo.__all__[-1] == "__version__"
    assert mivo.__all__[:2] == ["levenshtein", "normalized_levenshtein"]
    for name in mivo.__all__:
        assert hasattr(mivo, name)


def test_module_doc():
    title, body = mivo.__doc__.split("\n\n")
    assert "mivo" in title
    assert body == "A fast library for computing various string similarity metrics."


def test_reimport_returns_same_module():
    first = sys.modules.pop("mivo")
    try:
        again = importlib.import_module("mivo")
        assert again is first
    finally:
        sys.modules["mivo"] = first


@pytest.mark.parametrize("name", public_functions())
def test_text_signature_matches_parameters(name):
    fn = getattr(mivo, name)
    assert fn.__text_signature__ is not None
    params = list(inspect.signature(fn).parameters)
    assert params == list(VALID_ARGS[name])
    assert fn.__doc__.splitlines()[0].endswith(".") or name == "embedding_to_bands"


def test_every_function_has_a_slot_table():
    assert set(public_functions()) <= set(VALID_ARGS)


class Poison:
    """An argument no conversion accepts; it names itself in messages."""


def _slot_cases():
    for name, kwargs in VALID_ARGS.items():
        for i, param in enumerate(kwargs):
            yield name, i, param


@pytest.mark.parametrize("name,index,param", list(_slot_cases()))
@pytest.mark.parametrize("style", ["positional", "keyword", "mixed"])
def test_each_slot_reaches_its_own_parameter(name, index, param, style):
    """Hand-written fastcall parsers are known to read the wrong slot."""
    if name not in mivo.__all__:
        pytest.skip("not registered")
    fn = getattr(mivo, name)
    values = list(VALID_ARGS[name].values())
    names = list(VALID_ARGS[name])
    values[index] = Poison()
    if style == "positional":
        call = lambda: fn(*values)
    elif style == "keyword":
        call = lambda: fn(**dict(zip(reversed(names), reversed(values))))
    else:  # the first parameter by position, the rest by keyword
        call = lambda: fn(values[0], **dict(zip(names[1:], values[1:])))
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value).startswith(f"argument '{param}': ")
    assert "Poison" in str(info.value)
    # And with every slot valid the call goes through, in each style.
    good = list(VALID_ARGS[name].values())
    results = [fn(*good), fn(**dict(zip(names, good))), fn(good[0], **dict(zip(names[1:], good[1:])))]
    for r in results[1:]:
        np.testing.assert_equal(r, results[0])


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: mivo.levenshtein("a"), "levenshtein() missing 1 required positional argument: 'b'"),
        (lambda: mivo.levenshtein(), "levenshtein() missing 2 required positional arguments: 'a' and 'b'"),
        (lambda: mivo.levenshtein(b="x"), "levenshtein() missing 1 required positional argument: 'a'"),
        (lambda: mivo.levenshtein("a", "b", "c"), "levenshtein() takes 2 positional arguments but 3 were given"),
        (lambda: mivo.levenshtein("a", b="x", c=1), "levenshtein() got an unexpected keyword argument 'c'"),
        (lambda: mivo.levenshtein("a", a="b"), "levenshtein() got multiple values for argument 'a'"),
        (lambda: mivo.levenshtein(1, "a"), "argument 'a': 'int' object cannot be cast as 'str'"),
        (lambda: mivo.levenshtein("a", b"a"), "argument 'b': 'bytes' object cannot be cast as 'str'"),
        (lambda: mivo.levenshtein("a", None), "argument 'b': 'NoneType' object cannot be cast as 'str'"),
        # surplus positionals are reported before keyword problems
        (lambda: mivo.levenshtein("a", "b", "c", d=1), "levenshtein() takes 2 positional arguments but 3 were given"),
        # keywords are examined in the order given
        (lambda: mivo.levenshtein("a", x=1, a=2), "levenshtein() got an unexpected keyword argument 'x'"),
        (lambda: mivo.levenshtein("a", a=2, x=1), "levenshtein() got multiple values for argument 'a'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_str_subclass_accepted():
    class S(str):
        pass

    assert mivo.levenshtein(S("kitten"), S("sitting")) == 3


def test_lone_surrogate_raises_interpreter_error_unprefixed():
    with pytest.raises(UnicodeEncodeError) as info:
        mivo.levenshtein("\ud800", "a")
    assert "argument" not in str(info.value)


def test_conversion_error_keeps_cause_of_original():
    # A TypeError raised by the element conversion is re-raised with the
    # parameter prefix; no cause is invented where the original had none.
    with pytest.raises(TypeError) as info:
        mivo.levenshtein(3.5, "a")
    assert info.value.__cause__ is None
