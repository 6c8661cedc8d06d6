// Module functions of the text SimHash family.
#include "bindings/registry.hpp"
#include "strings/text_simhash.hpp"

namespace mivo::py {
namespace {

constexpr Signature kSimhash{"simhash", {"text"}, 1};
PyObject* simhash_impl(Args& args) {
    std::string_view text;
    if (!args.str(0, text)) return nullptr;
    return py_int(strings::simhash(text));
}

constexpr Signature kSimhashDistance{"simhash_distance", {"hash1", "hash2"}, 2};
PyObject* simhash_distance_impl(Args& args) {
    std::uint64_t h1 = 0, h2 = 0;
    if (!args.u64(0, h1) || !args.u64(1, h2)) return nullptr;
    return py_int(strings::simhash_distance(h1, h2));
}

constexpr Signature kSimhashSimilarity{"simhash_similarity", {"a", "b"}, 2};
PyObject* simhash_similarity_impl(Args& args) {
    std::string_view a, b;
    if (!args.str(0, a) || !args.str(1, b)) return nullptr;
    return py_float(strings::simhash_similarity(a, b));
}

constexpr Signature kFindSimilarHashes{"find_similar_hashes", {"query_hash", "candidate_hashes", "max_distance"}, 3};
PyObject* find_similar_hashes_impl(Args& args) {
    std::uint64_t query = 0;
    std::vector<std::uint64_t> candidates;
    std::uint32_t max_distance = 0;
    if (!args.u64(0, query) || !args.u64_list(1, candidates) || !args.u32(2, max_distance)) return nullptr;
    return py_int_list(strings::find_similar_hashes(query, candidates, max_distance));
}

}  // namespace

PyMethodDef k_simhash = method<kSimhash, simhash_impl>(
    "simhash(text)\n--\n\n"
    "Compute the SimHash fingerprint of a string.\n\n"
    "The text is lowercased; every character trigram and every word (a run\n"
    "of characters between white space) is hashed with 64-bit FNV-1a, and\n"
    "bit b of the fingerprint is set when more tokens have that bit set than\n"
    "clear. Similar texts get fingerprints that differ in few bits. Texts of\n"
    "one or two characters are hashed character by character; the empty text\n"
    "gives 0.\n\n"
    "Args:\n"
    "    text (str): The text to fingerprint\n\n"
    "Returns:\n"
    "    int: The 64-bit fingerprint (0 to 2**64 - 1)\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> hex(mivo.simhash(\"iPhone 14\"))\n"
    "    '0x39a061927e20d7a'");

PyMethodDef k_simhash_distance = method<kSimhashDistance, simhash_distance_impl>(
    "simhash_distance(hash1, hash2)\n--\n\n"
    "Compute the Hamming distance between two SimHash values.\n\n"
    "Args:\n"
    "    hash1 (int): First fingerprint (0 to 2**64 - 1)\n"
    "    hash2 (int): Second fingerprint (0 to 2**64 - 1)\n\n"
    "Returns:\n"
    "    int: The number of differing bits (0 to 64)\n\n"
    "Raises:\n"
    "    OverflowError: A value is negative or above 2**64 - 1\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.simhash_distance(mivo.simhash(\"iPhone 14\"), mivo.simhash(\"iPhone 15\"))\n"
    "    5");

PyMethodDef k_simhash_similarity = method<kSimhashSimilarity, simhash_similarity_impl>(
    "simhash_similarity(a, b)\n--\n\n"
    "Compute the normalized SimHash similarity between two strings.\n\n"
    "1 - d / 64, where d is the Hamming distance of the two fingerprints.\n\n"
    "Args:\n"
    "    a (str): First text\n"
    "    b (str): Second text\n\n"
    "Returns:\n"
    "    float: Similarity between 0.0 and 1.0, a multiple of 1/64\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.simhash_similarity(\"iPhone 14\", \"iPhone 15\")\n"
    "    0.921875");

PyMethodDef k_find_similar_hashes = method<kFindSimilarHashes, find_similar_hashes_impl>(
    "find_similar_hashes(query_hash, candidate_hashes, max_distance)\n--\n\n"
    "Find all hashes within a given distance threshold.\n\n"
    "Args:\n"
    "    query_hash (int): The fingerprint to look up\n"
    "    candidate_hashes (list[int]): Stored fingerprints\n"
    "    max_distance (int): The largest Hamming distance kept (0 to 4294967295)\n\n"
    "Returns:\n"
    "    list[int]: Indices of the candidates within max_distance, ascending\n\n"
    "Raises:\n"
    "    OverflowError: A hash is outside 0 to 2**64 - 1, or max_distance\n"
    "        outside 0 to 4294967295\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> q = mivo.simhash(\"iPhone 14\")\n"
    "    >>> stored = [mivo.simhash(t) for t in [\"iPhone 14 Pro\", \"iPhone 13\", \"Galaxy S23\"]]\n"
    "    >>> mivo.find_similar_hashes(q, stored, 10)\n"
    "    [0, 1]");

}  // namespace mivo::py
