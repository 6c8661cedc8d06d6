// Everything the module registers, declared once. Each binding file defines
// its entries; module.cpp lists them in registration order.
#pragma once

#include "bindings/frame.hpp"

namespace mivo::py {

// String similarity
extern PyMethodDef k_levenshtein;
extern PyMethodDef k_normalized_levenshtein;

}  // namespace mivo::py
