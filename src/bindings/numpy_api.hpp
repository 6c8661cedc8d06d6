// NumPy's C API for a translation unit other than numpy_glue.cpp: the same
// table, imported there (call ensure_numpy() before any other use).
#pragma once

#include "bindings/arguments.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL mivo_ARRAY_API
#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>
