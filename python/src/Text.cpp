#include "Text.h"

#include <datetime.h>

namespace clusterpy {
namespace {

constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;

void ImportDateTime() {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) throw py::error_already_set();
    }
}

}  // namespace

py::str ToText(const std::string& bytes) {
    PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                          "surrogateescape");
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

std::string FromText(const py::handle& text, const char* argument) {
    if (!PyUnicode_Check(text.ptr())) {
        throw py::type_error(std::string(argument) + " must be a str");
    }
    PyObject* bytes = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
    if (bytes == nullptr) throw py::error_already_set();
    const py::bytes owned = py::reinterpret_steal<py::bytes>(bytes);
    return owned;
}

std::string SecretFromText(const py::handle& text, const char* argument) {
    if (!PyUnicode_Check(text.ptr())) {
        throw py::type_error(std::string(argument) + " must be a str");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (utf8 == nullptr) {  // lone surrogates: bytes that are not UTF-8
        PyErr_Clear();
        return FromText(text, argument);
    }
    return std::string(utf8, static_cast<size_t>(size));
}

py::object ToUtcTime(time_t time) {
    ImportDateTime();
    struct tm parts {};
    if (gmtime_r(&time, &parts) == nullptr) return py::none();
    const int year = parts.tm_year + 1900;
    if (year < kFirstYear || year > kLastYear) return py::none();
    PyObject* value = PyDateTimeAPI->DateTime_FromDateAndTime(
        year, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, 0,
        PyDateTime_TimeZone_UTC, PyDateTimeAPI->DateTimeType);
    if (value == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

}  // namespace clusterpy
