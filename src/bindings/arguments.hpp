// The module frame shared by every module function: argument binding with the
// interpreter-style messages, argument conversions, the error mapping, native
// class instances with their borrow state, and result conversions.
//
// A module function is written as
//
//   constexpr Signature kSig{"levenshtein", {"a", "b"}, 2};
//   PyObject* levenshtein_impl(Args& args) {
//       std::string_view a, b;
//       if (!args.str(0, a) || !args.str(1, b)) return nullptr;
//       return py_int(strings::levenshtein(a, b));
//   }
//   PyMethodDef k_levenshtein = method<kSig, levenshtein_impl>(doc);
//
// Binding has already succeeded when the implementation runs. Each Args
// conversion returns false with the Python exception set and mapped (a plain
// TypeError gets the "argument 'p': " prefix); the implementation returns
// nullptr at once.
//
// Ownership: the one rule every function of mivo and mivo_collections follows.
//
//   A view into memory that a Python object owns (a str's UTF-8 or code
//   points, an array's data) is used only while the call holds a strong
//   reference to that object and no Python code can have changed the memory
//   since the view was taken. Whatever else a conversion gives is a copy.
//
// Any conversion may run Python code: __float__, __index__, __len__,
// __iter__, a finaliser started by the garbage collector, and with it any
// other thread that takes the interpreter lock meanwhile. So:
//   - a str never changes, and a strong reference pins it: arguments are held
//     by the caller for the whole call; the items of a list or tuple are
//     viewed where they are with a reference to each (StrViews::pins), since
//     Python code can empty the list but not free an item held, unless the
//     list is the call's last conversion before work that runs no Python
//     code (then nothing can change the list while the views are read);
//   - the items of any other sequence, and numbers, are copied as they are
//     converted (to_str_list, to_u64_list, to_f32_list);
//   - an array's memory can be resized or freed while the array lives
//     (ndarray.resize with refcheck=False), so no reference pins it: an array
//     argument is checked where its parameter comes, and its data are viewed
//     only after the last conversion of the call (FloatView, vector_data;
//     MatrixArg is converted again last), or copied at once (to_f32_list).
// Conversion order and messages follow the parameters whatever the rule
// needs. The companion module releases the interpreter lock only around work
// on memory pinned or owned this way.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace mivo::embeddings {
class MivoError;
}

namespace mivo::py {

// ---------------------------------------------------------------- references

// An owned (strong) reference, released on scope exit.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.release()) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = o.release();
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// ------------------------------------------------------------------- binding

inline constexpr int kMaxParams = 8;

struct Signature {
    const char* name;                            // Python name, used in messages
    std::array<const char*, kMaxParams> params;  // parameter names in order
    int count;                                   // number of parameters
    int required = -1;                           // leading required ones; -1: all
    int positional = -1;                         // leading ones that may come by position; -1: all
    constexpr int required_count() const { return required < 0 ? count : required; }
    // The parameters after these are keyword-only (`*` in the signature).
    constexpr int positional_count() const { return positional < 0 ? count : positional; }
};

// Binds fastcall arguments to parameter slots (borrowed references, nullptr
// where an optional parameter was not given). Returns false with TypeError set.
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);
// The same for a call given as a tuple and a dict (a class's tp_new): the
// same rules and messages.
bool bind_tuple_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots);

// ------------------------------------------------------------ error mapping

// Applies the boundary rule to the pending exception of a failed conversion of
// parameter `name`: an exception of exactly type TypeError is replaced by a new
// TypeError "argument '<name>': <message>" that keeps the original __cause__;
// anything else stays as it is. Always returns false.
bool wrap_argument_error(const char* name);

// Raises ValueError carrying the error's display text (SystemError for an
// Internal error). Returns nullptr.
PyObject* raise_mivo(const embeddings::MivoError& err);

// ------------------------------------------------------- plain conversions
// Each sets the conversion's own (unprefixed) exception and returns false.

// The qualified name of a class, and of an object's type, as the refusal
// messages quote them.
std::string class_name(PyTypeObject* type);
inline std::string type_name(PyObject* obj) { return class_name(Py_TYPE(obj)); }
// Raises TypeError "'<type of obj>' object cannot be cast as '<target>'".
bool cannot_cast(PyObject* obj, const char* target);

bool to_str(PyObject* obj, std::string_view& out);
bool to_u64(PyObject* obj, std::uint64_t& out);
bool to_u32(PyObject* obj, std::uint32_t& out);
bool to_u16(PyObject* obj, std::uint16_t& out);
bool to_u8(PyObject* obj, std::uint8_t& out);
bool to_bool(PyObject* obj, bool& out);
bool to_f64(PyObject* obj, double& out);
bool to_str_list(PyObject* obj, std::vector<std::string>& out);

