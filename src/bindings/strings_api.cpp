// Module functions of the string-similarity family.
#include "bindings/registry.hpp"
#include "strings/levenshtein.hpp"

namespace mivo::py {
namespace {

// Converts `a` then `b` with the string conversion.
bool two_strings(Args& args, std::string_view& a, std::string_view& b) { return args.str(0, a) && args.str(1, b); }

constexpr Signature kLevenshtein{"levenshtein", {"a", "b"}, 2};
PyObject* levenshtein_impl(Args& args) {
    std::string_view a, b;
    if (!two_strings(args, a, b)) return nullptr;
    return py_int(strings::levenshtein(a, b));
}

constexpr Signature kNormalizedLevenshtein{"normalized_levenshtein", {"a", "b"}, 2};
PyObject* normalized_levenshtein_impl(Args& args) {
    std::string_view a, b;
    if (!two_strings(args, a, b)) return nullptr;
    return py_float(strings::normalized_levenshtein(a, b));
}

}  // namespace

PyMethodDef k_levenshtein = method<kLevenshtein, levenshtein_impl>(
    "levenshtein(a, b)\n--\n\n"
    "Compute the Levenshtein distance between two strings.\n\n"
    "The distance is the smallest number of single-character insertions,\n"
    "deletions and substitutions that turn one string into the other,\n"
    "counted in Unicode code points (no normalisation, no case folding).\n\n"
    "Args:\n"
    "    a (str): First string\n"
    "    b (str): Second string\n\n"
    "Returns:\n"
    "    int: The edit distance\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.levenshtein(\"kitten\", \"sitting\")\n"
    "    3");

PyMethodDef k_normalized_levenshtein = method<kNormalizedLevenshtein, normalized_levenshtein_impl>(
    "normalized_levenshtein(a, b)\n--\n\n"
    "Compute the normalized Levenshtein similarity between two strings.\n\n"
    "The similarity is 1 - distance / length of the longer string, from 0.0\n"
    "(nothing in common) to 1.0 (identical; two empty strings give 1.0).\n\n"
    "Args:\n"
    "    a (str): First string\n"
    "    b (str): Second string\n\n"
    "Returns:\n"
    "    float: Similarity between 0.0 and 1.0\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.normalized_levenshtein(\"hello\", \"hallo\")\n"
    "    0.8");

}  // namespace mivo::py
