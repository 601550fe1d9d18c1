// One logged-in session of the Python API: the layer's resilient session on its own job, the
// credentials (only here, wiped when closed) and the lock that keeps Python threads from using
// its connection at once. Everything here runs without the GIL.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ClusterWalk/Job.h"
#include "ClusterWalk/ResilientSession.h"

namespace clusterpy {

// Overwrites a secret before its memory is given back.
void Wipe(std::string& secret);

// Every copy wipes its password when it goes, whichever way its scope is left.
struct Credentials {
    std::string url;
    std::string user;
    std::string password;
    ~Credentials() { Wipe(password); }
};

class NativeSession {
  public:
    // Copies the credentials.
    NativeSession(const Credentials& credentials, clusterwalk::JobOptions options);
    NativeSession(const NativeSession&) = delete;
    NativeSession& operator=(const NativeSession&) = delete;

    // Logs in; throws ClusterFailure when that fails for good.
    void Connect();
    // Runs `call` on the session, one caller at a time, through its retries; throws
    // ClusterFailure when it failed and ValueError when the session is closed.
    void Run(clusterwalk::RequestKind kind,
             const std::function<CZuError(clusterwalk::CResilientSession&)>& call);
    // Runs `use` with the session locked, for a pager's page; ValueError when closed.
    void Locked(const std::function<void(clusterwalk::CResilientSession&)>& use);
    // Runs `release` with the session locked, closed or not: for letting go of a pager.
    void Release(const std::function<void()>& release);

    // A new job with this session's options, for a walk or a change feed on connections of
    // their own. ValueError when closed.
    std::shared_ptr<clusterwalk::CJob> NewJob() const;
    // A CTreeWalker or CChangeFeed on `job` over `connections` connections, logging in as
    // this session does. ValueError when closed.
    template <class Runner>
    std::shared_ptr<Runner> NewRunner(std::shared_ptr<clusterwalk::CJob> job,
                                      unsigned connections) const {
        const Credentials credentials = CopyCredentials();
        return std::make_shared<Runner>(std::move(job), credentials.url, credentials.user,
                                        credentials.password, connections);
    }

    // Ends the session: requests in flight are abandoned, the password is wiped and every
    // later call fails. The layer's session itself goes with the last pager reading from it.
    void Close();

  private:
    Credentials CopyCredentials() const;
    void ThrowIfClosed() const;

    const clusterwalk::JobOptions m_options;
    Credentials m_credentials;
    std::shared_ptr<clusterwalk::CJob> m_job;
    std::unique_ptr<clusterwalk::CResilientSession> m_session;
    mutable std::mutex m_mutex;  // one request at a time on the connection; guards m_closed
    bool m_closed = false;
};

}  // namespace clusterpy
