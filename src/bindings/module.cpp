// The module object: created once per process, functions and classes
// registered in a fixed order that also builds __all__, __version__ last.
#include "bindings/registry.hpp"

namespace mivo::py {
namespace {

constexpr const char* kVersion = "0.4.51";

constexpr const char* kModuleDoc =
    "mivo - fast Unicode string similarity and compact identifiers for embedding vectors\n"
    "\n"
    "A fast library for computing various string similarity metrics.";

// A registration entry: a module function or a class (a getter returning a
// new reference to the class object, created on first use).
struct Entry {
    const char* name;
    PyMethodDef* function;
    PyObject* (*cls)();
};

const Entry kEntries[] = {
    {"levenshtein", &k_levenshtein, nullptr},
    {"normalized_levenshtein", &k_normalized_levenshtein, nullptr},
    {"jaro", &k_jaro, nullptr},
    {"jaro_winkler", &k_jaro_winkler, nullptr},
    {"hamming", &k_hamming, nullptr},
    {"osa_distance", &k_osa_distance, nullptr},
    {"best_match", &k_best_match, nullptr},
    {"find_best_match", &k_find_best_match, nullptr},
    {"find_matches_above_threshold", &k_find_matches_above_threshold, nullptr},
    {"levenshtein_with_opts", &k_levenshtein_with_opts, nullptr},
    {"simhash", &k_simhash, nullptr},
    {"simhash_distance", &k_simhash_distance, nullptr},
    {"simhash_similarity", &k_simhash_similarity, nullptr},
    {"find_similar_hashes", &k_find_similar_hashes, nullptr},
    {"SimilarityOpts", nullptr, similarity_opts_class},
    {"encode", &k_encode, nullptr},
    {"decode", &k_decode, nullptr},
    {"mivo_hamming_distance", &k_mivo_hamming_distance, nullptr},
    {"Profile", nullptr, profile_class},
    {"encode_lossless", &k_encode_lossless, nullptr},
    {"encode_compressed", &k_encode_compressed, nullptr},
    {"encode_max_length", &k_encode_max_length, nullptr},
    {"decode_to_embedding", &k_decode_to_embedding, nullptr},
    {"is_reversible", &k_is_reversible, nullptr},
    {"encode_cross_dimensional", &k_encode_cross_dimensional, nullptr},
    {"get_metadata", &k_get_metadata, nullptr},
    {"VectorPrecision", nullptr, vector_precision_class},
    {"DimensionMode", nullptr, dimension_mode_class},
    {"embedding_to_bands", &k_embedding_to_bands, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "mivo",
    kModuleDoc,
    0,  // no per-module state
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Appends `name` to __all__ (creating the list first) and sets the attribute.
bool add_public(PyObject* module, const char* name, PyObject* value /* stolen */) {
    Ref owned(value);
    if (!owned) return false;
    static PyObject* all_name = PyUnicode_InternFromString("__all__");
    if (!all_name) return false;
    Ref all(PyObject_GetAttr(module, all_name));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) return false;
    }
    Ref key(PyUnicode_FromString(name));
    if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
    return PyObject_SetAttr(module, key.get(), owned.get()) == 0;
}

PyObject* build_module() {
    Ref module(PyModule_Create(&g_module_def));
    if (!module) return nullptr;
    Ref module_name(PyUnicode_FromString("mivo"));
    if (!module_name) return nullptr;
    for (const Entry& e : kEntries) {
        PyObject* value = e.function ? PyCFunction_NewEx(e.function, nullptr, module_name.get()) : e.cls();
        if (!add_public(module.get(), e.name, value)) return nullptr;
    }
    if (!add_public(module.get(), "__version__", PyUnicode_FromString(kVersion))) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace mivo::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_mivo(void) {
    return mivo::py::module_once<mivo::py::build_module>("mivo");
}
