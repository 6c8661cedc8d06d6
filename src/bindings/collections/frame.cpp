#include "bindings/collections/frame.hpp"

#include <chrono>

#include "bindings/numpy_api.hpp"

namespace mivo::py::collections_frame {

Ref mivo_attr(const char* name) {
    Ref module(PyImport_ImportModule("mivo"));
    if (!module) return Ref();
    return Ref(PyObject_GetAttrString(module.get(), name));
}

bool to_workers(PyObject* obj, unsigned& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    out = overflow > 0 ? collections::kMaxWorkers : collections::resolve_workers(v);
    if (overflow < 0 || out == 0) {
        PyErr_Format(PyExc_ValueError, "workers must be -1 (every core) or a positive count, got %S", index.get());
        return false;
    }
    return true;
}

bool to_profile(PyObject* obj, std::uint8_t& out) {
    const Ref type = mivo_attr("Profile");
    if (!type) return false;
    if (!PyType_Check(type.get()) || !PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type.get())))
        return cannot_cast(obj, "Profile");
    Ref number(PyNumber_Long(obj));
    if (!number) return false;
    out = static_cast<std::uint8_t>(PyLong_AsLong(number.get()));
    return !PyErr_Occurred();
}

bool MatrixArg::convert(PyObject* obj, const char* name) {
    if (!ensure_numpy()) return false;
    if (!PyArray_Check(obj)) {
        const std::string type = type_name(obj);
        PyErr_Format(PyExc_TypeError, "%s must be a 2-D NumPy array of float32 or float64 values, got '%s'", name,
                     type.c_str());
        return false;
    }
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    const int type = PyArray_TYPE(arr);
    if ((type != NPY_FLOAT32 && type != NPY_FLOAT64) || !PyArray_ISNOTSWAPPED(arr)) {
        PyErr_Format(PyExc_TypeError, "%s must hold float32 or float64 values (native byte order), got dtype %S", name,
                     reinterpret_cast<PyObject*>(PyArray_DESCR(arr)));
        return false;
    }
    if (PyArray_NDIM(arr) != 2) {
        PyErr_Format(PyExc_ValueError, "%s must be a 2-D array (one row per vector), got %d dimension%s", name,
                     PyArray_NDIM(arr), PyArray_NDIM(arr) == 1 ? "" : "s");
        return false;
    }
    Py_INCREF(obj);
    array = Ref(obj);
    ref.data = static_cast<const std::byte*>(PyArray_DATA(arr));
    ref.rows = static_cast<std::size_t>(PyArray_DIM(arr, 0));
    ref.cols = static_cast<std::size_t>(PyArray_DIM(arr, 1));
    ref.row_stride = PyArray_STRIDE(arr, 0);
    ref.col_stride = PyArray_STRIDE(arr, 1);
    ref.type = type == NPY_FLOAT32 ? collections::ValueType::F32 : collections::ValueType::F64;
    return true;
}

PyObject* new_matrix(std::size_t rows, std::size_t cols, int type, void** data) {
    if (!ensure_numpy()) return nullptr;
    npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
    PyObject* arr = PyArray_SimpleNew(2, dims, type);
    if (arr) *data = PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr));
    return arr;
}

bool run_released(std::size_t n, std::size_t grain, unsigned workers,
                  const std::function<void(std::size_t, std::size_t)>& body) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kPollEvery = std::chrono::milliseconds(50);
    PyThreadState* state = PyEval_SaveThread();
    auto last = Clock::now();
    bool raised = false;
    const auto poll = [&] {
        const auto now = Clock::now();
        if (now - last < kPollEvery) return true;
        last = now;
        PyEval_RestoreThread(state);
        raised = PyErr_CheckSignals() < 0;
        state = PyEval_SaveThread();
        return !raised;
    };
    collections::for_each_chunk(n, grain, workers, body, poll);
    PyEval_RestoreThread(state);
    return !raised;
}

}  // namespace mivo::py::collections_frame