// A list-of-strings argument viewed as UTF-8 without copying where it can be:
// the strings of a list or tuple are viewed where they are, each held by a
// reference in `pins` until the call ends when `later_conversions` (Python
// code run by a later conversion may empty or refill the list); the items of
// any other sequence are copied into `owned`.
struct StrViews {
    std::vector<std::string_view> views;
    std::vector<std::string> owned;
    std::vector<Ref> pins;
};
bool to_str_views(PyObject* obj, StrViews& out, bool later_conversions);
bool to_u64_list(PyObject* obj, std::vector<std::uint64_t>& out);
// The sequence-of-floats conversion. A one-dimensional numpy.ndarray (the
// class itself: a subclass may read its items differently) of native float32
// or float64 values is copied through the buffer protocol, any strides; every
// other sequence, arrays of other dtypes included, is read item by item.
// Either way each value is taken as f64 and narrowed to f32.
bool to_f32_list(PyObject* obj, std::vector<float>& out);
// The buffer part of to_f32_list: Copied, NotFloatArray (nothing done, no
// exception), or Failed with the exception set.
enum class ArrayRead { Copied, NotFloatArray, Failed };
ArrayRead read_float_array(PyObject* obj, std::vector<float>& out);

// A read-only view of a one-dimensional float32 NumPy array. The conversion
// checks the array; its data are viewed (in place, or copied into `owned` when
// misaligned) only once every argument has been converted, since converting a
// later argument may run Python code that reshapes or frees the buffer.
struct FloatView {
    PyObject* array = nullptr;  // borrowed from the call's arguments
    std::span<const float> values;
    std::vector<float> owned;
};
bool to_vector(PyObject* obj, FloatView& out);
// Checks the array again (the vector conversion's TypeError) ...
bool recheck_vector(FloatView& view);
// ... then views its data, or raises TypeError "The given array is not
// contiguous".
bool check_contiguous(FloatView& view);

// ------------------------------------------------------- native instances

// Borrow state of a native instance: a count of shared borrows, or -1 for an
// exclusive one.
class BorrowFlag {
public:
    bool try_shared();
    void release_shared() { state_.fetch_sub(1, std::memory_order_release); }
    bool try_exclusive();
    void release_exclusive() { state_.store(0, std::memory_order_release); }

private:
    std::atomic<std::intptr_t> state_{0};
};

// Layout of every native class instance of this module.
template <class T>
struct Native {
    PyObject_HEAD BorrowFlag borrow;
    T value;
};

// Shared (read) borrow of a native instance, released on scope exit.
template <class T>
class Shared {
public:
    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() { reset(); }
    // Takes the borrow; RuntimeError "Already mutably borrowed" on conflict.
    bool acquire(PyObject* obj) {
        reset();
        auto* n = reinterpret_cast<Native<T>*>(obj);
        if (!n->borrow.try_shared()) {
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
            return false;
        }
        obj_ = n;
        return true;
    }
    const T& operator*() const { return obj_->value; }
    const T* operator->() const { return &obj_->value; }
    void reset() {
        if (obj_) obj_->borrow.release_shared();
        obj_ = nullptr;
    }

private:
    Native<T>* obj_ = nullptr;
};

// Exclusive (write) borrow; RuntimeError "Already borrowed" on conflict.
template <class T>
class Exclusive {
public:
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;
    explicit Exclusive(PyObject* obj) : obj_(reinterpret_cast<Native<T>*>(obj)) {
        if (!obj_->borrow.try_exclusive()) {
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            obj_ = nullptr;
        }
    }
    ~Exclusive() {
        if (obj_) obj_->borrow.release_exclusive();
    }
    explicit operator bool() const { return obj_ != nullptr; }
    T& operator*() const { return obj_->value; }
    T* operator->() const { return &obj_->value; }

private:
    Native<T>* obj_;
};

// The class-instance conversion: an instance of `type` (or a subclass) gives a
// shared borrow; anything else TypeError "'X' object cannot be cast as 'C'".
template <class T>
bool to_instance(PyObject* obj, PyTypeObject* type, Shared<T>& out) {
    if (!PyObject_TypeCheck(obj, type)) {
        return cannot_cast(obj, class_name(type).c_str());
    }
    return out.acquire(obj);
}

// ---------------------------------------------------------- bound arguments

class Args {
public:
    Args(const Signature& sig, PyObject** slots) : sig_(sig), slots_(slots) {}

    bool given(int i) const { return slots_[i] != nullptr; }
    PyObject* raw(int i) const { return slots_[i]; }
    const char* param(int i) const { return sig_.params[i]; }

