#include "bindings/arguments.hpp"

#include <cstring>
#include <limits>
#include <new>

#include "embeddings/error.hpp"

namespace mivo::py {

// ------------------------------------------------------------------- binding

namespace {

bool plural_given(std::string& msg, Py_ssize_t given) {
    msg += " but " + std::to_string(given) + (given == 1 ? " was given" : " were given");
    PyErr_SetString(PyExc_TypeError, msg.c_str());
    return false;
}

bool report_missing(const Signature& sig, PyObject** slots) {
    std::vector<const char*> missing;
    for (int i = 0; i < sig.required_count(); ++i)
        if (!slots[i]) missing.push_back(sig.params[i]);
    if (missing.empty()) return true;
    std::string msg = std::string(sig.name) + "() missing " + std::to_string(missing.size()) +
                      (missing.size() == 1 ? " required positional argument: " : " required positional arguments: ");
    for (std::size_t k = 0; k < missing.size(); ++k) {
        if (k > 0) msg += missing.size() == 2 ? " and " : (k + 1 == missing.size() ? ", and " : ", ");
        msg += "'";
        msg += missing[k];
        msg += "'";
    }
    PyErr_SetString(PyExc_TypeError, msg.c_str());
    return false;
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots) {
    const int required = sig.required_count();
    const int positional = sig.positional_count();
    if (nargs > positional) {
        std::string msg = std::string(sig.name) + "() takes ";
        if (required >= positional)
            msg += std::to_string(positional);
        else
            msg += "from " + std::to_string(required) + " to " + std::to_string(positional);
        msg += " positional arguments";
        return plural_given(msg, nargs);
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t len = 0;
        const char* name = PyUnicode_AsUTF8AndSize(key, &len);
        if (!name) PyErr_Clear();  // a name with a lone surrogate names no parameter
        int found = -1;
        for (int p = 0; name && p < sig.count; ++p) {
            if (std::strlen(sig.params[p]) == static_cast<std::size_t>(len) &&
                std::memcmp(sig.params[p], name, static_cast<std::size_t>(len)) == 0) {
                found = p;
                break;
            }
        }
        if (found < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
            return false;
        }
        if (slots[found]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name, sig.params[found]);
            return false;
        }
        slots[found] = args[nargs + k];
    }
    return report_missing(sig, slots);
}

bool bind_tuple_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots) {
    // Laid out as a vectorcall, so that binding follows the module
    // functions' rules and messages.
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    std::vector<PyObject*> flat(static_cast<std::size_t>(nargs + nkw));
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    Ref kwnames;
    if (nkw > 0) {
        kwnames = Ref(PyTuple_New(nkw));
        if (!kwnames) return false;
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_INCREF(key);
            PyTuple_SET_ITEM(kwnames.get(), k, key);
            flat[static_cast<std::size_t>(nargs + k)] = value;
            ++k;
        }
    }
    return bind_arguments(sig, flat.data(), nargs, kwnames.get(), slots);
}

// ------------------------------------------------------------ error mapping

bool wrap_argument_error(const char* name) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, tb);
        return false;
    }
    PyErr_NormalizeException(&type, &value, &tb);
    Ref t(type), v(value), trace(tb);
    Ref text(v ? PyObject_Str(v.get()) : PyUnicode_FromString(""));
    if (!text) return false;
    Ref msg(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!msg) return false;
    Ref err(PyObject_CallOneArg(PyExc_TypeError, msg.get()));
    if (!err) return false;
    if (v) {
        PyObject* cause = PyException_GetCause(v.get());    // new reference or null
        if (cause) PyException_SetCause(err.get(), cause);  // steals
    }
    PyErr_SetObject(PyExc_TypeError, err.get());
    return false;
}

PyObject* raise_mivo(const embeddings::MivoError& err) {
    if (err.kind() == embeddings::ErrorKind::Internal)
        PyErr_Format(PyExc_SystemError, "mivo internal error: %s", err.display().c_str());
    else
        PyErr_SetString(PyExc_ValueError, err.display().c_str());
    return nullptr;
}

PyObject* translate_exception() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_SystemError, "mivo internal error: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "mivo internal error");
    }
    return nullptr;
}

// ------------------------------------------------------- plain conversions

std::string class_name(PyTypeObject* type) {
    Ref q(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
    if (q && PyUnicode_Check(q.get())) {
        if (const char* s = PyUnicode_AsUTF8(q.get())) return s;
    }
    PyErr_Clear();
    return type->tp_name;
}

bool cannot_cast(PyObject* obj, const char* target) {
    const std::string name = type_name(obj);
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be cast as '%s'", name.c_str(), target);
    return false;
}

bool to_str(PyObject* obj, std::string_view& out) {
    if (!PyUnicode_Check(obj)) return cannot_cast(obj, "str");
    Py_ssize_t len = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &len);
    if (!data) return false;  // UnicodeEncodeError for lone surrogates, unchanged
    out = std::string_view(data, static_cast<std::size_t>(len));
    return true;
}

