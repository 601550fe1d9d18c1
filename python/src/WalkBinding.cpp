#include "WalkBinding.h"

#include <cstdint>
#include <limits>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "BackgroundRun.h"
#include "ClusterWalk/TreeWalker.h"
#include "ClusterWalk/WalkUnit.h"
#include "Errors.h"
#include "Records.h"
#include "Text.h"

namespace clusterpy {
namespace {

// The code of a walk that could not go on at all (no connection could log in...): the one the
// library gives nearly every failure.
constexpr unsigned int kWalkFailed = 774;

using Page = std::list<Cluster::CDirectoryEntry>;

class Walk {
  public:
    Walk(NativeSession& session, unsigned connections, std::vector<clusterwalk::WalkUnit> start,
         clusterwalk::WalkOptions options, std::optional<uint64_t> maxEntries)
        : m_job(session.NewJob()), m_maxEntries(maxEntries) {
        Credentials credentials = session.CopyCredentials();
        m_walker.reset(new clusterwalk::CTreeWalker(m_job, credentials.url, credentials.user,
                                                    credentials.password, connections));
        Wipe(credentials.password);
        m_run.reset(new Run(m_job, [this] { m_walker->Stop(); }));
        m_run->Start([this, start = std::move(start), options](const Run::Deliver& deliver) {
            return WalkAll(start, options, deliver);
        });
    }

    py::list Next() {
        Page page;
        if (!m_over && m_run->Next(page)) return ToList(page, ToEntry);
        End();
        throw py::stop_iteration();
    }

    void Stop() {
        py::gil_scoped_release release;
        m_run->RequestStop();
    }

    void Close() {
        m_run->Close();
        End();
    }

    py::object Summary() const { return m_summary ? m_summary : py::none(); }

  private:
    using Run = BackgroundRun<Page, clusterwalk::WalkSummary>;

    clusterwalk::WalkSummary WalkAll(const std::vector<clusterwalk::WalkUnit>& start,
                                     const clusterwalk::WalkOptions& options,
                                     const Run::Deliver& deliver) {
        if (m_run->StopRequested()) {  // stopped before it began: nothing was done
            clusterwalk::WalkSummary summary;
            summary.unfinished = start;
            summary.stopped = true;
            return summary;
        }
        return m_walker->Walk(
            start, [&](Page& page) { Deliver(page, deliver); }, options);
    }

    // On the walker's threads, one call at a time.
    void Deliver(Page& page, const Run::Deliver& deliver) {
        m_delivered += page.size();
        deliver(page);
        if (m_run->StopRequested() || (m_maxEntries && m_delivered >= *m_maxEntries)) {
            m_walker->Stop();
        }
    }

    // The first time the iteration ends: the summary, and the failure that ended it if any.
    void End() {
        if (m_over) return;
        m_over = true;
        const clusterwalk::WalkSummary& summary = m_run->Result();
        m_summary = ToWalkSummary(summary);
        if (!summary.error.empty()) throw ClusterFailure(kWalkFailed, summary.error);
    }

    const std::shared_ptr<clusterwalk::CJob> m_job;
    const std::optional<uint64_t> m_maxEntries;
    uint64_t m_delivered = 0;
    std::unique_ptr<clusterwalk::CTreeWalker> m_walker;
    std::unique_ptr<Run> m_run;  // declared after the walker: stopped and joined before it goes
    bool m_over = false;
    py::object m_summary;  // null until the end: made with the GIL, unlike the walk
};

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

const char* const kWalkDoc =
    "A tree walk running on connections of its own (Session.walk). Iterate over it for the "
    "pages of entries (each a list of Entry), in no set order, every entry once; the GIL is "
    "released while waiting. After the iteration, `summary` tells what was walked; a walk "
    "that could not go on at all raises ClusterError at its end. Dropping or closing the walk "
    "cancels it.";

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
        walk.reset(new Walk(session, connections, std::move(units), options, limit));
    }
    return py::cast(walk.release(), py::return_value_policy::take_ownership);
}

void BindWalk(py::module_& module) {
    py::class_<Walk>(module, "Walk", kWalkDoc)
        .def(
            "__iter__", [](py::object self) { return self; }, "The object itself.")
        .def("__next__", &Walk::Next, "The next page of entries (list of Entry).")
        .def("stop", &Walk::Stop,
             "Ends the walk after the pages in flight, which are still handed over; the "
             "directories not done go to summary.unfinished. Callable from any thread.")
        .def("close", &Walk::Close,
             "Cancels the walk at once and waits for its threads; pages not yet handed over "
             "are dropped.")
        .def(
            "__enter__", [](py::object self) { return self; }, "The object itself.")
        .def(
            "__exit__", [](Walk& walk, const py::args&) { walk.Close(); }, "Closes it.")
        .def_property_readonly("summary", &Walk::Summary,
                               "A WalkSummary once the iteration ended (or the walk was "
                               "closed); None before.");
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
