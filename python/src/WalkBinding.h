// clusterclient.Walk: a tree walk over several connections, iterated page by page.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "NativeSession.h"

namespace clusterpy {

namespace py = pybind11;

void BindWalk(py::module_& module);

// `start`: a path (str) or a list of unit texts; TypeError or ValueError when it is neither.
py::object StartWalk(NativeSession& session, const py::object& start, int snapshot,
                     unsigned connections, const py::object& maxDepth,
                     const py::object& maxEntries);

}  // namespace clusterpy
