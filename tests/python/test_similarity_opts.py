"""The SimilarityOpts class: construction, attributes, refusals and repr."""

from __future__ import annotations

import math

import numpy as np
import pytest

import mivo

Opts = mivo.SimilarityOpts


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, (True, False, 0.1)),
        ((False, True), {}, (False, True, 0.1)),
        ((True, True, 0.2), {}, (True, True, 0.2)),
        ((), {"trim_whitespace": True}, (True, True, 0.1)),
        ((np.bool_(False), np.True_), {"prefix_scale": np.float32(0.5)}, (False, True, 0.5)),
        ((), {"prefix_scale": True}, (True, False, 1.0)),
        ((True, False, 0.1, 1), {}, "SimilarityOpts() takes from 0 to 3 positional arguments but 4 were given"),
        ((), {"scale": 1}, "SimilarityOpts() got an unexpected keyword argument 'scale'"),
        ((True,), {"case_sensitive": True}, "SimilarityOpts() got multiple values for argument 'case_sensitive'"),
        ((1,), {}, "argument 'case_sensitive': 'int' object cannot be cast as 'bool'"),
        ((), {"prefix_scale": "0.1"}, "argument 'prefix_scale': must be real number, not str"),
    ],
)
def test_construction(args, kwargs, expected):
    if isinstance(expected, str):
        with pytest.raises(TypeError) as info:
            Opts(*args, **kwargs)
        assert str(info.value) == expected
    else:
        o = Opts(*args, **kwargs)
        assert (o.case_sensitive, o.trim_whitespace, o.prefix_scale) == expected
        assert type(o.case_sensitive) is bool and type(o.prefix_scale) is float


@pytest.mark.parametrize(
    "attr, value, expected",
    [
        ("case_sensitive", np.False_, False),
        ("trim_whitespace", True, True),
        ("prefix_scale", 3, 3.0),
        ("case_sensitive", 0, "argument 'case_sensitive': 'int' object cannot be cast as 'bool'"),
        ("trim_whitespace", "yes", "argument 'trim_whitespace': 'str' object cannot be cast as 'bool'"),
        ("prefix_scale", None, "argument 'prefix_scale': must be real number, not NoneType"),
    ],
)
def test_assignment(attr, value, expected):
    o = Opts()
    if isinstance(expected, str):  # refused, the object unchanged
        with pytest.raises(TypeError) as info:
            setattr(o, attr, value)
        assert str(info.value) == expected and repr(o) == repr(Opts())
    else:
        setattr(o, attr, value)
        assert getattr(o, attr) == expected
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(o, attr)


def test_no_other_attributes_and_identity_equality():
    o = Opts()
    with pytest.raises(AttributeError):
        o.other = 1
    assert o != Opts() and o == o
    assert Opts.__module__ == "mivo" and Opts.__qualname__ == "SimilarityOpts"


@pytest.mark.parametrize(
    "value, text",
    [(0.1, "0.1"), (1.0, "1"), (1e-7, "0.0000001"), (1e21, "1" + "0" * 21), (-0.0, "-0"), (0.0, "0"),
     (math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"), (-2.5e-3, "-0.0025"),
     (1.5e22, "15" + "0" * 21), (0.30000000000000004, "0.30000000000000004"), (5e-324, "0." + "0" * 323 + "5"),
     (1.7976931348623157e308, "17976931348623157" + "0" * 292)],
)
def test_repr_prefix_scale(value, text):
    assert repr(Opts(False, True, value)) == (
        f"SimilarityOpts(case_sensitive=false, trim_whitespace=true, prefix_scale={text})")
