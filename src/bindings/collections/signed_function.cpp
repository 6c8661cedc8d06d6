// The companion module's functions as the interpreter sees them: each
// builtin wrapped in a small callable that forwards every call to it
// (vectorcall, nothing converted) and carries a real `__signature__`.
// The builtins' text signatures cannot hold defaults such as
// mivo.Profile.Mini128 or mivo.levenshtein (inspect only reads constants
// there), so the signature is built once from the same text, evaluated with
// mivo in scope.
#include <cstddef>
#include <cstring>
#include <string>

#include "bindings/collections/registry.hpp"

#include <structmember.h>

namespace mivo::py {
namespace {

struct SignedFunction {
    PyObject_HEAD vectorcallfunc vectorcall;
    PyObject* function;   // the builtin
    PyObject* signature;  // an inspect.Signature
};

PyObject* forward(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return PyObject_Vectorcall(reinterpret_cast<SignedFunction*>(self)->function, args, nargsf, kwnames);
}

void dealloc(PyObject* self) {
    auto* f = reinterpret_cast<SignedFunction*>(self);
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(f->function);
    Py_XDECREF(f->signature);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* repr(PyObject* self) { return PyObject_Repr(reinterpret_cast<SignedFunction*>(self)->function); }

PyObject* get_signature(PyObject* self, void*) {
    PyObject* s = reinterpret_cast<SignedFunction*>(self)->signature;
    Py_INCREF(s);
    return s;
}

// __doc__, __name__, __qualname__ and __module__ are the builtin's.
PyObject* get_forwarded(PyObject* self, void* name) {
    return PyObject_GetAttrString(reinterpret_cast<SignedFunction*>(self)->function, static_cast<const char*>(name));
}

// Got through a class, it stays what it is, as a builtin does (and reads as a
// method descriptor, the way inspect and type checkers tell builtins).
PyObject* descr_get(PyObject* self, PyObject*, PyObject*) {
    Py_INCREF(self);
    return self;
}

// Pickled by name, as functions are.
PyObject* reduce(PyObject* self, PyObject*) { return get_forwarded(self, const_cast<char*>("__name__")); }

PyGetSetDef kGetSet[] = {
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__doc__", get_forwarded, nullptr, nullptr, const_cast<char*>("__doc__")},
    {"__name__", get_forwarded, nullptr, nullptr, const_cast<char*>("__name__")},
    {"__qualname__", get_forwarded, nullptr, nullptr, const_cast<char*>("__qualname__")},
    {"__module__", get_forwarded, nullptr, nullptr, const_cast<char*>("__module__")},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"__reduce__", reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef kMembers[] = {
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(SignedFunction, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject* signed_function_type() {
    static PyTypeObject* type = [] {
        PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(repr)},
            {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
            {Py_tp_descr_get, reinterpret_cast<void*>(descr_get)},
            {Py_tp_getset, kGetSet},
            {Py_tp_methods, kMethods},
            {Py_tp_members, kMembers},
            {0, nullptr},
        };
        PyType_Spec type_spec = {"mivo_collections.builtin_function", static_cast<int>(sizeof(SignedFunction)), 0,
                                 Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL, slots};
        return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    }();
    return type;
}

// The parameter list of a docstring's text-signature line "name(...)\n--".
std::string parameters_of(const char* doc) {
    const char* open = std::strchr(doc, '(');
    const char* end = std::strstr(doc, ")\n--\n");
    if (!open || !end || end < open) return {};
    return std::string(open + 1, end);
}

}  // namespace

PyObject* signed_function(PyMethodDef* def, PyObject* module_name) {
    PyTypeObject* type = signed_function_type();
    if (!type) return nullptr;
    Ref function(PyCFunction_NewEx(def, nullptr, module_name));
    if (!function) return nullptr;
    // inspect.signature(lambda <parameters>: None), with mivo in scope.
    Ref globals(PyDict_New());
    Ref mivo(PyImport_ImportModule("mivo"));
    Ref inspect(PyImport_ImportModule("inspect"));
    if (!globals || !mivo || !inspect || PyDict_SetItemString(globals.get(), "mivo", mivo.get()) < 0) return nullptr;
    const std::string source = "lambda " + parameters_of(def->ml_doc) + ": None";
    Ref lambda(PyRun_String(source.c_str(), Py_eval_input, globals.get(), globals.get()));
    if (!lambda) return nullptr;
    Ref signature(PyObject_CallMethod(inspect.get(), "signature", "O", lambda.get()));
    if (!signature) return nullptr;
    auto* f = PyObject_New(SignedFunction, type);
    if (!f) return nullptr;
    f->vectorcall = forward;
    f->function = function.release();
    f->signature = signature.release();
    return reinterpret_cast<PyObject*>(f);
}

}  // namespace mivo::py
