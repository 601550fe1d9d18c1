// The native half of the `clusterclient` package; clusterclient/__init__.py re-exports it.
#include <pybind11/pybind11.h>

#include <boost/pointer_cast.hpp>

#include "ChangeFeedBinding.h"
#include "Errors.h"
#include "Listings.h"
#include "Records.h"
#include "SessionBinding.h"
#include "WalkBinding.h"
#include "platform/ZuUtils.h"

namespace {

// The platform's default log writer prints the cluster's texts to stderr as they came, on
// every retry; a Python program gets each failure as a ClusterError instead. A writer the
// host process set stays.
void SilenceDefaultLog() {
    if (boost::dynamic_pointer_cast<CStderrLogWriter>(g_ptrLogWriter)) g_ptrLogWriter.reset();
}

}  // namespace

PYBIND11_MODULE(_clusterclient, module) {
    SilenceDefaultLog();
    module.doc() = "Native binding of the cluster client library and its walking layer.";
    clusterpy::BindErrors(module);
    clusterpy::BindRecords(module);
    clusterpy::BindListings(module);
    clusterpy::BindWalk(module);
    clusterpy::BindChangeFeed(module);
    clusterpy::BindSession(module);
}
