// The native half of the `clusterclient` package; clusterclient/__init__.py re-exports it.
#include <pybind11/pybind11.h>

#include "ChangeFeedBinding.h"
#include "Errors.h"
#include "Listings.h"
#include "Records.h"
#include "SessionBinding.h"
#include "WalkBinding.h"

PYBIND11_MODULE(_clusterclient, module) {
    module.doc() = "Native binding of the cluster client library and its walking layer.";
    clusterpy::BindErrors(module);
    clusterpy::BindRecords(module);
    clusterpy::BindListings(module);
    clusterpy::BindWalk(module);
    clusterpy::BindChangeFeed(module);
    clusterpy::BindSession(module);
}
