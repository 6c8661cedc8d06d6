// Module functions of the string-similarity family.
#include "bindings/registry.hpp"
#include "strings/best_match.hpp"
#include "strings/jaro_winkler.hpp"
#include "strings/hamming.hpp"
#include "strings/levenshtein.hpp"
#include "strings/osa.hpp"

namespace mivo::py {
namespace {

// The functions of two strings: convert `a`, then `b`, and convert the
// library result.
template <auto Metric, auto Result>
PyObject* pair_impl(Args& args) {
    std::string_view a, b;
    if (!args.str(0, a) || !args.str(1, b)) return nullptr;
    return Result(Metric(a, b));
}

PyObject* py_optional_int(std::optional<std::uint64_t> v) { return v ? py_int(*v) : py_none(); }

// A converted str's own storage: CPython keeps every str decoded, as an
// array of 1-, 2- or 4-byte code points.
strings::FixedWidthText stored_text(PyObject* s) {
    return {PyUnicode_DATA(s), static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)),
            static_cast<unsigned>(PyUnicode_KIND(s))};
}

// Metrics over code points run on the stored arrays once the UTF-8
// conversion has accepted both arguments (its errors stay the same).
template <auto Metric, auto Result>
PyObject* stored_pair_impl(Args& args) {
    std::string_view a, b;
    if (!args.str(0, a) || !args.str(1, b)) return nullptr;
    return Result(Metric(stored_text(args.raw(0)), stored_text(args.raw(1))));
}

constexpr std::uint64_t (*kLevenshteinStored)(strings::FixedWidthText, strings::FixedWidthText) = strings::levenshtein;
constexpr double (*kNormalizedLevenshteinStored)(strings::FixedWidthText,
                                                 strings::FixedWidthText) = strings::normalized_levenshtein;
constexpr std::uint64_t (*kOsaStored)(strings::FixedWidthText, strings::FixedWidthText) = strings::osa_distance;
constexpr std::optional<std::uint64_t> (*kHammingStored)(strings::FixedWidthText,
                                                         strings::FixedWidthText) = strings::hamming;

constexpr Signature kLevenshtein{"levenshtein", {"a", "b"}, 2};
constexpr Signature kNormalizedLevenshtein{"normalized_levenshtein", {"a", "b"}, 2};
constexpr Signature kJaro{"jaro", {"a", "b"}, 2};
constexpr Signature kJaroWinkler{"jaro_winkler", {"a", "b"}, 2};
constexpr Signature kHamming{"hamming", {"a", "b"}, 2};
constexpr Signature kOsaDistance{"osa_distance", {"a", "b"}, 2};
constexpr Signature kBestMatch{"best_match", {"a", "b"}, 2};

// A match record as a new dict holding "index" then "score".
PyObject* py_match(const strings::Match& m) {
    static PyObject* const index_key = PyUnicode_InternFromString("index");
    static PyObject* const score_key = PyUnicode_InternFromString("score");
    if (!index_key || !score_key) return nullptr;
    Ref dict(PyDict_New());
    Ref index(py_int(m.index));
    Ref score(py_float(m.score));
    if (!dict || !index || !score) return nullptr;
    if (PyDict_SetItem(dict.get(), index_key, index.get()) < 0) return nullptr;
    if (PyDict_SetItem(dict.get(), score_key, score.get()) < 0) return nullptr;
    return dict.release();
}

constexpr Signature kFindBestMatch{"find_best_match", {"query", "candidates"}, 2};
PyObject* find_best_match_impl(Args& args) {
    std::string_view query;
    StrViews candidates;
    // The candidates come last and the search runs no Python code: viewed
    // without a reference to each.
    if (!args.str(0, query) || !args.str_views(1, candidates, false)) return nullptr;
    return py_match(strings::find_best_match(query, candidates.views));
}

constexpr Signature kFindMatchesAboveThreshold{"find_matches_above_threshold", {"query", "candidates", "threshold"}, 3};
PyObject* find_matches_above_threshold_impl(Args& args) {
    std::string_view query;
    StrViews candidates;
    double threshold = 0.0;
    if (!args.str(0, query) || !args.str_views(1, candidates, true) || !args.f64(2, threshold)) return nullptr;
    const std::vector<strings::Match> kept = strings::find_matches_above_threshold(query, candidates.views, threshold);
    return py_list(std::span<const strings::Match>(kept), py_match);
}

// The arguments of the two-string functions.
#define MIVO_ARGS_A_B             \
    "Args:\n"                     \
    "    a (str): First string\n" \
    "    b (str): Second string\n\n"

}  // namespace

PyMethodDef k_levenshtein = method<kLevenshtein, stored_pair_impl<kLevenshteinStored, py_int>>(
    "levenshtein(a, b)\n--\n\n"
    "Compute the Levenshtein distance between two strings.\n\n"
    "The distance is the smallest number of single-character insertions,\n"
    "deletions and substitutions that turn one string into the other,\n"
    "counted in Unicode code points (no normalisation, no case folding).\n\n" MIVO_ARGS_A_B
    "Returns:\n"
    "    int: The edit distance\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.levenshtein(\"kitten\", \"sitting\")\n"
    "    3");

