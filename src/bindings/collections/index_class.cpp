// The HammingIndex class: an exact index of 64-bit or 128-bit codes.
//
// Locking: each instance has a reader-writer lock (a waiting writer goes
// before readers that come after it). search, range_search,
// save, pickling, len and repr read under the shared lock; add, remove and
// __setstate__ change the index under the exclusive one. A thread waits for
// the lock with the interpreter lock released (so that a search, which takes
// the interpreter lock back now and then to look for Ctrl-C, is never waited
// on by a thread that holds it). Arguments are converted before the lock is
// taken: queries are copied, an array of codes to add is held by the call
// (and read after the last conversion that can run Python code: such code
// may resize the array in place and free what a view of it points to).
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <vector>

#include "bindings/collections/frame.hpp"
#include "bindings/collections/registry.hpp"
#include "bindings/numpy_api.hpp"
#include "collections/hamming_index.hpp"
#include "collections/index_file.hpp"
#include "collections/rw_lock.hpp"
#include "policy/policy.hpp"

namespace mivo::py {
namespace {

namespace coll = mivo::collections;

struct State {
    coll::WriterFirstLock lock;
    coll::HammingIndex index;
};

struct IndexObject {
    PyObject_HEAD State state;
};

State& state_of(PyObject* self) { return reinterpret_cast<IndexObject*>(self)->state; }

// The interpreter lock released for a scope (taken back on the way out,
// exceptions included).
class Released {
public:
    Released() : saved_(PyEval_SaveThread()) {}
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() { PyEval_RestoreThread(saved_); }

private:
    PyThreadState* saved_;
};

// The shared lock of an instance, waited for without the interpreter lock.
std::shared_lock<coll::WriterFirstLock> read_lock(State& s) {
    std::shared_lock<coll::WriterFirstLock> lock(s.lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        Released released;
        lock.lock();
    }
    return lock;
}

// ---------------------------------------------------------------- arguments

std::string shape_text(PyArrayObject* arr) {
    std::string text = "(";
    for (int i = 0; i < PyArray_NDIM(arr); ++i) text += (i ? ", " : "") + std::to_string(PyArray_DIM(arr, i));
    return text + (PyArray_NDIM(arr) == 1 ? ",)" : ")");
}

// Calls item(i, object) for each item of a sequence, holding it meanwhile;
// false with the exception set when item() returns false or the iteration
// fails.
template <class Item>
bool for_each_item(PyObject* sequence, Item item) {
    Ref it(PyObject_GetIter(sequence));
    if (!it) return false;
    for (std::size_t i = 0;; ++i) {
        Ref obj(PyIter_Next(it.get()));
        if (!obj) return !PyErr_Occurred();
        if (!item(i, obj.get())) return false;
    }
}

// Codes as add and search take them, made into the index's words: a uint8
// array of (n, 8 * words) rows, for 128-bit codes a list of Mini128
// identifiers, for 64-bit codes a 1-D integer array or a list of ints. An
// array is held by the call (fill() reads it, with the interpreter lock
// released if need be, and before any other conversion runs Python code);
// a list is converted at once.
class CodesArg {
public:
    bool convert(PyObject* obj, unsigned words, const char* name);
    std::size_t size() const { return n_; }
    // Writes the n * words words of the codes; runs no Python code.
    void fill(std::uint64_t* out) const {
        if (n_ == 0) return;
        if (form_ == Form::Values) {
            const auto* values = static_cast<const std::uint64_t*>(data_);
            for (std::size_t i = 0; i < n_; ++i) out[i] = coll::code_word_of_value(values[i]);
        } else {
            std::memcpy(out, form_ == Form::Rows ? data_ : owned_.data(), n_ * words_ * 8);
        }
    }

private:
    enum class Form { Owned, Rows, Values };
    bool convert_array(PyArrayObject* arr, const char* name);
    bool convert_list(PyObject* obj, const char* name);

