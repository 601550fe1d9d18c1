// The cluster's file system: one page of a directory's entries (live or as a snapshot froze
// it) and the attributes of one file. Paths use "/" as separator and are percent-encoded
// before they enter a request. Calls on query objects that share a connection must not
// overlap (see CConnection).
#pragma once

#include <boost/shared_ptr.hpp>
#include <list>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"

namespace Cluster {

class CLUSTER_API CFileSystemQueries {
  public:
    CFileSystemQueries(boost::shared_ptr<CConnection> connection,
                       boost::shared_ptr<CParser> parser);
    virtual ~CFileSystemQueries();

    // Empties `entries`, then fills it with one page. `snapshotId` 0 lists the live file
    // system, any other value that snapshot. Pass an empty `pageLink` for the first page and
    // the previous `nextLink` for each following one (then `path` and `snapshotId` are not
    // used); an empty `nextLink` means the last page was read. `nextLink` keeps its content
    // when the call fails.
    CZuError GetDirectoryEntries(const string& path, std::list<CDirectoryEntry>& entries,
                                 std::string& nextLink, int snapshotId, std::string pageLink);

    // The live attributes of one file. The third argument is accepted and not read: the
    // request carries no snapshot selector.
    CZuError GetFileAttributes(const string& path, CFileAttributeInfo& info, int);

  private:
    boost::shared_ptr<CConnection> m_ptrConnection;
    boost::shared_ptr<CParser> m_ptrParser;
};

}  // namespace Cluster
