// cdist and extract: a string metric of mivo between many strings at once,
// with the interpreter lock released while the str objects, each held by a
// strong reference, are read as the code points CPython stores.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "bindings/collections/frame.hpp"
#include "bindings/collections/registry.hpp"
#include "bindings/numpy_api.hpp"
#include "collections/string_matrix.hpp"

namespace mivo::py {
namespace {

namespace coll = mivo::collections;

// ------------------------------------------------------------ strings

bool has_surrogate(PyObject* s) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const int kind = PyUnicode_KIND(s);
    auto any = [n](const auto* p) {
        for (Py_ssize_t k = 0; k < n; ++k)
            if (p[k] >= 0xD800 && p[k] <= 0xDFFF) return true;
        return false;
    };
    if (kind == PyUnicode_2BYTE_KIND) return any(PyUnicode_2BYTE_DATA(s));
    if (kind == PyUnicode_4BYTE_KIND) return any(PyUnicode_4BYTE_DATA(s));
    return false;
}

// str objects held by strong references and read as their stored code
// points (a str never changes, so the reads need no lock).
struct PinnedTexts {
    std::vector<PyObject*> objects;
    std::vector<strings::FixedWidthText> texts;

    PinnedTexts() = default;
    PinnedTexts(const PinnedTexts&) = delete;
    PinnedTexts& operator=(const PinnedTexts&) = delete;
    ~PinnedTexts() {
        for (PyObject* o : objects) Py_DECREF(o);
    }

    bool add(PyObject* item, std::size_t position) {
        if (!PyUnicode_Check(item)) {
            const std::string type = type_name(item);
            PyErr_Format(PyExc_TypeError, "item %zu must be str, not '%s'", position, type.c_str());
            return false;
        }
#if PY_VERSION_HEX < 0x030C0000
        if (PyUnicode_READY(item) < 0) return false;
#endif
        // A lone surrogate: the UnicodeEncodeError that mivo's functions raise.
        if (has_surrogate(item) && !PyUnicode_AsUTF8AndSize(item, nullptr)) return false;
        Py_INCREF(item);
        objects.push_back(item);
        texts.push_back({PyUnicode_DATA(item), static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)),
                         static_cast<unsigned>(PyUnicode_KIND(item))});
        return true;
    }

    // Any iterable of str but a str itself, taken once, in order.
    bool convert(PyObject* obj) {
        if (PyUnicode_Check(obj)) {
            PyErr_SetString(PyExc_TypeError, "expected an iterable of str, got a single str");
            return false;
        }
        if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
            const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
            objects.reserve(static_cast<std::size_t>(n));
            texts.reserve(static_cast<std::size_t>(n));
            for (Py_ssize_t i = 0; i < n; ++i)
                if (!add(PySequence_Fast_GET_ITEM(obj, i), static_cast<std::size_t>(i))) return false;
            return true;
        }
        Ref it(PyObject_GetIter(obj));
        if (!it) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            const std::string type = type_name(obj);
            PyErr_Format(PyExc_TypeError, "expected an iterable of str, got '%s'", type.c_str());
            return false;
        }
        std::size_t position = 0;
        while (PyObject* raw = PyIter_Next(it.get())) {
            Ref item(raw);
            if (!add(item.get(), position++)) return false;
        }
        return !PyErr_Occurred();
    }
};

// ------------------------------------------------------------ options

struct ScorerName {
    const char* name;
    coll::StringScorer scorer;
};
constexpr ScorerName kScorers[] = {
    {"levenshtein", coll::StringScorer::Levenshtein},
    {"normalized_levenshtein", coll::StringScorer::NormalizedLevenshtein},
    {"jaro", coll::StringScorer::Jaro},
    {"jaro_winkler", coll::StringScorer::JaroWinkler},
    {"osa_distance", coll::StringScorer::OsaDistance},
    {"best_match", coll::StringScorer::BestMatch},
};

// One of mivo's string functions (the object itself) or its name.
bool to_scorer(PyObject* obj, coll::StringScorer& out) {
    for (const ScorerName& s : kScorers) {
        const Ref f = collections_frame::mivo_attr(s.name);
        if (!f) return false;
        if (f.get() == obj) {
            out = s.scorer;
            return true;
        }
    }
    if (PyUnicode_Check(obj)) {
        if (const char* text = PyUnicode_AsUTF8(obj)) {
            for (const ScorerName& s : kScorers) {
                if (std::strcmp(text, s.name) == 0) {
                    out = s.scorer;
                    return true;
                }
            }
        }
        PyErr_Clear();
    }
    PyErr_Format(PyExc_ValueError,
                 "scorer must be one of mivo.levenshtein, mivo.normalized_levenshtein, mivo.jaro, "
                 "mivo.jaro_winkler, mivo.osa_distance and mivo.best_match, or its name as a str, got %R",
                 obj);
    return false;
}