    unsigned words_ = 2;
    Form form_ = Form::Owned;
    std::size_t n_ = 0;
    std::vector<std::uint64_t> owned_;
    Ref array_;
    const void* data_ = nullptr;
};

bool CodesArg::convert(PyObject* obj, unsigned words, const char* name) {
    words_ = words;
    if (!ensure_numpy()) return false;
    if (PyArray_Check(obj)) return convert_array(reinterpret_cast<PyArrayObject*>(obj), name);
    if (PySequence_Check(obj) && !PyUnicode_Check(obj)) return convert_list(obj, name);
    const std::string type = type_name(obj);
    const char* forms = words == 2 ? "an (n, 16) uint8 array or a list of Mini128 identifiers"
                                   : "an (n, 8) uint8 array, a 1-D uint64 array or a list of ints";
    if (PyUnicode_Check(obj))
        PyErr_Format(PyExc_TypeError, "%s must be %s, not a single str (put it in a list)", name, forms);
    else
        PyErr_Format(PyExc_TypeError, "%s must be %s, got '%s'", name, forms, type.c_str());
    return false;
}

bool CodesArg::convert_array(PyArrayObject* arr, const char* name) {
    const unsigned width = 8 * words_;
    const int type = PyArray_TYPE(arr);
    int want = type;
    if (type == NPY_UINT8) {
        if (PyArray_NDIM(arr) != 2 || PyArray_DIM(arr, 1) != static_cast<npy_intp>(width)) {
            PyErr_Format(PyExc_ValueError, "%s must have shape (n, %u) for %u-bit codes, got shape %s", name, width,
                         8 * width, shape_text(arr).c_str());
            return false;
        }
        form_ = Form::Rows;
    } else if (words_ == 1 && PyArray_ISINTEGER(arr)) {
        if (PyArray_NDIM(arr) != 1) {
            PyErr_Format(PyExc_ValueError, "%s as integers must be 1-D (one 64-bit code each), got shape %s", name,
                         shape_text(arr).c_str());
            return false;
        }
        want = PyArray_ISSIGNED(arr) ? NPY_INT64 : NPY_UINT64;
        form_ = Form::Values;
    } else {
        PyErr_Format(PyExc_TypeError, "%s must be a %s array, got dtype %S", name,
                     words_ == 2 ? "uint8 (n, 16)" : "uint8 (n, 8) or 1-D uint64",
                     reinterpret_cast<PyObject*>(PyArray_DESCR(arr)));
        return false;
    }
    array_ = Ref(PyArray_FROMANY(reinterpret_cast<PyObject*>(arr), want, 0, 0, NPY_ARRAY_CARRAY_RO));
    if (!array_) return false;
    auto* held = reinterpret_cast<PyArrayObject*>(array_.get());
    data_ = PyArray_DATA(held);
    n_ = static_cast<std::size_t>(PyArray_DIM(held, 0));
    if (want == NPY_INT64) {
        const auto* values = static_cast<const std::int64_t*>(data_);
        for (std::size_t i = 0; i < n_; ++i)
            if (values[i] < 0) {
                PyErr_Format(PyExc_ValueError, "%s[%zu] is %lld: 64-bit codes run from 0 to 2**64 - 1", name, i,
                             static_cast<long long>(values[i]));
                return false;
            }
    }
    return true;
}

bool CodesArg::convert_list(PyObject* obj, const char* name) {
    form_ = Form::Owned;
    if (words_ == 1) {
        if (!to_u64_list(obj, owned_)) return wrap_argument_error(name);
        for (std::uint64_t& w : owned_) w = coll::code_word_of_value(w);
        n_ = owned_.size();
        return true;
    }
    // Each text is read while its item is held, so that a signal handler
    // run between items cannot free what is being read.
    const bool read = for_each_item(obj, [&](std::size_t i, PyObject* item) {
        // A long list is read in well under a second, but answers Ctrl-C.
        if (i % 65536 == 65535 && PyErr_CheckSignals() < 0) return false;
        std::string_view text;
        if (!to_str(item, text)) return wrap_argument_error(name);
        const auto payload = policy::mini128_payload(text);
        if (!payload) {
            PyErr_Format(PyExc_ValueError, "%s[%zu]: %s", name, i, payload.error().error.display().c_str());
            return false;
        }
        std::uint64_t words[2];
        std::memcpy(words, payload->data(), 16);
        owned_.insert(owned_.end(), words, words + 2);
        return true;
    });
    n_ = owned_.size() / 2;
    return read;
}

// Ids: a 1-D integer NumPy array or a sequence of ints, as int64 values.
bool to_ids(PyObject* obj, const char* name, std::vector<std::int64_t>& out) {
    if (!ensure_numpy()) return false;
    if (PyArray_Check(obj)) {
        auto* arr = reinterpret_cast<PyArrayObject*>(obj);
        if (!PyArray_ISINTEGER(arr) || PyArray_NDIM(arr) != 1) {
            PyErr_Format(PyExc_TypeError, "%s must be a 1-D integer array, got dtype %S and shape %s", name,
                         reinterpret_cast<PyObject*>(PyArray_DESCR(arr)), shape_text(arr).c_str());
            return false;
        }
        Ref held(PyArray_FROMANY(obj, NPY_INT64, 1, 1, NPY_ARRAY_CARRAY_RO));
        if (!held) return false;
        const auto* data = static_cast<const std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(held.get())));
        out.assign(data, data + PyArray_DIM(reinterpret_cast<PyArrayObject*>(held.get()), 0));
        return true;
    }
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        const std::string type = type_name(obj);
        PyErr_Format(PyExc_TypeError, "%s must be a 1-D int64 array or a list of ints, got '%s'", name, type.c_str());
        return false;
    }
    out.clear();
    return for_each_item(obj, [&](std::size_t, PyObject* item) {
        Ref index(PyNumber_Index(item));
        if (!index) return wrap_argument_error(name);
        const long long v = PyLong_AsLongLong(index.get());
        if (v == -1 && PyErr_Occurred()) return false;
        out.push_back(v);
        return true;
    });
}

