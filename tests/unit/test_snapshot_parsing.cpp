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

using Cluster::CParser;
using Cluster::CSnapshotDiffInfo;
using Cluster::CSnapshotInfo;
using parser_test::ArrayText;
using parser_test::IsFailure;
using parser_test::kSnapshotDiffFunction;
using parser_test::kSnapshotFunction;
using parser_test::kSnapshotsFunction;
using parser_test::kTimeFunction;
using parser_test::Members;
using parser_test::ObjectText;
using parser_test::Quoted;
using parser_test::With;
using parser_test::Without;

namespace {

// ---------------------------------------------------------------------------------------------
// One snapshot

// Members in an order unlike both the reading order and the sorted order.
const Members kSnapshot = {
    {"name", R"("nightly")"},
    {"timestamp", R"("2021-03-04T05:06:07Z")"},
    {"id", "42"},
    {"in_delete", "true"},
    {"source_file_id", R"("0x10")"},
    {"expiration", R"("2021-04-01T00:00:00Z")"},
    {"created_by_policy", "true"},
    {"directory_name", R"("nightly_dir")"},
};

// A record whose every field differs from what kSnapshot gives.
CSnapshotInfo OldSnapshot() {
    CSnapshotInfo record;
    record.inDelete = false;
    record.name = "old";
    record.timestamp = 111;
    record.sourceFileId = 222;
    record.createdByPolicy = false;
    record.expiration = "old expiration";
    record.directoryName = "old dir";
    record.id = 333;
    return record;
}

struct SnapshotFieldCheck {
    const char* key;
    std::function<bool(const CSnapshotInfo&)> assigned;  // holds kSnapshot's value
    std::function<bool(const CSnapshotInfo&)> kept;      // holds OldSnapshot()'s value
};

// In the order the keys are read; "timestamp" comes last.
const std::vector<SnapshotFieldCheck>& SnapshotReadingOrder() {
    static const std::vector<SnapshotFieldCheck> checks = {
        {"in_delete", [](const CSnapshotInfo& r) { return r.inDelete; },
         [](const CSnapshotInfo& r) { return !r.inDelete; }},
        {"name", [](const CSnapshotInfo& r) { return r.name == "nightly"; },
         [](const CSnapshotInfo& r) { return r.name == "old"; }},
        {"source_file_id", [](const CSnapshotInfo& r) { return r.sourceFileId == 16; },
         [](const CSnapshotInfo& r) { return r.sourceFileId == 222; }},
        {"created_by_policy", [](const CSnapshotInfo& r) { return r.createdByPolicy; },
         [](const CSnapshotInfo& r) { return !r.createdByPolicy; }},
        {"expiration",
         [](const CSnapshotInfo& r) { return r.expiration == "2021-04-01T00:00:00Z"; },
         [](const CSnapshotInfo& r) { return r.expiration == "old expiration"; }},
        {"directory_name", [](const CSnapshotInfo& r) { return r.directoryName == "nightly_dir"; },
         [](const CSnapshotInfo& r) { return r.directoryName == "old dir"; }},
        {"id", [](const CSnapshotInfo& r) { return r.id == 42; },
         [](const CSnapshotInfo& r) { return r.id == 333; }},
        {"timestamp", [](const CSnapshotInfo& r) { return r.timestamp == 1614834367; },
         [](const CSnapshotInfo& r) { return r.timestamp == 111; }},
    };
    return checks;
}

// Fields read before `failedKey` hold the new values, it and the later ones the old values.
void ExpectAssignedUpTo(const CSnapshotInfo& record, const std::string& failedKey) {
    bool reached = false;
    for (const SnapshotFieldCheck& check : SnapshotReadingOrder()) {
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

TEST(GetSnapshotInformation, FillsEveryFieldAndIgnoresOtherKeys) {
    Members members = With(kSnapshot, "comment", "null");
    members = With(members, "nested", R"({"id": "x", "name": [1, 2]})");
    CSnapshotInfo record = OldSnapshot();
    const CZuError error = CParser().GetSnapshotInformation(ObjectText(members), record);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    for (const SnapshotFieldCheck& check : SnapshotReadingOrder()) {
        EXPECT_TRUE(check.assigned(record)) << check.key;
    }
}

TEST(GetSnapshotInformation, MissingKeyFailsAndStopsTheReadThere) {
    for (const SnapshotFieldCheck& check : SnapshotReadingOrder()) {
        const std::string text = ObjectText(Without(kSnapshot, check.key));
        CSnapshotInfo record = OldSnapshot();
        const CZuError error = CParser().GetSnapshotInformation(text, record);
        EXPECT_TRUE(IsFailure(
            error, 774,
            "Unable to parse snapshot entry " + text + " due to key '" + check.key + "' not found",
            {kSnapshotFunction}))
            << check.key;
        ExpectAssignedUpTo(record, check.key);
    }
}

struct WrongKindRow {
    const char* key;
    const char* value;
    const char* reason;
};

TEST(GetSnapshotInformation, ValueOfAnotherKindIsABadEntry) {
    const WrongKindRow rows[] = {
        {"in_delete", R"("true")", "key 'in_delete' is not a boolean (it is a string)"},
        {"name", "null", "key 'name' is not a string (it is null)"},
        {"source_file_id", "16", "key 'source_file_id' is not a string (it is an integer)"},
        {"created_by_policy", "1", "key 'created_by_policy' is not a boolean (it is an integer)"},
        {"expiration", "{}", "key 'expiration' is not a string (it is an object)"},
        {"directory_name", "[]", "key 'directory_name' is not a string (it is an array)"},
        {"id", R"("42")", "key 'id' is not an unsigned integer (it is a string)"},
        {"id", "-1", "key 'id' is not an unsigned integer (it is an integer)"},
        {"id", "4.2", "key 'id' is not an unsigned integer (it is a real number)"},
        {"timestamp", "1614834367", "key 'timestamp' is not a string (it is an integer)"},
    };
    for (const WrongKindRow& row : rows) {
        const std::string text = ObjectText(With(kSnapshot, row.key, row.value));
        CSnapshotInfo record = OldSnapshot();
        const CZuError error = CParser().GetSnapshotInformation(text, record);
        EXPECT_TRUE(IsFailure(error, 774,
                              "Unable to parse snapshot entry " + text + " due to " + row.reason,
                              {kSnapshotFunction}))
            << row.key << " = " << row.value;
        ExpectAssignedUpTo(record, row.key);
    }
}

TEST(GetSnapshotInformation, BadTimeFailsAfterEveryOtherFieldIsAssigned) {
    for (const char* time : {"2021-03-04", "", "2021-02-30T00:00:00Z"}) {
        const std::string text = ObjectText(With(kSnapshot, "timestamp", Quoted(time)));
        CSnapshotInfo record = OldSnapshot();
        const CZuError error = CParser().GetSnapshotInformation(text, record);
        EXPECT_TRUE(IsFailure(error, 774,
                              std::string("Cannot retrieve time from the string : ") + time,
                              {kTimeFunction, kSnapshotFunction}))
            << time;
        ExpectAssignedUpTo(record, "timestamp");
    }
}

TEST(GetSnapshotInformation, TimestampIsReadAsUtcWithFractionAndOffset) {
    const struct {
        const char* text;
        time_t expected;
    } rows[] = {
        {"2021-03-04T05:06:07.123456789Z", 1614834367},
        {"2021-03-04T05:06:07.5+01:00", 1614830767},
        {"1969-12-31T23:59:59Z", -1},
    };
    for (const auto& row : rows) {
        CSnapshotInfo record = OldSnapshot();
        const std::string text = ObjectText(With(kSnapshot, "timestamp", Quoted(row.text)));
        ASSERT_FALSE(CParser().GetSnapshotInformation(text, record).IsError()) << row.text;
        EXPECT_EQ(row.expected, record.timestamp) << row.text;
    }
}

TEST(GetSnapshotInformation, SourceFileIdIsReadInTheAutomaticBase) {
    const struct {
        const char* text;
        uint64_t expected;
    } rows[] = {
        {"0x10", 16},
        {"0X1f", 31},
        {"017", 15},
        {"08", 0},
        {"12abc", 12},
        {"", 0},
        {"abc", 0},
        {"  42", 42},
        {"18446744073709551615", std::numeric_limits<uint64_t>::max()},
        {"18446744073709551616", std::numeric_limits<uint64_t>::max()},
        {"99999999999999999999999", std::numeric_limits<uint64_t>::max()},
    };
    for (const auto& row : rows) {
        CSnapshotInfo record = OldSnapshot();
        const std::string text = ObjectText(With(kSnapshot, "source_file_id", Quoted(row.text)));
        ASSERT_FALSE(CParser().GetSnapshotInformation(text, record).IsError()) << row.text;
        EXPECT_EQ(row.expected, record.sourceFileId) << "'" << row.text << "'";
    }
}

TEST(GetSnapshotInformation, TextFieldsAndLargeIdArriveUnchanged) {
    Members members = With(kSnapshot, "expiration", R"("")");
    members = With(members, "name", R"("caf\u00e9 \"q\" / \\")");
    members = With(members, "directory_name", R"("  spaced  ")");
    members = With(members, "id", "18446744073709551615");
    CSnapshotInfo record = OldSnapshot();
    ASSERT_FALSE(CParser().GetSnapshotInformation(ObjectText(members), record).IsError());
    EXPECT_EQ("", record.expiration);
    EXPECT_EQ("caf\xC3\xA9 \"q\" / \\", record.name);
    EXPECT_EQ("  spaced  ", record.directoryName);
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), record.id);

    record.expiration = "old";
    members = With(kSnapshot, "expiration", R"("in 3 days, maybe")");
    ASSERT_FALSE(CParser().GetSnapshotInformation(ObjectText(members), record).IsError());
    EXPECT_EQ("in 3 days, maybe", record.expiration);
}

TEST(GetSnapshotInformation, TextThatIsNoObjectLeavesTheRecordAlone) {
    for (const std::string& text :
         {std::string("[") + ObjectText(kSnapshot) + "]", std::string(""), std::string("nonsense"),
          std::string("\"text\""), ObjectText(kSnapshot) + " {}"}) {
        CSnapshotInfo record = OldSnapshot();
        const CZuError error = CParser().GetSnapshotInformation(text, record);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kSnapshotFunction}))
            << text;
        ExpectAssignedUpTo(record, "in_delete");
    }
}

