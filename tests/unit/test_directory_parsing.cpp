#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/unit/json_text.h"
#include "tests/unit/parser_expectations.h"

using Cluster::CDirectoryEntry;
using Cluster::CFileAttributeInfo;
using Cluster::CParser;
using parser_test::ArrayText;
using parser_test::CompactObjectText;
using parser_test::IsFailure;
using parser_test::kDirectoryEntriesFunction;
using parser_test::kFileAttributesFunction;
using parser_test::kTimeFunction;
using parser_test::Members;
using parser_test::ObjectText;
using parser_test::Quoted;
using parser_test::With;
using parser_test::Without;

namespace {

// One entry, in an order unlike both the reading order and the sorted order; every value is
// already compact so CompactObjectText gives its compact form.
const Members kEntry = {
    {"size", R"("12abc")"},
    {"path", R"("/data/a")"},
    {"creation_time", R"("2021-03-04T05:06:07Z")"},
    {"type", R"("FS_FILE_TYPE_DIRECTORY")"},
    {"owner", R"("")"},
    {"id", R"("0x1F")"},
    {"modification_time", R"("2021-03-04T05:06:07+01:00")"},
    {"mode", R"("0755")"},
    {"group", R"("017")"},
    {"change_time", R"("2000-01-01T00:00:00")"},
    {"name", R"("a")"},
    {"num_links", "2"},
};

// A record whose every field differs from what kEntry gives.
CDirectoryEntry OldEntry() {
    CDirectoryEntry entry;
    entry.path = "/old";
    entry.isDirectory = false;
    entry.id = 1;
    entry.mode = 2;
    entry.owner = 3;
    entry.group = 4;
    entry.size = 5;
    entry.changeTime = 6;
    entry.modificationTime = 7;
    entry.creationTime = 8;
    return entry;
}

struct FieldCheck {
    const char* key;
    std::function<bool(const CDirectoryEntry&)> assigned;  // holds kEntry's value
    std::function<bool(const CDirectoryEntry&)> kept;      // holds OldEntry()'s value
};

// The keys in reading order; "mode" 0755 reads as `mode` (493 in a listing, 755 alone).
std::vector<FieldCheck> ReadingOrder(uint64_t mode) {
    using R = CDirectoryEntry;
    return {
        {"path", [](const R& r) { return r.path == "/data/a"; },
         [](const R& r) { return r.path == "/old"; }},
        {"type", [](const R& r) { return r.isDirectory; },
         [](const R& r) { return !r.isDirectory; }},
        {"id", [](const R& r) { return r.id == 31; }, [](const R& r) { return r.id == 1; }},
        {"mode", [mode](const R& r) { return r.mode == mode; },
         [](const R& r) { return r.mode == 2; }},
        {"owner", [](const R& r) { return r.owner == 0; }, [](const R& r) { return r.owner == 3; }},
        {"group", [](const R& r) { return r.group == 15; },
         [](const R& r) { return r.group == 4; }},
        {"size", [](const R& r) { return r.size == 12; }, [](const R& r) { return r.size == 5; }},
        {"change_time", [](const R& r) { return r.changeTime == 946684800; },
         [](const R& r) { return r.changeTime == 6; }},
        {"modification_time", [](const R& r) { return r.modificationTime == 1614830767; },
         [](const R& r) { return r.modificationTime == 7; }},
        {"creation_time", [](const R& r) { return r.creationTime == 1614834367; },
         [](const R& r) { return r.creationTime == 8; }},
    };
}

constexpr uint64_t kListingMode = 0755;
constexpr uint64_t kAttributeMode = 755;

void ExpectAssignedUpTo(const CDirectoryEntry& record, const std::string& failedKey) {
    bool reached = false;
    for (const FieldCheck& check : ReadingOrder(kAttributeMode)) {
        if (check.key == failedKey) reached = true;
        if (reached) {
            EXPECT_TRUE(check.kept(record)) << check.key << " changed before " << failedKey;
        } else {
            EXPECT_TRUE(check.assigned(record))
                << check.key << " not assigned before " << failedKey;
        }
    }
    EXPECT_TRUE(reached) << failedKey;
}

struct WrongKindRow {
    const char* key;
    const char* value;
    const char* reason;
};

const WrongKindRow kWrongKindRows[] = {
    {"path", "null", "key 'path' is not a string (it is null)"},
    {"type", "1", "key 'type' is not a string (it is an integer)"},
    {"id", "31", "key 'id' is not a string (it is an integer)"},
    {"mode", "493", "key 'mode' is not a string (it is an integer)"},
    {"size", "12", "key 'size' is not a string (it is an integer)"},
    {"size", "1.5", "key 'size' is not a string (it is a real number)"},
    {"change_time", "946684800", "key 'change_time' is not a string (it is an integer)"},
    {"creation_time", "{}", "key 'creation_time' is not a string (it is an object)"},
};

// ---------------------------------------------------------------------------------------------
// Attributes of one file

TEST(GetFileAttributesInfo, FillsEveryFieldWithModeInBaseTen) {
    CFileAttributeInfo info = OldEntry();
    const CZuError error = CParser().GetFileAttributesInfo(ObjectText(kEntry), info);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    for (const FieldCheck& check : ReadingOrder(kAttributeMode)) {
        EXPECT_TRUE(check.assigned(info)) << check.key;
    }
}

TEST(GetFileAttributesInfo, MissingKeyFailsAndStopsTheReadThere) {
    for (const FieldCheck& check : ReadingOrder(kAttributeMode)) {
        const std::string text = ObjectText(Without(kEntry, check.key));
        CFileAttributeInfo info = OldEntry();
        const CZuError error = CParser().GetFileAttributesInfo(text, info);
        EXPECT_TRUE(IsFailure(error, 774,
                              "Unable to parse File Attribute Info : " + text + " due to key '" +
                                  check.key + "' not found",
                              {kFileAttributesFunction}))
            << check.key;
        ExpectAssignedUpTo(info, check.key);
    }
}

TEST(GetFileAttributesInfo, ValueOfAnotherKindIsABadEntry) {
    for (const WrongKindRow& row : kWrongKindRows) {
        const std::string text = ObjectText(With(kEntry, row.key, row.value));
        CFileAttributeInfo info = OldEntry();
        const CZuError error = CParser().GetFileAttributesInfo(text, info);
        EXPECT_TRUE(IsFailure(
            error, 774, "Unable to parse File Attribute Info : " + text + " due to " + row.reason,
            {kFileAttributesFunction}))
            << row.key << " = " << row.value;
        ExpectAssignedUpTo(info, row.key);
    }
}

TEST(GetFileAttributesInfo, BadTimeStopsTheReadAtThatKey) {
    for (const char* key : {"change_time", "modification_time", "creation_time"}) {
        // A later time key of the wrong kind shows whether reading went on past the failure.
        Members members = With(kEntry, key, R"("2021-03-04")");
        if (std::string(key) != "creation_time") members = With(members, "creation_time", "0");
        CFileAttributeInfo info = OldEntry();
        const CZuError error = CParser().GetFileAttributesInfo(ObjectText(members), info);
        EXPECT_TRUE(IsFailure(error, 774, "Cannot retrieve time from the string : 2021-03-04",
                              {kTimeFunction, kFileAttributesFunction}))
            << key;
        ExpectAssignedUpTo(info, key);
    }
}

TEST(GetFileAttributesInfo, ReplyThatIsNoObjectLeavesTheRecordAlone) {
    for (const std::string& text :
         {"[" + ObjectText(kEntry) + "]", std::string(""), std::string(R"({"files": [)")}) {
        CFileAttributeInfo info = OldEntry();
        const CZuError error = CParser().GetFileAttributesInfo(text, info);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kFileAttributesFunction}))
            << text;
        ExpectAssignedUpTo(info, "path");
    }
}