// A count argument (k, radius): an int of at least `least`.
bool to_count(PyObject* obj, const char* name, Py_ssize_t least, std::size_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return wrap_argument_error(name);
    const Py_ssize_t v = PyLong_AsSsize_t(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < least) {
        PyErr_Format(PyExc_ValueError, "%s must be %zd or more, got %zd", name, least, v);
        return false;
    }
    out = static_cast<std::size_t>(v);
    return true;
}

bool to_workers_arg(Args& args, int i, unsigned& workers) {
    return !args.given(i) || collections_frame::to_workers(args.raw(i), workers) || wrap_argument_error(args.param(i));
}

// A path argument (str, bytes or os.PathLike) as the file system's bytes,
// and the object to name in messages.
struct PathArg {
    Ref fspath, bytes;
    bool convert(PyObject* obj) {
        fspath = Ref(PyOS_FSPath(obj));
        if (!fspath) return wrap_argument_error("path");
        PyObject* converted = nullptr;
        if (!PyUnicode_FSConverter(fspath.get(), &converted)) return false;
        bytes = Ref(converted);
        return true;
    }
    std::string text() const { return PyBytes_AS_STRING(bytes.get()); }
};

// Raises a saved form's error: OSError (its errno subclass) naming the file,
// or ValueError "'<file>' <message>" ("the pickled HammingIndex <message>"
// without a file).
PyObject* raise_format(const coll::FormatError& e, PyObject* file) {
    if (e.os_error != 0) {
        errno = e.os_error;
        return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file);
    }
    if (!file) return PyErr_Format(PyExc_ValueError, "the pickled HammingIndex %s", e.message.c_str());
    return PyErr_Format(PyExc_ValueError, "%R %s", file, e.message.c_str());
}

// Runs step(i) for i in [0, n) in order on this thread with the interpreter
// lock released (Ctrl-C seen between steps); stops at the first error.
template <class Step>
bool run_steps(std::size_t n, coll::FormatError& error, Step step) {
    bool failed = false;
    const bool done = collections_frame::run_released(n, 1, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && !failed; ++i)
            if (auto ok = step(i); !ok) {
                error = ok.error();
                failed = true;
            }
    });
    return done && !failed;
}

// Runs every round of a search over the workers, the index read-locked by
// the caller; false with the exception set on Ctrl-C.
template <class Search>
bool run_search(Search& search, unsigned workers) {
    const coll::ScanPlan& plan = search.plan();
    for (std::size_t round = 0; round < plan.rounds(); ++round) {
        if (!collections_frame::run_released(plan.chunks(), 1, workers, [&](std::size_t begin, std::size_t end) {
                for (std::size_t c = begin; c < end; ++c) search.run(round, c);
            }))
            return false;
        if (PyErr_CheckSignals() < 0) return false;
    }
    return true;
}