// ---------------------------------------------------------------------------------------------
// Snapshot listing

std::string SnapshotElement(const std::string& name, uint64_t id) {
    return ObjectText(With(With(kSnapshot, "name", Quoted(name)), "id", std::to_string(id)));
}

std::string Listing(const std::vector<std::string>& elements) {
    return ObjectText({{"total", "3"}, {"entries", ArrayText(elements)}, {"paging", "{}"}});
}

std::list<CSnapshotInfo> ListHoldingOne() {
    std::list<CSnapshotInfo> snapshots(1);
    snapshots.front().name = "earlier";
    return snapshots;
}

std::vector<std::string> Names(const std::list<CSnapshotInfo>& snapshots) {
    std::vector<std::string> names;
    for (const CSnapshotInfo& snapshot : snapshots) names.push_back(snapshot.name);
    return names;
}

TEST(GetSnapshotsInformation, EmptyEntriesAppendNothing) {
    std::list<CSnapshotInfo> snapshots = ListHoldingOne();
    const CZuError error = CParser().GetSnapshotsInformation(R"({"entries": []})", snapshots);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_EQ(std::vector<std::string>({"earlier"}), Names(snapshots));
}

TEST(GetSnapshotsInformation, AppendsAfterExistingRecordsInArrayOrder) {
    std::list<CSnapshotInfo> snapshots = ListHoldingOne();
    const std::string text =
        Listing({SnapshotElement("b", 2), SnapshotElement("a", 1), SnapshotElement("c", 3)});
    const CZuError error = CParser().GetSnapshotsInformation(text, snapshots);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    ASSERT_EQ(std::vector<std::string>({"earlier", "b", "a", "c"}), Names(snapshots));
    const CSnapshotInfo& second = *std::next(snapshots.begin(), 2);
    EXPECT_EQ(1u, second.id);
    EXPECT_TRUE(second.inDelete);
    EXPECT_TRUE(second.createdByPolicy);
    EXPECT_EQ(16u, second.sourceFileId);
    EXPECT_EQ("2021-04-01T00:00:00Z", second.expiration);
    EXPECT_EQ("nightly_dir", second.directoryName);
    EXPECT_EQ(1614834367, second.timestamp);
}