PyMethodDef k_normalized_levenshtein =
    method<kNormalizedLevenshtein, stored_pair_impl<kNormalizedLevenshteinStored, py_float>>(
        "normalized_levenshtein(a, b)\n--\n\n"
        "Compute the normalized Levenshtein similarity between two strings.\n\n"
        "The similarity is 1 - distance / length of the longer string, from 0.0\n"
        "(nothing in common) to 1.0 (identical; two empty strings give 1.0).\n\n" MIVO_ARGS_A_B
        "Returns:\n"
        "    float: Similarity between 0.0 and 1.0\n\n"
        "Example:\n"
        "    >>> import mivo\n"
        "    >>> mivo.normalized_levenshtein(\"hello\", \"hallo\")\n"
        "    0.8");

PyMethodDef k_jaro = method<kJaro, pair_impl<strings::jaro, py_float>>(
    "jaro(a, b)\n--\n\n"
    "Compute the Jaro similarity between two strings.\n\n"
    "Characters match when equal and at most max(len(a), len(b)) // 2 - 1\n"
    "positions apart; the score combines the share of matched characters in\n"
    "both strings with the number of matches out of order. Characters are\n"
    "Unicode code points, compared exactly (no case folding).\n\n" MIVO_ARGS_A_B
    "Returns:\n"
    "    float: Similarity between 0.0 and 1.0 (1.0 for identical strings)\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.jaro(\"martha\", \"marhta\")\n"
    "    0.9444444444444445");

PyMethodDef k_jaro_winkler = method<kJaroWinkler, pair_impl<strings::jaro_winkler, py_float>>(
    "jaro_winkler(a, b)\n--\n\n"
    "Compute the Jaro-Winkler similarity between two strings.\n\n"
    "The Jaro similarity, raised for a common prefix of up to 4 characters\n"
    "by 0.1 per character of the remaining distance to 1.0, when the Jaro\n"
    "similarity is at least 0.7.\n\n" MIVO_ARGS_A_B
    "Returns:\n"
    "    float: Similarity between 0.0 and 1.0\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.jaro_winkler(\"martha\", \"marhta\")\n"
    "    0.9611111111111111");

PyMethodDef k_hamming = method<kHamming, stored_pair_impl<kHammingStored, py_optional_int>>(
    "hamming(a, b)\n--\n\n"
    "Compute the Hamming distance between two strings.\n\n"
    "The number of positions at which two strings of the same length (in\n"
    "Unicode code points) differ.\n\n" MIVO_ARGS_A_B
    "Returns:\n"
    "    int | None: The distance, or None when the lengths differ\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.hamming(\"karolin\", \"kathrin\")\n"
    "    3\n"
    "    >>> mivo.hamming(\"hello\", \"world!\") is None\n"
    "    True");

PyMethodDef k_osa_distance = method<kOsaDistance, stored_pair_impl<kOsaStored, py_int>>(
    "osa_distance(a, b)\n--\n\n"
    "Compute the OSA (Optimal String Alignment) distance between two strings.\n\n"
    "Like the Levenshtein distance, with the transposition of two adjacent\n"
    "characters as one more edit; no substring is edited more than once.\n\n" MIVO_ARGS_A_B
    "Returns:\n"
    "    int: The distance\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.osa_distance(\"ca\", \"ac\")\n"
    "    1\n"
    "    >>> mivo.osa_distance(\"ca\", \"abc\")\n"
    "    3");

PyMethodDef k_best_match = method<kBestMatch, pair_impl<strings::best_match, py_float>>(
    "best_match(a, b)\n--\n\n"
    "Compute the best matching similarity between two strings.\n\n"
    "The larger of the normalized Levenshtein similarity and the\n"
    "Jaro-Winkler similarity.\n\n" MIVO_ARGS_A_B
    "Returns:\n"
    "    float: Similarity between 0.0 and 1.0\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.best_match(\"hello\", \"hallo\")\n"
    "    0.88");

PyMethodDef k_find_best_match = method<kFindBestMatch, find_best_match_impl>(
    "find_best_match(query, candidates)\n--\n\n"
    "Find the best match for a query string in a list of candidates.\n\n"
    "Every candidate is scored with best_match(query, candidate); among equal\n"
    "top scores the candidate with the highest index wins.\n\n"
    "Args:\n"
    "    query (str): The string to look up\n"
    "    candidates (list[str]): The strings to choose from\n\n"
    "Returns:\n"
    "    dict: {\"index\": int, \"score\": float}; index 0 and score 0.0 for an\n"
    "    empty list\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.find_best_match(\"app\", [\"apple\", \"application\", \"apply\"])\n"
    "    {'index': 2, 'score': 0.9066666666666667}");

PyMethodDef k_find_matches_above_threshold = method<kFindMatchesAboveThreshold, find_matches_above_threshold_impl>(
    "find_matches_above_threshold(query, candidates, threshold)\n--\n\n"
    "Find all matches above a threshold score.\n\n"
    "Every candidate whose best_match(query, candidate) score is at least the\n"
    "threshold is kept, in the order of the candidates.\n\n"
    "Args:\n"
    "    query (str): The string to look up\n"
    "    candidates (list[str]): The strings to search\n"
    "    threshold (float): The lowest score kept\n\n"
    "Returns:\n"
    "    list[dict]: One {\"index\": int, \"score\": float} per kept candidate\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> mivo.find_matches_above_threshold(\"app\", [\"apple\", \"banana\"], 0.6)\n"
    "    [{'index': 0, 'score': 0.9066666666666667}]");

}  // namespace mivo::py