// ------------------------------------------------------------------ methods

PyTypeObject* index_type();

PyObject* new_index(PyTypeObject* type, unsigned words) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    new (&reinterpret_cast<IndexObject*>(self)->state) State{{}, coll::HammingIndex(words)};
    return self;
}

constexpr Signature kConstructor{"HammingIndex", {"bits"}, 1};
PyObject* index_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* slots[kMaxParams] = {};
    if (!bind_tuple_arguments(kConstructor, args, kwargs, slots)) return nullptr;
    Ref index(PyNumber_Index(slots[0]));
    if (!index) {
        wrap_argument_error("bits");
        return nullptr;
    }
    const long bits = PyLong_AsLong(index.get());
    if (bits == -1 && PyErr_Occurred()) return nullptr;
    if (bits != 64 && bits != 128) {
        PyErr_Format(PyExc_ValueError, "bits must be 128 (Mini128 payloads) or 64 (mivo.simhash values), got %ld",
                     bits);
        return nullptr;
    }
    return new_index(type, static_cast<unsigned>(bits / 64));
}

void index_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    state_of(self).~State();
    type->tp_free(self);
    Py_DECREF(type);
}

Py_ssize_t index_len(PyObject* self) {
    State& s = state_of(self);
    const auto lock = read_lock(s);
    return static_cast<Py_ssize_t>(s.index.size());
}

PyObject* index_repr(PyObject* self) {
    const Py_ssize_t n = index_len(self);
    return PyUnicode_FromFormat("<mivo_collections.HammingIndex bits=%u, %zd codes>", state_of(self).index.bits(), n);
}

PyObject* get_bits(PyObject* self, void*) { return py_int(state_of(self).index.bits()); }

constexpr Signature kAdd{"add", {"codes", "ids"}, 2, 1};
PyObject* add_impl(PyObject* self, Args& args) {
    State& s = state_of(self);
    CodesArg codes;
    std::vector<std::int64_t> ids;
    // The ids first: their conversion can run Python code, and the codes
    // may be a view of an array until fill().
    const bool given_ids = args.given(1) && args.raw(1) != Py_None;
    if (given_ids && !to_ids(args.raw(1), "ids", ids)) return nullptr;
    if (!codes.convert(args.raw(0), s.index.words(), "codes")) return nullptr;
    if (given_ids) {
        if (ids.size() != codes.size()) {
            PyErr_Format(PyExc_ValueError, "ids has %zu items for %zu codes", ids.size(), codes.size());
            return nullptr;
        }
        for (std::size_t i = 0; i < ids.size(); ++i)
            if (ids[i] < 0) {
                PyErr_Format(PyExc_ValueError, "ids[%zu] is %lld: ids must be 0 or more (-1 pads search results)", i,
                             static_cast<long long>(ids[i]));
                return nullptr;
            }
    }
    {
        Released released;
        std::unique_lock lock(s.lock);
        s.index.add(codes.size(), ids, [&](std::uint64_t* out) { codes.fill(out); });
    }
    return py_none();
}

constexpr Signature kRemove{"remove", {"ids"}, 1};
PyObject* remove_impl(PyObject* self, Args& args) {
    State& s = state_of(self);
    std::vector<std::int64_t> ids;
    if (!to_ids(args.raw(0), "ids", ids)) return nullptr;
    std::size_t removed = 0;
    {
        Released released;
        std::unique_lock lock(s.lock);
        removed = s.index.remove(ids);
    }
    return py_int(removed);
}

// The arguments of a search: the queries (copied), k or the radius, workers.
struct SearchArgs {
    std::vector<std::uint64_t> queries;
    std::size_t count = 0, nq = 0;
    unsigned workers = 1;
    bool convert(Args& args, const State& s, Py_ssize_t least) {
        CodesArg codes;
        if (!codes.convert(args.raw(0), s.index.words(), "queries")) return false;
        // Copied before the count and workers are converted (which can run
        // Python code that resizes the queries' array).
        nq = codes.size();
        queries.resize(nq * s.index.words());
        codes.fill(queries.data());
        return to_count(args.raw(1), args.param(1), least, count) && to_workers_arg(args, 2, workers);
    }
};

