// SMB shares and NFS exports: list all, or read one by its identifier. Each operation sends
// one GET and parses one reply; the list operations append to the caller's list. Calls on
// query objects that share a connection must not overlap (see CConnection).
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <list>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"

namespace Cluster {

class CLUSTER_API CShares {
  public:
    CShares(boost::shared_ptr<CConnection> connection, boost::shared_ptr<CParser> parser);
    virtual ~CShares();

    CZuError GetNFSExports(std::list<CNFSExportEntry>& nfsExports);
    CZuError GetSMBShares(std::list<CSMBShareEntry>& shares);
    CZuError GetNFSExport(uint64_t exportId, CNFSExportEntry& nfsExport);
    CZuError GetSMBShare(uint64_t shareId, CSMBShareEntry& share);

  private:
    boost::shared_ptr<CConnection> m_ptrConnection;
    boost::shared_ptr<CParser> m_ptrParser;
};

}  // namespace Cluster