// The matrix's dtype: None for int32 (distances) or float64 (similarities),
// else any bool, integer, float32 or float64 dtype of native byte order.
bool to_cell_type(PyObject* obj, coll::StringScorer scorer, coll::CellType& type, int& type_num) {
    if (!ensure_numpy()) return false;
    if (obj == nullptr || obj == Py_None) {
        const bool distance = coll::is_distance(scorer);
        type = distance ? coll::CellType::Int32 : coll::CellType::Float64;
        type_num = distance ? NPY_INT32 : NPY_FLOAT64;
        return true;
    }
    PyArray_Descr* descr = nullptr;
    if (!PyArray_DescrConverter(obj, &descr)) return false;
    const Ref held(reinterpret_cast<PyObject*>(descr));
    type_num = descr->type_num;
    bool known = PyArray_ISNBO(descr->byteorder);
    constexpr bool long64 = sizeof(long) == 8;
    switch (type_num) {
        case NPY_BOOL: type = coll::CellType::Bool; break;
        case NPY_BYTE: type = coll::CellType::Int8; break;
        case NPY_UBYTE: type = coll::CellType::UInt8; break;
        case NPY_SHORT: type = coll::CellType::Int16; break;
        case NPY_USHORT: type = coll::CellType::UInt16; break;
        case NPY_INT: type = coll::CellType::Int32; break;
        case NPY_UINT: type = coll::CellType::UInt32; break;
        case NPY_LONG: type = long64 ? coll::CellType::Int64 : coll::CellType::Int32; break;
        case NPY_ULONG: type = long64 ? coll::CellType::UInt64 : coll::CellType::UInt32; break;
        case NPY_LONGLONG: type = coll::CellType::Int64; break;
        case NPY_ULONGLONG: type = coll::CellType::UInt64; break;
        case NPY_FLOAT: type = coll::CellType::Float32; break;
        case NPY_DOUBLE: type = coll::CellType::Float64; break;
        default: known = false;
    }
    if (!known) {
        PyErr_Format(PyExc_ValueError,
                     "dtype must be bool, an integer type, float32 or float64 (native byte order), got %R",
                     reinterpret_cast<PyObject*>(descr));
        return false;
    }
    return true;
}

// An int from 0 through the index protocol, capped at `cap` (a larger one is
// taken as cap); ValueError "<what> must be <expected>, got <value>".
bool to_capped_count(PyObject* obj, const char* what, std::uint64_t cap, std::uint64_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && v < 0)) {
        PyErr_Format(PyExc_ValueError, "%s, got %S", what, index.get());
        return false;
    }
    out = overflow > 0 ? cap : std::min(cap, static_cast<std::uint64_t>(v));
    return true;
}

// Distances: an int from 0 (one beyond any distance means none);
// similarities: a number other than NaN.
bool to_cutoff(PyObject* obj, coll::StringScorer scorer, coll::ScoreCutoff& out) {
    if (obj == nullptr || obj == Py_None) return true;
    if (coll::is_distance(scorer)) {
        constexpr std::uint64_t kBeyondAnyDistance = std::uint64_t{1} << 62;  // no string is that long
        if (!to_capped_count(obj, "score_cutoff of a distance must be an int from 0", kBeyondAnyDistance, out.distance))
            return false;
        out.active = out.distance < kBeyondAnyDistance;
        return true;
    }
    if (!to_f64(obj, out.similarity)) return false;
    if (std::isnan(out.similarity)) {
        PyErr_SetString(PyExc_ValueError, "score_cutoff must be a number, got nan");
        return false;
    }
    out.active = true;
    return true;
}

// None (every choice passing the cutoff) or an int from 0.
bool to_limit(PyObject* obj, std::size_t& out) {
    std::uint64_t limit = std::numeric_limits<std::size_t>::max();
    if (obj != Py_None && !to_capped_count(obj, "limit must be None or an int from 0", limit, limit)) return false;
    out = static_cast<std::size_t>(limit);
    return true;
}

