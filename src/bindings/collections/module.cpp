// The companion module mivo_collections: work over many items at once, on
// the same core as mivo. Created once per process; importing it imports mivo.
#include "bindings/collections/registry.hpp"

namespace mivo::py {
namespace {

constexpr const char* kVersion = "0.4.51";

constexpr const char* kModuleDoc =
    "mivo_collections - mivo's functions over many items at once\n"
    "\n"
    "Batch encoding of the rows of a matrix, an exact Hamming index of\n"
    "Mini128 payloads or text SimHash values, and string scores between\n"
    "many strings (cdist, extract). Every result is exactly what\n"
    "mivo's one-item functions give, item by item. Unlike mivo, these functions\n"
    "release the interpreter lock while they work (on memory the call owns or\n"
    "holds), split the work over `workers` threads with the same result for\n"
    "every count, and stop with KeyboardInterrupt on Ctrl-C.";

struct Entry {
    const char* name;
    PyMethodDef* function;
    PyObject* (*cls)();
};

const Entry kEntries[] = {
    {"encode_batch", &k_encode_batch, nullptr},
    {"bands_batch", &k_bands_batch, nullptr},
    {"HammingIndex", nullptr, &hamming_index_class},
    {"cdist", &k_cdist, nullptr},
    {"extract", &k_extract, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "mivo_collections", kModuleDoc, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* build_module() {
    // The functions accept mivo's objects (Profile, the string functions as
    // scorers) and their signatures name them: mivo comes first.
    Ref mivo(PyImport_ImportModule("mivo"));
    if (!mivo) return nullptr;
    Ref module(PyModule_Create(&g_module_def));
    if (!module) return nullptr;
    Ref module_name(PyUnicode_FromString("mivo_collections"));
    Ref all(PyList_New(0));
    if (!module_name || !all) return nullptr;
    for (const Entry& e : kEntries) {
        Ref value(e.function ? signed_function(e.function, module_name.get()) : e.cls());
        Ref key(PyUnicode_FromString(e.name));
        if (!value || !key || PyList_Append(all.get(), key.get()) < 0 ||
            PyObject_SetAttr(module.get(), key.get(), value.get()) < 0)
            return nullptr;
    }
    if (PyObject_SetAttrString(module.get(), "__all__", all.get()) < 0) return nullptr;
    if (PyModule_AddStringConstant(module.get(), "__version__", kVersion) < 0) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace mivo::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_mivo_collections(void) {
    return mivo::py::module_once<mivo::py::build_module>("mivo_collections");
}
