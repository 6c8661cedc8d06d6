"""Type information for the mivo extension module.

String similarity over Unicode scalar values, 64-bit text SimHash, and
compact base32hex identifiers for float32 embedding vectors.
"""

import sys
from typing import Any, ClassVar, Literal, Optional, Sequence, SupportsFloat, SupportsIndex, Union, final

import numpy as np
import numpy.typing as npt

if sys.version_info >= (3, 11):
    from typing import NotRequired, TypedDict
else:
    from typing_extensions import NotRequired, TypedDict

__all__ = [
    "levenshtein",
    "normalized_levenshtein",
    "jaro",
    "jaro_winkler",
    "hamming",
    "osa_distance",
    "best_match",
    "find_best_match",
    "find_matches_above_threshold",
    "levenshtein_with_opts",
    "simhash",
    "simhash_distance",
    "simhash_similarity",
    "find_similar_hashes",
    "SimilarityOpts",
    "encode",
    "decode",
    "mivo_hamming_distance",
    "Profile",
    "encode_lossless",
    "encode_compressed",
    "encode_max_length",
    "decode_to_embedding",
    "is_reversible",
    "encode_cross_dimensional",
    "get_metadata",
    "VectorPrecision",
    "DimensionMode",
    "embedding_to_bands",
    "__version__",
]

__version__: str

# Anything the interpreter's float protocol accepts (float, int, bool,
# objects with __float__ or __index__).
_FloatLike = Union[SupportsFloat, SupportsIndex]
# A one-dimensional, contiguous float32 array (native byte order).
_Embedding = npt.NDArray[np.float32]
# Any sequence of numbers, or a numeric NumPy array (read element by element).
_FloatSequence = Union[Sequence[_FloatLike], npt.NDArray[np.floating[Any]], npt.NDArray[np.integer[Any]]]
# True, False or a NumPy Boolean scalar.
_BoolLike = Union[bool, np.bool_]

class _Match(TypedDict):
    """A candidate found by find_best_match / find_matches_above_threshold."""

    index: int
    score: float

class _Metadata(TypedDict):
    """Header fields of a FullVector identifier, in this key order."""

    original_dims: int
    encoded_dims: int
    is_lossless: bool
    has_dimension_reduction: bool
    precision_bits: NotRequired[int]  # only for bit-packed precision
    precision: Literal["Full32", "Half16", "Quant8", "Bits"]
    dimension_mode: Literal["Preserve", "Reduce", "Common"]

# ------------------------------------------------------------ string similarity

def levenshtein(a: str, b: str) -> int:
    """Compute the Levenshtein distance between two strings."""

def normalized_levenshtein(a: str, b: str) -> float:
    """Compute the normalized Levenshtein similarity between two strings."""

def jaro(a: str, b: str) -> float:
    """Compute the Jaro similarity between two strings."""

def jaro_winkler(a: str, b: str) -> float:
    """Compute the Jaro-Winkler similarity between two strings."""

def hamming(a: str, b: str) -> Optional[int]:
    """Compute the Hamming distance between two strings."""

def osa_distance(a: str, b: str) -> int:
    """Compute the OSA (Optimal String Alignment) distance between two strings."""

def best_match(a: str, b: str) -> float:
    """Compute the best matching similarity between two strings."""

def find_best_match(query: str, candidates: Sequence[str]) -> _Match:
    """Find the best match for a query string in a list of candidates."""

def find_matches_above_threshold(query: str, candidates: Sequence[str], threshold: _FloatLike) -> list[_Match]:
    """Find all matches above a threshold score."""

def levenshtein_with_opts(a: str, b: str, opts: SimilarityOpts) -> int:
    """Compute Levenshtein distance with custom options."""

def simhash(text: str) -> int:
    """Compute the SimHash fingerprint of a string."""

def simhash_distance(hash1: SupportsIndex, hash2: SupportsIndex) -> int:
    """Compute the Hamming distance between two SimHash values."""

def simhash_similarity(a: str, b: str) -> float:
    """Compute the normalized SimHash similarity between two strings."""

def find_similar_hashes(
    query_hash: SupportsIndex, candidate_hashes: Sequence[SupportsIndex], max_distance: SupportsIndex
) -> list[int]:
    """Find all hashes within a given distance threshold."""

@final
class SimilarityOpts:
    """Options for configuring string similarity algorithms."""

    def __new__(
        cls, case_sensitive: _BoolLike = True, trim_whitespace: _BoolLike = False, prefix_scale: _FloatLike = 0.1
    ) -> SimilarityOpts: ...
    @property
    def case_sensitive(self) -> bool: ...
    @case_sensitive.setter
    def case_sensitive(self, value: _BoolLike) -> None: ...
    @property
    def trim_whitespace(self) -> bool: ...
    @trim_whitespace.setter
    def trim_whitespace(self, value: _BoolLike) -> None: ...
    @property
    def prefix_scale(self) -> float: ...
    @prefix_scale.setter
    def prefix_scale(self, value: _FloatLike) -> None: ...

# -------------------------------------------------------------- enumerations

@final
class Profile:
    """Encoding profile for embedding vectors."""

    Mini128: ClassVar[Profile]
    Morton10x10: ClassVar[Profile]
    Hilbert10x10: ClassVar[Profile]
    def __int__(self) -> int: ...

@final
class VectorPrecision:
    """Precision options for full vector encoding."""

    Full32: ClassVar[VectorPrecision]
    Half16: ClassVar[VectorPrecision]
    Quant8: ClassVar[VectorPrecision]
    def __int__(self) -> int: ...

@final
class DimensionMode:
    """Dimension handling mode for full vector encoding."""

    Preserve: ClassVar[DimensionMode]
    Reduce: ClassVar[DimensionMode]
    Common: ClassVar[DimensionMode]
    def __int__(self) -> int: ...

# ------------------------------------------------------------ identifiers

def encode(embedding: _Embedding, profile: Profile) -> str:
    """Encode an embedding vector to an MIVO string."""

def decode(mivo_str: str) -> bytes:
    """Decode an MIVO string to raw bytes."""

def mivo_hamming_distance(mivo1: str, mivo2: str) -> int:
    """Compute Hamming distance between two MIVO strings."""

def encode_lossless(embedding: _Embedding) -> str:
    """Encode an embedding using lossless full vector encoding."""

def encode_compressed(embedding: _Embedding, retention_pct: _FloatLike) -> str:
    """Encode an embedding with percentage-based compression."""

def encode_max_length(embedding: _Embedding, max_chars: SupportsIndex) -> str:
    """Encode an embedding with a maximum output string length constraint."""

def decode_to_embedding(mivo_str: str) -> Optional[npt.NDArray[np.float32]]:
    """Decode an MIVO string back to an embedding vector."""

def is_reversible(mivo_str: str) -> bool:
    """Check if an MIVO can be decoded back to an embedding."""

def encode_cross_dimensional(embedding: _Embedding, common_dims: SupportsIndex) -> str:
    """Encode an embedding for cross-dimensional comparison."""

def get_metadata(mivo_str: str) -> Optional[_Metadata]:
    """Get metadata about a FullVector MIVO."""

def embedding_to_bands(
    embedding: _FloatSequence, num_bands: SupportsIndex = 4, seed: Optional[SupportsIndex] = None
) -> list[str]:
    """Generate LSH bands from an embedding for database querying"""
