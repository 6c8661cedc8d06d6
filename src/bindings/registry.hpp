// Everything the module registers, declared once. Each binding file defines
// its entries; module.cpp lists them in registration order.
#pragma once

#include "bindings/frame.hpp"

namespace mivo::py {

// String similarity
extern PyMethodDef k_levenshtein;
extern PyMethodDef k_normalized_levenshtein;

// Enumeration classes: getters return a new reference to the class object,
// which is created once on first use.
PyObject* profile_class();
PyObject* vector_precision_class();
PyObject* dimension_mode_class();
PyTypeObject* profile_type();  // borrowed; nullptr with an exception set on failure

}  // namespace mivo::py