bool to_u64(PyObject* obj, std::uint64_t& out) {
    Ref index;
    if (!PyLong_Check(obj)) {
        index = Ref(PyNumber_Index(obj));
        if (!index) return false;
        obj = index.get();
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(obj);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

namespace {

bool out_of_range() {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
}

template <class U>
bool to_unsigned_via_long(PyObject* obj, U& out) {
    // Through the index protocol first, so that no interpreter version falls
    // back to __int__ (a float is refused, not truncated).
    Ref index(PyNumber_Index(obj));
    if (!index) return false;
    long v = PyLong_AsLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < 0 || static_cast<unsigned long>(v) > std::numeric_limits<U>::max()) return out_of_range();
    out = static_cast<U>(v);
    return true;
}

// Fills `out` from any sequence (not a str), converting each element.
template <class T, class Convert>
bool to_list(PyObject* obj, std::vector<T>& out, Convert convert) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) return cannot_cast(obj, "Sequence");
    out.clear();
    // Room for the claimed length, within reason: a length is only a claim.
    constexpr std::size_t kMaxReserve = std::size_t{1} << 20;
    Py_ssize_t n = PySequence_Size(obj);
    if (n < 0)
        PyErr_Clear();
    else
        out.reserve(std::min(static_cast<std::size_t>(n), kMaxReserve));
    Ref it(PyObject_GetIter(obj));
    if (!it) return false;
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item(raw);
        T value{};
        if (!convert(item.get(), value)) return false;
        out.push_back(std::move(value));
    }
    return !PyErr_Occurred();
}

}  // namespace

bool to_u32(PyObject* obj, std::uint32_t& out) { return to_unsigned_via_long(obj, out); }
bool to_u16(PyObject* obj, std::uint16_t& out) { return to_unsigned_via_long(obj, out); }
bool to_u8(PyObject* obj, std::uint8_t& out) { return to_unsigned_via_long(obj, out); }

bool to_bool(PyObject* obj, bool& out) {
    if (obj == Py_True || obj == Py_False) {
        out = obj == Py_True;
        return true;
    }
    // NumPy's Boolean scalars, taken by their truth value.
    PyTypeObject* type = Py_TYPE(obj);
    Ref mod(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!mod) PyErr_Clear();
    if (mod && PyUnicode_Check(mod.get()) && PyUnicode_CompareWithASCIIString(mod.get(), "numpy") == 0) {
        std::string name = class_name(type);
        if (name == "bool" || name == "bool_") {
            int truth = PyObject_IsTrue(obj);
            if (truth < 0) return false;
            out = truth != 0;
            return true;
        }
    }
    return cannot_cast(obj, "bool");
}

bool to_f64(PyObject* obj, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool to_str_list(PyObject* obj, std::vector<std::string>& out) {
    return to_list(obj, out, [](PyObject* item, std::string& s) {
        std::string_view view;
        if (!to_str(item, view)) return false;
        s.assign(view);
        return true;
    });
}

bool to_str_views(PyObject* obj, StrViews& out, bool later_conversions) {
    out.views.clear();
    out.owned.clear();
    out.pins.clear();
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        // Nothing below runs Python code before the last item is held (an
        // item's type error ends the conversion), so the items read are the
        // list's items of one moment.
        const auto n = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(obj));
        PyObject** items = PySequence_Fast_ITEMS(obj);
        out.views.resize(n);
        if (later_conversions) out.pins.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            if (later_conversions) {
                Py_INCREF(items[i]);
                out.pins.emplace_back(items[i]);
            }
            if (!to_str(items[i], out.views[i])) return false;
        }
        return true;
    }
    if (!to_str_list(obj, out.owned)) return false;
    out.views.assign(out.owned.begin(), out.owned.end());
    return true;
}

bool to_u64_list(PyObject* obj, std::vector<std::uint64_t>& out) { return to_list(obj, out, to_u64); }

bool to_f32_list(PyObject* obj, std::vector<float>& out) {
    switch (read_float_array(obj, out)) {
        case ArrayRead::Copied: return true;
        case ArrayRead::Failed: return false;
        case ArrayRead::NotFloatArray: break;
    }
    return to_list(obj, out, [](PyObject* item, float& f) {
        double d = 0.0;
        if (!to_f64(item, d)) return false;
        f = static_cast<float>(d);  // round to nearest even
        return true;
    });
}

// ------------------------------------------------------- native instances

bool BorrowFlag::try_shared() {
    std::intptr_t cur = state_.load(std::memory_order_relaxed);
    do {
        if (cur < 0) return false;
    } while (!state_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire, std::memory_order_relaxed));
    return true;
}

bool BorrowFlag::try_exclusive() {
    std::intptr_t expected = 0;
    return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire, std::memory_order_relaxed);
}

// ------------------------------------------------------- result conversions

PyObject* py_str_list(std::span<const std::string> items) {
    return py_list(items, [](const std::string& s) { return py_str(s); });
}

PyObject* py_int_list(std::span<const std::uint64_t> items) {
    return py_list(items, [](std::uint64_t v) { return py_int(v); });
}

// ------------------------------------------------------------------ classes

PyObject* type_from_spec(PyType_Spec* type_spec, const char* doc) {
    PyObject* type = PyType_FromSpec(type_spec);
#if PY_VERSION_HEX < 0x030A0000
    if (!type) return nullptr;
    auto* t = reinterpret_cast<PyTypeObject*>(type);
    const std::size_t size = std::strlen(doc) + 1;
    auto* copy = static_cast<char*>(PyObject_Malloc(size));
    if (!copy) {
        Py_DECREF(type);
        return PyErr_NoMemory();
    }
    std::memcpy(copy, doc, size);
    PyObject_Free(const_cast<char*>(t->tp_doc));
    t->tp_doc = copy;
#else
    (void)doc;
#endif
    return type;
}

PyObject* class_reference(PyTypeObject* type, const char* name) {
    if (!type) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_SystemError, "%s could not be created", name);
        return nullptr;
    }
    Py_INCREF(type);
    return reinterpret_cast<PyObject*>(type);
}

}  // namespace mivo::py
