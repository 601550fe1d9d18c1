// Every query kind against every way the cluster or the network can let it down: the error it
// returns (code, message, trail) and what the caller's list, record and link hold afterwards.
// One row per query kind and failure; each row runs against its own simulated cluster.

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <tuple>

#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterShares.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "SimFixture.h"
#include "tests/support/Signatures.h"

using namespace Cluster;
using clustersim::Fault;

namespace {

enum class Query {
    ListSnapshots,
    CreateSnapshot,
    DeleteSnapshot,
    DiffFirstPage,
    DiffLaterPage,
    SmbShares,
    SmbShare,
    NfsExports,
    NfsExport,
    DirectoryFirstPage,
    DirectoryLaterPage,
    FileAttributes,
    Login,
};

enum class Failure {
    Refused,            // nothing listens on the port any more
    ResetBeforeReply,   // the connection closes before any answer
    ResetInBody,        // the connection closes half way through the announced body
    CutJson200,         // 200 with the first half of a valid reply
    HtmlPage502,        // a proxy's error page
    Description500,     // the cluster's own error reply
    Unauthorized401,    // the token expired (mid-walk for later pages); a wrong password at login
    StallAfterHeaders,  // headers, then silence: ended by the stall rule
    HugeReply,          // 200 with a 100 MB listing
};

// How a query is spelled in trails and messages, and how it takes a 100 MB listing page
// ({"files":[{"path","type"}…],"paging":…}). An empty `parser` means the reply is not read.
struct QueryRow {
    Query query;
    const char* name;
    const char* method;
    int operation;  // the HTTP client's number for the method, as failure messages give it
    const char* function;
    const char* parser;
    const char* hugeStart;  // the message's start, or all of it when `hugeEnd` is empty
    const char* hugeEnd;
};

const char kNoTokenReason[] = "Failed to find authentication token in response";
const char kHugeDirectoryMessage[] =
    "Unable to parse File Entry : {\"path\":\"/huge/f000000000000\",\"type\":\"FS_FILE_TYPE_FILE\"}"
    " due to key 'id' not found";

const QueryRow kQueries[] = {
    {Query::ListSnapshots, "ListSnapshots", "GET", 0, signatures::kListSnapshots,
     signatures::kGetSnapshotsInformation, "No entries section present in the JSON {\"files\":[ {",
     "}}"},
    {Query::CreateSnapshot, "CreateSnapshot", "POST", 1, signatures::kCreateSnapshot,
     signatures::kGetSnapshotInformation, "Unable to parse snapshot entry {\"files\":[ {",
     "}} due to key 'in_delete' not found"},
    {Query::DeleteSnapshot, "DeleteSnapshot", "DELETE", 3, signatures::kDeleteSnapshot, "", "", ""},
    {Query::DiffFirstPage, "DiffFirstPage", "GET", 0, signatures::kGetSnapshotDiff,
     signatures::kGetSnapshotDiffInformation,
     "No entries section present in the JSON {\"files\":[ {", "}}"},
    {Query::DiffLaterPage, "DiffLaterPage", "GET", 0, signatures::kGetSnapshotDiff,
     signatures::kGetSnapshotDiffInformation,
     "No entries section present in the JSON {\"files\":[ {", "}}"},
    {Query::SmbShares, "SmbShares", "GET", 0, signatures::kGetSMBShares,
     signatures::kGetSMBSharesInformation, "Cannot get JSON object from {\"files\":[ {", "}}"},
    {Query::SmbShare, "SmbShare", "GET", 0, signatures::kGetSMBShare,
     signatures::kGetSMBShareInformation, "Unable to SMB share entry {\"files\":[ {",
     "}} due to key 'read_only' not found"},
    {Query::NfsExports, "NfsExports", "GET", 0, signatures::kGetNFSExports,
     signatures::kGetNFSExportsInformation, "Cannot get JSON object from {\"files\":[ {", "}}"},
    {Query::NfsExport, "NfsExport", "GET", 0, signatures::kGetNFSExport,
     signatures::kGetNFSExportInformation, "Unable to parse NFS export entry {\"files\":[ {",
     "}} due to key 'description' not found"},
    {Query::DirectoryFirstPage, "DirectoryFirstPage", "GET", 0, signatures::kGetDirectoryEntries,
     signatures::kGetDirectoryEntriesParser, kHugeDirectoryMessage, ""},
    {Query::DirectoryLaterPage, "DirectoryLaterPage", "GET", 0, signatures::kGetDirectoryEntries,
     signatures::kGetDirectoryEntriesParser, kHugeDirectoryMessage, ""},
    {Query::FileAttributes, "FileAttributes", "GET", 0, signatures::kGetFileAttributes,
     signatures::kGetFileAttributesInfo, "Unable to parse File Attribute Info : {\"files\":[ {",
     "}} due to key 'path' not found"},
    {Query::Login, "Login", "POST", 1, signatures::kConnect, signatures::kConnect,
     "No Authorization Token found", ""},
};

struct FailureRow {
    Failure failure;
    const char* name;
    bool requestFails;  // false: the reply arrives with 200 and is handed to the parser
};

const FailureRow kFailures[] = {
    {Failure::Refused, "Refused", true},
    {Failure::ResetBeforeReply, "ResetBeforeReply", true},
    {Failure::ResetInBody, "ResetInBody", true},
    {Failure::CutJson200, "CutJson200", false},
    {Failure::HtmlPage502, "HtmlPage502", true},
    {Failure::Description500, "Description500", true},
    {Failure::Unauthorized401, "Unauthorized401", true},
    {Failure::StallAfterHeaders, "StallAfterHeaders", true},
    {Failure::HugeReply, "HugeReply", false},
};

const char kHtmlPage[] =
    "<html><head><title>502 Bad Gateway</title></head><body><h1>502 Bad Gateway</h1>"
    "<p>The upstream server did not answer.</p></body></html>";
const char kBusyDescription[] = "the cluster is busy, try again later";
const char kWrongPassword[] = "not-the-password";
// Under a sanitizer every byte costs many times over: a smaller huge reply takes the same path.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const uint64_t kHugeBytes = 16ull * 1024 * 1024;
#else
const uint64_t kHugeBytes = 100ull * 1024 * 1024;
#endif
// The server holds a stalled answer this long; the stall rule (1 s) must end the call first.
const int kStallHoldMs = 30000;
const auto kStallBound = std::chrono::seconds(15);
// Guards against a hang only; no row is timed for speed.
const auto kNoHangBound = std::chrono::seconds(120);
// A refused connect on loopback must not wait for the connect timeout (10 s).
const auto kRefusedBound = std::chrono::seconds(5);

std::string LoginBody(const std::string& password) {
    return "{\"password\":\"" + password + "\",\"username\":\"admin\"}";
}

// The start and end of a text that may be huge, for failure output.
std::string Excerpt(const std::string& text) {
    if (text.size() <= 600) return text;
    return text.substr(0, 300) + " … (" + std::to_string(text.size()) + " bytes) … " +
           text.substr(text.size() - 300);
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every field of each record kind as one line, so that a whole record or list compares at once.
std::string Text(const CSnapshotInfo& s) {
    std::ostringstream out;
    out << s.inDelete << '|' << s.name << '|' << s.timestamp << '|' << s.sourceFileId << '|'
        << s.createdByPolicy << '|' << s.expiration << '|' << s.directoryName << '|' << s.id;
    return out.str();
}
std::string Text(const CSnapshotDiffInfo& d) {
    return d.path + '|' + std::to_string(d.operation) + '|' + std::to_string(d.isDirectory);
}
std::string Text(const CSMBShareEntry& s) {
    std::ostringstream out;
    out << s.readOnly << '|' << s.description << '|' << s.shareName << '|'
        << s.defaultDirectoryCreateMode << '|' << s.fsPath << '|' << s.allowGuestAccess << '|'
        << s.accessBasedEnumerationEnabled << '|' << s.id << '|' << s.defaultFileCreateMode;
    return out.str();
}
std::string Text(const CNFSExportEntry& e) {
    return e.description + '|' + std::to_string(e.id) + '|' + e.fsPath + '|' + e.exportPath;
}
std::string Text(const CDirectoryEntry& e) {
    std::ostringstream out;
    out << e.path << '|' << e.isDirectory << '|' << e.id << '|' << e.mode << '|' << e.owner << '|'
        << e.group << '|' << e.size << '|' << e.changeTime << '|' << e.modificationTime << '|'
        << e.creationTime;
    return out.str();
}
template <class Record>
std::string Text(const std::list<Record>& records) {
    std::string text = std::to_string(records.size()) + " records";
    for (const Record& record : records) text += "\n  " + Text(record);
    return text;
}

// Records whose every field differs from its default, so that a reset shows as well.
CSnapshotInfo SentinelSnapshot(const std::string& name) {
    CSnapshotInfo s;
    s.inDelete = true;
    s.name = name;
    s.timestamp = 7;
    s.sourceFileId = 7;
    s.createdByPolicy = true;
    s.expiration = name;
    s.directoryName = name;
    s.id = 7;
    return s;
}
CSMBShareEntry SentinelShare(const std::string& name) {
    return {true, name, name, name, name, true, true, 7, name};
}
CNFSExportEntry SentinelExport(const std::string& name) {
    return {name, 7, name, name};
}
CDirectoryEntry SentinelEntry(const std::string& name) {
    return {name, true, 7, 7, 7, 7, 7, 7, 7, 7};
}

// What the caller hands in: every list holds two sentinel records, every record and link
// sentinel values, so that any change a failed call makes shows.
struct CallerState {
    CallerState() {
        for (const std::string name : {"sentinel-1", "sentinel-2"}) {
            snapshots.push_back(SentinelSnapshot(name));
            changes.push_back({"/" + name, SNAPSHOT_DIFF_MODIFY, true});
            smbShares.push_back(SentinelShare(name));
            nfsExports.push_back(SentinelExport(name));
            entries.push_back(SentinelEntry(name));
        }
    }

    // What the query writes to, as text.
    std::string Of(Query query) const {
        switch (query) {
            case Query::ListSnapshots:
                return Text(snapshots);
            case Query::CreateSnapshot:
                return Text(snapshot);
            case Query::DiffFirstPage:
            case Query::DiffLaterPage:
                return Text(changes) + "\n  next: " + nextLink;
            case Query::SmbShares:
                return Text(smbShares);
            case Query::SmbShare:
                return Text(smbShare);
            case Query::NfsExports:
                return Text(nfsExports);
            case Query::NfsExport:
                return Text(nfsExport);
            case Query::DirectoryFirstPage:
            case Query::DirectoryLaterPage:
                return Text(entries) + "\n  next: " + nextLink;
            case Query::FileAttributes:
                return Text(attributes);
            case Query::DeleteSnapshot:
            case Query::Login:
                break;
        }
        return "";
    }

    std::list<CSnapshotInfo> snapshots;
    CSnapshotInfo snapshot = SentinelSnapshot("sentinel");
    std::list<CSnapshotDiffInfo> changes;
    std::list<CSMBShareEntry> smbShares;
    CSMBShareEntry smbShare = SentinelShare("sentinel");
    std::list<CNFSExportEntry> nfsExports;
    CNFSExportEntry nfsExport = SentinelExport("sentinel");
    std::list<CDirectoryEntry> entries;
    CFileAttributeInfo attributes = SentinelEntry("sentinel");
    std::string nextLink = "sentinel";
};

// What a cluster holds for the rows: a directory and a diff that span several pages (three
// entries a page), a share, an export and a snapshot to delete.
struct Seeded {
    explicit Seeded(clustersim::Simulator& sim) {
        for (int i = 0; i < 8; ++i) sim.WriteFile("/walk/f" + std::to_string(i), 10 + i);
        sourceId = sim.MakeDirectory("/proj");
        sim.WriteFile("/proj/a", 1);
        baseId = sim.TakeSnapshot("base", "/proj");
        for (int i = 0; i < 7; ++i) sim.WriteFile("/proj/new" + std::to_string(i), 1);
        targetId = sim.TakeSnapshot("target", "/proj");
        doomedId = sim.TakeSnapshot("doomed", "/proj");
        smbId = sim.AddSmbShare("projects", "/proj", "team share");
        nfsId = sim.AddNfsExport("/exports/proj", "/proj", "team export");
    }
    uint64_t sourceId;
    uint64_t baseId;
    uint64_t targetId;
    uint64_t doomedId;
    uint64_t smbId;
    uint64_t nfsId;
};

using Row = std::tuple<QueryRow, FailureRow>;

class FaultMatrixTest : public SimTest, public ::testing::WithParamInterface<Row> {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        seeded = std::make_unique<Seeded>(sim);
        snapshots = boost::make_shared<CSnapshotQueries>(connection, parser);
        files = boost::make_shared<CFileSystemQueries>(connection, parser);
        shares = boost::make_shared<CShares>(connection, parser);
        LogIn();
        ASSERT_FALSE(connection->GetAuthorizationToken(firstToken).IsError());
    }

    const QueryRow& Q() const { return std::get<0>(GetParam()); }
    const FailureRow& F() const { return std::get<1>(GetParam()); }

    // The request the query sends: path and body, as SendRequest takes them.
    std::string Path() const {
        switch (Q().query) {
            case Query::ListSnapshots:
            case Query::CreateSnapshot:
                return "/v2/snapshots/";
            case Query::DeleteSnapshot:
                return "/v2/snapshots/" + std::to_string(seeded->doomedId);
            case Query::DiffFirstPage:
                return "/v2/snapshots/" + std::to_string(seeded->targetId) + "/changes-since/" +
                       std::to_string(seeded->baseId);
            case Query::SmbShares:
                return "/v1/smb/shares/";
            case Query::SmbShare:
                return "/v1/smb/shares/" + std::to_string(seeded->smbId);
            case Query::NfsExports:
                return "/v2/nfs/exports/";
            case Query::NfsExport:
                return "/v2/nfs/exports/" + std::to_string(seeded->nfsId);
            case Query::DirectoryFirstPage:
                return "/v1/files/%2Fwalk/entries/";
            case Query::FileAttributes:
                return "/v1/files/%2Fwalk%2Ff3/info/attributes";
            case Query::DiffLaterPage:
            case Query::DirectoryLaterPage:
                return pageLink;
            case Query::Login:
                return "/v1/session/login";
        }
        return "";
    }
    std::string Body() const {
        if (Q().query == Query::Login) return LoginBody(Password());
        if (Q().query != Query::CreateSnapshot) return "";
        return "{\"expiration\":\"\",\"name\":\"row\",\"source_file_id\":\"" +
               std::to_string(seeded->sourceId) + "\"}";
    }
    std::string Password() const {
        return F().failure == Failure::Unauthorized401 ? kWrongPassword : "admin";
    }
    RequestType Type() const {
        const std::string method = Q().method;
        return method == "GET" ? REQUEST_GET : method == "POST" ? REQUEST_POST : REQUEST_DELETE;
    }

    // A later page needs the link the first page gave.
    void ReadFirstPage() {
        std::string nextLink;
        CZuError error;
        if (Q().query == Query::DiffLaterPage) {
            std::list<CSnapshotDiffInfo> changes;
            error =
                snapshots->GetSnapshotDiff(seeded->baseId, seeded->targetId, changes, nextLink, "");
        } else if (Q().query == Query::DirectoryLaterPage) {
            std::list<CDirectoryEntry> entries;
            error = files->GetDirectoryEntries("/walk", entries, nextLink, 0, "");
        } else {
            return;
        }
        ASSERT_FALSE(error.IsError()) << error.ToString();
        ASSERT_FALSE(nextLink.empty());
        pageLink = nextLink;
    }

    // What the cluster answers to the query's request as things stand; `accepted` says
    // whether it is to be a 2xx answer.
    std::string RealReply(bool accepted) {
        std::string reply;
        const CZuError error =
            Q().query == Query::Login
                ? connection->SendRequest(Type(), Path(), Body(), reply, {}, false)
                : connection->SendRequest(Type(), Path(), Body(), reply, false);
        EXPECT_EQ(accepted, !error.IsError()) << error.ToString();
        return reply;
    }

    Fault OnThisRequest(Fault::Kind kind) const {
        Fault fault;
        fault.kind = kind;
        fault.method = Q().method;
        fault.pathPrefix = Path();
        return fault;
    }

    // Puts the row's failure in place; returns the reply body the call will see (as far as
    // it is known in advance).
    std::string Arrange() {
        switch (F().failure) {
            case Failure::Refused: {
                // A cluster of its own, logged in to, then gone: its port is closed.
                clustersim::Simulator doomed(SmallPages());
                std::string problem;
                EXPECT_TRUE(doomed.Start(&problem)) << problem;
                if (Q().query == Query::Login) {
                    refusedUrl = doomed.BaseUrl();
                    return "";
                }
                *seeded = Seeded(doomed);
                TNLibCurl::Defaults defaults;
                defaults.caFile = doomed.CaFile();
                TNLibCurl::SetDefaults(defaults);
                const CZuError login = connection->Connect(doomed.BaseUrl(), "admin", "admin");
                EXPECT_FALSE(login.IsError()) << login.ToString();
                ReadFirstPage();
                refusedUrl = doomed.BaseUrl();
                doomed.Stop();
                return "";
            }
            case Failure::ResetBeforeReply: {
                // Forever, since the client may retry a request on a fresh connection.
                sim.AddFault(OnThisRequest(Fault::Kind::CloseNoAnswer));
                return "";
            }
            case Failure::ResetInBody: {
                Fault fault = OnThisRequest(Fault::Kind::TruncatedBody);
                fault.body = RealReply(true);
                // A deletion is answered without a body; there must be one to cut.
                if (fault.body.empty()) fault.body = "{\"deleted\":true}";
                sim.AddFault(fault);
                const std::string half = fault.body.substr(0, fault.body.size() / 2);
                if (Q().query != Query::Login) return half;
                // Messages mask a token, even one cut short.
                const std::string tokenStart = "{\"bearer_token\":\"";
                EXPECT_TRUE(StartsWith(half, tokenStart) && half.size() > tokenStart.size())
                    << half;
                return tokenStart + "***\"";
            }
            case Failure::CutJson200: {
                Fault fault = OnThisRequest(Fault::Kind::Respond);
                fault.status = 200;
                const std::string whole = RealReply(true);
                fault.body = whole.substr(0, whole.size() / 2);
                sim.AddFault(fault);
                return fault.body;
            }
            case Failure::HtmlPage502: {
                Fault fault = OnThisRequest(Fault::Kind::Respond);
                fault.status = 502;
                fault.body = kHtmlPage;
                fault.contentType = "text/html";
                sim.AddFault(fault);
                return fault.body;
            }
            case Failure::Description500: {
                Fault fault = OnThisRequest(Fault::Kind::Respond);
                fault.status = 500;
                fault.body = std::string("{\"description\":\"") + kBusyDescription +
                             "\",\"error_class\":\"internal_error\"}";
                sim.AddFault(fault);
                return fault.body;
            }
            case Failure::Unauthorized401: {
                // At login the password is wrong; elsewhere every token dies (for a later
                // page: after the first page was read).
                if (Q().query != Query::Login) sim.RevokeTokens();
                return RealReply(false);
            }
            case Failure::StallAfterHeaders: {
                Fault fault = OnThisRequest(Fault::Kind::StallAfterHeaders);
                fault.delayMs = kStallHoldMs;
                sim.AddFault(fault);
                TNLibCurl::Defaults defaults = TNLibCurl::GetDefaults();
                defaults.stallSeconds = 1;
                TNLibCurl::SetDefaults(defaults);
                return "";
            }
            case Failure::HugeReply: {
                Fault fault = OnThisRequest(Fault::Kind::HugeBody);
                fault.hugeBytes = kHugeBytes;
                sim.AddFault(fault);
                return "";
            }
        }
        return "";
    }

    CZuError Call(CallerState& state) {
        switch (Q().query) {
            case Query::ListSnapshots:
                return snapshots->ListSnapshots(state.snapshots);
            case Query::CreateSnapshot:
                return snapshots->CreateSnapshot("row", seeded->sourceId, state.snapshot, "");
            case Query::DeleteSnapshot:
                return snapshots->DeleteSnapshot(seeded->doomedId);
            case Query::DiffFirstPage:
            case Query::DiffLaterPage:
                return snapshots->GetSnapshotDiff(seeded->baseId, seeded->targetId, state.changes,
                                                  state.nextLink, pageLink);
            case Query::SmbShares:
                return shares->GetSMBShares(state.smbShares);
            case Query::SmbShare:
                return shares->GetSMBShare(seeded->smbId, state.smbShare);
            case Query::NfsExports:
                return shares->GetNFSExports(state.nfsExports);
            case Query::NfsExport:
                return shares->GetNFSExport(seeded->nfsId, state.nfsExport);
            case Query::DirectoryFirstPage:
            case Query::DirectoryLaterPage:
                return files->GetDirectoryEntries("/walk", state.entries, state.nextLink, 0,
                                                  pageLink);
            case Query::FileAttributes:
                return files->GetFileAttributes("/walk/f3", state.attributes, 0);
            case Query::Login:
                return connection->Connect(
                    F().failure == Failure::Refused ? refusedUrl : sim.BaseUrl(), "admin",
                    Password());
        }
        return CZuError();
    }

    // The reason a failed login's event gives.
    std::string LoginReason() const {
        switch (F().failure) {
            case Failure::CutJson200:
            case Failure::HugeReply:
                return kNoTokenReason;
            case Failure::Description500:
                return kBusyDescription;
            case Failure::Unauthorized401:
                return "invalid username or password";
            // No answer at all: the reason is the transport's own cause.
            case Failure::Refused:
                return "Connection refused";
            case Failure::ResetBeforeReply:
                return "Empty reply from server";
            default:
                return "authentication failed";
        }
    }

    void ExpectOutcome(const CZuError& error, const std::string& reply, const CallerState& state) {
        const QueryRow& query = Q();
        const FailureRow& failure = F();
        const std::string message = error.GetMessage();
        SCOPED_TRACE(error.IsError()
                         ? "error " + std::to_string(error.GetCode()) + ": " + Excerpt(message)
                         : std::string("success"));
        if (!failure.requestFails && std::string(query.parser).empty()) {
            // The reply of a deletion is not read: whatever arrives with 200 is success.
            EXPECT_FALSE(error.IsError());
            return;
        }
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(774u, error.GetCode());

        std::vector<std::string> trail = {query.parser, query.function};
        if (failure.requestFails) {
            const std::string base =
                failure.failure == Failure::Refused ? refusedUrl : sim.BaseUrl();
            const std::string body = query.query == Query::Login ? LoginBody("***") : Body();
            const std::string start = "Error: API failed. operation [" +
                                      std::to_string(query.operation) + "]. URL[" + base + Path() +
                                      "]. Body [" + body + "] Response [";
            EXPECT_TRUE(StartsWith(message, start)) << "expected start: " << start;
            if (failure.failure == Failure::StallAfterHeaders) {
                // The client's own limit ended the request, and the message says which.
                EXPECT_TRUE(StartsWith(message, start + reply + "] - ")) << message;
                EXPECT_TRUE(EndsWith(message, "(stall limit)")) << message;
            } else {
                EXPECT_EQ(start + reply + "]", message);
            }
            trail = {signatures::kSendRequest, query.function};
        } else if (query.query == Query::Login) {
            EXPECT_EQ(
                failure.failure == Failure::HugeReply
                    ? std::string(query.hugeStart)
                    : "Exception getting value [bearer-token] - [value is null, not an object]",
                message);
            trail = {signatures::kConnect};
        } else if (failure.failure == Failure::HugeReply) {
            // Only the start of the reply is quoted, then its full size.
            EXPECT_LT(message.size(), 70u * 1024);
            const std::string start = query.hugeStart;
            std::string end = query.hugeEnd;
            if (StartsWith(end, "}}")) {
                end = "\xE2\x80\xA6 [" + std::to_string(kHugeBytes) + " bytes]" + end.substr(2);
            }
            if (end.empty()) {
                EXPECT_EQ(start, message);
            } else {
                EXPECT_TRUE(StartsWith(message, start)) << "expected start: " << start;
                EXPECT_TRUE(EndsWith(message, end)) << "expected end: " << end;
            }
        } else {
            EXPECT_EQ("Cannot get JSON object from " + reply, message);
        }
        EXPECT_EQ(trail, Trail(error));

        if (query.query == Query::Login) {
            ASSERT_EQ(1u, events->codes.size());
            EXPECT_EQ(static_cast<unsigned>(ZU_EVENT_LOGIN_FAILED), events->codes[0]);
            const std::string said =
                "Login to the storage cluster failed: request /v1/session/login, reason: ";
            EXPECT_TRUE(StartsWith(events->messages[0], said)) << events->messages[0];
            EXPECT_NE(events->messages[0].find(LoginReason(), said.size()), std::string::npos)
                << events->messages[0];
            // The token stays only at the cluster that issued it.
            std::string token;
            if (failure.failure == Failure::Refused) {
                EXPECT_TRUE(connection->GetAuthorizationToken(token).IsError());
                return;
            }
            ASSERT_FALSE(connection->GetAuthorizationToken(token).IsError());
            EXPECT_EQ(firstToken, token);
            return;
        }
        EXPECT_TRUE(events->codes.empty());
        if (query.query == Query::DeleteSnapshot) return;  // it hands nothing back
        // A failed call leaves the caller's data as it was, except that a directory listing
        // empties its list at every call (and so holds nothing after a failed one).
        CallerState expected;
        expected.entries.clear();
        EXPECT_EQ(expected.Of(query.query), state.Of(query.query));
    }

    std::unique_ptr<Seeded> seeded;
    std::string firstToken;
    std::string pageLink;
    std::string refusedUrl;
    boost::shared_ptr<CSnapshotQueries> snapshots;
    boost::shared_ptr<CFileSystemQueries> files;
    boost::shared_ptr<CShares> shares;
};

TEST_P(FaultMatrixTest, ErrorTrailAndCallerState) {
    ReadFirstPage();
    const std::string reply = Arrange();
    if (HasFatalFailure()) return;
    sim.ClearJournal();
    events->codes.clear();
    events->messages.clear();

    {
        CallerState state;
        const auto started = std::chrono::steady_clock::now();
        const CZuError error = Call(state);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        // No hang, whatever the failure; a stall and a refusal end by their own rules.
        EXPECT_LT(elapsed, kNoHangBound);
        if (F().failure == Failure::StallAfterHeaders) {
            EXPECT_LT(elapsed, kStallBound);
        }
        if (F().failure == Failure::Refused) {
            EXPECT_LT(elapsed, kRefusedBound);
        }
        ExpectOutcome(error, reply, state);
    }
}

void PrintTo(const QueryRow& row, std::ostream* out) {
    *out << row.name;
}
void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << row.name;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrixTest,
                         ::testing::Combine(::testing::ValuesIn(kQueries),
                                            ::testing::ValuesIn(kFailures)),
                         RowName);

}  // namespace
