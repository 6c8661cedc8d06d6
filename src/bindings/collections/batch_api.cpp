// encode_batch and bands_batch: the rows of a matrix through the one-vector
// encode functions, split over worker threads with the interpreter lock
// released (the array is held by the call).
#include <cstring>
#include <string>
#include <vector>

#include "bindings/collections/frame.hpp"
#include "bindings/collections/registry.hpp"
#include "bindings/numpy_api.hpp"
#include "collections/batch_encode.hpp"
#include "policy/policy.hpp"

namespace mivo::py {
namespace {

namespace coll = mivo::collections;
using collections_frame::MatrixArg;

// Rows per chunk at most: a chunk of 2048-value rows takes a few
// milliseconds (rows that need every literal sum about 10 ms), so Ctrl-C is
// seen well within a tenth of a second.
constexpr std::size_t kMaxGrain = 1024;

// Raises the refusal of a row as the one-vector function would, its message
// prefixed by the row number.
PyObject* raise_row(const coll::RowError& e) {
    PyObject* type = e.error.kind() == embeddings::ErrorKind::Internal ? PyExc_SystemError : PyExc_ValueError;
    PyErr_Format(type, "row %zu: %s", e.row, e.error.display().c_str());
    return nullptr;
}

// Runs `rows(begin, end)` (returning the range's first refusal) over every
// row; false with the exception set on a refusal or an interruption.
template <class Rows>
bool run_rows(const coll::MatrixRef& x, unsigned workers, Rows&& rows) {
    coll::FirstRefusal refusal;
    const bool done =
        collections_frame::run_released(x.rows, coll::grain_for(x.rows, workers, kMaxGrain), workers,
                                        [&](std::size_t begin, std::size_t end) { refusal.offer(rows(begin, end)); });
    if (!done) return false;
    if (refusal.get()) {
        raise_row(*refusal.get());
        return false;
    }
    return true;
}

bool to_output(PyObject* obj, bool& codes) {
    std::string_view text;
    if (!to_str(obj, text)) return false;
    if (text != "codes" && text != "identifiers") {
        PyErr_Format(PyExc_ValueError, "output must be 'codes' or 'identifiers', got %R", obj);
        return false;
    }
    codes = text == "codes";
    return true;
}

constexpr Signature kEncodeBatch{"encode_batch", {"X", "profile", "output", "workers"}, 4, 1, 2};
PyObject* encode_batch_impl(Args& args) {
    MatrixArg x;
    std::uint8_t variant = 0;
    bool codes = true;
    unsigned workers = 1;
    if (!x.convert(args.raw(0), "X")) return nullptr;
    if (args.given(1) && !(collections_frame::to_profile(args.raw(1), variant) || wrap_argument_error("profile")))
        return nullptr;
    if (args.given(2) && !(to_output(args.raw(2), codes) || wrap_argument_error("output"))) return nullptr;
    if (args.given(3) && !(collections_frame::to_workers(args.raw(3), workers) || wrap_argument_error("workers")))
        return nullptr;
    if (!x.convert(args.raw(0), "X")) return nullptr;  // viewed after the last conversion that can run Python code
    const embeddings::EncodingProfile record = policy::profile_record(variant);
    const coll::MatrixRef& m = x.ref;

    if (codes) {
        const auto* mini = std::get_if<embeddings::EncodingProfile::Mini128>(&record.kind);
        if (!mini) {
            PyErr_SetString(PyExc_ValueError,
                            "output='codes' gives Mini128 SimHash payloads: use Profile.Mini128, or "
                            "output='identifiers' for the other profiles");
            return nullptr;
        }
        void* data = nullptr;
        Ref out(collections_frame::new_matrix(m.rows, 16, NPY_UINT8, &data));
        if (!out) return nullptr;
        auto* bytes = static_cast<std::uint8_t*>(data);
        const std::uint64_t seed = mini->seed;
        if (!run_rows(m, workers,
                      [&](std::size_t b, std::size_t e) { return coll::mini128_rows(m, b, e, seed, bytes + 16 * b); }))
            return nullptr;
        return out.release();
    }

    std::vector<std::string> texts(m.rows);
    if (!run_rows(m, workers, [&](std::size_t b, std::size_t e) {
            return coll::identifier_rows(m, b, e, record, texts.data() + b);
        }))
        return nullptr;
    return py_str_list(texts);
}

constexpr Signature kBandsBatch{"bands_batch", {"X", "num_bands", "workers"}, 3, 1, 2};
PyObject* bands_batch_impl(Args& args) {
    MatrixArg x;
    std::uint8_t bands = 16;
    unsigned workers = 1;
    if (!x.convert(args.raw(0), "X")) return nullptr;
    if (args.given(1) && !args.u8(1, bands)) return nullptr;
    if (args.given(2) && !(collections_frame::to_workers(args.raw(2), workers) || wrap_argument_error("workers")))
        return nullptr;
    if (!x.convert(args.raw(0), "X")) return nullptr;  // viewed after the last conversion that can run Python code
    if (!policy::valid_band_count(bands)) {
        PyErr_Format(PyExc_ValueError, "num_bands must be 1, 2, 4, 8 or 16, got %u", static_cast<unsigned>(bands));
        return nullptr;
    }
    const coll::MatrixRef& m = x.ref;
    std::vector<std::uint8_t> hashes(m.rows * 16);
    if (!run_rows(m, workers, [&](std::size_t b, std::size_t e) {
            return coll::raw_simhash_rows(m, b, e, policy::kSeedSimHash, hashes.data() + 16 * b);
        }))
        return nullptr;
    Ref list(PyList_New(static_cast<Py_ssize_t>(m.rows)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < m.rows; ++i) {
        embeddings::u128 h = 0;
        for (std::size_t k = 0; k < 16; ++k) h = (h << 8) | hashes[16 * i + k];
        PyObject* row = py_str_list(policy::band_texts(h, bands));
        if (!row) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), row);
    }
    return list.release();
}

}  // namespace