// An element lacking "directory_name", written with blanks, unsorted keys, an escaped letter
// and a nested object, and its compact form: keys sorted at every level, no blanks, UTF-8.
const Members kElementWithoutDirectory = {
    {"timestamp", R"("2021-03-04T05:06:07Z")"},
    {"name", R"("caf\u00e9 \"q\"")"},
    {"id", "7"},
    {"in_delete", "false"},
    {"source_file_id", R"("5")"},
    {"extra", R"({"z": [true, null], "a": 1.5})"},
    {"expiration", R"("")"},
    {"created_by_policy", "false"},
};
const char* const kElementWithoutDirectoryCompact =
    R"({"created_by_policy":false,"expiration":"","extra":{"a":1.5,"z":[true,null]},"id":7,)"
    R"("in_delete":false,"name":"caf)"
    "\xC3\xA9"
    R"( \"q\"","source_file_id":"5","timestamp":"2021-03-04T05:06:07Z"})";

TEST(GetSnapshotsInformation, BadElementIsQuotedInCompactFormAndEndsTheCall) {
    std::list<CSnapshotInfo> snapshots = ListHoldingOne();
    const std::string text =
        Listing({SnapshotElement("first", 1), ObjectText(kElementWithoutDirectory),
                 SnapshotElement("third", 3)});
    const CZuError error = CParser().GetSnapshotsInformation(text, snapshots);
    EXPECT_TRUE(IsFailure(error, 774,
                          std::string("Unable to parse snapshot entry ") +
                              kElementWithoutDirectoryCompact +
                              " due to key 'directory_name' not found",
                          {kSnapshotFunction, kSnapshotsFunction}));
    EXPECT_EQ(std::vector<std::string>({"earlier", "first"}), Names(snapshots));
}

