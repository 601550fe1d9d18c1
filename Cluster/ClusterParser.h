// The records the library hands to its callers, and CParser, which fills them from the
// cluster's JSON replies.
//
// Every parser assigns the caller's record field by field without resetting it: on failure
// the fields assigned before the failing key keep their new values. A listing parser appends
// to the caller's list (never empties it) and stops at the first bad element; the elements
// appended before it stay. CParser holds no state: its operations are reentrant and may run
// on several threads at once.
#pragma once

#include <cstdint>
#include <ctime>
#include <list>
#include <string>

#include "Cluster/ClusterExport.h"
#include "platform/ZuUtils.h"

// Reads a cluster time text (RFC 3339: "2021-03-04T05:06:07.123456789Z") as UTC. A numeric
// offset (+hh:mm, -hh:mm) is applied, a fraction of a second is ignored, leading white space
// is skipped. On failure (error 774) `timestamp` keeps its value.
CLUSTER_API CZuError ConvertStringToTimeStamp(const string& text, time_t& timestamp);

namespace Cluster {

class CLUSTER_API CSnapshotInfo {
  public:
    CSnapshotInfo();
    CSnapshotInfo(const CSnapshotInfo& other);
    CSnapshotInfo& operator=(const CSnapshotInfo& other);
    virtual ~CSnapshotInfo();

    bool inDelete;
    std::string name;
    time_t timestamp;
    uint64_t sourceFileId;
    bool createdByPolicy;
    std::string expiration;  // as the cluster sends it, not converted
    std::string directoryName;
    uint64_t id;
};

enum SnapshotDiffOperation {
    SNAPSHOT_DIFF_CREATE = 0,
    SNAPSHOT_DIFF_DELETE = 1,
    SNAPSHOT_DIFF_MODIFY = 2
};

struct CLUSTER_API CSnapshotDiffInfo {
    std::string path;
    SnapshotDiffOperation operation = SNAPSHOT_DIFF_CREATE;
    bool isDirectory = false;  // the path ends with "/"
};

struct CLUSTER_API CSMBShareEntry {
    bool readOnly = false;
    std::string description;
    std::string shareName;
    std::string defaultDirectoryCreateMode;  // the mode stays text, e.g. "0755"
    std::string fsPath;
    bool allowGuestAccess = false;
    bool accessBasedEnumerationEnabled = false;
    uint64_t id = 0;
    std::string defaultFileCreateMode;  // the mode stays text, e.g. "0644"
};

struct CLUSTER_API CNFSExportEntry {
    std::string description;
    uint64_t id = 0;
    std::string fsPath;
    std::string exportPath;
};

struct CLUSTER_API CDirectoryEntry {
    std::string path;
    bool isDirectory = false;  // "type" is exactly "FS_FILE_TYPE_DIRECTORY"
    uint64_t id = 0;
    uint64_t mode = 0;  // "0755" is 493 in a listing (automatic base), 755 in an attribute reply
    uint64_t owner = 0;
    uint64_t group = 0;
    uint64_t size = 0;
    time_t changeTime = 0;
    time_t modificationTime = 0;
    time_t creationTime = 0;
};

typedef CDirectoryEntry CFileAttributeInfo;

class CLUSTER_API CParser {
  public:
    // Percent-encodes every byte outside RFC 3986's unreserved set ("/" included), so the path
    // stands as one REST path segment. A path without any "/" fails with error 87.
    CZuError ConvertPathToURLEncoding(const string& path, std::string& encoded);

    // One snapshot object; a listing is {"entries":[…]}.
    CZuError GetSnapshotInformation(const string& text, CSnapshotInfo& snapshot);
    CZuError GetSnapshotsInformation(const string& text, std::list<CSnapshotInfo>& snapshots);

    // One page of changes: {"entries":[{"op","path"}…],"paging":{"next"}}. `nextLink` receives
    // "next" and keeps its content when the call fails.
    CZuError GetSnapshotDiffInformation(const string& text, std::list<CSnapshotDiffInfo>& changes,
                                        std::string& nextLink);

    // One share object; a listing is a JSON array of them.
    CZuError GetSMBShareInformation(const string& text, CSMBShareEntry& share);
    CZuError GetSMBSharesInformation(const string& text, std::list<CSMBShareEntry>& shares);

    // One export object; a listing is a JSON array of them.
    CZuError GetNFSExportInformation(const string& text, CNFSExportEntry& nfsExport);
    CZuError GetNFSExportsInformation(const string& text, std::list<CNFSExportEntry>& nfsExports);

    // One page of a directory: {"files":[…],"paging":{"next"}}. `nextLink` receives "next" and
    // keeps its content when the call fails.
    CZuError GetDirectoryEntries(const string& text, std::list<CDirectoryEntry>& entries,
                                 std::string& nextLink);
    // The attributes of one file: one object ("mode" read in base 10).
    CZuError GetFileAttributesInfo(const string& text, CFileAttributeInfo& info);
};

}  // namespace Cluster
