// The only translation unit that talks to NumPy's C API. NumPy is imported
// lazily, on the first call that converts or builds an array.
#include "bindings/frame.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL mivo_ARRAY_API
#include <numpy/arrayobject.h>

#include <cstring>

namespace mivo::py {

namespace {

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

}  // namespace

bool to_vector(PyObject* obj, FloatView& out) {
    if (!ensure_numpy()) return false;
    if (!PyArray_Check(obj)) return cannot_cast(obj, "ndarray");
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    PyArray_Descr* f32 = PyArray_DescrFromType(NPY_FLOAT32);
    const bool same = PyArray_EquivTypes(PyArray_DESCR(arr), f32);
    Py_DECREF(f32);
    if (PyArray_NDIM(arr) != 1 || !same) return cannot_cast(obj, "ndarray");

    const auto n = static_cast<std::size_t>(PyArray_DIM(arr, 0));
    out.contiguous = (PyArray_FLAGS(arr) & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)) != 0;
    const auto* data = static_cast<const char*>(PyArray_DATA(arr));
    if (!out.contiguous) {
        out.values = {};
        return true;
    }
    if (reinterpret_cast<std::uintptr_t>(data) % alignof(float) != 0) {
        out.owned.resize(n);
        if (n) std::memcpy(out.owned.data(), data, n * sizeof(float));
        out.values = std::span<const float>(out.owned);
    } else {
        out.values = std::span<const float>(reinterpret_cast<const float*>(data), n);
    }
    return true;
}

bool check_contiguous(const FloatView& view) {
    if (view.contiguous) return true;
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
    return false;
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
