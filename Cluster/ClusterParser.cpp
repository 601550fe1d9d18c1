#include "Cluster/ClusterParser.h"

#include <cstdlib>

#include "Cluster/ClusterBoundary.h"
#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterFields.h"
#include "Cluster/ClusterListings.h"
#include "Cluster/ClusterTime.h"
#include "platform/TnJson.h"

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string PercentEncode(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size() * 3);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

}  // namespace

CZuError ConvertStringToTimeStamp(const string& text, time_t& timestamp) try {
    // The cluster writes UTC: never read through the process's time zone (ClusterTime.h).
    if (!Cluster::ReadUtcTime(text.c_str(), timestamp)) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, Cluster::kErrorGeneric,
                                       "Cannot retrieve time from the string : %s",
                                       Cluster::Quote(text).c_str());
    }
    return CZuError::Success();
} catch (...) {
    return Cluster::ErrorFromException(FX_CODE_LOCATION);
}

namespace Cluster {
namespace {

const Field<CSnapshotInfo> kSnapshotFields[] = {
    FlagField("in_delete", &CSnapshotInfo::inDelete),
    TextField("name", &CSnapshotInfo::name),
    TextNumberField("source_file_id", &CSnapshotInfo::sourceFileId, 0),
    FlagField("created_by_policy", &CSnapshotInfo::createdByPolicy),
    TextField("expiration", &CSnapshotInfo::expiration),
    TextField("directory_name", &CSnapshotInfo::directoryName),
    NumberField("id", &CSnapshotInfo::id),
    TimeField("timestamp", &CSnapshotInfo::timestamp),
};

const Field<CSnapshotDiffInfo> kSnapshotDiffFields[] = {
    TextField("path", &CSnapshotDiffInfo::path),
    OperationField("op", &CSnapshotDiffInfo::operation),
};

const Field<CSMBShareEntry> kSmbShareFields[] = {
    FlagField("read_only", &CSMBShareEntry::readOnly),
    TextField("description", &CSMBShareEntry::description),
    TextField("share_name", &CSMBShareEntry::shareName),
    TextField("default_directory_create_mode", &CSMBShareEntry::defaultDirectoryCreateMode),
    TextField("fs_path", &CSMBShareEntry::fsPath),
    FlagField("allow_guest_access", &CSMBShareEntry::allowGuestAccess),
    FlagField("access_based_enumeration_enabled", &CSMBShareEntry::accessBasedEnumerationEnabled),
    TextNumberField("id", &CSMBShareEntry::id, 0),
    TextField("default_file_create_mode", &CSMBShareEntry::defaultFileCreateMode),
};

const Field<CNFSExportEntry> kNfsExportFields[] = {
    TextField("description", &CNFSExportEntry::description),
    TextNumberField("id", &CNFSExportEntry::id, 0),
    TextField("fs_path", &CNFSExportEntry::fsPath),
    TextField("export_path", &CNFSExportEntry::exportPath),
};

const ListingRules<CSnapshotInfo> kSnapshotListing = {
    ListingShape{"entries", false},
    "No entries section present in the JSON %s",
    "Unable to parse snapshot entry %s due to %s",
    kSnapshotFields,
    &CParser::GetSnapshotInformation,
};

const ListingRules<CSMBShareEntry> kSmbShareListing = {
    ListingShape{nullptr, false},
    nullptr,
    "Unable to SMB share entry %s due to %s",
    kSmbShareFields,
    &CParser::GetSMBShareInformation,
};

const ListingRules<CNFSExportEntry> kNfsExportListing = {
    ListingShape{nullptr, false},
    nullptr,
    "Unable to parse NFS export entry %s due to %s",
    kNfsExportFields,
    &CParser::GetNFSExportInformation,
};

// A listing reads "mode" in the automatic base, an attribute reply in base 10.
template <int ModeBase>
struct DirectoryEntryFields {
    static constexpr Field<CDirectoryEntry> kFields[] = {
        TextField("path", &CDirectoryEntry::path),
        DirectoryTypeField("type", &CDirectoryEntry::isDirectory),
        TextNumberField("id", &CDirectoryEntry::id, 0),
        TextNumberField("mode", &CDirectoryEntry::mode, ModeBase),
        TextNumberField("owner", &CDirectoryEntry::owner, 0),
        TextNumberField("group", &CDirectoryEntry::group, 0),
        TextNumberField("size", &CDirectoryEntry::size, 0),
        TimeField("change_time", &CDirectoryEntry::changeTime),
        TimeField("modification_time", &CDirectoryEntry::modificationTime),
        TimeField("creation_time", &CDirectoryEntry::creationTime),
    };
};

void MarkDirectoryPath(CSnapshotDiffInfo& change) {
    change.isDirectory = !change.path.empty() && change.path.back() == '/';
}

const PageRules<CSnapshotDiffInfo> kSnapshotDiffPage = {
    "entries",
    "No entries section present in the JSON %s",
    "Unable to parse Snapshot Diff Entry : %s due to %s",
    "Unrecognized Snapshot Difference Operation Type %s",
    kSnapshotDiffFields,
    MarkDirectoryPath,
};

const PageRules<CDirectoryEntry> kDirectoryPage = {
    "files", "No files section present in the JSON %s", "Unable to parse File Entry : %s due to %s",
    nullptr, DirectoryEntryFields<0>::kFields,          nullptr,
};

}  // namespace

CSnapshotInfo::CSnapshotInfo()
    : inDelete(false), timestamp(0), sourceFileId(0), createdByPolicy(false), id(0) {}

CSnapshotInfo::CSnapshotInfo(const CSnapshotInfo& other) = default;
CSnapshotInfo& CSnapshotInfo::operator=(const CSnapshotInfo& other) = default;
CSnapshotInfo::~CSnapshotInfo() = default;

CZuError CParser::ConvertPathToURLEncoding(const string& path, std::string& encoded) try {
    if (path.find('/') == std::string::npos) {
        encoded = path;
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorInvalidPath, "Invalid Path %s",
                                       Quote(path).c_str());
    }
    encoded = PercentEncode(path);
    return CZuError::Success();
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetSnapshotInformation(const string& text, CSnapshotInfo& snapshot) try {
    return ReadRecord(text, kSnapshotListing.fields, snapshot, kSnapshotListing.badEntryFormat,
                      FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetSnapshotsInformation(const string& text,
                                          std::list<CSnapshotInfo>& snapshots) try {
    return ReadListing(*this, text, kSnapshotListing, snapshots, FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetSnapshotDiffInformation(const string& text,
                                             std::list<CSnapshotDiffInfo>& changes,
                                             std::string& nextLink) try {
    return ReadPage(text, kSnapshotDiffPage, changes, nextLink, FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetSMBShareInformation(const string& text, CSMBShareEntry& share) try {
    return ReadRecord(text, kSmbShareListing.fields, share, kSmbShareListing.badEntryFormat,
                      FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetSMBSharesInformation(const string& text,
                                          std::list<CSMBShareEntry>& shares) try {
    return ReadListing(*this, text, kSmbShareListing, shares, FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetNFSExportInformation(const string& text, CNFSExportEntry& nfsExport) try {
    return ReadRecord(text, kNfsExportListing.fields, nfsExport, kNfsExportListing.badEntryFormat,
                      FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetNFSExportsInformation(const string& text,
                                           std::list<CNFSExportEntry>& nfsExports) try {
    return ReadListing(*this, text, kNfsExportListing, nfsExports, FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetDirectoryEntries(const string& text, std::list<CDirectoryEntry>& entries,
                                      std::string& nextLink) try {
    return ReadPage(text, kDirectoryPage, entries, nextLink, FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CParser::GetFileAttributesInfo(const string& text, CFileAttributeInfo& info) try {
    return ReadRecord(text, FieldTable<CFileAttributeInfo>(DirectoryEntryFields<10>::kFields), info,
                      "Unable to parse File Attribute Info : %s due to %s", FX_CODE_LOCATION);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

}  // namespace Cluster
