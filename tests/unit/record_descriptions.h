// What the record contract (test_record_contract.cpp) and the record-specific tests know about
// each record the parser reads: its parsers, messages, list shape and fields.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/support/Signatures.h"
#include "tests/unit/json_text.h"

namespace parser_test {

// The JSON kind a key must hold: json_spirit names it in its reason ("is not a string").
enum class JsonKind { Flag, Text, Unsigned };

template <class Record>
struct Field {
    const char* key;
    const char* sample;  // a valid value as compact JSON text
    JsonKind kind;
    std::function<bool(const Record&)> assigned;  // holds the sample's value
    std::function<bool(const Record&)> kept;      // holds Old()'s value
    bool time = false;                            // read through ConvertStringToTimeStamp
};

// Fields read before `failedKey` hold the new values, it and the later ones the old values:
// a parser assigns field by field and stops at the first bad key.
template <class Record>
void ExpectAssignedUpTo(const std::vector<Field<Record>>& readingOrder, const Record& record,
                        const std::string& failedKey) {
    bool reached = false;
    for (const Field<Record>& field : readingOrder) {
        if (field.key == failedKey) reached = true;
        if (reached) {
            EXPECT_TRUE(field.kept(record)) << field.key << " changed before " << failedKey;
        } else {
            EXPECT_TRUE(field.assigned(record))
                << field.key << " not assigned before " << failedKey;
        }
    }
    EXPECT_TRUE(reached) << failedKey;
}

// Replaces each "%s" of a message format in turn.
inline std::string Format(std::string format, const std::vector<std::string>& arguments) {
    size_t at = 0;
    for (const std::string& argument : arguments) {
        at = format.find("%s", at);
        if (at == std::string::npos) break;
        format.replace(at, 2, argument);
        at += argument.size();
    }
    return format;
}

// ---------------------------------------------------------------------------------------------
// The records. Each description names:
//   kParse / kParseFunction      the single-record parser and its trail text (nullptr: none)
//   kBadRecord                   its message for a bad key
//   kParseList / kParseListFunction, kBadEntry: the listing parser, its text, its element message
//   kListCallsParse              an element's failure passes through kParse (and its trail)
//   kListKey, kNoList            the member holding the list and the message when it is missing
//                                (nullptr: the reply is the array itself)
//   kPaged                       the reply carries "paging":{"next"} and the parser a nextLink
//   kLabel, kLabelKey            a text field (and its key) that tells list elements apart
//   Old(), Fields()              a record unlike the samples, and the keys in reading order

struct SnapshotRecord {
    using Record = Cluster::CSnapshotInfo;
    static constexpr auto kParse = &Cluster::CParser::GetSnapshotInformation;
    static constexpr const char* kParseFunction = signatures::kGetSnapshotInformation;
    static constexpr const char* kBadRecord = "Unable to parse snapshot entry %s due to %s";
    static constexpr auto kParseList = &Cluster::CParser::GetSnapshotsInformation;
    static constexpr const char* kParseListFunction = signatures::kGetSnapshotsInformation;
    static constexpr const char* kBadEntry = kBadRecord;
    static constexpr bool kListCallsParse = true;
    static constexpr const char* kListKey = "entries";
    static constexpr const char* kNoList = "No entries section present in the JSON %s";
    static constexpr bool kPaged = false;
    static constexpr std::string Record::*kLabel = &Record::name;
    static constexpr const char* kLabelKey = "name";

