#include "Records.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace clusterctl {
namespace {

std::string Printf(const char* format, uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string ModeText(uint64_t mode, ModeReading reading) {
    return Printf(reading == ModeReading::Value ? "%04" PRIo64 : "%04" PRIu64, mode);
}

const char* OperationName(Cluster::SnapshotDiffOperation operation) {
    switch (operation) {
        case Cluster::SNAPSHOT_DIFF_CREATE:
            return "create";
        case Cluster::SNAPSHOT_DIFF_DELETE:
            return "delete";
        case Cluster::SNAPSHOT_DIFF_MODIFY:
            return "modify";
    }
    return "unknown";
}

}  // namespace

std::string IsoTime(time_t time) {
    struct tm utc {};
    char text[32] = "";
    if (gmtime_r(&time, &utc) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string HumanSize(uint64_t bytes) {
    static const char kUnits[] = "KMGTPE";
    if (bytes < 1024) return std::to_string(bytes);
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    for (value /= 1024; value >= 1023.95 && unit + 1 < sizeof kUnits - 1; value /= 1024) ++unit;
    char text[32];
    std::snprintf(text, sizeof text, value < 9.95 ? "%.1f%c" : "%.0f%c", value, kUnits[unit]);
    return text;
}

Fields SnapshotFields(const Cluster::CSnapshotInfo& snapshot) {
    return {NumberField("id", snapshot.id),
            TextField("name", snapshot.name),
            TextField("timestamp", IsoTime(snapshot.timestamp)),
            TextField("expiration", snapshot.expiration),
            NumberField("source_file_id", snapshot.sourceFileId),
            Detail(TextField("directory_name", snapshot.directoryName)),
            Detail(BooleanField("created_by_policy", snapshot.createdByPolicy)),
            BooleanField("in_delete", snapshot.inDelete)};
}

Fields ChangeFields(const Cluster::CSnapshotDiffInfo& change) {
    return {TextField("op", OperationName(change.operation)), TextField("path", change.path)};
}

std::string FileTypeName(const std::string& clusterType) {
    static const std::string kPrefix = "FS_FILE_TYPE_";
    if (clusterType.size() <= kPrefix.size() ||
        clusterType.compare(0, kPrefix.size(), kPrefix) != 0)
        return clusterType;
    std::string name = clusterType.substr(kPrefix.size());
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// Listings are streamed, so the columns whose values vary in width get room for the usual
// ones up front: a size below a terabyte, "1023M", a 10-digit id, "directory".
Fields EntryFields(const Cluster::CDirectoryEntry& entry, const EntryStyle& style,
                   const std::string& type) {
    const std::string size = style.humanSizes ? HumanSize(entry.size) : std::to_string(entry.size);
    const std::string typeName = !type.empty() ? type : entry.isDirectory ? "directory" : "file";
    return {Typically(9, TextField("type", typeName)),
            TextField("mode", ModeText(entry.mode, style.mode)),
            Typically(5, NumberField("owner", entry.owner)),
            Typically(5, NumberField("group", entry.group)),
            Typically(style.humanSizes ? 5 : 12, NumberField("size", entry.size, size)),
            Detail(Typically(10, NumberField("id", entry.id))),
            Detail(TextField("change_time", IsoTime(entry.changeTime))),
            Detail(TextField("creation_time", IsoTime(entry.creationTime))),
            TextField("modification_time", IsoTime(entry.modificationTime)),
            TextField("path", entry.path)};
}

bool PathsOnly(const OutputOptions& output, bool longFormat) {
    return output.format == Format::Table && !longFormat && output.fields.empty();
}

Fields EntryRow(const Cluster::CDirectoryEntry& entry, const OutputOptions& output,
                bool longFormat) {
    if (PathsOnly(output, longFormat)) return {TextField("path", entry.path)};
    return EntryFields(entry, {ModeReading::Value, output.humanSizes});
}

Fields SmbShareFields(const Cluster::CSMBShareEntry& share) {
    return {NumberField("id", share.id),
            TextField("share_name", share.shareName),
            TextField("fs_path", share.fsPath),
            TextField("description", share.description),
            Detail(BooleanField("read_only", share.readOnly)),
            Detail(BooleanField("allow_guest_access", share.allowGuestAccess)),
            Detail(BooleanField("access_based_enumeration_enabled",
                                share.accessBasedEnumerationEnabled)),
            Detail(TextField("default_file_create_mode", share.defaultFileCreateMode)),
            Detail(TextField("default_directory_create_mode", share.defaultDirectoryCreateMode))};
}

Fields NfsExportFields(const Cluster::CNFSExportEntry& nfsExport) {
    return {NumberField("id", nfsExport.id), TextField("export_path", nfsExport.exportPath),
            TextField("fs_path", nfsExport.fsPath),
            TextField("description", nfsExport.description)};
}

}  // namespace clusterctl
