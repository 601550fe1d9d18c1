// A Session's keyword options, as the walking layer's job options.
#pragma once

#include <pybind11/pybind11.h>

#include "ClusterWalk/Job.h"

namespace clusterpy {

namespace py = pybind11;

// TypeError for an unknown keyword or a value that is no number, ValueError for a negative
// one (or an attempt count below 1).
clusterwalk::JobOptions JobOptionsFrom(const py::kwargs& options);

}  // namespace clusterpy
