// NumPy's C API for the shared binding frame. NumPy is imported lazily, on
// the first call that converts or builds an array; other translation units
// of a module reach the same table through numpy_api.hpp.
#include "bindings/arguments.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL mivo_ARRAY_API
#include <numpy/arrayobject.h>

#include <cstring>
#include <type_traits>

namespace mivo::py {

// Importing twice is harmless (both imports store the same table), so the
// interpreter lock is all the once-only protection this needs.
bool ensure_numpy() {
    if (PyArray_API != nullptr) return true;
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        return false;
    }
    return true;
}

namespace {

// A one-dimensional array whose dtype is equivalent to native float32.
bool is_f32_vector(PyObject* obj) {
    if (!PyArray_Check(obj)) return false;
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    PyArray_Descr* f32 = PyArray_DescrFromType(NPY_FLOAT32);
    const bool same = PyArray_EquivTypes(PyArray_DESCR(arr), f32);
    Py_DECREF(f32);
    return same && PyArray_NDIM(arr) == 1;
}

}  // namespace

bool to_vector(PyObject* obj, FloatView& out) {
    if (!ensure_numpy()) return false;
    if (!is_f32_vector(obj)) return cannot_cast(obj, "ndarray");
    out.array = obj;
    return true;
}

bool recheck_vector(FloatView& view) { return is_f32_vector(view.array) || cannot_cast(view.array, "ndarray"); }

bool check_contiguous(FloatView& view) {
    auto* arr = reinterpret_cast<PyArrayObject*>(view.array);
    if (!(PyArray_FLAGS(arr) & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS))) {
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
        return false;
    }
    const auto n = static_cast<std::size_t>(PyArray_DIM(arr, 0));
    const auto* data = static_cast<const char*>(PyArray_DATA(arr));
    if (reinterpret_cast<std::uintptr_t>(data) % alignof(float) != 0) {
        view.owned.resize(n);
        if (n) std::memcpy(view.owned.data(), data, n * sizeof(float));
        view.values = std::span<const float>(view.owned);
    } else {
        view.values = std::span<const float>(reinterpret_cast<const float*>(data), n);
    }
    return true;
}

namespace {

// Copies n values of type T, `stride` bytes apart (any stride, any
// alignment), narrowed to f32 as a cast of each value.
template <class T>
void copy_strided(const char* base, Py_ssize_t stride, std::size_t n, float* out) {
    if constexpr (std::is_same_v<T, float>) {
        if (stride == static_cast<Py_ssize_t>(sizeof(float))) {
            if (n) std::memcpy(out, base, n * sizeof(float));
            return;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, base + static_cast<Py_ssize_t>(i) * stride, sizeof v);
        out[i] = static_cast<float>(v);
    }
}

// Releases a buffer view on scope exit.
struct BufferView {
    Py_buffer view{};
    bool held = false;
    ~BufferView() {
        if (held) PyBuffer_Release(&view);
    }
};

}  // namespace

ArrayRead read_float_array(PyObject* obj, std::vector<float>& out) {
    // The name test keeps NumPy unloaded for every other argument: an object
    // of this type exists only once NumPy has been imported.
    if (std::strcmp(Py_TYPE(obj)->tp_name, "numpy.ndarray") != 0) return ArrayRead::NotFloatArray;
    if (!ensure_numpy()) return ArrayRead::Failed;
    if (!PyArray_CheckExact(obj)) return ArrayRead::NotFloatArray;
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    const int type = PyArray_TYPE(arr);
    if (PyArray_NDIM(arr) != 1 || (type != NPY_FLOAT32 && type != NPY_FLOAT64) || !PyArray_ISNOTSWAPPED(arr))
        return ArrayRead::NotFloatArray;
    BufferView b;
    if (PyObject_GetBuffer(obj, &b.view, PyBUF_RECORDS_RO) < 0) return ArrayRead::Failed;
    b.held = true;
    const auto n = static_cast<std::size_t>(b.view.shape[0]);
    const auto* base = static_cast<const char*>(b.view.buf);
    out.resize(n);
    if (type == NPY_FLOAT32)
        copy_strided<float>(base, b.view.strides[0], n, out.data());
    else
        copy_strided<double>(base, b.view.strides[0], n, out.data());
    return ArrayRead::Copied;
}

PyObject* py_f32_array(std::span<const float> values) {
    if (!ensure_numpy()) return nullptr;
    npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
    PyObject* arr = PyArray_SimpleNew(1, dims, NPY_FLOAT32);
    if (!arr) return nullptr;
    if (!values.empty())
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)), values.data(), values.size() * sizeof(float));
    return arr;
}

}  // namespace mivo::py
