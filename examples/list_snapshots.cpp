// Log in to a cluster and list its snapshots.
#include <Cluster/ClusterSnapshotQueries.h>

#include "ExampleLogin.h"

int main() {
    const auto connection = LogIn();
    if (!connection) return 1;
    Cluster::CSnapshotQueries snapshots(connection, boost::make_shared<Cluster::CParser>());
    std::list<Cluster::CSnapshotInfo> list;
    const CZuError error = snapshots.ListSnapshots(list);
    for (const auto& snapshot : list) {
        std::printf("%lu\t%s\t%lld\n", snapshot.id, snapshot.name.c_str(),
                    static_cast<long long>(snapshot.timestamp));
    }
    return Report(error);
}
