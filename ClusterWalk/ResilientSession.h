// A connection that rides out the faults of a real cluster: it logs in again when the token
// expires, sends a failed request again when the retry policy allows it, and keeps to a rate
// limit shared with the job's other connections.
//
//     auto job = std::make_shared<clusterwalk::CJob>();
//     clusterwalk::CResilientSession session(job, url, user, password);
//     if (session.Connect().IsError()) ...
//     auto pager = clusterwalk::DirectoryPager(session, "/home", 0);
//     for (const Cluster::CDirectoryEntry& entry : pager) Use(entry);
//
// Like a connection, a session is used from one thread at a time; its job may be cancelled
// from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterParser.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/Job.h"
#include "ClusterWalk/Pager.h"
#include "ClusterWalk/RetryPolicy.h"

namespace clusterwalk {

// The code a request fails with when the session was cancelled before it could finish
// (ERROR_CANCELLED, as the host platform spells it).
constexpr unsigned int kCancelledError = 1223;

// Exported member by member, so its private helpers stay out of the boundary.
class CResilientSession {
  public:
    // The password is kept in this object's memory only, and wiped when it is destroyed.
    // A null `job` makes one of default options for this session alone.
    CLUSTERWALK_API CResilientSession(std::shared_ptr<CJob> job, std::string baseUrl,
                                      std::string userName, const std::string& password);
    CLUSTERWALK_API ~CResilientSession();
    CResilientSession(const CResilientSession&) = delete;
    CResilientSession& operator=(const CResilientSession&) = delete;

    // Logs in, retrying as the policy allows.
    CLUSTERWALK_API CZuError Connect();

    // Runs `attempt`, one call of a query object built on Connection(), until it succeeds or
    // the failure is final. A refused token (HTTP 401) is followed by one new login and the
    // same attempt; a 401 right after that login is final. A transient failure is retried as
    // the policy of `kind` allows, after a cancellable wait. The error of the last attempt is
    // returned, and GetLastRequestOutcome() tells what became of it.
    CLUSTERWALK_API CZuError Run(RequestKind kind, const std::function<CZuError()>& attempt);

    // Query objects over this session's connection; their calls go through Run.
    CLUSTERWALK_API Cluster::CFileSystemQueries Files() const;
    CLUSTERWALK_API Cluster::CSnapshotQueries Snapshots() const;
    const boost::shared_ptr<Cluster::CConnection>& Connection() const { return m_connection; }
    const boost::shared_ptr<Cluster::CParser>& Parser() const { return m_parser; }

    CJob& Job() const { return *m_job; }

    CLUSTERWALK_API Cluster::CRequestOutcome GetLastRequestOutcome() const;

  private:
    CZuError Login();
    CZuError Attempt(RequestKind kind, const std::function<CZuError()>& attempt, bool relogin);
    static CZuError CancelledError();

    const std::shared_ptr<CJob> m_job;
    const std::string m_baseUrl;
    const std::string m_userName;
    std::string m_password;
    const boost::shared_ptr<Cluster::CConnection> m_connection;
    const boost::shared_ptr<Cluster::CParser> m_parser;
};

// Pagers whose every page is read through the session's Run, so a page that failed for a
// passing reason or an expired token is read again from the same page link and the walk goes
// on where it was. The session must outlive the pager. A directory's pager reads through a
// CDirectoryPageReader (PageReader.h): each page's reading also fetches the page after it,
// while the page is parsed.
CLUSTERWALK_API Pager<Cluster::CDirectoryEntry> DirectoryPager(CResilientSession& session,
                                                               std::string path, int snapshotId);
CLUSTERWALK_API Pager<Cluster::CSnapshotDiffInfo> SnapshotDiffPager(CResilientSession& session,
                                                                    uint64_t baseSnapshotId,
                                                                    uint64_t targetSnapshotId);

}  // namespace clusterwalk
