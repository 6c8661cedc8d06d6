// Everything the module registers, declared once. Each binding file defines
// its entries; module.cpp lists them in registration order.
#pragma once

#include "bindings/arguments.hpp"

namespace mivo::py {

// String similarity
extern PyMethodDef k_levenshtein;
extern PyMethodDef k_normalized_levenshtein;
extern PyMethodDef k_jaro;
extern PyMethodDef k_jaro_winkler;
extern PyMethodDef k_hamming;
extern PyMethodDef k_osa_distance;
extern PyMethodDef k_best_match;
extern PyMethodDef k_find_best_match;
extern PyMethodDef k_find_matches_above_threshold;
extern PyMethodDef k_levenshtein_with_opts;

// Text SimHash
extern PyMethodDef k_simhash;
extern PyMethodDef k_simhash_distance;
extern PyMethodDef k_simhash_similarity;
extern PyMethodDef k_find_similar_hashes;

// Classes: each getter returns a new reference to the class object, which is
// created once, on first use.
PyObject* similarity_opts_class();

// Embeddings
extern PyMethodDef k_encode;
extern PyMethodDef k_decode;
extern PyMethodDef k_mivo_hamming_distance;
extern PyMethodDef k_encode_lossless;
extern PyMethodDef k_encode_compressed;
extern PyMethodDef k_encode_max_length;
extern PyMethodDef k_decode_to_embedding;
extern PyMethodDef k_is_reversible;
extern PyMethodDef k_encode_cross_dimensional;
extern PyMethodDef k_get_metadata;
extern PyMethodDef k_embedding_to_bands;

// Enumeration classes: getters return a new reference to the class object,
// which is created once on first use.
PyObject* profile_class();
PyObject* vector_precision_class();
PyObject* dimension_mode_class();
PyTypeObject* profile_type();  // borrowed; nullptr with an exception set on failure

}  // namespace mivo::py