constexpr Signature kSearch{"search", {"queries", "k", "workers"}, 3, 2, 2};
PyObject* search_impl(PyObject* self, Args& args) {
    State& s = state_of(self);
    SearchArgs a;
    if (!a.convert(args, s, 1)) return nullptr;
    void *distances = nullptr, *ids = nullptr;
    Ref d(collections_frame::new_matrix(a.nq, a.count, NPY_INT32, &distances));
    Ref i(d ? collections_frame::new_matrix(a.nq, a.count, NPY_INT64, &ids) : nullptr);
    if (!i) return nullptr;
    auto lock = read_lock(s);
    coll::KnnSearch search(s.index, a.queries, a.count, a.workers);
    if (!run_search(search, a.workers)) return nullptr;
    search.finish(static_cast<std::int32_t*>(distances), static_cast<std::int64_t*>(ids));
    return PyTuple_Pack(2, d.get(), i.get());
}

constexpr Signature kRangeSearch{"range_search", {"queries", "radius", "workers"}, 3, 2, 2};
PyObject* range_search_impl(PyObject* self, Args& args) {
    State& s = state_of(self);
    SearchArgs a;
    if (!a.convert(args, s, 0)) return nullptr;
    auto lock = read_lock(s);
    coll::RangeSearch search(s.index, a.queries, static_cast<std::uint32_t>(std::min<std::size_t>(a.count, 128)),
                             a.workers);
    if (!run_search(search, a.workers)) return nullptr;
    if (search.failed()) return PyErr_NoMemory();
    search.finish();
    lock.unlock();
    Ref list(PyList_New(static_cast<Py_ssize_t>(a.nq)));
    if (!list) return nullptr;
    for (std::size_t q = 0; q < a.nq; ++q) {
        const auto found = search.result(q);
        void *distances = nullptr, *ids = nullptr;
        npy_intp n = static_cast<npy_intp>(found.size());
        Ref d(PyArray_SimpleNew(1, &n, NPY_INT32)), i(PyArray_SimpleNew(1, &n, NPY_INT64));
        if (!d || !i) return nullptr;
        distances = PyArray_DATA(reinterpret_cast<PyArrayObject*>(d.get()));
        ids = PyArray_DATA(reinterpret_cast<PyArrayObject*>(i.get()));
        for (std::size_t j = 0; j < found.size(); ++j) {
            static_cast<std::int32_t*>(distances)[j] = static_cast<std::int32_t>(found[j].distance);
            static_cast<std::int64_t*>(ids)[j] = found[j].id;
        }
        PyObject* pair = PyTuple_Pack(2, d.get(), i.get());
        if (!pair) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(q), pair);
    }
    return list.release();
}

constexpr Signature kSave{"save", {"path"}, 1};
PyObject* save_impl(PyObject* self, Args& args) {
    State& s = state_of(self);
    PathArg path;
    if (!path.convert(args.raw(0))) return nullptr;
    auto sink = coll::FileSink::create(path.text());
    if (!sink) return raise_format(sink.error(), path.fspath.get());
    auto lock = read_lock(s);
    coll::IndexWriter writer(s.index);
    coll::FormatError error;
    if (!run_steps(writer.pieces(), error, [&](std::size_t i) { return writer.write_piece(i, *sink); })) {
        if (PyErr_Occurred()) return nullptr;
        return raise_format(error, path.fspath.get());
    }
    lock.unlock();
    coll::FormatResult<void> committed;
    {
        Released released;
        committed = sink->commit();
    }
    if (!committed) return raise_format(committed.error(), path.fspath.get());
    return py_none();
}

