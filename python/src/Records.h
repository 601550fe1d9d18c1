// The records handed to Python: immutable named tuples (Entry, Snapshot, SmbShare, NfsExport,
// DiffEntry, Change, WalkSummary, ChangeSummary), made once when the module loads.
#pragma once

#include <pybind11/pybind11.h>

#include <list>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/TreeWalker.h"

namespace clusterpy {

namespace py = pybind11;

void BindRecords(py::module_& module);

py::object ToEntry(const Cluster::CDirectoryEntry& entry);
py::object ToSnapshot(const Cluster::CSnapshotInfo& snapshot);
py::object ToSmbShare(const Cluster::CSMBShareEntry& share);
py::object ToNfsExport(const Cluster::CNFSExportEntry& nfsExport);
py::object ToDiffEntry(const Cluster::CSnapshotDiffInfo& change);
py::object ToChange(const clusterwalk::ChangeRecord& change);
py::object ToWalkSummary(const clusterwalk::WalkSummary& summary);
py::object ToChangeSummary(const clusterwalk::ChangeSummary& summary);

// A batch converted at once, with the GIL held throughout.
template <class Container, class Convert>
py::list ToList(const Container& records, Convert convert) {
    py::list list(records.size());
    size_t index = 0;
    for (const auto& record : records) list[index++] = convert(record);
    return list;
}

}  // namespace clusterpy
