#include "Errors.h"

#include <new>

namespace clusterpy {
namespace {

// ERROR_NOT_ENOUGH_MEMORY, as the host platform numbers it.
constexpr unsigned int kNoMemory = 8;

// Where the ClusterError type lives once the module made it. Never freed: it must outlive
// every module object, the interpreter's finalization included.
PyObject* g_clusterErrorType = nullptr;

std::vector<std::string> TrailOf(const CZuError& error) {
    std::vector<std::string> trail;
    for (const CZuError::Location& location : error.GetLocations()) {
        trail.push_back(location.function + " (" + location.file + ":" +
                        std::to_string(location.line) + ")");
    }
    return trail;
}

// str(error): the message on one line, whatever line ends the cluster put in it.
std::string OneLine(unsigned int code, const std::string& message) {
    std::string line = message;
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return line + " (code " + std::to_string(code) + ")";
}

py::str Decoded(const std::string& text) {
    PyObject* decoded =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
    if (decoded == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

void SetClusterError(unsigned int code, const std::string& message,
                     const std::vector<std::string>& trail) {
    py::object type = py::reinterpret_borrow<py::object>(g_clusterErrorType);
    py::object error = type(Decoded(OneLine(code, message)));
    error.attr("code") = code;
    error.attr("message") = Decoded(message);
    py::list texts;
    for (const std::string& location : trail) texts.append(Decoded(location));
    error.attr("trail") = texts;
    PyErr_SetObject(g_clusterErrorType, error.ptr());
}

void Translate(std::exception_ptr pending) {
    try {
        std::rethrow_exception(pending);
    } catch (const ClusterFailure& failure) {
        SetClusterError(failure.code, failure.message, failure.trail);
    } catch (const py::builtin_exception&) {
        throw;
    } catch (const py::error_already_set&) {
        throw;
    } catch (const std::bad_alloc&) {
        SetClusterError(kNoMemory, "out of memory", {});
    } catch (const std::exception& other) {
        SetClusterError(0, other.what(), {});
    }
}

const char* const kClusterErrorDoc =
    "A call to the cluster failed.\n\n"
    "Attributes: code (int: the system error code, e.g. 774 for most failures, or an event\n"
    "identifier), message (str: what failed, in the cluster's words where it gave some) and\n"
    "trail (list of str: the code locations the failure passed through, its site first).\n"
    "str() is the message on one line. Neither ever holds a password or a session token.";

}  // namespace

ClusterFailure::ClusterFailure(const CZuError& error)
    : std::runtime_error(error.GetMessage()),
      code(error.GetCode()),
      message(error.GetMessage()),
      trail(TrailOf(error)) {}

ClusterFailure::ClusterFailure(unsigned int failureCode, const std::string& failureMessage)
    : std::runtime_error(failureMessage), code(failureCode), message(failureMessage) {}

void ThrowIfError(const CZuError& error) {
    if (error.IsError()) throw ClusterFailure(error);
}

void BindErrors(py::module_& module) {
    g_clusterErrorType = PyErr_NewExceptionWithDoc("clusterclient.ClusterError", kClusterErrorDoc,
                                                   PyExc_Exception, nullptr);
    if (g_clusterErrorType == nullptr) throw py::error_already_set();
    module.attr("ClusterError") = py::reinterpret_borrow<py::object>(g_clusterErrorType);
    py::register_exception_translator(Translate);
}

}  // namespace clusterpy
