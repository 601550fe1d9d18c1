// What Walk and ChangeFeed are to Python: an iterator of batches of records over a run on
// threads of its own (BackgroundRun), with stop(), close(), a context manager and, once the
// iteration ended, a summary, or ClusterError when the run could not go on at all.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <memory>
#include <utility>

#include "BackgroundRun.h"
#include "Errors.h"
#include "Records.h"

namespace clusterpy {

namespace py = pybind11;

template <class Batch, class Summary>
class BatchIterator {
  public:
    using Run = BackgroundRun<Batch, Summary>;
    using ToRecord = py::object (*)(const typename Batch::value_type&);
    using ToSummary = py::object (*)(const Summary&);

    // The code of a run that could not go on: the one the library gives nearly every failure.
    static constexpr unsigned int kRunFailed = 774;

    // `source` is what the run's body works with (the walker, the feed): kept until the run's
    // thread is joined. `stop` asks it to end after what is in flight.
    BatchIterator(std::shared_ptr<clusterwalk::CJob> job, std::shared_ptr<void> source,
                  std::function<void()> stop, ToRecord toRecord, ToSummary toSummary)
        : m_source(std::move(source)),
          m_run(new Run(std::move(job), std::move(stop))),
          m_toRecord(toRecord),
          m_toSummary(toSummary) {}

    Run& Background() { return *m_run; }

    py::list Next() {
        Batch batch;
        if (!m_over && m_run->Next(batch)) return ToList(batch, m_toRecord);
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

    py::object SummaryObject() const { return m_summary ? m_summary : py::none(); }

  private:
    // The first time the iteration ends: the summary, and the failure that ended it if any.
    void End() {
        if (m_over) return;
        m_over = true;
        const Summary& summary = m_run->Result();
        m_summary = m_toSummary(summary);
        if (!summary.error.empty()) throw ClusterFailure(kRunFailed, summary.error);
    }

    const std::shared_ptr<void> m_source;
    const std::unique_ptr<Run> m_run;  // declared after the source: joined before it goes
    const ToRecord m_toRecord;
    const ToSummary m_toSummary;
    bool m_over = false;
    py::object m_summary;  // null until the end: made with the GIL, unlike the run
};

// The texts of one iterator class's methods.
struct BatchIteratorDocs {
    const char* type;
    const char* next;
    const char* stop;
    const char* close;
    const char* summary;
};

template <class Iterator>
void BindBatchIterator(py::module_& module, const char* name, const BatchIteratorDocs& docs) {
    py::class_<Iterator>(module, name, docs.type)
        .def(
            "__iter__", [](py::object self) { return self; }, "The object itself.")
        .def("__next__", &Iterator::Next, docs.next)
        .def("stop", &Iterator::Stop, docs.stop)
        .def("close", &Iterator::Close, docs.close)
        .def(
            "__enter__", [](py::object self) { return self; }, "The object itself.")
        .def(
            "__exit__", [](Iterator& iterator, const py::args&) { iterator.Close(); }, "Closes it.")
        .def_property_readonly("summary", &Iterator::SummaryObject, docs.summary);
}

}  // namespace clusterpy
