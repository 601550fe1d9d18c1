#include "ChangeFeedBinding.h"

#include <memory>
#include <vector>

#include "BatchIterator.h"
#include "ClusterWalk/ChangeFeed.h"

namespace clusterpy {
namespace {

using Batch = std::vector<clusterwalk::ChangeRecord>;
using ChangeFeed = BatchIterator<Batch, clusterwalk::ChangeSummary>;

std::unique_ptr<ChangeFeed> NewChangeFeed(NativeSession& session, uint64_t older, uint64_t newer,
                                          unsigned connections,
                                          clusterwalk::ChangeFeedOptions options) {
    const std::shared_ptr<clusterwalk::CJob> job = session.NewJob();
    const auto feed = session.NewRunner<clusterwalk::CChangeFeed>(job, connections);
    auto changes = std::make_unique<ChangeFeed>(
        job, feed, [&feed = *feed] { feed.Stop(); }, ToChange, ToChangeSummary);
    ChangeFeed::Run& run = changes->Background();
    run.Start(
        [&run, &feed = *feed, older, newer, options](const ChangeFeed::Run::Deliver& deliver) {
            if (run.StopRequested()) {  // stopped before it began
                clusterwalk::ChangeSummary summary;
                summary.stopped = true;
                return summary;
            }
            return feed.Run(older, newer, deliver, options);
        });
    return changes;
}

const BatchIteratorDocs kChangeFeedDocs{
    "The changes between two snapshots (Session.changes), read on connections of their own. "
    "Iterate over it for batches of Change, in no set order, each change once; the GIL is "
    "released while waiting. After the iteration, `summary` counts what was delivered; a feed "
    "that could not go on raises ClusterError at its end. Dropping or closing it cancels it.",
    "The next batch of changes (list of Change).",
    "Ends the feed after the groups in flight, which are still handed over. Callable from any "
    "thread.",
    "Cancels the feed at once and waits for its threads; changes not yet handed over are "
    "dropped.",
    "A ChangeSummary once the iteration ended (or the feed was closed); None before."};

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
        feed = NewChangeFeed(session, older, newer, connections, options);
    }
    return py::cast(feed.release(), py::return_value_policy::take_ownership);
}

void BindChangeFeed(py::module_& module) {
    BindBatchIterator<ChangeFeed>(module, "ChangeFeed", kChangeFeedDocs);
}

}  // namespace clusterpy
