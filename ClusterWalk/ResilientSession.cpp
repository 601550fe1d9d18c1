#include "ClusterWalk/ResilientSession.h"

#include <string.h>

#include <boost/make_shared.hpp>
#include <utility>

#include "ClusterWalk/PageReader.h"

namespace clusterwalk {

namespace {

constexpr int kLogOrdinary = 1;
constexpr long kUnauthorized = 401;

void LogLine(const char* function, int line, const std::string& text) {
    const boost::shared_ptr<CLogWriterInterface> writer = g_ptrLogWriter;
    if (writer) writer->WriteLog(kLogOrdinary, function, line, 0, 0, "%s", text.c_str());
}

}  // namespace

CResilientSession::CResilientSession(std::shared_ptr<CJob> job, std::string baseUrl,
                                     std::string userName, const std::string& password)
    : m_job(job ? std::move(job) : std::make_shared<CJob>()),
      m_baseUrl(std::move(baseUrl)),
      m_userName(std::move(userName)),
      m_password(password),
      m_connection(boost::make_shared<Cluster::CConnection>()),
      m_parser(boost::make_shared<Cluster::CParser>()) {
    // A cancelled job abandons this connection's request in flight too.
    m_connection->SetAbandonFlag(m_job->CancelFlag());
    m_connection->SetTrust(m_job->Trust());
}

CResilientSession::~CResilientSession() {
    // explicit_bzero, unlike memset, is not dropped as a store to memory about to be freed.
    if (!m_password.empty()) explicit_bzero(&m_password[0], m_password.size());
}

CZuError CResilientSession::Connect() {
    CZuError error = Attempt(
        RequestKind::Login, [this] { return Login(); }, false);
    if (error.IsError()) error.Push(FX_CODE_LOCATION);
    return error;
}

CZuError CResilientSession::Run(RequestKind kind, const std::function<CZuError()>& attempt) {
    CZuError error = Attempt(kind, attempt, true);
    if (error.IsError()) error.Push(FX_CODE_LOCATION);
    return error;
}

CZuError CResilientSession::Login() {
    return m_connection->Connect(m_baseUrl, m_userName, m_password);
}

CZuError CResilientSession::Attempt(RequestKind kind, const std::function<CZuError()>& attempt,
                                    bool relogin) {
    const double start = SteadyNowSeconds();
    int attempts = 0;
    // Set by a new login until the next attempt: a 401 then means the login itself is refused.
    bool freshLogin = false;
    for (;;) {
        CJob& job = *m_job;
        if (job.Cancelled()) return CancelledError();
        CRateLimit::Permit permit = job.Limit().Acquire([&job] { return job.Cancelled(); });
        if (!permit) return CancelledError();
        ++attempts;
        job.CountAttempt();
        CZuError error = attempt();
        permit.Release();
        if (!error.IsError()) {
            job.Policy().RecordSuccess();
            return error;
        }
        // Abandoned in flight: the cancellation, not the transport, is why it failed.
        if (job.Cancelled()) return CancelledError();
        const Cluster::CRequestOutcome outcome = m_connection->GetLastRequestOutcome();
        if (relogin && outcome.transportCode == 0 && outcome.httpStatus == kUnauthorized) {
            if (freshLogin) {
                LogLine(__PRETTY_FUNCTION__, __LINE__,
                        std::string(KindName(kind)) +
                            " request refused with HTTP 401 right after a new login");
                return error;
            }
            job.CountRelogin();
            LogLine(
                __PRETTY_FUNCTION__, __LINE__,
                std::string(KindName(kind)) + " request refused with HTTP 401, logging in again");
            CZuError loginError = Attempt(
                RequestKind::Login, [this] { return Login(); }, false);
            if (loginError.IsError()) return loginError.Push(FX_CODE_LOCATION);
            freshLogin = true;
            --attempts;  // the refused try does not count against the request's attempts
            continue;    // the same attempt, so a page is read again from the same link
        }
        freshLogin = false;
        // A failure the outcome does not show (a reply that would not parse) is not the
        // cluster's passing state, and sending again would only get the same reply.
        if (!IsFailure(outcome)) return error;
        const RetryDecision decision =
            job.Policy().Next(kind, outcome, attempts, SteadyNowSeconds() - start);
        LogLine(__PRETTY_FUNCTION__, __LINE__,
                std::string(KindName(kind)) + ": " + decision.reason);
        if (!decision.retry) return error;
        job.CountRetry();
        if (!job.Sleep(decision.delaySeconds)) return CancelledError();
    }
}

CZuError CResilientSession::CancelledError() {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kCancelledError, "The request was cancelled");
}

Cluster::CFileSystemQueries CResilientSession::Files() const {
    return Cluster::CFileSystemQueries(m_connection, m_parser);
}

Cluster::CSnapshotQueries CResilientSession::Snapshots() const {
    return Cluster::CSnapshotQueries(m_connection, m_parser);
}

Cluster::CRequestOutcome CResilientSession::GetLastRequestOutcome() const {
    return m_connection->GetLastRequestOutcome();
}

Pager<Cluster::CDirectoryEntry> DirectoryPager(CResilientSession& session, std::string path,
                                               int snapshotId) {
    // Shared, as the pager's function must be copyable; a copy of the pager reads through the
    // same reader.
    auto reader = std::make_shared<CDirectoryPageReader>(session, std::move(path), snapshotId);
    return Pager<Cluster::CDirectoryEntry>(
        [reader](const std::string& pageLink, std::list<Cluster::CDirectoryEntry>& entries,
                 std::string& nextLink) { return reader->Read(pageLink, entries, nextLink); });
}

Pager<Cluster::CSnapshotDiffInfo> SnapshotDiffPager(CResilientSession& session,
                                                    uint64_t baseSnapshotId,
                                                    uint64_t targetSnapshotId) {
    return Pager<Cluster::CSnapshotDiffInfo>(
        [&session, snapshots = session.Snapshots(), baseSnapshotId, targetSnapshotId](
            const std::string& pageLink, std::list<Cluster::CSnapshotDiffInfo>& changes,
            std::string& nextLink) mutable {
            return session.Run(RequestKind::Get, [&] {
                return snapshots.GetSnapshotDiff(baseSnapshotId, targetSnapshotId, changes,
                                                 nextLink, pageLink);
            });
        });
}

}  // namespace clusterwalk
