// Snapshots: list, create, delete, and the changes between two snapshots page by page.
// Each operation sends one request through the connection and parses one reply. Calls on
// query objects that share a connection must not overlap (see CConnection).
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <list>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"

namespace Cluster {

class CLUSTER_API CSnapshotQueries {
  public:
    CSnapshotQueries(boost::shared_ptr<CConnection> connection, boost::shared_ptr<CParser> parser);
    virtual ~CSnapshotQueries();

    // Appends one record per snapshot the cluster lists.
    CZuError ListSnapshots(std::list<CSnapshotInfo>& snapshots);
    // Creates a snapshot of the source with that file id; `expiration` is sent unchanged
    // (empty: never expires). Fills `snapshot` from the cluster's reply.
    CZuError CreateSnapshot(const string& name, uint64_t sourceFileId, CSnapshotInfo& snapshot,
                            std::string expiration);
    CZuError DeleteSnapshot(uint64_t snapshotId);
    // One page of the changes in the target snapshot since the base snapshot, appended to
    // `changes`. Pass an empty `pageLink` for the first page and the previous `nextLink` for
    // each following one; an empty `nextLink` means the last page was read.
    CZuError GetSnapshotDiff(uint64_t baseSnapshotId, uint64_t targetSnapshotId,
                             std::list<CSnapshotDiffInfo>& changes, std::string& nextLink,
                             std::string pageLink);

  private:
    boost::shared_ptr<CConnection> m_ptrConnection;
    boost::shared_ptr<CParser> m_ptrParser;
};

}  // namespace Cluster