    bool str(int i, std::string_view& out) { return to_str(slots_[i], out) || wrap(i); }
    bool u64(int i, std::uint64_t& out) { return to_u64(slots_[i], out) || wrap(i); }
    bool u32(int i, std::uint32_t& out) { return to_u32(slots_[i], out) || wrap(i); }
    bool u16(int i, std::uint16_t& out) { return to_u16(slots_[i], out) || wrap(i); }
    bool u8(int i, std::uint8_t& out) { return to_u8(slots_[i], out) || wrap(i); }
    bool boolean(int i, bool& out) { return to_bool(slots_[i], out) || wrap(i); }
    bool f64(int i, double& out) { return to_f64(slots_[i], out) || wrap(i); }
    bool str_list(int i, std::vector<std::string>& out) { return to_str_list(slots_[i], out) || wrap(i); }
    bool str_views(int i, StrViews& out, bool later_conversions) {
        return to_str_views(slots_[i], out, later_conversions) || wrap(i);
    }
    bool u64_list(int i, std::vector<std::uint64_t>& out) { return to_u64_list(slots_[i], out) || wrap(i); }
    bool f32_list(int i, std::vector<float>& out) { return to_f32_list(slots_[i], out) || wrap(i); }
    bool vector(int i, FloatView& out) { return to_vector(slots_[i], out) || wrap(i); }
    // After every argument is converted: the vector's data, contiguous.
    bool vector_data(int i, FloatView& view) { return (recheck_vector(view) || wrap(i)) && check_contiguous(view); }
    template <class T>
    bool instance(int i, PyTypeObject* type, Shared<T>& out) {
        return to_instance(slots_[i], type, out) || wrap(i);
    }

private:
    bool wrap(int i) { return wrap_argument_error(sig_.params[i]); }

    const Signature& sig_;
    PyObject** slots_;
};

// ------------------------------------------------------- result conversions

inline PyObject* py_int(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* py_float(double v) { return PyFloat_FromDouble(v); }
inline PyObject* py_bool(bool v) {
    PyObject* r = v ? Py_True : Py_False;
    Py_INCREF(r);
    return r;
}
inline PyObject* py_none() {
    Py_INCREF(Py_None);
    return Py_None;
}
inline PyObject* py_str(std::string_view s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}
inline PyObject* py_bytes(std::span<const std::uint8_t> b) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(b.data()), static_cast<Py_ssize_t>(b.size()));
}
// A new list with one item made by `make` per element; nullptr on failure,
// with nothing partial left behind.
template <class T, class Make>
PyObject* py_list(std::span<const T> items, Make make) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = make(items[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}
// A new list of str or of int.
PyObject* py_str_list(std::span<const std::string> items);
PyObject* py_int_list(std::span<const std::uint64_t> items);
// A new one-dimensional, writeable, C-contiguous float32 array owning a copy.
PyObject* py_f32_array(std::span<const float> values);

// Imports NumPy's C API on first use; false with ImportError set.
bool ensure_numpy();

// ------------------------------------------------------------------ modules

// The module object that Build makes, built once per process and handed out
// again on a later initialisation (an import after `del sys.modules[...]`);
// another interpreter gets ImportError: the modules keep process-wide state.
template <PyObject* (*Build)()>
PyObject* module_once(const char* name) {
    static PyObject* module = nullptr;
    static std::int64_t owner = -1;
    const std::int64_t interp = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (owner != -1 && interp != owner) {
        PyErr_Format(PyExc_ImportError, "%s does not support sub-interpreters", name);
        return nullptr;
    }
    if (!module) {
        module = Build();
        if (!module) return nullptr;
        owner = interp;
    }
    Py_INCREF(module);
    return module;
}

// ---------------------------------------------------- method definitions

// Runs a module function body, turning a C++ exception that escaped it (only
// allocation failure is expected) into a Python exception.
PyObject* translate_exception();

// A type slot (constructor, repr, setter) with the same protection: an error
// value instead of an exception unwinding into the interpreter.
template <auto Body>
struct Guarded;
template <class R, class... A, R (*Body)(A...)>
struct Guarded<Body> {
    static R call(A... a) noexcept {
        try {
            return Body(a...);
        } catch (...) {
            translate_exception();
            if constexpr (std::is_pointer_v<R>)
                return nullptr;
            else
                return -1;
        }
    }
};

// Impl is PyObject* (Args&), or PyObject* (PyObject* self, Args&) for a
// method of a class (self: the instance, or the class for METH_CLASS).
template <const Signature& Sig, auto Impl>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    PyObject* slots[kMaxParams] = {};
    if (!bind_arguments(Sig, args, PyVectorcall_NARGS(nargsf), kwnames, slots)) return nullptr;
    try {
        Args bound(Sig, slots);
        if constexpr (std::is_invocable_v<decltype(Impl), PyObject*, Args&>)
            return Impl(self, bound);
        else
            return Impl(bound);
    } catch (...) {
        return translate_exception();
    }
}

template <const Signature& Sig, auto Impl>
constexpr PyMethodDef method(const char* doc, int flags = 0) {
    return PyMethodDef{Sig.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<Sig, Impl>)),
                       METH_FASTCALL | METH_KEYWORDS | flags, doc};
}

// The flags of the modules' classes: immutable where the interpreter has
// the flag.
#ifdef Py_TPFLAGS_IMMUTABLETYPE
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT;
#endif

// A new reference to a class object made once (`type`, null if making it
// failed: then nullptr with the exception set, SystemError naming `name`
// if none was).
PyObject* class_reference(PyTypeObject* type, const char* name);

// A class object made from its PyType_Spec. Python 3.9's PyType_FromSpec keeps only
// the part of Py_tp_doc after the signature, so __text_signature__ (read from
// tp_doc) is None there: the whole `doc` is put back (__doc__ was already set
// from the shortened one).
PyObject* type_from_spec(PyType_Spec* type_spec, const char* doc);

}  // namespace mivo::py
