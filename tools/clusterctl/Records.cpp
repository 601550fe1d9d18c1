#include "Records.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "ClusterWalk/ChangeFeed.h"

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

// Days since 1970-01-01 as a proleptic Gregorian date (Howard Hinnant's civil_from_days):
// gmtime_r and strftime cost more than the rest of a listing row together.
void CivilDate(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string IsoTime(time_t time) {
    constexpr int64_t kSecondsPerDay = 86400;
    const int64_t seconds = time;
    int64_t days = seconds / kSecondsPerDay;
    int64_t inDay = seconds % kSecondsPerDay;
    if (inDay < 0) {
        inDay += kSecondsPerDay;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilDate(days, year, month, day);
    // Four-digit years as RFC 3339 has them; any other shows as gmtime would print it.
    if (year < 0 || year > 9999) {
        struct tm utc {};
        char text[48] = "";
        if (gmtime_r(&time, &utc) != nullptr)
            std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
        return text;
    }
    char text[21];
    const auto put = [&text](size_t at, unsigned value, size_t digits) {
        for (size_t i = digits; i-- > 0; value /= 10)
            text[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, static_cast<unsigned>(year), 4);
    text[4] = '-';
    put(5, month, 2);
    text[7] = '-';
    put(8, day, 2);
    text[10] = 'T';
    put(11, static_cast<unsigned>(inDay / 3600), 2);
    text[13] = ':';
    put(14, static_cast<unsigned>(inDay / 60 % 60), 2);
    text[16] = ':';
    put(17, static_cast<unsigned>(inDay % 60), 2);
    text[19] = 'Z';
    return std::string(text, 20);
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
    return {TextField("op", clusterwalk::OperationName(change.operation)),
            TextField("path", change.path)};
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
    // Moved in one by one: a braced list would copy every field, names and texts.
    Fields fields;
    fields.reserve(10);
    fields.push_back(Typically(9, TextField("type", typeName)));
    fields.push_back(TextField("mode", ModeText(entry.mode, style.mode)));
    fields.push_back(Typically(5, NumberField("owner", entry.owner)));
    fields.push_back(Typically(5, NumberField("group", entry.group)));
    fields.push_back(Typically(style.humanSizes ? 5 : 12, NumberField("size", entry.size, size)));
    fields.push_back(Detail(Typically(10, NumberField("id", entry.id))));
    // A row without times (a deleted file's) must not narrow their columns.
    fields.push_back(Detail(Typically(20, TextField("change_time", IsoTime(entry.changeTime)))));
    fields.push_back(
        Detail(Typically(20, TextField("creation_time", IsoTime(entry.creationTime)))));
    fields.push_back(
        Typically(20, TextField("modification_time", IsoTime(entry.modificationTime))));
    fields.push_back(TextField("path", entry.path));
    return fields;
}

bool PathsOnly(const OutputOptions& output, bool longFormat) {
    // NUL-ended paths show nothing else either, so the other fields are not worth making.
    if (output.format == Format::Paths) return true;
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
