"""The module frame: registration, docstring examples, binding messages,
conversions, re-import."""
import doctest
import functools
import importlib
import inspect
import sys

import mivo_collections
import numpy as np
import pytest

import mivo

from .models import raises

_V64 = np.linspace(-1.0, 1.0, 64, dtype=np.float32)
_MINI_A = mivo.encode(_V64, mivo.Profile.Mini128)
_MINI_B = mivo.encode(_V64[::-1].copy(), mivo.Profile.Mini128)
_LOSSLESS = mivo.encode_lossless(_V64)

# Every public function with valid (and cheap) arguments, in registration
# order; the keys are the parameters.
VALID_ARGS = {
    "levenshtein": {"a": "kitten", "b": "sitting"},
    "normalized_levenshtein": {"a": "kitten", "b": "sitting"},
    "jaro": {"a": "martha", "b": "marhta"},
    "jaro_winkler": {"a": "martha", "b": "marhta"},
    "hamming": {"a": "karolin", "b": "kathrin"},
    "osa_distance": {"a": "ca", "b": "ac"},
    "best_match": {"a": "hello", "b": "hallo"},
    "find_best_match": {"query": "app", "candidates": ["apple", "application", "apply"]},
    "find_matches_above_threshold": {"query": "app", "candidates": ["apple", "banana"], "threshold": 0.5},
    "levenshtein_with_opts": {"a": "  HELLO  ", "b": "hello", "opts": mivo.SimilarityOpts(False, True)},
    "simhash": {"text": "iPhone 14"},
    "simhash_distance": {"hash1": 0, "hash2": 2**64 - 1},
    "simhash_similarity": {"a": "iPhone 14", "b": "iPhone 15"},
    "find_similar_hashes": {"query_hash": 1, "candidate_hashes": [1, 3, 2**64 - 1], "max_distance": 10},
    "encode": {"embedding": _V64, "profile": mivo.Profile.Morton10x10},
    "decode": {"mivo_str": _MINI_A},
    "mivo_hamming_distance": {"mivo1": _MINI_A, "mivo2": _MINI_B},
    "encode_lossless": {"embedding": _V64},
    "encode_compressed": {"embedding": _V64, "retention_pct": 1.0},
    "encode_max_length": {"embedding": _V64, "max_chars": 10**6},
    "decode_to_embedding": {"mivo_str": _LOSSLESS},
    "is_reversible": {"mivo_str": _LOSSLESS},
    "encode_cross_dimensional": {"embedding": _V64, "common_dims": 2},
    "get_metadata": {"mivo_str": _LOSSLESS},
    "embedding_to_bands": {"embedding": [0.5, -1.0, 2.0, 3.0, 4.0], "num_bands": 4, "seed": None},
}

def test_version_all_and_registration_order():
    assert mivo.__version__ == "0.4.51" and mivo.__all__[-1] == "__version__"
    assert [k for k in vars(mivo) if k in set(mivo.__all__)] == mivo.__all__  # attributes created in that order
    functions = [n for n in mivo.__all__ if callable(getattr(mivo, n)) and not isinstance(getattr(mivo, n), type)]
    assert functions == list(VALID_ARGS)
    assert all(getattr(mivo, n).__module__ == "mivo" for n in mivo.__all__[:-1])


def test_reimport_returns_same_module():
    first = sys.modules.pop("mivo")
    try:
        assert importlib.import_module("mivo") is first
    finally:
        sys.modules["mivo"] = first


@pytest.mark.parametrize("name", list(VALID_ARGS) + ["SimilarityOpts"])
def test_signature_and_docstring_examples(name):
    """A signature (stubtest compares it with the stub's, test_typing.py) and
    examples; those of the string functions run as they stand."""
    assert getattr(mivo, name).__text_signature__.startswith("(")
    test = doctest.DocTestParser().get_doctest(getattr(mivo, name).__doc__, {"mivo": mivo}, name, None, 0)
    assert test.examples, "no example"
    if name in list(VALID_ARGS)[:14] + ["SimilarityOpts"]:
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        runner.run(test, out=lambda s: None)
        assert runner.failures == 0, runner.summarize(verbose=False)


