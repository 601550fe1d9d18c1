// What only snapshots and snapshot differences do; what every record parser does is in
// test_record_contract.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/unit/json_text.h"
#include "tests/unit/parser_expectations.h"
#include "tests/unit/record_descriptions.h"

using Cluster::CParser;
using Cluster::CSnapshotDiffInfo;
using Cluster::CSnapshotInfo;
using parser_test::ArrayText;
using parser_test::IsFailure;
using parser_test::kTimeFunction;
using parser_test::Labels;
using parser_test::Members;
using parser_test::ObjectText;
using parser_test::Quoted;
using parser_test::SnapshotDiffRecord;
using parser_test::SnapshotRecord;
using parser_test::With;
using signatures::kGetSnapshotDiffInformation;
using signatures::kGetSnapshotInformation;
using signatures::kGetSnapshotsInformation;

namespace {

// ---------------------------------------------------------------------------------------------
// One snapshot

const Members kSnapshot = parser_test::SampleMembers<SnapshotRecord>();

CSnapshotInfo OldSnapshot() {
    return SnapshotRecord::Old();
}

// The calendar is checked: a day past the month's end is no time.
TEST(GetSnapshotInformation, DayPastTheMonthsEndIsABadTime) {
    const std::string text = ObjectText(With(kSnapshot, "timestamp", R"("2021-02-32T00:00:00Z")"));
    CSnapshotInfo record = OldSnapshot();
    EXPECT_TRUE(IsFailure(CParser().GetSnapshotInformation(text, record), 774,
                          "Cannot retrieve time from the string : 2021-02-32T00:00:00Z",
                          {kTimeFunction, kGetSnapshotInformation}));
    parser_test::ExpectAssignedUpTo(SnapshotRecord::Fields(), record, "timestamp");
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

// ---------------------------------------------------------------------------------------------
// Snapshot listing

std::string SnapshotElement(const std::string& name, uint64_t id) {
    return ObjectText(With(With(kSnapshot, "name", Quoted(name)), "id", std::to_string(id)));
}

std::string Listing(const std::vector<std::string>& elements) {
    return parser_test::ListText<SnapshotRecord>(elements);
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
                          {kGetSnapshotInformation, kGetSnapshotsInformation}));
    for (const char* number : {"2e308", "100000000000000000000000000000000000000e300"}) {
        const std::string text =
            ObjectText({{"entries", ArrayText({SnapshotElement("a", 1)})}, {"size", number}});
        EXPECT_TRUE(IsFailure(CParser().GetSnapshotsInformation(text, snapshots), 774,
                              "Cannot get JSON object from " + text, {kGetSnapshotsInformation}))
            << number;
        CSnapshotInfo record;
        const std::string one = ObjectText({{"size", number}});
        EXPECT_TRUE(IsFailure(CParser().GetSnapshotInformation(one, record), 774,
                              "Cannot get JSON object from " + one, {kGetSnapshotInformation}))
            << number;
    }
    EXPECT_TRUE(snapshots.empty());
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
    std::list<CSnapshotDiffInfo> changes = parser_test::HoldingOne<SnapshotDiffRecord>();
    changes.front().operation = Cluster::SNAPSHOT_DIFF_MODIFY;
    return changes;
}

std::vector<std::string> Paths(const std::list<CSnapshotDiffInfo>& changes) {
    return Labels<SnapshotDiffRecord>(changes);
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
                              "Cannot get JSON object from " + text, {kGetSnapshotDiffInformation}))
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
    EXPECT_EQ("earlier", changes.front().path);
    auto change = std::next(changes.begin());
    for (const auto& row : rows) {
        EXPECT_EQ(row.path, change->path);
        EXPECT_EQ(row.operation, change->operation) << row.path;
        EXPECT_EQ(row.isDirectory, change->isDirectory) << row.path;
        ++change;
    }
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
                              {kGetSnapshotDiffInformation}))
            << op;
        EXPECT_EQ(std::vector<std::string>({"earlier", "/good"}), Paths(changes)) << op;
        EXPECT_EQ("old link", nextLink);
    }
}

}  // namespace
