// NumPy's C API for the shared binding frame. NumPy is imported lazily, on
// the first call that converts or builds an array; other translation units
// of a module reach the same table through numpy_api.hpp.
#include "bindings/arguments.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL mivo_ARRAY_API
#include <numpy/arrayobject.h>

#include <cstring>

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