// Reads a saved form into a new index; nullptr with the exception set
// (`file`: the path to name in messages, nullptr for a pickle).
PyObject* read_index(PyTypeObject* type, coll::ByteSource& source, PyObject* file) {
    auto reader = coll::IndexReader::start(source);
    if (!reader) return raise_format(reader.error(), file);
    coll::FormatError error;
    if (!run_steps(reader->pieces(), error, [&](std::size_t i) { return reader->read_piece(i, source); })) {
        if (PyErr_Occurred()) return nullptr;
        return raise_format(error, file);
    }
    auto index = reader->finish(source);
    if (!index) return raise_format(index.error(), file);
    PyObject* self = new_index(type, index->words());
    if (self) state_of(self).index = std::move(*index);
    return self;
}

constexpr Signature kLoad{"load", {"path"}, 1};
PyObject* load_impl(PyObject* cls, Args& args) {
    PathArg path;
    if (!path.convert(args.raw(0))) return nullptr;
    auto source = coll::FileSource::open(path.text());
    if (!source) return raise_format(source.error(), path.fspath.get());
    return read_index(reinterpret_cast<PyTypeObject*>(cls), *source, path.fspath.get());
}

// Pickled through the saved form: HammingIndex(bits), then __setstate__
// with the bytes save() would write.
PyObject* index_reduce(PyObject* self, PyObject*) {
    State& s = state_of(self);
    const auto lock = read_lock(s);
    coll::IndexWriter writer(s.index);
    Ref bytes(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(writer.size())));
    if (!bytes) return nullptr;
    coll::MemorySink sink(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())));
    for (std::size_t i = 0; i < writer.pieces(); ++i) writer.write_piece(i, sink);
    return Py_BuildValue("(O(I)O)", reinterpret_cast<PyObject*>(Py_TYPE(self)), s.index.bits(), bytes.get());
}

PyObject* index_setstate(PyObject* self, PyObject* state) {
    if (!PyBytes_Check(state)) {
        const std::string type = type_name(state);
        return PyErr_Format(PyExc_TypeError, "the state of a HammingIndex is the bytes of its saved form, got '%s'",
                            type.c_str());
    }
    coll::MemorySource source({reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(state)),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(state))});
    Ref loaded(read_index(Py_TYPE(self), source, nullptr));
    if (!loaded) return nullptr;
    State& s = state_of(self);
    coll::HammingIndex& from = state_of(loaded.get()).index;
    if (from.words() != s.index.words())
        return PyErr_Format(PyExc_ValueError, "the pickled HammingIndex holds %u-bit codes, this one %u-bit",
                            from.bits(), s.index.bits());
    {
        Released released;
        std::unique_lock lock(s.lock);
        std::swap(s.index, from);
    }
    return py_none();
}

