// The listing parsers read a light, one-pass form of each reply. This test holds them against
// the straightforward value-tree reading (whole reply into the tree, each element written back
// to text and read again, every key through the JSON wrapper): on thousands of generated
// replies, good and damaged, with blanks or stray bytes after them, both must give the same
// records, link, code and message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "Cluster/ClusterParser.h"
#include "platform/TnJson.h"

using namespace Cluster;
using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace {

struct Outcome {
    unsigned int code = 0;
    std::string message;
    std::vector<std::string> records;
    std::string nextLink;

    bool operator==(const Outcome& other) const {
        return code == other.code && message == other.message && records == other.records &&
               nextLink == other.nextLink;
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    out << "code " << outcome.code << " message [" << outcome.message << "] link ["
        << outcome.nextLink << "] records:";
    for (const auto& record : outcome.records) out << "\n  " << record;
    return out;
}

// A message is formatted as C text: it ends at the first NUL of what it quotes.
Outcome Failure(const std::string& message, Outcome outcome) {
    outcome.code = 774;
    outcome.message = message.c_str();
    return outcome;
}

std::string Describe(const CDirectoryEntry& entry) {
    return entry.path + "|" + std::to_string(entry.isDirectory) + "|" + std::to_string(entry.id) +
           "|" + std::to_string(entry.mode) + "|" + std::to_string(entry.owner) + "|" +
           std::to_string(entry.group) + "|" + std::to_string(entry.size) + "|" +
           std::to_string(entry.changeTime) + "|" + std::to_string(entry.modificationTime) + "|" +
           std::to_string(entry.creationTime);
}

std::string Describe(const CSnapshotDiffInfo& change) {
    return change.path + "|" + std::to_string(change.operation) + "|" +
           std::to_string(change.isDirectory);
}

std::string Describe(const CSnapshotInfo& s) {
    return std::to_string(s.inDelete) + "|" + s.name + "|" + std::to_string(s.timestamp) + "|" +
           std::to_string(s.sourceFileId) + "|" + std::to_string(s.createdByPolicy) + "|" +
           s.expiration + "|" + s.directoryName + "|" + std::to_string(s.id);
}

std::string Describe(const CSMBShareEntry& s) {
    return std::to_string(s.readOnly) + "|" + s.description + "|" + s.shareName + "|" +
           s.defaultDirectoryCreateMode + "|" + s.fsPath + "|" +
           std::to_string(s.allowGuestAccess) + "|" +
           std::to_string(s.accessBasedEnumerationEnabled) + "|" + std::to_string(s.id) + "|" +
           s.defaultFileCreateMode;
}

std::string Describe(const CNFSExportEntry& e) {
    return e.description + "|" + std::to_string(e.id) + "|" + e.fsPath + "|" + e.exportPath;
}

template <class Record>
std::vector<std::string> DescribeAll(const std::list<Record>& records) {
    std::vector<std::string> described;
    for (const auto& record : records) described.push_back(Describe(record));
    return described;
}

// ---- the value-tree reading, step by step ----

std::string TimeError(const std::string& text) {
    return "Cannot retrieve time from the string : " + std::string(text.c_str());
}

// Reads one directory entry from its own compact text; returns a failure message or "".
std::string TreeEntry(const std::string& elementText, CDirectoryEntry& entry) {
    mObject object;
    TnJson::Unserialize(elementText, object);
    const char* numberKeys[] = {"id", "mode", "owner", "group", "size"};
    uint64_t* numbers[] = {&entry.id, &entry.mode, &entry.owner, &entry.group, &entry.size};
    entry.path = TnJson::GetStringValue(object, "path");
    entry.isDirectory = TnJson::GetStringValue(object, "type") == "FS_FILE_TYPE_DIRECTORY";
    for (int i = 0; i < 5; ++i) {
        *numbers[i] =
            std::strtoull(TnJson::GetStringValue(object, numberKeys[i]).c_str(), nullptr, 0);
    }
    const char* timeKeys[] = {"change_time", "modification_time", "creation_time"};
    time_t* times[] = {&entry.changeTime, &entry.modificationTime, &entry.creationTime};
    for (int i = 0; i < 3; ++i) {
        const std::string text = TnJson::GetStringValue(object, timeKeys[i]);
        if (ConvertStringToTimeStamp(text, *times[i]).IsError()) return TimeError(text);
    }
    return "";
}

std::string TreeChange(const std::string& elementText, CSnapshotDiffInfo& change) {
    mObject object;
    TnJson::Unserialize(elementText, object);
    change.path = TnJson::GetStringValue(object, "path");
    const std::string op = TnJson::GetStringValue(object, "op");
    if (op == "CREATE") {
        change.operation = SNAPSHOT_DIFF_CREATE;
    } else if (op == "DELETE") {
        change.operation = SNAPSHOT_DIFF_DELETE;
    } else if (op == "MODIFY") {
        change.operation = SNAPSHOT_DIFF_MODIFY;
    } else {
        return "Unrecognized Snapshot Difference Operation Type " + std::string(op.c_str());
    }
    change.isDirectory = !change.path.empty() && change.path.back() == '/';
    return "";
}

template <class Record, class ReadElement>
Outcome TreePage(const std::string& reply, const char* arrayKey, const char* noArray,
                 const char* badElement, ReadElement readElement) {
    Outcome outcome;
    mObject object;
    if (!TnJson::Unserialize(reply, object))
        return Failure("Cannot get JSON object from " + reply, outcome);
    mArray elements;
    if (!TnJson::FindArrayValue(object, arrayKey, elements)) {
        return Failure(std::string(noArray) + reply, outcome);
    }
    for (const mValue& element : elements) {
        const std::string text = json_spirit::write_string(element, 0);
        Record record;
        try {
            element.get_obj();
            const std::string problem = readElement(text, record);
            if (!problem.empty()) return Failure(problem, outcome);
        } catch (const std::exception& error) {
            return Failure(badElement + text + " due to " + error.what(), outcome);
        }
        outcome.records.push_back(Describe(record));
    }
    mObject paging;
    if (!TnJson::FindObjectValue(object, "paging", paging)) {
        return Failure("No paging section present in the JSON " + reply, outcome);
    }
    try {
        outcome.nextLink = TnJson::GetStringValue(paging, "next");
    } catch (const std::exception& error) {
        return Failure(
            "Cannot retrieve paging:next from the JSON " + reply + " due to " + error.what(),
            outcome);
    }
    return outcome;
}

uint64_t TreeTextNumber(const mObject& object, const char* key) {
    return std::strtoull(TnJson::GetStringValue(object, key).c_str(), nullptr, 0);
}

std::string TreeShare(const std::string& elementText, CSMBShareEntry& share) {
    mObject object;
    TnJson::Unserialize(elementText, object);
    share.readOnly = TnJson::GetBoolValue(object, "read_only");
    share.description = TnJson::GetStringValue(object, "description");
    share.shareName = TnJson::GetStringValue(object, "share_name");
    share.defaultDirectoryCreateMode =
        TnJson::GetStringValue(object, "default_directory_create_mode");
    share.fsPath = TnJson::GetStringValue(object, "fs_path");
    share.allowGuestAccess = TnJson::GetBoolValue(object, "allow_guest_access");
    share.accessBasedEnumerationEnabled =
        TnJson::GetBoolValue(object, "access_based_enumeration_enabled");
    share.id = TreeTextNumber(object, "id");
    share.defaultFileCreateMode = TnJson::GetStringValue(object, "default_file_create_mode");
    return "";
}

std::string TreeExport(const std::string& elementText, CNFSExportEntry& nfsExport) {
    mObject object;
    TnJson::Unserialize(elementText, object);
    nfsExport.description = TnJson::GetStringValue(object, "description");
    nfsExport.id = TreeTextNumber(object, "id");
    nfsExport.fsPath = TnJson::GetStringValue(object, "fs_path");
    nfsExport.exportPath = TnJson::GetStringValue(object, "export_path");
    return "";
}

// A snapshot element through the single-record parser, which its own tests hold to the tree.
std::string TreeSnapshot(const std::string& elementText, CSnapshotInfo& snapshot) {
    const CZuError error = CParser().GetSnapshotInformation(elementText, snapshot);
    return error.IsError() ? error.GetMessage() : "";
}

// The listed array: the reply itself when `arrayKey` is null, else that member of it.
template <class Record, class ReadElement>
Outcome TreeListing(const std::string& reply, const char* arrayKey, const char* badEntry,
                    ReadElement readElement) {
    Outcome outcome;
    mArray elements;
    if (arrayKey == nullptr) {
        if (!TnJson::Unserialize(reply, elements))
            return Failure("Cannot get JSON object from " + reply, outcome);
    } else {
        mObject object;
        if (!TnJson::Unserialize(reply, object))
            return Failure("Cannot get JSON object from " + reply, outcome);
        if (!TnJson::FindArrayValue(object, arrayKey, elements)) {
            return Failure(std::string("No ") + arrayKey + " section present in the JSON " + reply,
                           outcome);
        }
    }
    for (const mValue& element : elements) {
        const std::string text = json_spirit::write_string(element, 0);
        Record record;
        try {
            element.get_obj();
            const std::string problem = readElement(text, record);
            if (!problem.empty()) return Failure(problem, outcome);
        } catch (const std::exception& error) {
            return Failure(badEntry + text + " due to " + error.what(), outcome);
        }
        outcome.records.push_back(Describe(record));
    }
    return outcome;
}

// ---- the library's readings ----

template <class Record>
Outcome LibraryPage(CZuError (CParser::*parse)(const string&, std::list<Record>&, std::string&),
                    const std::string& reply) {
    std::list<Record> records;
    Outcome outcome;
    const CZuError error = (CParser().*parse)(reply, records, outcome.nextLink);
    outcome.code = error.GetCode();
    outcome.message = error.GetMessage();
    outcome.records = DescribeAll(records);
    return outcome;
}

template <class Record>
Outcome LibraryListing(CZuError (CParser::*parse)(const string&, std::list<Record>&),
                       const std::string& reply) {
    std::list<Record> records;
    Outcome outcome;
    const CZuError error = (CParser().*parse)(reply, records);
    outcome.code = error.GetCode();
    outcome.message = error.GetMessage();
    outcome.records = DescribeAll(records);
    return outcome;
}

// ---- replies: good ones, then damaged by random edits ----

class ReplyMaker {
  public:
    explicit ReplyMaker(unsigned seed) : m_random(seed) {}

    mValue AnyValue(int depth = 0) {
        switch (Pick(depth > 1 ? 6 : 8)) {
            case 0:
                return mValue();
            case 1:
                return mValue(Pick(2) == 0);
            case 2:
                return mValue(static_cast<int64_t>(Pick(2000)) - 1000);
            case 3:
                return mValue(static_cast<uint64_t>(18446744073709551615ull));
            case 4:
                return mValue(Pick(100) / 8.0);
            case 5:
                return mValue(Text());
            case 6: {
                mObject object;
                for (unsigned i = Pick(3); i > 0; --i) object[Text()] = AnyValue(depth + 1);
                return mValue(object);
            }
            default: {
                mArray array;
                for (unsigned i = Pick(3); i > 0; --i) array.push_back(AnyValue(depth + 1));
                return mValue(array);
            }
        }
    }

    std::string Text() {
        static const char* const kTexts[] = {"",
                                             "0x1F",
                                             "0755",
                                             "12abc",
                                             "/a/b/",
                                             "/a b",
                                             "caf\xC3\xA9",
                                             "CREATE",
                                             "DELETE",
                                             "MODIFY",
                                             "create",
                                             "FS_FILE_TYPE_DIRECTORY",
                                             "x\"y\\z",
                                             "2021-03-04T05:06:07Z",
                                             "2021-03-04",
                                             "2021-07-01T12:00:00.5+02:00",
                                             "-1"};
        return kTexts[Pick(sizeof kTexts / sizeof kTexts[0])];
    }

    mObject DirectoryEntry(int i) {
        mObject entry;
        entry["path"] = "/d/f" + std::to_string(i) + (i % 4 == 0 ? "/" : "");
        entry["type"] = i % 4 == 0 ? "FS_FILE_TYPE_DIRECTORY" : "FS_FILE_TYPE_FILE";
        entry["id"] = std::to_string(100 + i);
        entry["mode"] = i % 2 ? "0644" : "0x1ed";
        entry["owner"] = "500";
        entry["group"] = "";
        entry["size"] = std::to_string(i * 1000);
        entry["change_time"] = "2021-03-04T05:06:07.123Z";
        entry["modification_time"] = "2021-03-04T05:06:08Z";
        entry["creation_time"] = "2020-01-01T00:00:00+01:00";
        entry["name"] = "f";
        entry["extended_attributes"] = mObject{{"hidden", mValue(false)}};
        return entry;
    }

    mObject Change(int i) {
        static const char* const kOps[] = {"CREATE", "DELETE", "MODIFY"};
        return mObject{{"op", mValue(kOps[i % 3])},
                       {"path", mValue("/p/" + std::to_string(i) + (i % 2 ? "/" : ""))}};
    }

    mObject Snapshot(int i) {
        return mObject{{"in_delete", mValue(false)},
                       {"name", mValue("s" + std::to_string(i))},
                       {"timestamp", mValue("2021-03-04T05:06:07Z")},
                       {"source_file_id", mValue("0x10")},
                       {"created_by_policy", mValue(true)},
                       {"expiration", mValue("")},
                       {"directory_name", mValue("d")},
                       {"id", mValue(static_cast<int64_t>(i))},
                       {"policy_id", mValue()}};
    }

    mObject Share(int i) {
        return mObject{{"read_only", mValue(i % 2 == 0)},
                       {"description", mValue("d" + std::to_string(i))},
                       {"share_name", mValue("s" + std::to_string(i))},
                       {"default_directory_create_mode", mValue("0755")},
                       {"fs_path", mValue("/p/" + std::to_string(i))},
                       {"allow_guest_access", mValue(false)},
                       {"access_based_enumeration_enabled", mValue(true)},
                       {"id", mValue(std::to_string(i + 1))},
                       {"default_file_create_mode", mValue("0644")},
                       {"permissions", mArray{mValue(mObject{{"type", mValue("ALLOWED")}})}}};
    }

    mObject Export(int i) {
        return mObject{{"description", mValue("")},
                       {"id", mValue("0x" + std::to_string(10 + i))},
                       {"fs_path", mValue("/data/" + std::to_string(i))},
                       {"export_path", mValue("/exports/" + std::to_string(i))},
                       {"restrictions", mArray{}}};
    }

    // A reply listing up to four records made by `make` (as its `arrayKey` member, or as the
    // whole reply when that is null), then damaged.
    template <class Make>
    std::string Reply(const char* arrayKey, bool paged, Make make) {
        mArray elements;
        for (int i = 0, count = static_cast<int>(Pick(5)); i < count; ++i)
            elements.push_back(make(i));
        mObject reply{{arrayKey == nullptr ? "" : arrayKey, mValue(elements)}};
        if (paged)
            reply["paging"] =
                mObject{{"next", mValue("/next?after=" + Text())}, {"prev", mValue("")}};
        mValue value = arrayKey == nullptr ? mValue(elements) : mValue(reply);
        for (unsigned edits = Pick(4); edits > 0; --edits) Damage(value, 0);
        std::string text = json_spirit::write_string(value, 0);
        if (Pick(5) == 0) text = Spaced(text, arrayKey == nullptr);
        if (Pick(25) == 0) text.resize(Pick(static_cast<unsigned>(text.size()) + 1));
        if (Pick(3) == 0) text += Trailer();
        return text;
    }

  private:
    unsigned Pick(unsigned below) {
        return std::uniform_int_distribution<unsigned>(0, below - 1)(m_random);
    }

    // Removes, replaces or adds a member, or replaces an element, somewhere in the value.
    void Damage(mValue& value, int depth) {
        if (value.type() == json_spirit::obj_type) {
            mObject& object = value.get_obj();
            if (object.empty() || Pick(4) == 0) {
                object[Pick(2) ? Text() : "paging"] = AnyValue();
                return;
            }
            auto member = std::next(object.begin(), Pick(static_cast<unsigned>(object.size())));
            switch (depth > 2 ? 0 : Pick(3)) {
                case 0:
                    object.erase(member);
                    return;
                case 1:
                    member->second = AnyValue();
                    return;
                default:
                    Damage(member->second, depth + 1);
                    return;
            }
        }
        if (value.type() == json_spirit::array_type && !value.get_array().empty()) {
            mArray& array = value.get_array();
            mValue& element = array[Pick(static_cast<unsigned>(array.size()))];
            if (Pick(3) == 0) {
                element = AnyValue();
            } else {
                Damage(element, depth + 1);
            }
        }
    }

    // Blanks and a repeated member (an extra element for an array): both readings must see
    // the text the same way.
    std::string Spaced(const std::string& text, bool array) {
        static const char* const kRepeated[] = {",\"paging\":{\"next\":\"dup\"}", ",\"paging\":{}",
                                                ",\"paging\":5", ",\"files\":[]",
                                                ",\"entries\":{}"};
        static const char* const kExtra[] = {",{}", ",null", ",[{\"id\":\"1\"}]", ""};
        std::string spaced;
        for (char c : text) {
            spaced += c;
            if (c == ',' || c == ':') spaced += " \n";
        }
        const std::string added = array ? kExtra[Pick(4)] : kRepeated[Pick(5)];
        return "  " + spaced.substr(0, spaced.size() - 1) + added + text.back() + "\t";
    }

    // What may follow the value: blanks, which both readings skip, or stray bytes (a second
    // value, a stray bracket, a NUL, a blank JSON does not know), which both refuse.
    std::string Trailer() {
        static const std::string kTrailers[] = {
            " ",   "\r\n\t", "x",  "]",  "}",       ",",        "\"",       "{}",
            "[1]", "0",      "\f", "\v", {"\0", 1}, {" \0", 2}, {"\0 ", 2}, {"\0x", 2}};
        return kTrailers[Pick(sizeof kTrailers / sizeof kTrailers[0])];
    }

    std::mt19937 m_random;
};

constexpr int kReplies = 3000;

TEST(ListingDifferential, DirectoryPagesReadAsTheValueTreeReadsThem) {
    ReplyMaker maker(1);
    for (int i = 0; i < kReplies; ++i) {
        const std::string reply =
            maker.Reply("files", true, [&](int n) { return maker.DirectoryEntry(n); });
        const Outcome expected =
            TreePage<CDirectoryEntry>(reply, "files", "No files section present in the JSON ",
                                      "Unable to parse File Entry : ", TreeEntry);
        ASSERT_EQ(expected, LibraryPage(&CParser::GetDirectoryEntries, reply)) << reply;
    }
}

TEST(ListingDifferential, DiffPagesReadAsTheValueTreeReadsThem) {
    ReplyMaker maker(2);
    for (int i = 0; i < kReplies; ++i) {
        const std::string reply =
            maker.Reply("entries", true, [&](int n) { return maker.Change(n); });
        const Outcome expected =
            TreePage<CSnapshotDiffInfo>(reply, "entries", "No entries section present in the JSON ",
                                        "Unable to parse Snapshot Diff Entry : ", TreeChange);
        ASSERT_EQ(expected, LibraryPage(&CParser::GetSnapshotDiffInformation, reply)) << reply;
    }
}

TEST(ListingDifferential, SnapshotListingsReadAsTheValueTreeReadsThem) {
    ReplyMaker maker(3);
    for (int i = 0; i < kReplies; ++i) {
        const std::string reply =
            maker.Reply("entries", false, [&](int n) { return maker.Snapshot(n); });
        const Outcome expected = TreeListing<CSnapshotInfo>(
            reply, "entries", "Unable to parse snapshot entry ", TreeSnapshot);
        ASSERT_EQ(expected, LibraryListing(&CParser::GetSnapshotsInformation, reply)) << reply;
    }
}

TEST(ListingDifferential, SmbShareListingsReadAsTheValueTreeReadsThem) {
    ReplyMaker maker(4);
    for (int i = 0; i < kReplies; ++i) {
        const std::string reply =
            maker.Reply(nullptr, false, [&](int n) { return maker.Share(n); });
        const Outcome expected =
            TreeListing<CSMBShareEntry>(reply, nullptr, "Unable to SMB share entry ", TreeShare);
        ASSERT_EQ(expected, LibraryListing(&CParser::GetSMBSharesInformation, reply)) << reply;
    }
}

TEST(ListingDifferential, NfsExportListingsReadAsTheValueTreeReadsThem) {
    ReplyMaker maker(5);
    for (int i = 0; i < kReplies; ++i) {
        const std::string reply =
            maker.Reply(nullptr, false, [&](int n) { return maker.Export(n); });
        const Outcome expected = TreeListing<CNFSExportEntry>(
            reply, nullptr, "Unable to parse NFS export entry ", TreeExport);
        ASSERT_EQ(expected, LibraryListing(&CParser::GetNFSExportsInformation, reply)) << reply;
    }
}

}  // namespace