    static Record Old() {
        Record r;
        r.inDelete = false;
        r.name = "old";
        r.timestamp = 111;
        r.sourceFileId = 222;
        r.createdByPolicy = false;
        r.expiration = "old expiration";
        r.directoryName = "old dir";
        r.id = 333;
        return r;
    }
    static const std::vector<Field<Record>>& Fields() {
        using R = Record;
        static const std::vector<Field<R>> fields = {
            {"in_delete", "true", JsonKind::Flag, [](const R& r) { return r.inDelete; },
             [](const R& r) { return !r.inDelete; }},
            {"name", R"("nightly")", JsonKind::Text, [](const R& r) { return r.name == "nightly"; },
             [](const R& r) { return r.name == "old"; }},
            {"source_file_id", R"("0x10")", JsonKind::Text,
             [](const R& r) { return r.sourceFileId == 16; },
             [](const R& r) { return r.sourceFileId == 222; }},
            {"created_by_policy", "true", JsonKind::Flag,
             [](const R& r) { return r.createdByPolicy; },
             [](const R& r) { return !r.createdByPolicy; }},
            {"expiration", R"("2021-04-01T00:00:00Z")", JsonKind::Text,
             [](const R& r) { return r.expiration == "2021-04-01T00:00:00Z"; },
             [](const R& r) { return r.expiration == "old expiration"; }},
            {"directory_name", R"("nightly_dir")", JsonKind::Text,
             [](const R& r) { return r.directoryName == "nightly_dir"; },
             [](const R& r) { return r.directoryName == "old dir"; }},
            {"id", "42", JsonKind::Unsigned, [](const R& r) { return r.id == 42; },
             [](const R& r) { return r.id == 333; }},
            {"timestamp", R"("2021-03-04T05:06:07Z")", JsonKind::Text,
             [](const R& r) { return r.timestamp == 1614834367; },
             [](const R& r) { return r.timestamp == 111; }, true},
        };
        return fields;
    }
};

struct SnapshotDiffRecord {
    using Record = Cluster::CSnapshotDiffInfo;
    static constexpr std::nullptr_t kParse = nullptr;
    static constexpr const char* kParseFunction = nullptr;
    static constexpr const char* kBadRecord = nullptr;
    static constexpr auto kParseList = &Cluster::CParser::GetSnapshotDiffInformation;
    static constexpr const char* kParseListFunction = signatures::kGetSnapshotDiffInformation;
    static constexpr const char* kBadEntry = "Unable to parse Snapshot Diff Entry : %s due to %s";
    static constexpr bool kListCallsParse = false;
    static constexpr const char* kListKey = "entries";
    static constexpr const char* kNoList = "No entries section present in the JSON %s";
    static constexpr bool kPaged = true;
    static constexpr std::string Record::*kLabel = &Record::path;
    static constexpr const char* kLabelKey = "path";

    static Record Old() {
        Record r;
        r.path = "/old";
        r.operation = Cluster::SNAPSHOT_DIFF_MODIFY;
        r.isDirectory = true;
        return r;
    }
    static const std::vector<Field<Record>>& Fields() {
        using R = Record;
        static const std::vector<Field<R>> fields = {
            {"path", R"("/data/a")", JsonKind::Text,
             [](const R& r) { return r.path == "/data/a" && !r.isDirectory; },
             [](const R& r) { return r.path == "/old"; }},
            {"op", R"("DELETE")", JsonKind::Text,
             [](const R& r) { return r.operation == Cluster::SNAPSHOT_DIFF_DELETE; },
             [](const R& r) { return r.operation == Cluster::SNAPSHOT_DIFF_MODIFY; }},
        };
        return fields;
    }
};

struct SmbShareRecord {
    using Record = Cluster::CSMBShareEntry;
    static constexpr auto kParse = &Cluster::CParser::GetSMBShareInformation;
    static constexpr const char* kParseFunction = signatures::kGetSMBShareInformation;
    static constexpr const char* kBadRecord = "Unable to SMB share entry %s due to %s";
    static constexpr auto kParseList = &Cluster::CParser::GetSMBSharesInformation;
    static constexpr const char* kParseListFunction = signatures::kGetSMBSharesInformation;
    static constexpr const char* kBadEntry = kBadRecord;
    static constexpr bool kListCallsParse = true;
    static constexpr const char* kListKey = nullptr;
    static constexpr const char* kNoList = nullptr;
    static constexpr bool kPaged = false;
    static constexpr std::string Record::*kLabel = &Record::shareName;
    static constexpr const char* kLabelKey = "share_name";

