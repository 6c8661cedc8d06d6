"""The classes cross process boundaries: pickle and copy."""
import copy
import pickle

import numpy as np
import pytest

import mivo

from .test_enums import VARIANTS

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


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
    opts = mivo.SimilarityOpts(*fields)
    for other in (pickle.loads(pickle.dumps(opts, protocol)), copy.copy(opts), copy.deepcopy(opts)):
        assert type(other) is mivo.SimilarityOpts and other is not opts
        assert repr(other) == repr(opts)
        assert np.float64(other.prefix_scale).tobytes() == np.float64(fields[2]).tobytes()
    # A copy is independent of the original.
    twin = copy.copy(opts)
    twin.case_sensitive = not fields[0]
    assert opts.case_sensitive is fields[0]
