// Record-by-record iterators over paged listings (a directory, a snapshot difference): each page
// is read on the session with the GIL released, then converted as one batch.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "NativeSession.h"

namespace clusterpy {

namespace py = pybind11;

void BindListings(py::module_& module);

py::object ListDirectory(const std::shared_ptr<NativeSession>& session, const std::string& path,
                         int snapshot);
py::object SnapshotDiff(const std::shared_ptr<NativeSession>& session, uint64_t older,
                        uint64_t newer);

}  // namespace clusterpy
