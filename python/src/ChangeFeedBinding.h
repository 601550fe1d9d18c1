// clusterclient.ChangeFeed: the changes between two snapshots with their attributes, iterated
// a batch at a time while the feed reads on connections of its own.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>

#include "NativeSession.h"

namespace clusterpy {

namespace py = pybind11;

void BindChangeFeed(py::module_& module);

py::object StartChangeFeed(NativeSession& session, uint64_t older, uint64_t newer, bool attributes,
                           unsigned connections, size_t window);

}  // namespace clusterpy
