#include "Cluster/ClusterSnapshotQueries.h"

#include "Cluster/ClusterBoundary.h"
#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterQuery.h"
#include "platform/json_spirit/json_spirit.h"

namespace Cluster {
namespace {

const char kSnapshotsPath[] = "/v2/snapshots/";

std::string CreationBody(const string& name, uint64_t sourceFileId, const std::string& expiration) {
    json_spirit::mObject body;
    // Texts end at an embedded NUL, as C strings would.
    body["expiration"] = std::string(expiration.c_str());
    body["name"] = std::string(name.c_str());
    body["source_file_id"] = FXString::Format("%lu", sourceFileId);
    return json_spirit::write_string(json_spirit::mValue(std::move(body)), 0);
}

}  // namespace

CSnapshotQueries::CSnapshotQueries(boost::shared_ptr<CConnection> connection,
                                   boost::shared_ptr<CParser> parser)
    : m_ptrConnection(connection), m_ptrParser(parser) {}

CSnapshotQueries::~CSnapshotQueries() = default;

CZuError CSnapshotQueries::ListSnapshots(std::list<CSnapshotInfo>& snapshots) try {
    StartQuery(m_ptrConnection);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET, kSnapshotsPath, std::string(),
        [&snapshots](CParser& parser, const std::string& reply) {
            return parser.GetSnapshotsInformation(reply, snapshots);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CSnapshotQueries::CreateSnapshot(const string& name, uint64_t sourceFileId,
                                          CSnapshotInfo& snapshot, std::string expiration) try {
    StartQuery(m_ptrConnection);
    std::string body;
    try {
        body = CreationBody(name, sourceFileId, expiration);
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                       "Cannot form request body JSON due to %s", exception.what());
    }
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_POST, kSnapshotsPath, body,
        [&snapshot](CParser& parser, const std::string& reply) {
            return parser.GetSnapshotInformation(reply, snapshot);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CSnapshotQueries::DeleteSnapshot(uint64_t snapshotId) try {
    StartQuery(m_ptrConnection);
    // No reply is read, so no parser is needed.
    if (!m_ptrConnection) return MissingCollaboratorError(FX_CODE_LOCATION);
    std::string reply;
    const std::string path = FXString::Format("%s%lu", kSnapshotsPath, snapshotId);
    CZuError error = m_ptrConnection->SendRequest(REQUEST_DELETE, path, std::string(), reply, true);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CSnapshotQueries::GetSnapshotDiff(uint64_t baseSnapshotId, uint64_t targetSnapshotId,
                                           std::list<CSnapshotDiffInfo>& changes,
                                           std::string& nextLink, std::string pageLink) try {
    StartQuery(m_ptrConnection);
    if (!pageLink.empty()) {
        CZuError error = CheckPageLink(pageLink, FX_CODE_LOCATION);
        if (error.IsError()) return error;
    }
    const std::string path = !pageLink.empty()
                                 ? pageLink
                                 : FXString::Format("/v2/snapshots/%lu/changes-since/%lu",
                                                    targetSnapshotId, baseSnapshotId);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET, path, std::string(),
        [&changes, &nextLink](CParser& parser, const std::string& reply) {
            return parser.GetSnapshotDiffInformation(reply, changes, nextLink);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

}  // namespace Cluster
