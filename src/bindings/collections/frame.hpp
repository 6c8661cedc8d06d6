// What the companion module's functions share beyond the binding frame of
// arguments.hpp: the objects of the mivo module they accept, the `workers`
// argument, 2-D arrays in and out, and running work with the interpreter
// lock released.
//
// Ownership while the lock is released: work runs only on memory the call
// owns (copies it made) or has pinned: an array held by a strong reference
// for the whole call (the array, and the base that owns its memory, cannot
// go away meanwhile), and `str` objects held by strong references (a str
// never changes). A list that another thread changes meanwhile changes
// nothing the work reads. (Resizing an array with refcheck=False while
// anything else uses it is undefined in NumPy itself, and here too.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "bindings/arguments.hpp"
#include "collections/matrix.hpp"
#include "collections/workers.hpp"

namespace mivo::py::collections_frame {

// An attribute of the mivo module (imported with the companion module); empty
// with an exception set if it is missing.
Ref mivo_attr(const char* name);

// The `workers` argument: an int, -1 for every core or a count from 1 (more
// than the machine has only wait). The interpreter's TypeError for a
// non-integer; ValueError "workers must be -1 (every core) or a positive
// count, got 0" otherwise.
bool to_workers(PyObject* obj, unsigned& out);

// A mivo.Profile instance as its variant number (0 Mini128, 1 Morton10x10,
// 2 Hilbert10x10); TypeError "'T' object cannot be cast as 'Profile'".
bool to_profile(PyObject* obj, std::uint8_t& out);

// An (n, d) NumPy array of float32 or float64 values, any strides, held for
// as long as this object lives. `name` is the parameter's name for the
// messages: TypeError for a non-array or another dtype, ValueError for
// another number of dimensions.
struct MatrixArg {
    Ref array;
    collections::MatrixRef ref;
    bool convert(PyObject* obj, const char* name);
};

// A new C-contiguous 2-D array of the NumPy type number `type`
// (uninitialised), and its data.
PyObject* new_matrix(std::size_t rows, std::size_t cols, int type, void** data);

// Runs body(begin, end) over the chunks of [0, n) on `workers` threads with
// the interpreter lock released; the calling thread takes the lock again
// about every 50 ms between chunks to run signal handlers. False when a
// handler raised (Ctrl-C: KeyboardInterrupt), with that exception set; the
// work stops after the chunks under way. `body` must not touch Python
// objects.
bool run_released(std::size_t n, std::size_t grain, unsigned workers,
                  const std::function<void(std::size_t, std::size_t)>& body);

}  // namespace mivo::py::collections_frame
