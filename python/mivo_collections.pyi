"""Type information for the mivo_collections extension module: mivo's
functions over many items at once."""

import os
from collections.abc import Callable, Iterable, Sequence
from typing import Any, Literal, SupportsIndex, final, overload

import numpy as np
import numpy.typing as npt

from mivo import Profile

__all__ = [
    "encode_batch",
    "bands_batch",
    "HammingIndex",
    "cdist",
    "extract",
]

__version__: str

_Matrix = npt.NDArray[np.float32] | npt.NDArray[np.float64]

@overload
def encode_batch(
    X: _Matrix, profile: Profile = ..., *, output: Literal["codes"] = "codes", workers: int = 1
) -> npt.NDArray[np.uint8]: ...
@overload
def encode_batch(
    X: _Matrix, profile: Profile = ..., *, output: Literal["identifiers"], workers: int = 1
) -> list[str]: ...
def bands_batch(X: _Matrix, num_bands: int = 16, *, workers: int = 1) -> list[list[str]]: ...

# Codes: an (n, bits / 8) uint8 array; for 128 bits also a list of Mini128
# identifiers, for 64 bits also a 1-D integer array or a list of ints.
_Codes = npt.NDArray[np.uint8] | npt.NDArray[np.integer[Any]] | Sequence[str] | Sequence[SupportsIndex]
_Ids = npt.NDArray[np.integer[Any]] | Sequence[SupportsIndex]
_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]
_Found = tuple[npt.NDArray[np.int32], npt.NDArray[np.int64]]

@final
class HammingIndex:
    def __new__(cls, bits: SupportsIndex) -> HammingIndex: ...
    @property
    def bits(self) -> int: ...
    def __len__(self) -> int: ...
    def add(self, codes: _Codes, ids: _Ids | None = None) -> None: ...
    def remove(self, ids: _Ids) -> int: ...
    def search(self, queries: _Codes, k: SupportsIndex, *, workers: SupportsIndex = 1) -> _Found: ...
    def range_search(self, queries: _Codes, radius: SupportsIndex, *, workers: SupportsIndex = 1) -> list[_Found]: ...
    def save(self, path: _Path) -> None: ...
    @classmethod
    def load(cls, path: _Path) -> HammingIndex: ...
    def __reduce__(self) -> tuple[type[HammingIndex], tuple[int], bytes]: ...
    def __setstate__(self, state: bytes, /) -> None: ...

# One of mivo's string functions, or its name.
_Scorer = (
    Callable[[str, str], float]
    | Literal["levenshtein", "normalized_levenshtein", "jaro", "jaro_winkler", "osa_distance", "best_match"]
)

def cdist(
    queries: Iterable[str],
    choices: Iterable[str],
    scorer: _Scorer = ...,
    *,
    dtype: npt.DTypeLike | None = None,
    score_cutoff: float | None = None,
    workers: int = 1,
) -> npt.NDArray[Any]: ...
def extract(
    query: str,
    choices: Iterable[str],
    scorer: _Scorer = ...,
    *,
    limit: int | None = 5,
    score_cutoff: float | None = None,
) -> list[tuple[str, float, int]]: ...