// ---------------------------------------------------------------------------------------------
// Conversions shared by both readers: the same key text, in a listing and alone.

struct ConvertedRow {
    const char* key;
    const char* text;
    std::function<bool(const CDirectoryEntry&)> inListing;
    std::function<bool(const CDirectoryEntry&)> alone;
};

std::string DirectoryPage(const std::vector<std::string>& files, const std::string& paging) {
    return ObjectText({{"paging", paging}, {"files", ArrayText(files)}, {"total", "7"}});
}

TEST(DirectoryEntryConversions, NumbersAndTypeReadTheSameExceptMode) {
    using R = CDirectoryEntry;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const ConvertedRow rows[] = {
        {"mode", "0755", [](const R& r) { return r.mode == 493; },
         [](const R& r) { return r.mode == 755; }},
        {"mode", "0x1ED", [](const R& r) { return r.mode == 493; },
         [](const R& r) { return r.mode == 0; }},
        {"mode", "644", [](const R& r) { return r.mode == 644; },
         [](const R& r) { return r.mode == 644; }},
        {"mode", "99999999999999999999", [](const R& r) { return r.mode == kMax; },
         [](const R& r) { return r.mode == kMax; }},
        {"id", "0x1F", [](const R& r) { return r.id == 31; },
         [](const R& r) { return r.id == 31; }},
        {"id", "010", [](const R& r) { return r.id == 8; }, [](const R& r) { return r.id == 8; }},
        {"owner", "", [](const R& r) { return r.owner == 0; },
         [](const R& r) { return r.owner == 0; }},
        {"group", " 0x10", [](const R& r) { return r.group == 16; },
         [](const R& r) { return r.group == 16; }},
        {"size", "12abc", [](const R& r) { return r.size == 12; },
         [](const R& r) { return r.size == 12; }},
        {"size", "18446744073709551616", [](const R& r) { return r.size == kMax; },
         [](const R& r) { return r.size == kMax; }},
        {"type", "FS_FILE_TYPE_DIRECTORY", [](const R& r) { return r.isDirectory; },
         [](const R& r) { return r.isDirectory; }},
        {"type", "fs_file_type_directory", [](const R& r) { return !r.isDirectory; },
         [](const R& r) { return !r.isDirectory; }},
        {"type", "FS_FILE_TYPE_FILE", [](const R& r) { return !r.isDirectory; },
         [](const R& r) { return !r.isDirectory; }},
        {"type", "FS_FILE_TYPE_DIRECTORY ", [](const R& r) { return !r.isDirectory; },
         [](const R& r) { return !r.isDirectory; }},
        {"type", "FS_FILE_TYPE_DIRECTORY_LINK", [](const R& r) { return !r.isDirectory; },
         [](const R& r) { return !r.isDirectory; }},
        {"type", "", [](const R& r) { return !r.isDirectory; },
         [](const R& r) { return !r.isDirectory; }},
    };
    for (const ConvertedRow& row : rows) {
        const Members members = With(kEntry, row.key, Quoted(row.text));

        CFileAttributeInfo info = OldEntry();
        info.isDirectory = true;  // a non-directory type must clear it
        ASSERT_FALSE(CParser().GetFileAttributesInfo(ObjectText(members), info).IsError());
        EXPECT_TRUE(row.alone(info)) << row.key << " '" << row.text << "' alone";

        std::list<CDirectoryEntry> entries;
        std::string nextLink;
        ASSERT_FALSE(
            CParser()
                .GetDirectoryEntries(DirectoryPage({ObjectText(members)}, R"({"next": ""})"),
                                     entries, nextLink)
                .IsError());
        ASSERT_EQ(1u, entries.size());
        EXPECT_TRUE(row.inListing(entries.front())) << row.key << " '" << row.text << "' listed";
    }
}