// Found by fuzzing: the listing's own reading of numbers turned a zero with a large exponent
// into a garbage number (here quoted in the message) and let values past the largest double
// through, unlike the single-record reading.
TEST(GetSnapshotsInformation, NumbersReadAsTheSingleRecordReadsThem) {
    std::list<CSnapshotInfo> snapshots;
    const std::string element = ObjectText({{"id", "0e40"}, {"name", R"("x")"}});
    const CZuError error = CParser().GetSnapshotsInformation(Listing({element}), snapshots);
    EXPECT_TRUE(IsFailure(error, 774,
                          R"(Unable to parse snapshot entry {"id":0.0,"name":"x"} due to key )"
                          R"('in_delete' not found)",
                          {kSnapshotFunction, kSnapshotsFunction}));
    for (const char* number : {"2e308", "100000000000000000000000000000000000000e300"}) {
        const std::string text =
            ObjectText({{"entries", ArrayText({SnapshotElement("a", 1)})}, {"size", number}});
        EXPECT_TRUE(IsFailure(CParser().GetSnapshotsInformation(text, snapshots), 774,
                              "Cannot get JSON object from " + text, {kSnapshotsFunction}))
            << number;
        CSnapshotInfo record;
        const std::string one = ObjectText({{"size", number}});
        EXPECT_TRUE(IsFailure(CParser().GetSnapshotInformation(one, record), 774,
                              "Cannot get JSON object from " + one, {kSnapshotFunction}))
            << number;
    }
    EXPECT_TRUE(snapshots.empty());
}

