// Everything the companion module registers, declared once. Each binding
// file defines its entries; module.cpp lists them in registration order.
#pragma once

#include "bindings/arguments.hpp"

namespace mivo::py {

// A module function made from its method definition: a callable that
// forwards to the builtin and whose __signature__ is the docstring's
// text-signature line read as Python (defaults may name mivo's objects).
PyObject* signed_function(PyMethodDef* def, PyObject* module_name);

// Many vectors at once
extern PyMethodDef k_encode_batch;
extern PyMethodDef k_bands_batch;

// The exact Hamming index (a class; the getter returns a new reference)
PyObject* hamming_index_class();

// Many strings at once
extern PyMethodDef k_cdist;
extern PyMethodDef k_extract;

}  // namespace mivo::py
