// clusterclient.Session: a login to one cluster and its calls.
#pragma once

#include <pybind11/pybind11.h>

namespace clusterpy {

namespace py = pybind11;

void BindSession(py::module_& module);

}  // namespace clusterpy
