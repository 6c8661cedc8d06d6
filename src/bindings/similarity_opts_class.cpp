// The SimilarityOpts class and levenshtein_with_opts.
#include <charconv>
#include <cmath>
#include <new>
#include <string>

#include "bindings/registry.hpp"
#include "strings/similarity_opts.hpp"

namespace mivo::py {
namespace {

using Opts = strings::SimilarityOpts;
using OptsObject = Native<Opts>;

constexpr Signature kConstructor{"SimilarityOpts", {"case_sensitive", "trim_whitespace", "prefix_scale"}, 3, 0};

// The shortest decimal that reads back as v, written out without exponent:
// 0.1, 1, 0.0000001, 1000000000000000000000, -0, NaN, inf, -inf.
std::string plain_shortest(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));  // like -1.2345e-07
    std::string out;
    if (sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    const std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    int exponent = 0;
    std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+'), sci.data() + sci.size(), exponent);
    // The decimal point goes after `point` digits (negative: leading zeros).
    const long point = static_cast<long>(exponent) + 1;
    const long count = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    }
    return out;
}

// --------------------------------------------------------------- the class

PyObject* opts_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* slots[kMaxParams] = {};
    if (!bind_tuple_arguments(kConstructor, args, kwargs, slots)) return nullptr;
    Args bound(kConstructor, slots);
    Opts opts;
    if (bound.given(0) && !bound.boolean(0, opts.case_sensitive)) return nullptr;
    if (bound.given(1) && !bound.boolean(1, opts.trim_whitespace)) return nullptr;
    if (bound.given(2) && !bound.f64(2, opts.prefix_scale)) return nullptr;

    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* obj = reinterpret_cast<OptsObject*>(self);
    new (&obj->borrow) BorrowFlag();
    new (&obj->value) Opts(opts);
    return self;
}

void opts_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* obj = reinterpret_cast<OptsObject*>(self);
    obj->value.~Opts();
    obj->borrow.~BorrowFlag();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* opts_repr(PyObject* self) {
    Opts copy;
    {
        Shared<Opts> s;
        if (!s.acquire(self)) return nullptr;
        copy = *s;
    }
    std::string text = "SimilarityOpts(case_sensitive=";
    text += copy.case_sensitive ? "true" : "false";
    text += ", trim_whitespace=";
    text += copy.trim_whitespace ? "true" : "false";
    text += ", prefix_scale=";
    text += plain_shortest(copy.prefix_scale);
    text += ")";
    return py_str(text);
}

// Attributes: `closure` selects the field.
enum Field : std::intptr_t { kCaseSensitive, kTrimWhitespace, kPrefixScale };
constexpr const char* kFieldNames[] = {"case_sensitive", "trim_whitespace", "prefix_scale"};

Field field_of(void* closure) { return static_cast<Field>(reinterpret_cast<std::intptr_t>(closure)); }

PyObject* opts_get(PyObject* self, void* closure) {
    Shared<Opts> s;
    if (!s.acquire(self)) return nullptr;
    switch (field_of(closure)) {
        case kCaseSensitive: return py_bool(s->case_sensitive);
        case kTrimWhitespace: return py_bool(s->trim_whitespace);
        case kPrefixScale: return py_float(s->prefix_scale);
    }
    PyErr_SetString(PyExc_SystemError, "unknown SimilarityOpts attribute");
    return nullptr;
}

int opts_set(PyObject* self, PyObject* value, void* closure) {
    const Field field = field_of(closure);
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
        return -1;
    }
    // Convert first (the conversion may run Python code), then store under
    // an exclusive borrow.
    bool flag = false;
    double scale = 0.0;
    const bool ok = field == kPrefixScale ? to_f64(value, scale) : to_bool(value, flag);
    if (!ok) {
        wrap_argument_error(kFieldNames[field]);
        return -1;
    }
    Exclusive<Opts> e(self);
    if (!e) return -1;
    switch (field) {
        case kCaseSensitive: e->case_sensitive = flag; break;
        case kTrimWhitespace: e->trim_whitespace = flag; break;
        case kPrefixScale: e->prefix_scale = scale; break;
    }
    return 0;
}

// Pickled field by field: SimilarityOpts(case_sensitive, trim_whitespace,
// prefix_scale) rebuilds it, in another process too; copy and deepcopy use
// the same recipe.
PyObject* opts_reduce(PyObject* self, PyObject*) {
    Opts copy;
    {
        Shared<Opts> s;
        if (!s.acquire(self)) return nullptr;
        copy = *s;
    }
    return Py_BuildValue("(O(NNN))", reinterpret_cast<PyObject*>(Py_TYPE(self)), py_bool(copy.case_sensitive),
                         py_bool(copy.trim_whitespace), py_float(copy.prefix_scale));
}

