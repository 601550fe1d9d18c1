// How native failures reach Python: always as clusterclient.ClusterError, whatever the C++ side
// threw, so a caller needs one except clause.
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ZuUtils.h"

namespace clusterpy {

namespace py = pybind11;

// A failure on its way out of the native code; may be thrown without the GIL and becomes a
// ClusterError where pybind11 translates it (with the GIL).
class ClusterFailure : public std::runtime_error {
  public:
    explicit ClusterFailure(const CZuError& error);
    ClusterFailure(unsigned int code, const std::string& message);

    unsigned int code;
    std::string message;
    std::vector<std::string> trail;  // "function (file:line)", the failure's site first
};

// Adds ClusterError to the module and translates every C++ exception but pybind11's own (the
// TypeError, ValueError and StopIteration raised on purpose) into it.
void BindErrors(py::module_& module);

// Throws ClusterFailure when `error` is one.
void ThrowIfError(const CZuError& error);

}  // namespace clusterpy