// ---------------------------------------------------------------------------------------------
// Directory listing

std::string EntryElement(const std::string& path) {
    return ObjectText(With(kEntry, "path", Quoted(path)));
}

std::list<CDirectoryEntry> EntriesHoldingOne() {
    std::list<CDirectoryEntry> entries(1);
    entries.front().path = "/earlier";
    return entries;
}

std::vector<std::string> Paths(const std::list<CDirectoryEntry>& entries) {
    std::vector<std::string> paths;
    for (const CDirectoryEntry& entry : entries) paths.push_back(entry.path);
    return paths;
}

TEST(GetDirectoryEntries, EmptyPageSetsTheLinkToEmpty) {
    std::list<CDirectoryEntry> entries = EntriesHoldingOne();
    std::string nextLink = "old link";
    const CZuError error = CParser().GetDirectoryEntries(
        R"({"paging": {"next": "", "previous": "/p0"}, "files": []})", entries, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_EQ("", nextLink);
    EXPECT_EQ(std::vector<std::string>({"/earlier"}), Paths(entries));
}

TEST(GetDirectoryEntries, AppendsEveryFieldAfterExistingRecords) {
    std::list<CDirectoryEntry> entries = EntriesHoldingOne();
    std::string nextLink = "old link";
    const CZuError error = CParser().GetDirectoryEntries(
        DirectoryPage({EntryElement("/data/a"), EntryElement("/data/c"), EntryElement("/data/b")},
                      R"({"next": "/v1/files/%2Fdata/entries/?after=abc"})"),
        entries, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_EQ("/v1/files/%2Fdata/entries/?after=abc", nextLink);
    ASSERT_EQ(std::vector<std::string>({"/earlier", "/data/a", "/data/c", "/data/b"}),
              Paths(entries));
    for (const FieldCheck& check : ReadingOrder(kListingMode)) {
        EXPECT_TRUE(check.assigned(*std::next(entries.begin()))) << check.key;
    }
}

TEST(GetDirectoryEntries, ThirdEntryWithoutSizeIsQuotedInCompactForm) {
    std::list<CDirectoryEntry> entries = EntriesHoldingOne();
    std::string nextLink = "old link";
    const Members third = With(Without(kEntry, "size"), "path", R"("/data/c")");
    const std::string text = DirectoryPage(
        {EntryElement("/data/a"), EntryElement("/data/b"), ObjectText(third), EntryElement("/d")},
        R"({"next": "/p2"})");
    const CZuError error = CParser().GetDirectoryEntries(text, entries, nextLink);
    EXPECT_TRUE(IsFailure(error, 774,
                          R"(Unable to parse File Entry : {"change_time":"2000-01-01T00:00:00",)"
                          R"("creation_time":"2021-03-04T05:06:07Z","group":"017","id":"0x1F",)"
                          R"("mode":"0755","modification_time":"2021-03-04T05:06:07+01:00",)"
                          R"("name":"a","num_links":2,"owner":"","path":"/data/c",)"
                          R"("type":"FS_FILE_TYPE_DIRECTORY"} due to key 'size' not found)",
                          {kDirectoryEntriesFunction}));
    EXPECT_EQ(std::vector<std::string>({"/earlier", "/data/a", "/data/b"}), Paths(entries));
    EXPECT_EQ("old link", nextLink);
}

TEST(GetDirectoryEntries, UnreadableEntryIsABadEntry) {
    struct Row {
        std::string element;
        std::string compact;
        std::string reason;
    };
    std::vector<Row> rows;
    for (const FieldCheck& check : ReadingOrder(kListingMode)) {
        const Members members = Without(kEntry, check.key);
        rows.push_back({ObjectText(members), CompactObjectText(members),
                        std::string("key '") + check.key + "' not found"});
    }
    for (const WrongKindRow& row : kWrongKindRows) {
        const Members members = With(kEntry, row.key, row.value);
        rows.push_back({ObjectText(members), CompactObjectText(members), row.reason});
    }
    rows.push_back({R"("/data/x")", R"("/data/x")", "value is a string, not an object"});
    rows.push_back({"42", "42", "value is an integer, not an object"});
    rows.push_back({"null", "null", "value is null, not an object"});
    rows.push_back(
        {R"([ {"b": 1, "a": 2} ])", R"([{"a":2,"b":1}])", "value is an array, not an object"});

    for (const Row& row : rows) {
        std::list<CDirectoryEntry> entries = EntriesHoldingOne();
        std::string nextLink = "old link";
        const std::string text = DirectoryPage(
            {EntryElement("/good"), row.element, EntryElement("/later")}, R"({"next": "/p2"})");
        CZuError error;
        ASSERT_NO_THROW(error = CParser().GetDirectoryEntries(text, entries, nextLink))
            << row.element;
        EXPECT_TRUE(IsFailure(
            error, 774, "Unable to parse File Entry : " + row.compact + " due to " + row.reason,
            {kDirectoryEntriesFunction}))
            << row.element;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/good"}), Paths(entries)) << row.element;
        EXPECT_EQ("old link", nextLink);
    }
}

TEST(GetDirectoryEntries, BadTimeStopsTheEntryAndTheCall) {
    for (const char* key : {"change_time", "modification_time", "creation_time"}) {
        // "creation_time" of the wrong kind would change the error if it were read after a
        // failed "modification_time".
        Members bad = With(With(kEntry, "path", R"("/bad")"), key, R"("2021-03-04")");
        if (std::string(key) == "modification_time") bad = With(bad, "creation_time", "0");
        std::list<CDirectoryEntry> entries = EntriesHoldingOne();
        std::string nextLink = "old link";
        const std::string text = DirectoryPage(
            {EntryElement("/good"), ObjectText(bad), EntryElement("/later")}, R"({"next": "/p2"})");
        const CZuError error = CParser().GetDirectoryEntries(text, entries, nextLink);
        EXPECT_TRUE(IsFailure(error, 774, "Cannot retrieve time from the string : 2021-03-04",
                              {kTimeFunction, kDirectoryEntriesFunction}))
            << key;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/good"}), Paths(entries)) << key;
        EXPECT_EQ("old link", nextLink);
    }
}

TEST(GetDirectoryEntries, BadPagingFailsAfterEveryEntryIsAppended) {
    const std::string files = ArrayText({EntryElement("/1"), EntryElement("/2")});
    const struct {
        std::string text;
        std::string message;
    } rows[] = {
        {ObjectText({{"files", files}}), "No paging section present in the JSON "},
        {ObjectText({{"files", files}, {"paging", R"("/p2")"}}),
         "No paging section present in the JSON "},
        {ObjectText({{"files", files}, {"paging", "[]"}}),
         "No paging section present in the JSON "},
        {ObjectText({{"files", files}, {"paging", "{}"}}),
         "Cannot retrieve paging:next from the JSON "},
        {ObjectText({{"files", files}, {"paging", R"({"next": null})"}}),
         "Cannot retrieve paging:next from the JSON "},
        {ObjectText({{"files", files}, {"paging", R"({"next": ["/p2"]})"}}),
         "Cannot retrieve paging:next from the JSON "},
    };
    const char* const reasons[] = {
        "",
        "",
        "",
        " due to key 'next' not found",
        " due to key 'next' is not a string (it is null)",
        " due to key 'next' is not a string (it is an array)",
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::list<CDirectoryEntry> entries = EntriesHoldingOne();
        std::string nextLink = "old link";
        const CZuError error = CParser().GetDirectoryEntries(rows[i].text, entries, nextLink);
        EXPECT_TRUE(IsFailure(error, 774, rows[i].message + rows[i].text + reasons[i],
                              {kDirectoryEntriesFunction}))
            << rows[i].text;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/1", "/2"}), Paths(entries));
        EXPECT_EQ("old link", nextLink);
    }
}

TEST(GetDirectoryEntries, ReplyWithoutFilesOrNoObjectChangesNothing) {
    const struct {
        std::string text;
        std::string message;
    } rows[] = {
        {R"({"paging": {"next": "/p"}})", "No files section present in the JSON "},
        {R"({"files": {}, "paging": {"next": "/p"}})", "No files section present in the JSON "},
        {R"({"entries": [], "paging": {"next": "/p"}})", "No files section present in the JSON "},
        {R"([{"files": [], "paging": {"next": "/p"}}])", "Cannot get JSON object from "},
        {"", "Cannot get JSON object from "},
        {"files", "Cannot get JSON object from "},
    };
    for (const auto& row : rows) {
        std::list<CDirectoryEntry> entries = EntriesHoldingOne();
        std::string nextLink = "old link";
        const CZuError error = CParser().GetDirectoryEntries(row.text, entries, nextLink);
        EXPECT_TRUE(IsFailure(error, 774, row.message + row.text, {kDirectoryEntriesFunction}))
            << row.text;
        EXPECT_EQ(std::vector<std::string>({"/earlier"}), Paths(entries));
        EXPECT_EQ("old link", nextLink);
    }
}

}  // namespace