// Runs body over [0, n) with the lock released; false with the exception
// set when Ctrl-C stopped it or memory ran out.
template <class Body>
bool run_guarded(std::size_t n, std::size_t grain, unsigned workers, Body&& body) {
    std::atomic<bool> failed{false};
    const bool done = collections_frame::run_released(n, grain, workers, [&](std::size_t begin, std::size_t end) {
        if (failed.load(std::memory_order_relaxed)) return;
        try {
            body(begin, end);
        } catch (...) {
            failed.store(true, std::memory_order_relaxed);
        }
    });
    if (!done) return false;
    if (failed.load()) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// ------------------------------------------------------------ functions

constexpr Signature kCdist{"cdist", {"queries", "choices", "scorer", "dtype", "score_cutoff", "workers"}, 6, 2, 3};
PyObject* cdist_impl(Args& args) {
    PinnedTexts queries, choices;
    coll::StringScorer scorer = coll::StringScorer::Levenshtein;
    coll::CellType type{};
    int type_num = 0;
    coll::ScoreCutoff cutoff;
    unsigned workers = 1;
    if (!(queries.convert(args.raw(0)) || wrap_argument_error("queries"))) return nullptr;
    if (!(choices.convert(args.raw(1)) || wrap_argument_error("choices"))) return nullptr;
    if (args.given(2) && !(to_scorer(args.raw(2), scorer) || wrap_argument_error("scorer"))) return nullptr;
    if (!(to_cell_type(args.raw(3), scorer, type, type_num) || wrap_argument_error("dtype"))) return nullptr;
    if (!(to_cutoff(args.raw(4), scorer, cutoff) || wrap_argument_error("score_cutoff"))) return nullptr;
    if (args.given(5) && !(collections_frame::to_workers(args.raw(5), workers) || wrap_argument_error("workers")))
        return nullptr;

    const std::size_t rows = queries.texts.size(), cols = choices.texts.size();
    void* data = nullptr;
    Ref out(collections_frame::new_matrix(rows, cols, type_num, &data));
    if (!out) return nullptr;
    if (rows == 0 || cols == 0) return out.release();
    coll::StringMatrix matrix(queries.texts, choices.texts, scorer, cutoff, type, data);
    for (;;) {
        bool more = false;
        if (!run_guarded(1, 1, 1, [&](std::size_t, std::size_t) { more = matrix.next_tile(); })) return nullptr;
        if (!more) break;
        const std::size_t grain = coll::grain_for(rows, workers, matrix.max_grain());
        if (!run_guarded(rows, grain, workers, [&](std::size_t b, std::size_t e) { matrix.rows(b, e); }))
            return nullptr;
    }
    return out.release();
}

constexpr Signature kExtract{"extract", {"query", "choices", "scorer", "limit", "score_cutoff"}, 5, 2, 3};
PyObject* extract_impl(Args& args) {
    std::string_view utf8;
    PinnedTexts choices;
    coll::StringScorer scorer = coll::StringScorer::BestMatch;
    std::size_t limit = 5;
    coll::ScoreCutoff cutoff;
    if (!args.str(0, utf8)) return nullptr;  // mivo's str conversion (a lone surrogate raises)
    if (!(choices.convert(args.raw(1)) || wrap_argument_error("choices"))) return nullptr;
    if (args.given(2) && !(to_scorer(args.raw(2), scorer) || wrap_argument_error("scorer"))) return nullptr;
    if (args.given(3) && !(to_limit(args.raw(3), limit) || wrap_argument_error("limit"))) return nullptr;
    if (!(to_cutoff(args.raw(4), scorer, cutoff) || wrap_argument_error("score_cutoff"))) return nullptr;

    // The query is held by the caller for the whole call.
    PyObject* q = args.raw(0);
    const strings::FixedWidthText query{PyUnicode_DATA(q), static_cast<std::size_t>(PyUnicode_GET_LENGTH(q)),
                                        static_cast<unsigned>(PyUnicode_KIND(q))};
    coll::StringSearch search(query, scorer, cutoff, limit);
    const std::span<const strings::FixedWidthText> texts = choices.texts;
    // Choices in order on this thread (the order breaks ties), in chunks of
    // a few milliseconds.
    const double per_choice = 30.0 + static_cast<double>(query.size / 64 + 1) * 8.0;
    const auto grain = static_cast<std::size_t>(std::clamp(4e6 / per_choice, 1.0, 65536.0));
    if (!run_guarded(texts.size(), grain, 1, [&](std::size_t b, std::size_t e) { search.scan(texts, b, e); }))
        return nullptr;

    const std::vector<coll::ScoredChoice> found = search.result();
    const bool distance = coll::is_distance(scorer);
    return py_list(std::span<const coll::ScoredChoice>(found), [&](const coll::ScoredChoice& c) -> PyObject* {
        Ref score(distance ? py_int(c.distance) : py_float(c.similarity));
        Ref index(py_int(c.index));
        if (!score || !index) return nullptr;
        PyObject* choice = choices.objects[c.index];
        return PyTuple_Pack(3, choice, score.get(), index.get());
    });
}

}  // namespace