TEST(GetSnapshotsInformation, WrongKindInAnElementIsQuotedInCompactForm) {
    std::list<CSnapshotInfo> snapshots;
    const std::string text = Listing({ObjectText({{"name", R"("x")"}, {"in_delete", R"("no")"}})});
    const CZuError error = CParser().GetSnapshotsInformation(text, snapshots);
    EXPECT_TRUE(IsFailure(error, 774,
                          R"(Unable to parse snapshot entry {"in_delete":"no","name":"x"} due to )"
                          "key 'in_delete' is not a boolean (it is a string)",
                          {kSnapshotFunction, kSnapshotsFunction}));
    EXPECT_TRUE(snapshots.empty());
}

TEST(GetSnapshotsInformation, BadTimeInAnElementCarriesTheWholeTrail) {
    std::list<CSnapshotInfo> snapshots = ListHoldingOne();
    const std::string text =
        Listing({SnapshotElement("first", 1),
                 ObjectText(With(kSnapshot, "timestamp", R"("2021-03-04 05:06:07")")),
                 SnapshotElement("third", 3)});
    const CZuError error = CParser().GetSnapshotsInformation(text, snapshots);
    EXPECT_TRUE(IsFailure(error, 774, "Cannot retrieve time from the string : 2021-03-04 05:06:07",
                          {kTimeFunction, kSnapshotFunction, kSnapshotsFunction}));
    EXPECT_EQ(std::vector<std::string>({"earlier", "first"}), Names(snapshots));
}

struct NonObjectRow {
    const char* element;
    const char* compact;
    const char* reason;
};

const NonObjectRow kNonObjectRows[] = {
    {R"("x")", R"("x")", "value is a string, not an object"},
    {"7", "7", "value is an integer, not an object"},
    {"-2.5", "-2.5", "value is a real number, not an object"},
    {"null", "null", "value is null, not an object"},
    {"true", "true", "value is a boolean, not an object"},
    {R"([ 1, "a", {"b": 2, "a": 1} ])", R"([1,"a",{"a":1,"b":2}])",
     "value is an array, not an object"},
};

TEST(GetSnapshotsInformation, ElementThatIsNoObjectIsReportedNotThrown) {
    for (const NonObjectRow& row : kNonObjectRows) {
        std::list<CSnapshotInfo> snapshots = ListHoldingOne();
        const std::string text =
            Listing({SnapshotElement("first", 1), row.element, SnapshotElement("third", 3)});
        CZuError error;
        ASSERT_NO_THROW(error = CParser().GetSnapshotsInformation(text, snapshots)) << row.element;
        EXPECT_TRUE(IsFailure(
            error, 774,
            std::string("Unable to parse snapshot entry ") + row.compact + " due to " + row.reason,
            {kSnapshotsFunction}))
            << row.element;
        EXPECT_EQ(std::vector<std::string>({"earlier", "first"}), Names(snapshots));
    }
}

TEST(GetSnapshotsInformation, ReplyWithoutEntriesArrayFails) {
    for (const char* text : {"{}", R"({"entries": {}})", R"({"entries": "[]"})",
                             R"({"entries": null})", R"({"Entries": []})"}) {
        std::list<CSnapshotInfo> snapshots = ListHoldingOne();
        const CZuError error = CParser().GetSnapshotsInformation(text, snapshots);
        EXPECT_TRUE(IsFailure(error, 774,
                              std::string("No entries section present in the JSON ") + text,
                              {kSnapshotsFunction}))
            << text;
        EXPECT_EQ(std::vector<std::string>({"earlier"}), Names(snapshots));
    }
}

TEST(GetSnapshotsInformation, ReplyThatIsNoObjectFails) {
    for (const std::string& text : {std::string("[") + SnapshotElement("a", 1) + "]",
                                    std::string(""), std::string(R"({"entries": [})")}) {
        std::list<CSnapshotInfo> snapshots = ListHoldingOne();
        const CZuError error = CParser().GetSnapshotsInformation(text, snapshots);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kSnapshotsFunction}))
            << text;
        EXPECT_EQ(std::vector<std::string>({"earlier"}), Names(snapshots));
    }
}

// ---------------------------------------------------------------------------------------------
// Snapshot differences

