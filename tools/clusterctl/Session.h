// The logged-in connection every command works through: to the cluster at --url, CLUSTER_URL
// or the profile's URL, or with --simulated to a simulated cluster started inside this process,
// whose state lives in a folder between runs.
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
    std::string url;   // never empty unless simulated
    std::string user;  // empty: "admin"
    std::string passwordFile;
    std::string caFile;
    bool insecure = false;
    size_t maxReplyBytes = 0;  // 0: the HTTP client's default
    long totalSeconds = 0;     // 0: the HTTP client's default
    bool simulated = false;
};

// The simulated cluster's state folder: CLUSTER_SIM_STATE, else $XDG_STATE_HOME/clusterctl/
// simulated, else ~/.local/state/clusterctl/simulated. Throws UsageError when none can be had.
std::string SimulatedStateFolder();

class Session {
  public:
    Session();
    ~Session();  // stops the embedded cluster, if one was started
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sets up TLS and the request limits for the process and logs in; warns on stderr when the
    // password would cross the network in clear. Throws UsageError when no password can be had
    // and Failure when the simulated cluster cannot start.
    CZuError Open(const ConnectionOptions& options);

    // What became of the last request; all zero before the first.
    Cluster::CRequestOutcome LastOutcome() const;

    const std::string& Url() const { return m_url; }
    const std::string& User() const { return m_user; }

    Cluster::CSnapshotQueries Snapshots() const { return {m_connection, m_parser}; }
    Cluster::CFileSystemQueries Files() const { return {m_connection, m_parser}; }
    Cluster::CShares Shares() const { return {m_connection, m_parser}; }
    // For what the query objects do not hand out, such as the raw attribute reply.
    const boost::shared_ptr<Cluster::CConnection>& Connection() const { return m_connection; }
    const boost::shared_ptr<Cluster::CParser>& Parser() const { return m_parser; }

  private:
    void StartSimulatedCluster();
    std::string Password(const ConnectionOptions& options) const;

    std::unique_ptr<clustersim::Simulator> m_simulator;
    boost::shared_ptr<Cluster::CConnection> m_connection;
    boost::shared_ptr<Cluster::CParser> m_parser;
    std::string m_url;
    std::string m_user;
};

}  // namespace clusterctl