PyMethodDef k_cdist = method<kCdist, cdist_impl>(
    "cdist(queries, choices, scorer=mivo.levenshtein, *, dtype=None, score_cutoff=None, workers=1)\n--\n\n"
    "The score of every query against every choice, as a matrix.\n\n"
    "Entry [i, j] is scorer(queries[i], choices[j]), the same number mivo's\n"
    "function gives (the same float, bit for bit).\n\n"
    "Args:\n"
    "    queries (Iterable[str]): any sequence or iterable of str (list, tuple,\n"
    "        pandas Series, NumPy array of str); read once, in order\n"
    "    choices (Iterable[str]): as queries\n"
    "    scorer: mivo.levenshtein, mivo.normalized_levenshtein, mivo.jaro,\n"
    "        mivo.jaro_winkler, mivo.osa_distance or mivo.best_match (the\n"
    "        function, or its name as a str)\n"
    "    dtype: the matrix's dtype; None for int32 (the two distances) or\n"
    "        float64 (the similarities). Any bool, integer, float32 or float64\n"
    "        dtype takes the values as numpy's astype converts them from int64\n"
    "        or float64: integers wrap (a distance of 300 is 44 as uint8),\n"
    "        similarities truncate (0.0 except 1.0 as an integer), floats round\n"
    "        to nearest, bool is 'not zero'\n"
    "    score_cutoff: distances above it become score_cutoff + 1 (an int from\n"
    "        0); similarities below it become 0.0. Choices that cannot pass it\n"
    "        (their lengths tell) are not compared at all\n"
    "    workers (int): threads to split the queries over; -1 for every core.\n"
    "        The result is the same for every count\n\n"
    "Returns:\n"
    "    numpy.ndarray: shape (len(queries), len(choices))\n\n"
    "Raises:\n"
    "    TypeError: for queries or choices that are a str or not iterable, and\n"
    "        for an item that is not a str ('item 3 must be str, not int')\n"
    "    ValueError: for another scorer, dtype, a negative distance cutoff or\n"
    "        a NaN cutoff, a worker count of 0\n\n"
    "Example:\n"
    "    >>> import mivo, mivo_collections\n"
    "    >>> mivo_collections.cdist([\"kitten\", \"flask\"], [\"sitting\", \"flash\", \"\"])\n"
    "    array([[3, 6, 6],\n"
    "           [7, 1, 5]], dtype=int32)\n"
    "    >>> mivo_collections.cdist([\"martha\"], [\"marhta\"], mivo.jaro_winkler)\n"
    "    array([[0.96111111]])");

PyMethodDef k_extract = method<kExtract, extract_impl>(
    "extract(query, choices, scorer=mivo.best_match, *, limit=5, score_cutoff=None)\n--\n\n"
    "The choices closest to a query, best first.\n\n"
    "Every choice is scored with scorer(query, choice); the best come first\n"
    "(smallest distance, largest similarity), ties in the order of the\n"
    "choices.\n\n"
    "Args:\n"
    "    query (str): the string to look up\n"
    "    choices (Iterable[str]): any sequence or iterable of str\n"
    "    scorer: one of mivo's six string scores, as for cdist\n"
    "    limit (int | None): how many to return at most; None for every choice\n"
    "        that passes the cutoff\n"
    "    score_cutoff: keep distances up to it, similarities from it on\n\n"
    "Returns:\n"
    "    list[tuple[str, int | float, int]]: (choice, score, index) triples\n\n"
    "Example:\n"
    "    >>> import mivo, mivo_collections\n"
    "    >>> mivo_collections.extract(\"app\", [\"apple\", \"banana\", \"apply\"], limit=2)\n"
    "    [('apple', 0.9066666666666667, 0), ('apply', 0.9066666666666667, 2)]\n"
    "    >>> mivo_collections.extract(\"kitten\", [\"sitting\", \"mitten\"], mivo.levenshtein)\n"
    "    [('mitten', 1, 1), ('sitting', 3, 0)]");

}  // namespace mivo::py