std::string Change(const std::string& path, const std::string& op) {
    return ObjectText({{"path", Quoted(path)}, {"op", Quoted(op)}});
}

std::string DiffPage(const std::vector<std::string>& elements, const std::string& paging) {
    return ObjectText({{"paging", paging}, {"entries", ArrayText(elements)}, {"count", "9"}});
}

std::list<CSnapshotDiffInfo> ChangesHoldingOne() {
    std::list<CSnapshotDiffInfo> changes(1);
    changes.front().path = "/earlier";
    changes.front().operation = Cluster::SNAPSHOT_DIFF_MODIFY;
    return changes;
}

std::vector<std::string> Paths(const std::list<CSnapshotDiffInfo>& changes) {
    std::vector<std::string> paths;
    for (const CSnapshotDiffInfo& change : changes) paths.push_back(change.path);
    return paths;
}

TEST(GetSnapshotDiffInformation, EmptyPageSetsTheLinkToEmpty) {
    std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
    std::string nextLink = "old link";
    const CZuError error = CParser().GetSnapshotDiffInformation(
        R"({"entries": [], "paging": {"next": ""}})", changes, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_EQ("", nextLink);
    EXPECT_EQ(std::vector<std::string>({"/earlier"}), Paths(changes));
}

// Found by fuzzing under AddressSanitizer: the listing's scan read up to 15 bytes past the end
// of its copy of the reply. Replies of every length, whose last text and trailing blanks end at
// every alignment, read exactly (and, under the sanitizer, only inside the copy).
TEST(GetSnapshotDiffInformation, RepliesEndingAtEveryAlignmentReadExactly) {
    for (size_t length = 0; length < 48; ++length) {
        const std::string path = "/" + std::string(length, 'p');
        const std::string link = "/next/" + std::string(length % 16, 'n');
        const std::string text = R"({"entries":[{"op":"DELETE","path":")" + path +
                                 R"("}],"paging":{"next":")" + link + R"("}})" +
                                 std::string(length % 3, ' ');
        std::list<CSnapshotDiffInfo> changes;
        std::string nextLink;
        const CZuError error = CParser().GetSnapshotDiffInformation(text, changes, nextLink);
        ASSERT_FALSE(error.IsError()) << error.ToString();
        EXPECT_EQ(std::vector<std::string>({path}), Paths(changes)) << length;
        EXPECT_EQ(link, nextLink) << length;
    }
}

// Found by fuzzing: the listing's scan let the raw control bytes 0x1A to 0x1F through inside
// texts (those it reads 16 bytes at a time: the byte stands in the middle of a long text),
// where the JSON reader refuses every raw byte below 0x20.
TEST(GetSnapshotDiffInformation, RawControlBytesInATextAreRefusedAsTheReaderRefusesThem) {
    const std::string half(40, 'a');
    for (char byte = 0x01; byte < 0x20; ++byte) {
        const std::string text = R"({"entries":[{"op":"CREATE","path":"/)" + half +
                                 std::string(1, byte) + half + R"("}],"paging":{"next":""}})";
        std::list<CSnapshotDiffInfo> changes;
        std::string nextLink = "kept";
        EXPECT_TRUE(IsFailure(CParser().GetSnapshotDiffInformation(text, changes, nextLink), 774,
                              "Cannot get JSON object from " + text, {kSnapshotDiffFunction}))
            << static_cast<int>(byte);
        EXPECT_TRUE(changes.empty());
        EXPECT_EQ("kept", nextLink);
    }
}