@pytest.mark.parametrize("name", ["cdist", "extract", "encode_batch", "bands_batch", "HammingIndex",
                                  "HammingIndex.search"])
def test_companion_signature_defaults_and_docstring_examples(name):
    obj = functools.reduce(getattr, name.split("."), mivo_collections)
    scorer = {"cdist": mivo.levenshtein, "extract": mivo.best_match}.get(name)
    assert scorer is None or inspect.signature(obj).parameters["scorer"].default is scorer
    test = doctest.DocTestParser().get_doctest(obj.__doc__, {}, name, None, 0)
    assert test.examples and doctest.DocTestRunner().run(test, out=lambda s: None).failed == 0


class Poison:
    """An argument no conversion accepts; it names itself in messages."""


@pytest.mark.parametrize("name,index,param", [(n, i, p) for n, kw in VALID_ARGS.items() for i, p in enumerate(kw)])
@pytest.mark.parametrize("style", ["positional", "keyword", "mixed"])
def test_each_slot_reaches_its_own_parameter(name, index, param, style):
    """Hand-written fastcall parsers are known to read the wrong slot."""
    fn = getattr(mivo, name)
    names, good = list(VALID_ARGS[name]), list(VALID_ARGS[name].values())
    bad = good[:index] + [Poison()] + good[index + 1:]

    def call(values):
        if style == "positional":
            return fn(*values)
        if style == "keyword":  # in reverse order
            return fn(**dict(zip(reversed(names), reversed(values))))
        return fn(values[0], **dict(zip(names[1:], values[1:])))

    with pytest.raises(TypeError, match=f"^argument '{param}': .*Poison"):
        call(bad)
    assert repr(call(good)) == repr(fn(*good))  # arrays too: a few values, printed in full


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: mivo.levenshtein("a"), "levenshtein() missing 1 required positional argument: 'b'"),
        (lambda: mivo.levenshtein(), "levenshtein() missing 2 required positional arguments: 'a' and 'b'"),
        (lambda: mivo.find_similar_hashes(), "find_similar_hashes() missing 3 required positional arguments: "
                                             "'query_hash', 'candidate_hashes', and 'max_distance'"),
        (lambda: mivo.levenshtein("a", a="b"), "levenshtein() got multiple values for argument 'a'"),
        (lambda: mivo.levenshtein("a", b"a"), "argument 'b': 'bytes' object cannot be cast as 'str'"),
        (lambda: mivo.levenshtein_with_opts("a", "b", {}),
         "argument 'opts': 'dict' object cannot be cast as 'SimilarityOpts'"),
        # surplus positionals are reported before keyword problems
        (lambda: mivo.levenshtein("a", "b", "c", d=1), "levenshtein() takes 2 positional arguments but 3 were given"),
        # keywords are examined in the order given
        (lambda: mivo.levenshtein("a", x=1, a=2), "levenshtein() got an unexpected keyword argument 'x'"),
        (lambda: mivo.levenshtein("a", a=2, x=1), "levenshtein() got multiple values for argument 'a'"),
        (lambda: mivo.jaro("a", "b", **{"\ud800": 1}), "jaro() got an unexpected keyword argument '\ud800'"),
    ],
)
def test_binding_messages(call, message):
    raises(call, TypeError, message)


def test_string_conversion():
    class S(str):
        pass

    assert mivo.levenshtein(S("kitten"), S("sitting")) == 3
    # The interpreter's own error, without a prefix.
    with pytest.raises(UnicodeEncodeError) as info:
        mivo.levenshtein("\ud800", "a")
    assert "argument" not in str(info.value)
    # Re-raised with the parameter prefix; no cause is invented where the
    # original had none.
    with pytest.raises(TypeError) as info:
        mivo.levenshtein(3.5, "a")
    assert info.value.__cause__ is None
