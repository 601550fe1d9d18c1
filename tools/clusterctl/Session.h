// The logged-in connection every command works through: to the cluster at --url or
// CLUSTER_URL, or, with neither, to a simulated cluster started inside this process so that
// every command works out of the box.
#pragma once

#include <boost/shared_ptr.hpp>
#include <memory>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterShares.h"
#include "Cluster/ClusterSnapshotQueries.h"

namespace clustersim {
class Simulator;
}

namespace clusterctl {

struct ConnectionOptions {
    std::string url;   // empty: CLUSTER_URL, and without that the embedded cluster
    std::string user;  // empty: CLUSTER_USER, and without that "admin"
    std::string passwordFile;
    std::string caFile;
    bool insecure = false;
    size_t maxReplyBytes = 0;  // 0: the HTTP client's default
    long totalSeconds = 0;     // 0: the HTTP client's default
};

class Session {
  public:
    Session();
    ~Session();  // stops the embedded cluster, if one was started
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sets up TLS and the request limits for the process and logs in; warns on stderr when the
    // password would cross the network in clear. Throws UsageError when no password can be had.
    CZuError Open(const ConnectionOptions& options);

    const std::string& Url() const { return m_url; }
    const std::string& User() const { return m_user; }

    Cluster::CSnapshotQueries Snapshots() const { return {m_connection, m_parser}; }
    Cluster::CFileSystemQueries Files() const { return {m_connection, m_parser}; }
    Cluster::CShares Shares() const { return {m_connection, m_parser}; }

  private:
    CZuError StartEmbeddedCluster();
    std::string Password(const ConnectionOptions& options) const;

    std::unique_ptr<clustersim::Simulator> m_simulator;
    boost::shared_ptr<Cluster::CConnection> m_connection;
    boost::shared_ptr<Cluster::CParser> m_parser;
    std::string m_url;
    std::string m_user;
};

}  // namespace clusterctl
