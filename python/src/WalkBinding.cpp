#include "WalkBinding.h"

#include <cstdint>
#include <limits>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "BatchIterator.h"
#include "ClusterWalk/TreeWalker.h"
#include "ClusterWalk/WalkUnit.h"
#include "Text.h"

namespace clusterpy {
namespace {

using Page = std::list<Cluster::CDirectoryEntry>;
using Walk = BatchIterator<Page, clusterwalk::WalkSummary>;

std::unique_ptr<Walk> NewWalk(NativeSession& session, unsigned connections,
                              std::vector<clusterwalk::WalkUnit> start,
                              clusterwalk::WalkOptions options,
                              std::optional<uint64_t> maxEntries) {
    const std::shared_ptr<clusterwalk::CJob> job = session.NewJob();
    const auto walker = session.NewRunner<clusterwalk::CTreeWalker>(job, connections);
    auto walk = std::make_unique<Walk>(
        job, walker, [&walker = *walker] { walker.Stop(); }, ToEntry, ToWalkSummary);
    Walk::Run& run = walk->Background();
    run.Start([&run, &walker = *walker, start = std::move(start), options,
               maxEntries](const Walk::Run::Deliver& deliver) {
        if (run.StopRequested()) {  // stopped before it began: nothing was done
            clusterwalk::WalkSummary summary;
            summary.unfinished = start;
            summary.stopped = true;
            return summary;
        }
        uint64_t delivered = 0;  // the sink is called one page at a time
        const auto sink = [&](Page& page) {
            delivered += page.size();
            deliver(page);
            if (run.StopRequested() || (maxEntries && delivered >= *maxEntries)) {
                walker.Stop();
            }
        };
        return walker.Walk(start, sink, options);
    });
    return walk;
}

std::vector<clusterwalk::WalkUnit> StartUnits(const py::object& start, int snapshot) {
    if (PyUnicode_Check(start.ptr())) {
        return {clusterwalk::RootUnit(FromText(start, "start"), snapshot)};
    }
    if (!PyList_Check(start.ptr())) {
        throw py::type_error("start must be a path (str) or a list of unit texts");
    }
    std::vector<clusterwalk::WalkUnit> units;
    for (const py::handle text : start) {
        clusterwalk::WalkUnit unit;
        std::string error;
        if (!clusterwalk::ParseUnit(FromText(text, "a unit"), unit, error)) {
            throw py::value_error("not a unit text: " + error);
        }
        units.push_back(std::move(unit));
    }
    return units;
}

template <class Number>
std::optional<Number> Optional(const py::object& value, const char* name) {
    if (value.is_none()) return std::nullopt;
    if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
        throw py::type_error(std::string(name) + " must be an int or None");
    }
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow > 0) return std::numeric_limits<Number>::max();
    if (overflow < 0 || number < 0) {
        throw py::value_error(std::string(name) + " must not be negative");
    }
    return static_cast<Number>(number);
}

const BatchIteratorDocs kWalkDocs{
    "A tree walk running on connections of its own (Session.walk). Iterate over it for the "
    "pages of entries (each a list of Entry), in no set order, every entry once; the GIL is "
    "released while waiting. After the iteration, `summary` tells what was walked; a walk "
    "that could not go on at all raises ClusterError at its end. Dropping or closing the walk "
    "cancels it.",
    "The next page of entries (list of Entry).",
    "Ends the walk after the pages in flight, which are still handed over; the directories not "
    "done go to summary.unfinished. Callable from any thread.",
    "Cancels the walk at once and waits for its threads; pages not yet handed over are "
    "dropped.",
    "A WalkSummary once the iteration ended (or the walk was closed); None before."};

}  // namespace

py::object StartWalk(NativeSession& session, const py::object& start, int snapshot,
                     unsigned connections, const py::object& maxDepth,
                     const py::object& maxEntries) {
    if (connections == 0) throw py::value_error("connections must be at least 1");
    clusterwalk::WalkOptions options;
    options.maxDepth = Optional<size_t>(maxDepth, "max_depth").value_or(SIZE_MAX);
    const std::optional<uint64_t> limit = Optional<uint64_t>(maxEntries, "max_entries");
    std::vector<clusterwalk::WalkUnit> units = StartUnits(start, snapshot);
    std::unique_ptr<Walk> walk;
    {
        py::gil_scoped_release release;
        walk = NewWalk(session, connections, std::move(units), options, limit);
    }
    return py::cast(walk.release(), py::return_value_policy::take_ownership);
}

void BindWalk(py::module_& module) {
    BindBatchIterator<Walk>(module, "Walk", kWalkDocs);
    module.def(
        "root_unit",
        [](const py::object& path, int snapshot) {
            return ToText(
                clusterwalk::FormatUnit(clusterwalk::RootUnit(FromText(path, "path"), snapshot)));
        },
        py::arg("path"), py::arg("snapshot") = 0,
        "The one-line unit text of a walk's start at `path` (live, or as of `snapshot`), as "
        "Walk's start and summary.unfinished use.");
}

}  // namespace clusterpy
