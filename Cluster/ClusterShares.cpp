#include "Cluster/ClusterShares.h"

#include "Cluster/ClusterBoundary.h"
#include "Cluster/ClusterQuery.h"

namespace Cluster {

CShares::CShares(boost::shared_ptr<CConnection> connection, boost::shared_ptr<CParser> parser)
    : m_ptrConnection(connection), m_ptrParser(parser) {}

// Members go in reverse order: the parser first, then the connection.
CShares::~CShares() = default;

CZuError CShares::GetNFSExports(std::list<CNFSExportEntry>& nfsExports) try {
    StartQuery(m_ptrConnection);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET, "/v2/nfs/exports/", std::string(),
        [&nfsExports](CParser& parser, const std::string& reply) {
            return parser.GetNFSExportsInformation(reply, nfsExports);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CShares::GetSMBShares(std::list<CSMBShareEntry>& shares) try {
    StartQuery(m_ptrConnection);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET, "/v1/smb/shares/", std::string(),
        [&shares](CParser& parser, const std::string& reply) {
            return parser.GetSMBSharesInformation(reply, shares);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CShares::GetNFSExport(uint64_t exportId, CNFSExportEntry& nfsExport) try {
    StartQuery(m_ptrConnection);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET,
        FXString::Format("/v2/nfs/exports/%lu", exportId), std::string(),
        [&nfsExport](CParser& parser, const std::string& reply) {
            return parser.GetNFSExportInformation(reply, nfsExport);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CShares::GetSMBShare(uint64_t shareId, CSMBShareEntry& share) try {
    StartQuery(m_ptrConnection);
    return RunQuery(
        m_ptrConnection, m_ptrParser, REQUEST_GET, FXString::Format("/v1/smb/shares/%lu", shareId),
        std::string(),
        [&share](CParser& parser, const std::string& reply) {
            return parser.GetSMBShareInformation(reply, share);
        },
        FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

}  // namespace Cluster
