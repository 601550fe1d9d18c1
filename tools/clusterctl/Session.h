// The logged-in connection every command works through: to the cluster at --url, CLUSTER_URL
// or the profile's URL, or with --simulated to a simulated cluster started inside this process,
// whose state lives in a folder between runs. Every request goes through the walking layer, so
// it is sent again after a passing fault and the login is renewed when the token expires.
#pragma once

#include <boost/shared_ptr.hpp>
#include <functional>
#include <memory>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterShares.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/Job.h"
#include "ClusterWalk/ResilientSession.h"
#include "ClusterWalk/TreeWalker.h"

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
    clusterwalk::JobOptions job;  // retries (--retries) and the rate limit (--rate)
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

    // Runs one call of a query object as the layer does: again after a passing fault when a
    // request of `kind` may be repeated, after a new login when the token expired.
    CZuError Run(clusterwalk::RequestKind kind, const std::function<CZuError()>& attempt);
    clusterwalk::CResilientSession& Resilient() { return *m_resilient; }
    // Requests sent again so far, for the progress line.
    uint64_t Retries() const { return m_resilient->Job().Statistics().retries; }

    // What became of the last request; all zero before the first.
    Cluster::CRequestOutcome LastOutcome() const;

    const std::string& Url() const { return m_url; }
    const std::string& User() const { return m_user; }

    // Query objects over the session's connection; call them through Run.
    Cluster::CSnapshotQueries Snapshots() const { return m_resilient->Snapshots(); }
    Cluster::CFileSystemQueries Files() const { return m_resilient->Files(); }
    Cluster::CShares Shares() const { return {Connection(), Parser()}; }
    // For what the query objects do not hand out, such as the raw attribute reply.
    const boost::shared_ptr<Cluster::CConnection>& Connection() const {
        return m_resilient->Connection();
    }
    const boost::shared_ptr<Cluster::CParser>& Parser() const { return m_resilient->Parser(); }

    // A walker whose `connections` sessions log in as this one did and share its job: one
    // rate limit, one retry budget, one cancellation.
    std::unique_ptr<clusterwalk::CTreeWalker> NewWalker(unsigned connections) const;
    // A change feed over `connections` sessions, likewise.
    std::unique_ptr<clusterwalk::CChangeFeed> NewChangeFeed(unsigned connections) const;
    clusterwalk::CJob& Job() const { return *m_job; }

  private:
    void StartSimulatedCluster();
    std::string Password(const ConnectionOptions& options) const;

    std::unique_ptr<clustersim::Simulator> m_simulator;
    std::shared_ptr<clusterwalk::CJob> m_job;
    std::unique_ptr<clusterwalk::CResilientSession> m_resilient;
    std::string m_url;
    std::string m_user;
    std::string m_password;  // kept for the walker's logins; wiped when the session ends
};

}  // namespace clusterctl
