#include "SessionBinding.h"

#include <cstdlib>
#include <list>
#include <memory>
#include <string>

#include "ChangeFeedBinding.h"
#include "Cluster/ClusterShares.h"
#include "Listings.h"
#include "NativeSession.h"
#include "Options.h"
#include "Records.h"
#include "Text.h"
#include "WalkBinding.h"
#include "platform/TNLibCurl.h"

namespace clusterpy {
namespace {

using clusterwalk::CResilientSession;
using clusterwalk::RequestKind;

// clusterctl's user when none is named.
constexpr const char* kDefaultUser = "admin";

// The argument when given (read as a secret: it may be the password), else the variable's value.
std::string Setting(const py::object& given, const char* argument, const char* variable) {
    if (!given.is_none()) return SecretFromText(given, argument);
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

// This session's own trust (its walks' and change feeds' too); none given: the process's.
std::shared_ptr<const TNLibCurl::Trust> TrustFrom(const py::object& caFile, bool insecure) {
    if (caFile.is_none() && !insecure) return nullptr;
    auto trust = std::make_shared<TNLibCurl::Trust>();
    if (!caFile.is_none()) trust->caFile = FromText(caFile, "ca_file");
    trust->insecure = insecure;
    return trust;
}

class Session {
  public:
    Session(const py::object& url, const py::object& user, const py::object& password,
            const py::object& caFile, bool insecure, const py::kwargs& options) {
        Credentials credentials{FromText(url, "url"), Setting(user, "user", "CLUSTER_USER"),
                                Setting(password, "password", "CLUSTER_PASSWORD")};
        if (credentials.user.empty()) credentials.user = kDefaultUser;
        if (password.is_none() && std::getenv("CLUSTER_PASSWORD") == nullptr) {
            throw py::value_error("no password: pass password= or set CLUSTER_PASSWORD");
        }
        clusterwalk::JobOptions job = JobOptionsFrom(options);
        job.trust = TrustFrom(caFile, insecure);
        py::gil_scoped_release release;
        m_native = std::make_shared<NativeSession>(credentials, job);
        m_native->Connect();
    }

    py::list Snapshots() {
        std::list<Cluster::CSnapshotInfo> snapshots;
        Run(RequestKind::Get, [&](CResilientSession& session) {
            snapshots.clear();
            return session.Snapshots().ListSnapshots(snapshots);
        });
        return ToList(snapshots, ToSnapshot);
    }

    py::object CreateSnapshot(const py::object& name, uint64_t sourceFileId,
                              const py::object& expiration) {
        const std::string nameBytes = FromText(name, "name");
        const std::string expirationBytes = FromText(expiration, "expiration");
        Cluster::CSnapshotInfo snapshot;
        Run(RequestKind::Post, [&](CResilientSession& session) {
            return session.Snapshots().CreateSnapshot(nameBytes, sourceFileId, snapshot,
                                                      expirationBytes);
        });
        return ToSnapshot(snapshot);
    }

    void DeleteSnapshot(uint64_t id) {
        Run(RequestKind::Delete,
            [&](CResilientSession& session) { return session.Snapshots().DeleteSnapshot(id); });
    }

    py::list SmbShares() {
        std::list<Cluster::CSMBShareEntry> shares;
        Run(RequestKind::Get, [&](CResilientSession& session) {
            shares.clear();
            return Cluster::CShares(session.Connection(), session.Parser()).GetSMBShares(shares);
        });
        return ToList(shares, ToSmbShare);
    }

    py::list NfsExports() {
        std::list<Cluster::CNFSExportEntry> exports;
        Run(RequestKind::Get, [&](CResilientSession& session) {
            exports.clear();
            return Cluster::CShares(session.Connection(), session.Parser()).GetNFSExports(exports);
        });
        return ToList(exports, ToNfsExport);
    }

    py::object Attributes(const py::object& path) {
        const std::string pathBytes = FromText(path, "path");
        Cluster::CFileAttributeInfo info;
        Run(RequestKind::Get, [&](CResilientSession& session) {
            return session.Files().GetFileAttributes(pathBytes, info, 0);
        });
        return ToEntry(info);
    }

    py::object ListDirectory(const py::object& path, int snapshot) {
        return clusterpy::ListDirectory(Native(), FromText(path, "path"), snapshot);
    }

    py::object SnapshotDiff(uint64_t older, uint64_t newer) {
        return clusterpy::SnapshotDiff(Native(), older, newer);
    }

    py::object Walk(const py::object& start, int snapshot, unsigned connections,
                    const py::object& maxDepth, const py::object& maxEntries) {
        return StartWalk(*Native(), start, snapshot, connections, maxDepth, maxEntries);
    }

    py::object Changes(uint64_t older, uint64_t newer, bool attributes, unsigned connections,
                       size_t window) {
        return StartChangeFeed(*Native(), older, newer, attributes, connections, window);
    }

    void Close() {
        if (!m_native) return;
        py::gil_scoped_release release;
        m_native->Close();
    }

  private:
    const std::shared_ptr<NativeSession>& Native() const { return m_native; }

    // One request (and its parse) with the GIL released.
    void Run(RequestKind kind, const std::function<CZuError(CResilientSession&)>& call) {
        py::gil_scoped_release release;
        m_native->Run(kind, call);
    }

    std::shared_ptr<NativeSession> m_native;
};

const char* const kSessionDoc =
    "A login to one cluster, through the walking layer's resilient session: requests that "
    "meet a busy or unreachable cluster are sent again, an expired token is renewed.\n\n"
    "Session(url, user=None, password=None, *, ca_file=None, insecure=False, **options)\n"
    "user and password default to CLUSTER_USER (else \"admin\") and CLUSTER_PASSWORD. ca_file "
    "(a CA bundle) and insecure (no certificate check) hold for this session, its walks and "
    "its change feeds only; without them the system's CAs (or CURL_CA_BUNDLE) are trusted. "
    "options: first_delay, "
    "max_delay, max_attempts, request_budget, budget_capacity, budget_refill, budget_credit, "
    "rate (requests/s), in_flight, burst. The password is kept only in native memory, wiped "
    "by close(). Every call releases the GIL while it talks to the cluster and raises "
    "ClusterError when it fails.";

}  // namespace

void BindSession(py::module_& module) {
    py::class_<Session>(module, "Session", kSessionDoc)
        .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&,
                      bool, const py::kwargs&>(),
             py::arg("url"), py::arg("user") = py::none(), py::arg("password") = py::none(),
             py::kw_only(), py::arg("ca_file") = py::none(), py::arg("insecure") = false,
             "Logs in; raises ClusterError when the cluster refuses or cannot be reached.")
        .def("snapshots", &Session::Snapshots, "Every snapshot (list of Snapshot).")
        .def("create_snapshot", &Session::CreateSnapshot, py::arg("name"),
             py::arg("source_file_id"), py::arg("expiration") = "",
             "Snapshots the directory of that file id; expiration is an RFC 3339 time (empty: "
             "never). Returns the new Snapshot. Never sent twice once it reached the cluster.")
        .def("delete_snapshot", &Session::DeleteSnapshot, py::arg("id"),
             "Deletes the snapshot of that id.")
        .def("snapshot_diff", &Session::SnapshotDiff, py::arg("older"), py::arg("newer"),
             "The changes in snapshot `newer` since `older` (iterator of DiffEntry), read a "
             "page at a time.")
        .def("smb_shares", &Session::SmbShares, "Every SMB share (list of SmbShare).")
        .def("nfs_exports", &Session::NfsExports, "Every NFS export (list of NfsExport).")
        .def("list_directory", &Session::ListDirectory, py::arg("path"), py::arg("snapshot") = 0,
             "The entries of directory `path` (iterator of Entry), live or as of `snapshot`, "
             "read a page at a time.")
        .def("attributes", &Session::Attributes, py::arg("path"),
             "The live attributes of one file (Entry; its mode as the attribute reply gives it, "
             "in decimal digits: 755).")
        .def("walk", &Session::Walk, py::arg("start"), py::kw_only(), py::arg("snapshot") = 0,
             py::arg("connections") = 16, py::arg("max_depth") = py::none(),
             py::arg("max_entries") = py::none(),
             "Walks the tree below `start` (a path, or a list of unit texts to go on with) over "
             "`connections` connections of its own; returns a Walk. max_depth: deepest entries "
             "delivered below a start; max_entries: stop (as by Walk.stop) once that many were "
             "delivered, handing the rest back in summary.unfinished.")
        .def("changes", &Session::Changes, py::arg("older"), py::arg("newer"), py::kw_only(),
             py::arg("attributes") = true, py::arg("connections") = 16, py::arg("window") = 10000,
             "The changes in snapshot `newer` since `older`, told apart as content or metadata "
             "changes, with their attributes as of `newer` unless attributes=False; returns a "
             "ChangeFeed.")
        .def("close", &Session::Close,
             "Ends the session: wipes the password, abandons requests in flight; later calls "
             "raise ValueError. Walks and change feeds already started go on.")
        .def(
            "__enter__", [](py::object self) { return self; }, "The object itself.")
        .def(
            "__exit__", [](Session& session, const py::args&) { session.Close(); }, "Closes it.");
}

}  // namespace clusterpy