TEST(GetSnapshotDiffInformation, MapsTheOperationAndMarksDirectoriesByTrailingSlash) {
    const struct {
        const char* path;
        const char* op;
        Cluster::SnapshotDiffOperation operation;
        bool isDirectory;
    } rows[] = {
        {"/a/b/", "DELETE", Cluster::SNAPSHOT_DIFF_DELETE, true},
        {"/a/b", "MODIFY", Cluster::SNAPSHOT_DIFF_MODIFY, false},
        {"", "CREATE", Cluster::SNAPSHOT_DIFF_CREATE, false},
        {"/", "CREATE", Cluster::SNAPSHOT_DIFF_CREATE, true},
        {"/a/b/ ", "MODIFY", Cluster::SNAPSHOT_DIFF_MODIFY, false},
        {"/a/b\\", "DELETE", Cluster::SNAPSHOT_DIFF_DELETE, false},
    };
    std::vector<std::string> elements;
    for (const auto& row : rows) elements.push_back(Change(row.path, row.op));
    elements.back() =
        ObjectText({{"extra", "[1]"}, {"op", R"("DELETE")"}, {"path", R"("/a/b\\")"}});

    std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
    std::string nextLink = "old link";
    const CZuError error = CParser().GetSnapshotDiffInformation(
        DiffPage(elements, R"({"next": "/v2/snapshots/9/changes-since/3?after=a%2Fb", "x": 1})"),
        changes, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_EQ("/v2/snapshots/9/changes-since/3?after=a%2Fb", nextLink);
    ASSERT_EQ(1 + std::size(rows), changes.size());
    EXPECT_EQ("/earlier", changes.front().path);
    auto change = std::next(changes.begin());
    for (const auto& row : rows) {
        EXPECT_EQ(row.path, change->path);
        EXPECT_EQ(row.operation, change->operation) << row.path;
        EXPECT_EQ(row.isDirectory, change->isDirectory) << row.path;
        ++change;
    }
}

TEST(GetSnapshotDiffInformation, SuccessivePagesAccumulate) {
    std::list<CSnapshotDiffInfo> changes;
    std::string nextLink;
    CParser parser;
    ASSERT_FALSE(
        parser
            .GetSnapshotDiffInformation(DiffPage({Change("/1", "CREATE"), Change("/2/", "CREATE")},
                                                 R"({"next": "/page2"})"),
                                        changes, nextLink)
            .IsError());
    EXPECT_EQ("/page2", nextLink);
    ASSERT_FALSE(parser
                     .GetSnapshotDiffInformation(
                         DiffPage({Change("/3", "DELETE")}, R"({"next": ""})"), changes, nextLink)
                     .IsError());
    EXPECT_EQ("", nextLink);
    EXPECT_EQ(std::vector<std::string>({"/1", "/2/", "/3"}), Paths(changes));
}

TEST(GetSnapshotDiffInformation, UnknownOperationFailsNamingTheText) {
    for (const char* op : {"create", "RENAME", "", "CREATE ", "Modify"}) {
        std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
        std::string nextLink = "old link";
        const std::string text =
            DiffPage({Change("/good", "CREATE"), Change("/bad/", op), Change("/later", "CREATE")},
                     R"({"next": "/page2"})");
        const CZuError error = CParser().GetSnapshotDiffInformation(text, changes, nextLink);
        EXPECT_TRUE(IsFailure(error, 774,
                              std::string("Unrecognized Snapshot Difference Operation Type ") + op,
                              {kSnapshotDiffFunction}))
            << op;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/good"}), Paths(changes)) << op;
        EXPECT_EQ("old link", nextLink);
    }
}

TEST(GetSnapshotDiffInformation, UnreadableElementIsQuotedInCompactForm) {
    std::vector<NonObjectRow> rows = {
        {R"({ "path" : "/a",  "extra": {"b": 1, "a": 2} })",
         R"({"extra":{"a":2,"b":1},"path":"/a"})", "key 'op' not found"},
        {R"({ "op" : "CREATE" })", R"({"op":"CREATE"})", "key 'path' not found"},
        {R"({ "path" : 5, "op" : "CREATE" })", R"({"op":"CREATE","path":5})",
         "key 'path' is not a string (it is an integer)"},
        {R"({ "path" : "/a", "op" : null })", R"({"op":null,"path":"/a"})",
         "key 'op' is not a string (it is null)"},
    };
    rows.insert(rows.end(), std::begin(kNonObjectRows), std::end(kNonObjectRows));
    for (const NonObjectRow& row : rows) {
        std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
        std::string nextLink = "old link";
        const std::string text =
            DiffPage({Change("/good", "CREATE"), row.element, Change("/later", "CREATE")},
                     R"({"next": "/page2"})");
        CZuError error;
        ASSERT_NO_THROW(error = CParser().GetSnapshotDiffInformation(text, changes, nextLink))
            << row.element;
        EXPECT_TRUE(IsFailure(error, 774,
                              std::string("Unable to parse Snapshot Diff Entry : ") + row.compact +
                                  " due to " + row.reason,
                              {kSnapshotDiffFunction}))
            << row.element;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/good"}), Paths(changes)) << row.element;
        EXPECT_EQ("old link", nextLink);
    }
}

TEST(GetSnapshotDiffInformation, BadPagingFailsAfterEveryElementIsAppended) {
    const std::vector<std::string> elements = {Change("/1", "CREATE"), Change("/2", "MODIFY")};
    const std::string entries = ArrayText(elements);
    const struct {
        std::string text;
        std::string message;
    } rows[] = {
        {ObjectText({{"entries", entries}}), "No paging section present in the JSON "},
        {ObjectText({{"entries", entries}, {"paging", R"("/page2")"}}),
         "No paging section present in the JSON "},
        {ObjectText({{"entries", entries}, {"paging", "[]"}}),
         "No paging section present in the JSON "},
        {ObjectText({{"entries", entries}, {"paging", "null"}}),
         "No paging section present in the JSON "},
    };
    for (const auto& row : rows) {
        std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
        std::string nextLink = "old link";
        const CZuError error = CParser().GetSnapshotDiffInformation(row.text, changes, nextLink);
        EXPECT_TRUE(IsFailure(error, 774, row.message + row.text, {kSnapshotDiffFunction}))
            << row.text;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/1", "/2"}), Paths(changes));
        EXPECT_EQ("old link", nextLink);
    }

    const struct {
        const char* paging;
        const char* reason;
    } nextRows[] = {
        {"{}", "key 'next' not found"},
        {R"({"Next": "/page2"})", "key 'next' not found"},
        {R"({"next": null})", "key 'next' is not a string (it is null)"},
        {R"({"next": 5})", "key 'next' is not a string (it is an integer)"},
        {R"({"next": {"href": "/page2"}})", "key 'next' is not a string (it is an object)"},
    };
    for (const auto& row : nextRows) {
        std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
        std::string nextLink = "old link";
        const std::string text = DiffPage(elements, row.paging);
        const CZuError error = CParser().GetSnapshotDiffInformation(text, changes, nextLink);
        EXPECT_TRUE(
            IsFailure(error, 774,
                      "Cannot retrieve paging:next from the JSON " + text + " due to " + row.reason,
                      {kSnapshotDiffFunction}))
            << row.paging;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/1", "/2"}), Paths(changes));
        EXPECT_EQ("old link", nextLink);
    }
}

TEST(GetSnapshotDiffInformation, ReplyWithoutEntriesOrNoObjectChangesNothing) {
    const struct {
        std::string text;
        std::string message;
    } rows[] = {
        {R"({"paging": {"next": "/p"}})", "No entries section present in the JSON "},
        {R"({"entries": {}, "paging": {"next": "/p"}})", "No entries section present in the JSON "},
        {R"({"entries": null, "paging": {"next": "/p"}})",
         "No entries section present in the JSON "},
        {R"([{"entries": [], "paging": {"next": "/p"}}])", "Cannot get JSON object from "},
        {"", "Cannot get JSON object from "},
        {R"({"entries": [], "paging": {"next": "/p"})", "Cannot get JSON object from "},
    };
    for (const auto& row : rows) {
        std::list<CSnapshotDiffInfo> changes = ChangesHoldingOne();
        std::string nextLink = "old link";
        const CZuError error = CParser().GetSnapshotDiffInformation(row.text, changes, nextLink);
        EXPECT_TRUE(IsFailure(error, 774, row.message + row.text, {kSnapshotDiffFunction}))
            << row.text;
        EXPECT_EQ(std::vector<std::string>({"/earlier"}), Paths(changes));
        EXPECT_EQ("old link", nextLink);
    }
}

}  // namespace
