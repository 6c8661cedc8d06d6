"""The module's classes: the enums' variants, SimilarityOpts' construction,
attributes and repr, and both through pickle and copy."""
import copy
import math
import pickle
import sys

import numpy as np
import pytest

import mivo

from .models import raises

Opts = mivo.SimilarityOpts
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)
VARIANTS = [
    (mivo.Profile, ["Mini128", "Morton10x10", "Hilbert10x10"]),
    (mivo.VectorPrecision, ["Full32", "Half16", "Quant8"]),
    (mivo.DimensionMode, ["Preserve", "Reduce", "Common"]),
]


@pytest.mark.parametrize("cls,names", VARIANTS)
def test_variants(cls, names):
    assert cls.__name__ == cls.__qualname__ and cls.__text_signature__ is None
    assert [a for a in vars(cls) if not a.startswith("__")] == names
    for number, name in enumerate(names):
        inst = getattr(cls, name)
        assert inst is getattr(cls, name) and type(inst) is cls and int(inst) == number
        assert repr(inst) == str(inst) == f"{cls.__name__}.{name}"
        assert inst != number and not isinstance(inst, int) and not hasattr(inst, "__index__")
        assert all(inst != getattr(cls, other) for other in names if other != name)
    # No constructor, no ordering, no replacing the variants.
    first = getattr(cls, names[0])
    refused = [cls, lambda: first < first, lambda: [0, 1, 2][first]]
    if sys.version_info >= (3, 10):  # 3.9 has no immutable classes made at run time
        refused.append(lambda: setattr(cls, names[0], 1))
    for call in refused:
        with pytest.raises(TypeError):
            call()
    assert getattr(cls, names[0]) is first


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, (True, False, 0.1)),
        ((True, True, 0.2), {}, (True, True, 0.2)),
        ((), {"trim_whitespace": True}, (True, True, 0.1)),
        ((np.bool_(False), np.True_), {"prefix_scale": np.float32(0.5)}, (False, True, 0.5)),
        ((), {"prefix_scale": True}, (True, False, 1.0)),
        ((True, False, 0.1, 1), {}, "SimilarityOpts() takes from 0 to 3 positional arguments but 4 were given"),
        ((1,), {}, "argument 'case_sensitive': 'int' object cannot be cast as 'bool'"),
        ((), {"prefix_scale": "0.1"}, "argument 'prefix_scale': must be real number, not str"),
    ],
)
def test_construction(args, kwargs, expected):
    if isinstance(expected, str):
        raises(lambda: Opts(*args, **kwargs), TypeError, expected)
    else:
        o = Opts(*args, **kwargs)
        assert (o.case_sensitive, o.trim_whitespace, o.prefix_scale) == expected
        assert type(o.case_sensitive) is bool and type(o.prefix_scale) is float


@pytest.mark.parametrize(
    "attr, value, expected",
    [
        ("case_sensitive", np.False_, False),
        ("prefix_scale", 3, 3.0),
        ("case_sensitive", 0, "argument 'case_sensitive': 'int' object cannot be cast as 'bool'"),
        ("trim_whitespace", "yes", "argument 'trim_whitespace': 'str' object cannot be cast as 'bool'"),
        ("prefix_scale", None, "argument 'prefix_scale': must be real number, not NoneType"),
    ],
)
def test_assignment(attr, value, expected):
    o = Opts()
    if isinstance(expected, str):  # refused, the object unchanged
        raises(lambda: setattr(o, attr, value), TypeError, expected)
        assert repr(o) == repr(Opts())
    else:
        setattr(o, attr, value)
        assert getattr(o, attr) == expected
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(o, attr)
    with pytest.raises(AttributeError):  # no other attributes
        o.other = 1
    assert o != Opts() and o == o  # equal only to itself


@pytest.mark.parametrize(
    "value, text",
    [(0.1, "0.1"), (1.0, "1"), (1e-7, "0.0000001"), (1.5e22, "15" + "0" * 21), (-0.0, "-0"), (-math.nan, "NaN"),
     (-math.inf, "-inf"), (0.30000000000000004, "0.30000000000000004"), (5e-324, "0." + "0" * 323 + "5")],
)
def test_repr_prefix_scale(value, text):
    assert repr(Opts(False, True, value)) == (
        f"SimilarityOpts(case_sensitive=false, trim_whitespace=true, prefix_scale={text})")


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_variants_unpickle_as_the_same_object(protocol):
    for v in (getattr(cls, name) for cls, names in VARIANTS for name in names):
        assert pickle.loads(pickle.dumps(v, protocol)) is v
        assert copy.copy(v) is v and copy.deepcopy(v) is v
    # Pickled by name, so a stream stays valid whatever the variant numbers.
    assert b"Mini128" in pickle.dumps(mivo.Profile.Mini128, protocol)


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize(
    "fields", [(True, False, 0.1), (False, True, -0.0), (False, False, float("nan")), (True, True, 1e-300)]
)
def test_similarity_opts_round_trip_field_by_field(protocol, fields):
    opts = Opts(*fields)
    for other in (pickle.loads(pickle.dumps(opts, protocol)), copy.copy(opts), copy.deepcopy(opts)):
        assert type(other) is Opts and other is not opts
        assert repr(other) == repr(opts)
        assert np.float64(other.prefix_scale).tobytes() == np.float64(fields[2]).tobytes()