PyMethodDef kMethods[] = {
    {"__reduce__", Guarded<opts_reduce>::call, METH_NOARGS, "Pickle field by field."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"case_sensitive", opts_get, Guarded<opts_set>::call, "Whether case matters (default True).",
     reinterpret_cast<void*>(kCaseSensitive)},
    {"trim_whitespace", opts_get, Guarded<opts_set>::call,
     "Whether leading and trailing white space is removed (default False).", reinterpret_cast<void*>(kTrimWhitespace)},
    {"prefix_scale", opts_get, Guarded<opts_set>::call, "Jaro-Winkler prefix scale (default 0.1, max: 0.25).",
     reinterpret_cast<void*>(kPrefixScale)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kClassDoc =
    "SimilarityOpts(case_sensitive=True, trim_whitespace=False, prefix_scale=0.1)\n--\n\n"
    "Options for configuring string similarity algorithms.\n\n"
    "Used by levenshtein_with_opts, which trims the strings first (when\n"
    "trim_whitespace is set) and then lowercases them (when case_sensitive is\n"
    "not set). prefix_scale is stored and shown but used by no function.\n\n"
    "Args:\n"
    "    case_sensitive (bool): Compare case-sensitively (default True)\n"
    "    trim_whitespace (bool): Remove leading and trailing white space\n"
    "        (default False)\n"
    "    prefix_scale (float): Jaro-Winkler prefix scale (default 0.1, max: 0.25)\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> opts = mivo.SimilarityOpts(case_sensitive=False, trim_whitespace=True)\n"
    "    >>> opts\n"
    "    SimilarityOpts(case_sensitive=false, trim_whitespace=true, prefix_scale=0.1)\n"
    "    >>> mivo.levenshtein_with_opts(\"  HELLO  \", \"hello\", opts)\n"
    "    0";

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Guarded<opts_new>::call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(opts_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(Guarded<opts_repr>::call)},
    {Py_tp_getset, kGetSet},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "mivo.SimilarityOpts", static_cast<int>(sizeof(OptsObject)), 0, kClassFlags, kSlots,
};

// The class object, created on first use and kept for the process.
PyTypeObject* opts_type() {
    static PyObject* const type = type_from_spec(&kSpec, kClassDoc);
    return reinterpret_cast<PyTypeObject*>(type);
}

// ------------------------------------------------------ levenshtein_with_opts

constexpr Signature kLevenshteinWithOpts{"levenshtein_with_opts", {"a", "b", "opts"}, 3};
PyObject* levenshtein_with_opts_impl(Args& args) {
    std::string_view a, b;
    if (!args.str(0, a) || !args.str(1, b)) return nullptr;
    PyTypeObject* type = opts_type();
    if (!type) return nullptr;
    Opts opts;
    {
        Shared<Opts> s;
        if (!args.instance(2, type, s)) return nullptr;
        opts = *s;
    }
    return py_int(strings::levenshtein_with_opts(a, b, opts));
}

}  // namespace

PyObject* similarity_opts_class() { return class_reference(opts_type(), "SimilarityOpts"); }

PyMethodDef k_levenshtein_with_opts = method<kLevenshteinWithOpts, levenshtein_with_opts_impl>(
    "levenshtein_with_opts(a, b, opts)\n--\n\n"
    "Compute Levenshtein distance with custom options.\n\n"
    "Both strings are prepared first: leading and trailing Unicode white\n"
    "space removed when opts.trim_whitespace is set, then lowercased (full\n"
    "Unicode lowercase mapping, not case folding) when opts.case_sensitive is\n"
    "not set.\n\n"
    "Args:\n"
    "    a (str): First string\n"
    "    b (str): Second string\n"
    "    opts (SimilarityOpts): The options\n\n"
    "Returns:\n"
    "    int: The edit distance of the prepared strings\n\n"
    "Example:\n"
    "    >>> import mivo\n"
    "    >>> opts = mivo.SimilarityOpts(case_sensitive=False, trim_whitespace=True)\n"
    "    >>> mivo.levenshtein_with_opts(\"  HELLO  \", \"hello\", opts)\n"
    "    0\n"
    "    >>> mivo.levenshtein_with_opts(\"  HELLO  \", \"hello\", mivo.SimilarityOpts())\n"
    "    9");

}  // namespace mivo::py
