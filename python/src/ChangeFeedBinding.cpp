#include "ChangeFeedBinding.h"

#include <memory>
#include <vector>

#include "BackgroundRun.h"
#include "ClusterWalk/ChangeFeed.h"
#include "Errors.h"
#include "Records.h"

namespace clusterpy {
namespace {

// The code of a feed that could not go on: the one the library gives nearly every failure.
constexpr unsigned int kFeedFailed = 774;

using Batch = std::vector<clusterwalk::ChangeRecord>;

class ChangeFeed {
  public:
    ChangeFeed(NativeSession& session, uint64_t older, uint64_t newer, unsigned connections,
               clusterwalk::ChangeFeedOptions options)
        : m_job(session.NewJob()) {
        Credentials credentials = session.CopyCredentials();
        m_feed.reset(new clusterwalk::CChangeFeed(m_job, credentials.url, credentials.user,
                                                  credentials.password, connections));
        Wipe(credentials.password);
        m_run.reset(new Run(m_job, [this] { m_feed->Stop(); }));
        m_run->Start([this, older, newer, options](const Run::Deliver& deliver) {
            if (m_run->StopRequested()) {  // stopped before it began
                clusterwalk::ChangeSummary summary;
                summary.stopped = true;
                return summary;
            }
            return m_feed->Run(older, newer, deliver, options);
        });
    }

    py::list Next() {
        Batch batch;
        if (!m_over && m_run->Next(batch)) return ToList(batch, ToChange);
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
    using Run = BackgroundRun<Batch, clusterwalk::ChangeSummary>;

    void End() {
        if (m_over) return;
        m_over = true;
        const clusterwalk::ChangeSummary& summary = m_run->Result();
        m_summary = ToChangeSummary(summary);
        if (!summary.error.empty()) throw ClusterFailure(kFeedFailed, summary.error);
    }

    const std::shared_ptr<clusterwalk::CJob> m_job;
    std::unique_ptr<clusterwalk::CChangeFeed> m_feed;
    std::unique_ptr<Run> m_run;  // declared after the feed: stopped and joined before it goes
    bool m_over = false;
    py::object m_summary;  // null until the end: made with the GIL, unlike the feed
};

const char* const kChangeFeedDoc =
    "The changes between two snapshots (Session.changes), read on connections of their own. "
    "Iterate over it for batches of Change, in no set order, each change once; the GIL is "
    "released while waiting. After the iteration, `summary` counts what was delivered; a feed "
    "that could not go on raises ClusterError at its end. Dropping or closing it cancels it.";

}  // namespace

py::object StartChangeFeed(NativeSession& session, uint64_t older, uint64_t newer, bool attributes,
                           unsigned connections, size_t window) {
    if (connections == 0) throw py::value_error("connections must be at least 1");
    if (window == 0) throw py::value_error("window must be at least 1");
    clusterwalk::ChangeFeedOptions options;
    options.attributes = attributes;
    options.window = window;
    std::unique_ptr<ChangeFeed> feed;
    {
        py::gil_scoped_release release;
        feed.reset(new ChangeFeed(session, older, newer, connections, options));
    }
    return py::cast(feed.release(), py::return_value_policy::take_ownership);
}

void BindChangeFeed(py::module_& module) {
    py::class_<ChangeFeed>(module, "ChangeFeed", kChangeFeedDoc)
        .def(
            "__iter__", [](py::object self) { return self; }, "The object itself.")
        .def("__next__", &ChangeFeed::Next, "The next batch of changes (list of Change).")
        .def("stop", &ChangeFeed::Stop,
             "Ends the feed after the groups in flight, which are still handed over. Callable "
             "from any thread.")
        .def("close", &ChangeFeed::Close,
             "Cancels the feed at once and waits for its threads; changes not yet handed over "
             "are dropped.")
        .def(
            "__enter__", [](py::object self) { return self; }, "The object itself.")
        .def(
            "__exit__", [](ChangeFeed& feed, const py::args&) { feed.Close(); }, "Closes it.")
        .def_property_readonly("summary", &ChangeFeed::Summary,
                               "A ChangeSummary once the iteration ended (or the feed was "
                               "closed); None before.");
}

}  // namespace clusterpy
