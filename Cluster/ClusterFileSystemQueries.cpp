#include "Cluster/ClusterFileSystemQueries.h"

#include "Cluster/ClusterBoundary.h"
#include "Cluster/ClusterQuery.h"

namespace Cluster {

CFileSystemQueries::CFileSystemQueries(boost::shared_ptr<CConnection> connection,
                                       boost::shared_ptr<CParser> parser)
    : m_ptrConnection(connection), m_ptrParser(parser) {}

CFileSystemQueries::~CFileSystemQueries() = default;

CZuError CFileSystemQueries::GetDirectoryEntries(const string& path,
                                                 std::list<CDirectoryEntry>& entries,
                                                 std::string& nextLink, int snapshotId,
                                                 std::string pageLink) try {
    StartQuery(m_ptrConnection);
    entries.clear();
    if (!m_ptrParser) return MissingCollaboratorError(FX_CODE_LOCATION);
    std::string requestPath = pageLink;
    if (!pageLink.empty()) {
        CZuError error = CheckPageLink(pageLink, FX_CODE_LOCATION);
        if (error.IsError()) return error;
    } else {
        std::string encoded;
        CZuError error = m_ptrParser->ConvertPathToURLEncoding(path, encoded);
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        requestPath = FXString::Format("/v1/files/%s/entries/", encoded.c_str());
        if (snapshotId != 0) {
            requestPath = FXString::Format("%s?snapshot=%d", requestPath.c_str(), snapshotId);
        }
    }
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET, requestPath, std::string(),
        [&entries, &nextLink](CParser& parser, const std::string& reply) {
            return parser.GetDirectoryEntries(reply, entries, nextLink);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CFileSystemQueries::GetFileAttributes(const string& path, CFileAttributeInfo& info,
                                               int) try {
    StartQuery(m_ptrConnection);
    if (!m_ptrParser) return MissingCollaboratorError(FX_CODE_LOCATION);
    std::string encoded;
    CZuError error = m_ptrParser->ConvertPathToURLEncoding(path, encoded);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET,
        FXString::Format("/v1/files/%s/info/attributes", encoded.c_str()), std::string(),
        [&info](CParser& parser, const std::string& reply) {
            return parser.GetFileAttributesInfo(reply, info);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

}  // namespace Cluster