PyMethodDef kMethods[] = {
    method<kAdd, add_impl>("add($self, codes, ids=None)\n--\n\n"
                           "Add codes, with ids of the caller's or the default ones.\n\n"
                           "Args:\n"
                           "    codes: a 128-bit index takes an (n, 16) uint8 array (Mini128\n"
                           "        payloads, as encode_batch gives them) or a list of Mini128\n"
                           "        identifiers; a 64-bit index an (n, 8) uint8 array (most\n"
                           "        significant byte first), a 1-D uint64 array or a list of ints\n"
                           "        (mivo.simhash values)\n"
                           "    ids (numpy.ndarray | list[int] | None): one id (0 or more) per code;\n"
                           "        ids need not be unique. By default each code's insertion\n"
                           "        number: 0, 1, 2, ... over every code ever added\n\n"
                           "Raises:\n"
                           "    ValueError: for a bad identifier (its message as\n"
                           "        mivo.mivo_hamming_distance gives it, prefixed 'codes[3]: '), a\n"
                           "        wrong shape, a negative id or an id count that differs"),
    method<kRemove, remove_impl>("remove($self, ids)\n--\n\n"
                                 "Remove every code stored under one of the ids.\n\n"
                                 "Ids that are not stored are passed over; the other codes keep\n"
                                 "their order.\n\n"
                                 "Returns:\n"
                                 "    int: how many codes were removed"),
    method<kSearch, search_impl>("search($self, queries, k, *, workers=1)\n--\n\n"
                                 "The k nearest stored codes of each query, exactly.\n\n"
                                 "Args:\n"
                                 "    queries: in any form add takes\n"
                                 "    k (int): neighbours per query, 1 or more\n"
                                 "    workers (int): threads to split the work over; -1 for every core.\n"
                                 "        The result is the same for every count\n\n"
                                 "Returns:\n"
                                 "    tuple[numpy.ndarray, numpy.ndarray]: distances (int32) and ids\n"
                                 "    (int64), both (q, k): row i holds query i's nearest codes by\n"
                                 "    Hamming distance, ties by smaller id; where fewer than k codes\n"
                                 "    are stored the row ends in distance -1 and id -1\n\n"
                                 "Example:\n"
                                 "    >>> import numpy as np, mivo_collections\n"
                                 "    >>> index = mivo_collections.HammingIndex(64)\n"
                                 "    >>> index.add(np.array([0b1011, 0b0001, 0b1111], dtype=np.uint64))\n"
                                 "    >>> index.search(np.array([0b0011], dtype=np.uint64), 2)\n"
                                 "    (array([[1, 1]], dtype=int32), array([[0, 1]]))"),
    method<kRangeSearch, range_search_impl>("range_search($self, queries, radius, *, workers=1)\n--\n\n"
                                            "Every stored code within a Hamming distance of each query.\n\n"
                                            "Args:\n"
                                            "    queries: in any form add takes\n"
                                            "    radius (int): the largest distance kept (inclusive), 0 or more\n"
                                            "    workers (int): threads to split the work over; -1 for every core\n\n"
                                            "Returns:\n"
                                            "    list[tuple[numpy.ndarray, numpy.ndarray]]: per query, distances\n"
                                            "    (int32) and ids (int64) of every code within the radius, by\n"
                                            "    distance, ties by smaller id"),
    method<kSave, save_impl>("save($self, path)\n--\n\n"
                             "Write the index to a file (through a temporary file beside it,\n"
                             "renamed into place once complete).\n\n"
                             "The format is versioned and carries a BLAKE3 checksum; see\n"
                             "HammingIndex.load."),
    method<kLoad, load_impl>("load($cls, path)\n--\n\n"
                             "Read an index that save wrote.\n\n"
                             "Raises:\n"
                             "    ValueError: naming the problem, for a file that is truncated,\n"
                             "        damaged (checksum), of another format version or not an index\n"
                             "    OSError: when the file cannot be read",
                             METH_CLASS),
    {"__reduce__", Guarded<index_reduce>::call, METH_NOARGS, "Pickled through the bytes save() writes."},
    {"__setstate__", Guarded<index_setstate>::call, METH_O, "Restore the pickled contents."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"bits", get_bits, nullptr, "The code size: 128 (Mini128 payloads) or 64 (mivo.simhash values).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kClassDoc =
    "HammingIndex(bits)\n--\n\n"
    "An exact index of 128-bit codes (Mini128 payloads) or 64-bit codes\n"
    "(mivo.simhash values), searched by Hamming distance.\n\n"
    "Searches release the interpreter lock and split over `workers`\n"
    "threads with the same result for every count; several threads may\n"
    "search at once, and add or remove wait for the searches under way.\n"
    "Pickling goes through the bytes that save writes.\n\n"
    "Args:\n"
    "    bits (int): 128 or 64\n\n"
    "Example:\n"
    "    >>> import numpy as np, mivo_collections\n"
    "    >>> X = np.random.default_rng(0).standard_normal((1000, 384), np.float32)\n"
    "    >>> index = mivo_collections.HammingIndex(128)\n"
    "    >>> index.add(mivo_collections.encode_batch(X))\n"
    "    >>> distances, ids = index.search(mivo_collections.encode_batch(X[:2]), 3)\n"
    "    >>> ids[:, 0], distances[:, 0]\n"
    "    (array([0, 1]), array([0, 0], dtype=int32))";

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Guarded<index_new>::call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(Guarded<index_repr>::call)},
    {Py_sq_length, reinterpret_cast<void*>(Guarded<index_len>::call)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kGetSet},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "mivo_collections.HammingIndex", static_cast<int>(sizeof(IndexObject)), 0, kClassFlags, kSlots,
};

PyTypeObject* index_type() {
    static PyObject* const type = type_from_spec(&kSpec, kClassDoc);
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace

PyObject* hamming_index_class() { return class_reference(index_type(), "HammingIndex"); }

}  // namespace mivo::py