    static Record Old() {
        Record r;
        r.readOnly = false;
        r.description = "old description";
        r.shareName = "old name";
        r.defaultDirectoryCreateMode = "0700";
        r.fsPath = "/old";
        r.allowGuestAccess = false;
        r.accessBasedEnumerationEnabled = false;
        r.id = 999;
        r.defaultFileCreateMode = "0600";
        return r;
    }
    static const std::vector<Field<Record>>& Fields() {
        using R = Record;
        static const std::vector<Field<R>> fields = {
            {"read_only", "true", JsonKind::Flag, [](const R& r) { return r.readOnly; },
             [](const R& r) { return !r.readOnly; }},
            {"description", R"("Team projects")", JsonKind::Text,
             [](const R& r) { return r.description == "Team projects"; },
             [](const R& r) { return r.description == "old description"; }},
            {"share_name", R"("projects")", JsonKind::Text,
             [](const R& r) { return r.shareName == "projects"; },
             [](const R& r) { return r.shareName == "old name"; }},
            {"default_directory_create_mode", R"("0755")", JsonKind::Text,
             [](const R& r) { return r.defaultDirectoryCreateMode == "0755"; },
             [](const R& r) { return r.defaultDirectoryCreateMode == "0700"; }},
            {"fs_path", R"("/data/projects")", JsonKind::Text,
             [](const R& r) { return r.fsPath == "/data/projects"; },
             [](const R& r) { return r.fsPath == "/old"; }},
            {"allow_guest_access", "true", JsonKind::Flag,
             [](const R& r) { return r.allowGuestAccess; },
             [](const R& r) { return !r.allowGuestAccess; }},
            {"access_based_enumeration_enabled", "true", JsonKind::Flag,
             [](const R& r) { return r.accessBasedEnumerationEnabled; },
             [](const R& r) { return !r.accessBasedEnumerationEnabled; }},
            {"id", R"("0x1f")", JsonKind::Text, [](const R& r) { return r.id == 31; },
             [](const R& r) { return r.id == 999; }},
            {"default_file_create_mode", R"("0644")", JsonKind::Text,
             [](const R& r) { return r.defaultFileCreateMode == "0644"; },
             [](const R& r) { return r.defaultFileCreateMode == "0600"; }},
        };
        return fields;
    }
};

struct NfsExportRecord {
    using Record = Cluster::CNFSExportEntry;
    static constexpr auto kParse = &Cluster::CParser::GetNFSExportInformation;
    static constexpr const char* kParseFunction = signatures::kGetNFSExportInformation;
    static constexpr const char* kBadRecord = "Unable to parse NFS export entry %s due to %s";
    static constexpr auto kParseList = &Cluster::CParser::GetNFSExportsInformation;
    static constexpr const char* kParseListFunction = signatures::kGetNFSExportsInformation;
    static constexpr const char* kBadEntry = kBadRecord;
    static constexpr bool kListCallsParse = true;
    static constexpr const char* kListKey = nullptr;
    static constexpr const char* kNoList = nullptr;
    static constexpr bool kPaged = false;
    static constexpr std::string Record::*kLabel = &Record::exportPath;
    static constexpr const char* kLabelKey = "export_path";

    static Record Old() {
        Record r;
        r.description = "old description";
        r.id = 999;
        r.fsPath = "/old";
        r.exportPath = "/exports/old";
        return r;
    }
    static const std::vector<Field<Record>>& Fields() {
        using R = Record;
        static const std::vector<Field<R>> fields = {
            {"description", R"("Data for the lab")", JsonKind::Text,
             [](const R& r) { return r.description == "Data for the lab"; },
             [](const R& r) { return r.description == "old description"; }},
            {"id", R"("0x10")", JsonKind::Text, [](const R& r) { return r.id == 16; },
             [](const R& r) { return r.id == 999; }},
            {"fs_path", R"("/data")", JsonKind::Text,
             [](const R& r) { return r.fsPath == "/data"; },
             [](const R& r) { return r.fsPath == "/old"; }},
            {"export_path", R"("/exports/data")", JsonKind::Text,
             [](const R& r) { return r.exportPath == "/exports/data"; },
             [](const R& r) { return r.exportPath == "/exports/old"; }},
        };
        return fields;
    }
};

// A directory entry: alone through the attribute reply, in a listing through a directory page.
// The sample "mode" reads the same in both ("0755" would not: see DirectoryEntryConversions).
struct DirectoryEntryRecord {
    using Record = Cluster::CDirectoryEntry;
    static constexpr auto kParse = &Cluster::CParser::GetFileAttributesInfo;
    static constexpr const char* kParseFunction = signatures::kGetFileAttributesInfo;
    static constexpr const char* kBadRecord = "Unable to parse File Attribute Info : %s due to %s";
    static constexpr auto kParseList = &Cluster::CParser::GetDirectoryEntries;
    static constexpr const char* kParseListFunction = signatures::kGetDirectoryEntriesParser;
    static constexpr const char* kBadEntry = "Unable to parse File Entry : %s due to %s";
    static constexpr bool kListCallsParse = false;
    static constexpr const char* kListKey = "files";
    static constexpr const char* kNoList = "No files section present in the JSON %s";
    static constexpr bool kPaged = true;
    static constexpr std::string Record::*kLabel = &Record::path;
    static constexpr const char* kLabelKey = "path";

