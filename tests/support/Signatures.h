// The function texts that error trails carry (CZuError::Location::function), one per operation.
// Tests match them letter for letter, so a renamed parameter type shows up as a changed trail.
#pragma once

namespace signatures {

// Free functions and the parser.
constexpr const char* kConvertStringToTimeStamp =
    "CZuError ConvertStringToTimeStamp(const string&, time_t&)";
constexpr const char* kConvertPathToURLEncoding =
    "CZuError Cluster::CParser::ConvertPathToURLEncoding(const string&, std::string&)";
constexpr const char* kGetSnapshotInformation =
    "CZuError Cluster::CParser::GetSnapshotInformation(const string&, Cluster::CSnapshotInfo&)";
constexpr const char* kGetSnapshotsInformation =
    "CZuError Cluster::CParser::GetSnapshotsInformation(const string&, "
    "std::__cxx11::list<Cluster::CSnapshotInfo>&)";
constexpr const char* kGetSnapshotDiffInformation =
    "CZuError Cluster::CParser::GetSnapshotDiffInformation(const string&, "
    "std::__cxx11::list<Cluster::CSnapshotDiffInfo>&, std::string&)";
constexpr const char* kGetSMBShareInformation =
    "CZuError Cluster::CParser::GetSMBShareInformation(const string&, Cluster::CSMBShareEntry&)";
constexpr const char* kGetSMBSharesInformation =
    "CZuError Cluster::CParser::GetSMBSharesInformation(const string&, "
    "std::__cxx11::list<Cluster::CSMBShareEntry>&)";
constexpr const char* kGetNFSExportInformation =
    "CZuError Cluster::CParser::GetNFSExportInformation(const string&, Cluster::CNFSExportEntry&)";
constexpr const char* kGetNFSExportsInformation =
    "CZuError Cluster::CParser::GetNFSExportsInformation(const string&, "
    "std::__cxx11::list<Cluster::CNFSExportEntry>&)";
constexpr const char* kGetDirectoryEntriesParser =
    "CZuError Cluster::CParser::GetDirectoryEntries(const string&, "
    "std::__cxx11::list<Cluster::CDirectoryEntry>&, std::string&)";
constexpr const char* kGetFileAttributesInfo =
    "CZuError Cluster::CParser::GetFileAttributesInfo(const string&, "
    "Cluster::CFileAttributeInfo&)";

// The connection.
constexpr const char* kConnect =
    "CZuError Cluster::CConnection::Connect(const string&, const string&, const string&)";
constexpr const char* kSendRequest =
    "CZuError Cluster::CConnection::SendRequest(Cluster::RequestType, const string&, const "
    "string&, std::string&, const std::vector<std::pair<std::__cxx11::basic_string<char>, "
    "std::__cxx11::basic_string<char> > >&, bool)";
constexpr const char* kGetAuthorizationToken =
    "CZuError Cluster::CConnection::GetAuthorizationToken(std::string&)";

// The query objects.
constexpr const char* kListSnapshots =
    "CZuError "
    "Cluster::CSnapshotQueries::ListSnapshots(std::__cxx11::list<Cluster::CSnapshotInfo>&)";
constexpr const char* kCreateSnapshot =
    "CZuError Cluster::CSnapshotQueries::CreateSnapshot(const string&, uint64_t, "
    "Cluster::CSnapshotInfo&, std::string)";
constexpr const char* kDeleteSnapshot =
    "CZuError Cluster::CSnapshotQueries::DeleteSnapshot(uint64_t)";
constexpr const char* kGetSnapshotDiff =
    "CZuError Cluster::CSnapshotQueries::GetSnapshotDiff(uint64_t, uint64_t, "
    "std::__cxx11::list<Cluster::CSnapshotDiffInfo>&, std::string&, std::string)";
constexpr const char* kGetSMBShares =
    "CZuError Cluster::CShares::GetSMBShares(std::__cxx11::list<Cluster::CSMBShareEntry>&)";
constexpr const char* kGetSMBShare =
    "CZuError Cluster::CShares::GetSMBShare(uint64_t, Cluster::CSMBShareEntry&)";
constexpr const char* kGetNFSExports =
    "CZuError Cluster::CShares::GetNFSExports(std::__cxx11::list<Cluster::CNFSExportEntry>&)";
constexpr const char* kGetNFSExport =
    "CZuError Cluster::CShares::GetNFSExport(uint64_t, Cluster::CNFSExportEntry&)";
constexpr const char* kGetDirectoryEntries =
    "CZuError Cluster::CFileSystemQueries::GetDirectoryEntries(const string&, "
    "std::__cxx11::list<Cluster::CDirectoryEntry>&, std::string&, int, std::string)";
constexpr const char* kGetFileAttributes =
    "CZuError Cluster::CFileSystemQueries::GetFileAttributes(const string&, "
    "Cluster::CFileAttributeInfo&, int)";

}  // namespace signatures
