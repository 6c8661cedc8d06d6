// Profile, VectorPrecision and DimensionMode: small native classes with one
// interned instance per variant, no constructor, identity equality.
#include <cstddef>
#include <new>

#include "bindings/registry.hpp"

namespace mivo::py {
namespace {

using Variant = Native<std::uint8_t>;

struct EnumSpec {
    const char* type_name;  // dotted, for the class object
    const char* short_name;
    const char* doc;
    const char* const* variants;
    std::size_t count;
};

const EnumSpec* spec_of(PyObject* self);

PyObject* variant_repr(PyObject* self) {
    Shared<std::uint8_t> v;
    if (!v.acquire(self)) return nullptr;
    const EnumSpec* info = spec_of(self);
    if (!info || *v >= info->count) {
        PyErr_SetString(PyExc_SystemError, "mivo internal error: unknown enumeration value");
        return nullptr;
    }
    return PyUnicode_FromFormat("%s.%s", info->short_name, info->variants[*v]);
}

PyObject* variant_int(PyObject* self) {
    Shared<std::uint8_t> v;
    if (!v.acquire(self)) return nullptr;
    return PyLong_FromLong(*v);
}

// Pickled by name: the qualified name "Profile.Mini128" (the repr) is looked
// up in the module again on loading, which gives back the one interned
// instance.
PyObject* variant_reduce(PyObject* self, PyObject*) { return variant_repr(self); }

PyMethodDef kVariantMethods[] = {
    {"__reduce__", variant_reduce, METH_NOARGS, "Pickle by name: the unpickled variant is the same object."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_enum_class(const EnumSpec& info) {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(info.doc)},
        {Py_tp_repr, reinterpret_cast<void*>(variant_repr)},
        {Py_nb_int, reinterpret_cast<void*>(variant_int)},
        {Py_tp_methods, kVariantMethods},
        {0, nullptr},
    };
    PyType_Spec type_spec = {info.type_name, static_cast<int>(sizeof(Variant)), 0, Py_TPFLAGS_DEFAULT, slots};
    Ref type(PyType_FromSpec(&type_spec));
    if (!type) return nullptr;
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    for (std::size_t i = 0; i < info.count; ++i) {
        Ref inst(tp->tp_alloc(tp, 0));
        if (!inst) return nullptr;
        auto* v = reinterpret_cast<Variant*>(inst.get());
        new (&v->borrow) BorrowFlag();
        v->value = static_cast<std::uint8_t>(i);
        if (PyObject_SetAttrString(type.get(), info.variants[i], inst.get()) < 0) return nullptr;
    }
    // No constructor: calling the class raises TypeError. The variants are
    // fixed: the class refuses attribute assignment from now on.
    tp->tp_new = nullptr;
#ifdef Py_TPFLAGS_IMMUTABLETYPE
    tp->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
#endif
    PyType_Modified(tp);
    return type.release();
}

const char* const kProfileVariants[] = {"Mini128", "Morton10x10", "Hilbert10x10"};
const char* const kPrecisionVariants[] = {"Full32", "Half16", "Quant8"};
const char* const kModeVariants[] = {"Preserve", "Reduce", "Common"};

const EnumSpec kProfile = {"mivo.Profile", "Profile",
                           "Encoding profile for embedding vectors.\n"
                           "\n"
                           "Profiles determine how embeddings are transformed into compact identifiers.\n"
                           "\n"
                           "Variants:\n"
                           "    Mini128: 128-bit SimHash (default, fast cosine similarity via Hamming distance)\n"
                           "    Morton10x10: Z-order curve encoding for database indexing\n"
                           "    Hilbert10x10: Hilbert curve encoding for maximum locality preservation\n"
                           "\n"
                           "Example:\n"
                           "    >>> import mivo\n"
                           "    >>> profile = mivo.Profile.Mini128\n"
                           "    >>> mivo_str = mivo.encode(embedding, profile)",
                           kProfileVariants, 3};

const EnumSpec kVectorPrecision = {"mivo.VectorPrecision", "VectorPrecision",
                                   "Precision options for full vector encoding.\n"
                                   "\n"
                                   "Controls how many bits are used to represent each dimension value.\n"
                                   "Higher precision means more accurate reconstruction but larger output.\n"
                                   "\n"
                                   "Variants:\n"
                                   "    Full32: Full 32-bit float (lossless, 4 bytes per dimension)\n"
                                   "    Half16: 16-bit half-precision float (2 bytes per dimension)\n"
                                   "    Quant8: 8-bit quantized (1 byte per dimension, ~1% error)\n"
                                   "\n"
                                   "Example:\n"
                                   "    >>> import mivo\n"
                                   "    >>> prec = mivo.VectorPrecision.Full32  # Lossless\n"
                                   "    >>> prec = mivo.VectorPrecision.Half16  # Good balance\n"
                                   "    >>> prec = mivo.VectorPrecision.Quant8  # Smallest",
                                   kPrecisionVariants, 3};

const EnumSpec kDimensionMode = {"mivo.DimensionMode", "DimensionMode",
                                 "Dimension handling mode for full vector encoding.\n"
                                 "\n"
                                 "Controls whether to preserve original dimensions, reduce them,\n"
                                 "or project to a common space for cross-dimensional comparison.\n"
                                 "\n"
                                 "Variants:\n"
                                 "    Preserve: Keep all original dimensions (no projection)\n"
                                 "    Reduce: Reduce dimensions using random projection\n"
                                 "    Common: Project to common space for cross-dimensional comparison\n"
                                 "\n"
                                 "Example:\n"
                                 "    >>> import mivo\n"
                                 "    >>> mode = mivo.DimensionMode.Preserve  # Keep all dims\n"
                                 "    >>> mode = mivo.DimensionMode.Reduce    # Reduce for smaller output\n"
                                 "    >>> mode = mivo.DimensionMode.Common    # Cross-dimensional comparison",
                                 kModeVariants, 3};

// Class objects are created once, on first use, and live for the process.
PyObject* class_object(const EnumSpec& info, PyObject*& slot) {
    if (!slot) slot = make_enum_class(info);
    Py_XINCREF(slot);
    return slot;
}

PyObject* g_profile = nullptr;
PyObject* g_precision = nullptr;
PyObject* g_mode = nullptr;

const EnumSpec* spec_of(PyObject* self) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (type == g_profile) return &kProfile;
    if (type == g_precision) return &kVectorPrecision;
    if (type == g_mode) return &kDimensionMode;
    return nullptr;
}

}  // namespace

PyObject* profile_class() { return class_object(kProfile, g_profile); }
PyObject* vector_precision_class() { return class_object(kVectorPrecision, g_precision); }
PyObject* dimension_mode_class() { return class_object(kDimensionMode, g_mode); }

PyTypeObject* profile_type() {
    if (!g_profile) Py_XDECREF(profile_class());
    return reinterpret_cast<PyTypeObject*>(g_profile);
}

}  // namespace mivo::py