    static Record Old() {
        Record r;
        r.path = "/old";
        r.isDirectory = false;
        r.id = 1;
        r.mode = 2;
        r.owner = 3;
        r.group = 4;
        r.size = 5;
        r.changeTime = 6;
        r.modificationTime = 7;
        r.creationTime = 8;
        return r;
    }
    static const std::vector<Field<Record>>& Fields() {
        using R = Record;
        static const std::vector<Field<R>> fields = {
            {"path", R"("/data/a")", JsonKind::Text, [](const R& r) { return r.path == "/data/a"; },
             [](const R& r) { return r.path == "/old"; }},
            {"type", R"("FS_FILE_TYPE_DIRECTORY")", JsonKind::Text,
             [](const R& r) { return r.isDirectory; }, [](const R& r) { return !r.isDirectory; }},
            {"id", R"("0x1F")", JsonKind::Text, [](const R& r) { return r.id == 31; },
             [](const R& r) { return r.id == 1; }},
            {"mode", R"("644")", JsonKind::Text, [](const R& r) { return r.mode == 644; },
             [](const R& r) { return r.mode == 2; }},
            {"owner", R"("")", JsonKind::Text, [](const R& r) { return r.owner == 0; },
             [](const R& r) { return r.owner == 3; }},
            {"group", R"("017")", JsonKind::Text, [](const R& r) { return r.group == 15; },
             [](const R& r) { return r.group == 4; }},
            {"size", R"("12abc")", JsonKind::Text, [](const R& r) { return r.size == 12; },
             [](const R& r) { return r.size == 5; }},
            {"change_time", R"("2000-01-01T00:00:00")", JsonKind::Text,
             [](const R& r) { return r.changeTime == 946684800; },
             [](const R& r) { return r.changeTime == 6; }, true},
            {"modification_time", R"("2021-03-04T05:06:07+01:00")", JsonKind::Text,
             [](const R& r) { return r.modificationTime == 1614830767; },
             [](const R& r) { return r.modificationTime == 7; }, true},
            {"creation_time", R"("2021-03-04T05:06:07Z")", JsonKind::Text,
             [](const R& r) { return r.creationTime == 1614834367; },
             [](const R& r) { return r.creationTime == 8; }, true},
        };
        return fields;
    }
};

// ---------------------------------------------------------------------------------------------
// Texts and calls built from a description.

// A member every sample object carries besides the record's keys: written with blanks, unsorted
// keys and escapes, so a message shows whether it quotes the element rewritten in compact form;
// its nested "id" and "path" must not be read as the record's.
constexpr const char* kExtraKey = "extra";
constexpr const char* kExtraWritten =
    R"({ "z" : [true, null, {"y": 1, "x": 2}], "id" : "x", "path" : [1, 2], "a" : 1.5, )"
    R"("t" : "caf\u00e9 \"q\"\t\u0041" })";
constexpr const char* kExtraCompact = R"({"a":1.5,"id":"x","path":[1,2],"t":"caf)"
                                      "\xC3\xA9"
                                      R"( \"q\"\tA","z":[true,null,{"x":2,"y":1}]})";

// The record's keys with their samples, in reverse reading order with the extra member second:
// unlike both the reading order and the sorted order.
template <class D>
Members SampleMembers() {
    Members members;
    for (const auto& field : D::Fields()) members.emplace(members.begin(), field.key, field.sample);
    members.emplace(members.begin() + 1, kExtraKey, kExtraCompact);
    return members;
}

// An object as the reply writes it, and as a message quotes it.
struct Element {
    std::string written;
    std::string compact;
};

inline Element ElementOf(const Members& members) {
    Members written = members;
    for (auto& member : written) {
        if (member.first == kExtraKey) member.second = kExtraWritten;
    }
    return {ObjectText(written), CompactObjectText(members)};
}

// The sample object with the label field set to `label`.
template <class D>
std::string LabelledText(const std::string& label) {
    return ElementOf(With(SampleMembers<D>(), D::kLabelKey, Quoted(label))).written;
}

// A reply holding these elements: the bare array, or the array under the list key with other
// members (and for a paged reply the paging object) around it.
template <class D>
std::string ListText(const std::vector<std::string>& elements,
                     const std::string& paging = R"({"next": "/p2"})") {
    if constexpr (D::kListKey == nullptr) {
        return ArrayText(elements);
    } else if constexpr (D::kPaged) {
        return ObjectText({{"paging", paging}, {D::kListKey, ArrayText(elements)}, {"total", "7"}});
    } else {
        return ObjectText({{"total", "3"}, {D::kListKey, ArrayText(elements)}, {"paging", "{}"}});
    }
}

template <class D>
CZuError Parse(const std::string& text, typename D::Record& record) {
    return (Cluster::CParser().*D::kParse)(text, record);
}

// The listing parser; `nextLink` is passed only to a paged one.
template <class D>
CZuError ParseList(const std::string& text, std::list<typename D::Record>& records,
                   std::string& nextLink) {
    if constexpr (D::kPaged) {
        return (Cluster::CParser().*D::kParseList)(text, records, nextLink);
    } else {
        (void)nextLink;
        return (Cluster::CParser().*D::kParseList)(text, records);
    }
}

// A list already holding one record labelled "earlier": a listing appends after it.
template <class D>
std::list<typename D::Record> HoldingOne() {
    std::list<typename D::Record> records(1);
    records.front().*D::kLabel = "earlier";
    return records;
}

template <class D>
std::vector<std::string> Labels(const std::list<typename D::Record>& records) {
    std::vector<std::string> labels;
    for (const auto& record : records) labels.push_back(record.*D::kLabel);
    return labels;
}

}  // namespace parser_test