PyMethodDef k_encode_batch = method<kEncodeBatch, encode_batch_impl>(
    "encode_batch(X, profile=mivo.Profile.Mini128, *, output='codes', workers=1)\n--\n\n"
    "Encode every row of a matrix, as mivo.encode encodes one vector.\n\n"
    "Args:\n"
    "    X (numpy.ndarray): (n, d) float32 or float64 values, any strides; float64\n"
    "        values are rounded to float32 first, as mivo's list conversion does\n"
    "    profile (mivo.Profile): the profile of every row\n"
    "    output (str): 'codes' for an (n, 16) uint8 array of Mini128 SimHash\n"
    "        payloads (the last 16 bytes of mivo.decode(identifier); Mini128\n"
    "        only), or 'identifiers' for a list of n identifier strings\n"
    "    workers (int): threads to split the rows over; -1 for every core. The\n"
    "        result is the same for every count\n\n"
    "Returns:\n"
    "    numpy.ndarray | list[str]: row i is what mivo.encode(X[i], profile) gives\n\n"
    "Raises:\n"
    "    ValueError: for the first row mivo.encode refuses, its message prefixed\n"
    "        by the row number ('row 3: Invalid embedding value (NaN or Inf\n"
    "        detected)'); for X that is not 2-D\n"
    "    TypeError: for X that is not a float32 or float64 NumPy array\n\n"
    "Example:\n"
    "    >>> import numpy as np, mivo, mivo_collections\n"
    "    >>> X = np.random.default_rng(0).standard_normal((1000, 768), np.float32)\n"
    "    >>> codes = mivo_collections.encode_batch(X)\n"
    "    >>> codes.shape, codes.dtype\n"
    "    ((1000, 16), dtype('uint8'))\n"
    "    >>> bytes(codes[0]) == mivo.decode(mivo.encode(X[0], mivo.Profile.Mini128))[2:]\n"
    "    True");

PyMethodDef k_bands_batch = method<kBandsBatch, bands_batch_impl>(
    "bands_batch(X, num_bands=16, *, workers=1)\n--\n\n"
    "LSH bands of every row of a matrix, as mivo.embedding_to_bands gives them.\n\n"
    "Args:\n"
    "    X (numpy.ndarray): (n, d) float32 or float64 values, any strides\n"
    "    num_bands (int): 1, 2, 4, 8 or 16 bands per row (16 finds most near\n"
    "        neighbours)\n"
    "    workers (int): threads to split the rows over; -1 for every core\n\n"
    "Returns:\n"
    "    list[list[str]]: row i is mivo.embedding_to_bands(X[i].tolist(), num_bands)\n\n"
    "Raises:\n"
    "    ValueError: for a band count other than 1, 2, 4, 8 or 16, and for the\n"
    "        first row holding a NaN or an infinity ('row 3: ...')\n\n"
    "Example:\n"
    "    >>> import numpy as np, mivo_collections\n"
    "    >>> X = np.random.default_rng(0).standard_normal((1000, 768), np.float32)\n"
    "    >>> [len(b) for b in mivo_collections.bands_batch(X, 4)[0]]\n"
    "    [7, 7, 7, 7]");

}  // namespace mivo::py
