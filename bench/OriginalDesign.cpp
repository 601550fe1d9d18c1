#include <ctime>
#include <iomanip>
#include <sstream>

#include "References.h"
#include "platform/TnJson.h"

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace bench {

bool OriginalTime(const std::string& text, time_t& value) {
    std::tm broken = {};
    std::istringstream stream(text.c_str());
    stream >> std::get_time(&broken, "%Y-%m-%dT%H:%M:%S");
    if (stream.fail()) return false;
    value = std::mktime(&broken);
    return true;
}

namespace {

uint64_t Number(const mObject& object, const char* key, int base) {
    return std::strtoull(TnJson::GetStringValue(object, key).c_str(), nullptr, base);
}

bool Time(const mObject& object, const char* key, time_t& value) {
    return OriginalTime(TnJson::GetStringValue(object, key), value);
}

bool NextLink(const mObject& reply, std::string& next) {
    mObject paging;
    if (!TnJson::FindObjectValue(reply, "paging", paging)) return false;
    next = TnJson::GetStringValue(paging, "next");
    return true;
}

bool Snapshot(const std::string& text, Cluster::CSnapshotInfo& snapshot) {
    mObject object;
    if (!TnJson::Unserialize(text, object)) return false;
    snapshot.inDelete = TnJson::GetBoolValue(object, "in_delete");
    snapshot.name = TnJson::GetStringValue(object, "name");
    snapshot.sourceFileId = Number(object, "source_file_id", 0);
    snapshot.createdByPolicy = TnJson::GetBoolValue(object, "created_by_policy");
    snapshot.expiration = TnJson::GetStringValue(object, "expiration");
    snapshot.directoryName = TnJson::GetStringValue(object, "directory_name");
    snapshot.id = TnJson::GetUInt64Value(object, "id");
    return Time(object, "timestamp", snapshot.timestamp);
}

}  // namespace

bool OriginalDirectoryPage(const std::string& text, std::list<Cluster::CDirectoryEntry>& entries,
                           std::string& next) {
    mObject reply;
    mArray files;
    if (!TnJson::Unserialize(text, reply) || !TnJson::FindArrayValue(reply, "files", files)) {
        return false;
    }
    for (const mValue& element : files) {
        Cluster::CDirectoryEntry entry;
        const mObject object = element.get_obj();
        entry.path = TnJson::GetStringValue(object, "path");
        entry.isDirectory = TnJson::GetStringValue(object, "type") == "FS_FILE_TYPE_DIRECTORY";
        entry.id = Number(object, "id", 0);
        entry.mode = Number(object, "mode", 0);
        entry.owner = Number(object, "owner", 0);
        entry.group = Number(object, "group", 0);
        entry.size = Number(object, "size", 0);
        if (!Time(object, "change_time", entry.changeTime) ||
            !Time(object, "modification_time", entry.modificationTime) ||
            !Time(object, "creation_time", entry.creationTime)) {
            return false;
        }
        entries.push_back(entry);
    }
    return NextLink(reply, next);
}

bool OriginalDiffPage(const std::string& text, std::list<Cluster::CSnapshotDiffInfo>& changes,
                      std::string& next) {
    mObject reply;
    mArray elements;
    if (!TnJson::Unserialize(text, reply) || !TnJson::FindArrayValue(reply, "entries", elements)) {
        return false;
    }
    for (const mValue& element : elements) {
        Cluster::CSnapshotDiffInfo change;
        const mObject object = element.get_obj();
        change.path = TnJson::GetStringValue(object, "path");
        const std::string op = TnJson::GetStringValue(object, "op");
        change.operation = op == "CREATE"   ? Cluster::SNAPSHOT_DIFF_CREATE
                           : op == "DELETE" ? Cluster::SNAPSHOT_DIFF_DELETE
                                            : Cluster::SNAPSHOT_DIFF_MODIFY;
        change.isDirectory = !change.path.empty() && change.path.back() == '/';
        changes.push_back(change);
    }
    return NextLink(reply, next);
}

bool OriginalSnapshotListing(const std::string& text,
                             std::list<Cluster::CSnapshotInfo>& snapshots) {
    mObject reply;
    mArray elements;
    if (!TnJson::Unserialize(text, reply) || !TnJson::FindArrayValue(reply, "entries", elements)) {
        return false;
    }
    for (const mValue& element : elements) {
        Cluster::CSnapshotInfo snapshot;
        if (!Snapshot(TnJson::Serialize(element.get_obj()), snapshot)) return false;
        snapshots.push_back(snapshot);
    }
    return true;
}

}  // namespace bench
