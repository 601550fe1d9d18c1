// Snapshot queries through the scripted client: the request each one sends and the records
// read from the replies, identifiers above 32 and 63 bits included.
#include <cstdint>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "Cluster/ClusterSnapshotQueries.h"
#include "tests/scripted/ScriptedFixture.h"

using Cluster::CSnapshotDiffInfo;
using Cluster::CSnapshotInfo;
using Cluster::CSnapshotQueries;
using scripted_test::kBaseUrl;
using scripted_test::kBearer;
using scripted_test::kContentType;
using scripted_test::kLargestId;

namespace {

constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kAbove32Bits = 4294967301u;  // 2^32 + 5

class ScriptedSnapshotTest : public scripted_test::ScriptedTest {
  protected:
    void SetUp() override {
        ScriptedTest::SetUp();
        LogIn();
    }

    CSnapshotQueries snapshots{connection, parser};
};

TEST_F(ScriptedSnapshotTest, ListSnapshotsReadsEveryRecord) {
    const std::string firstText = std::string(R"({"id":)") + kLargestId +
                                  R"(,"name":"caf\u00e9 \u65e5\u672c",)"
                                  R"("timestamp":"2021-03-04T05:06:07.123456789Z",)"
                                  R"("source_file_id":")" +
                                  kLargestId +
                                  R"(","created_by_policy":true,)"
                                  R"("expiration":"2038-01-19T03:14:08Z",)"
                                  R"("directory_name":"d\u00e9j\u00e0","in_delete":false})";
    const std::string secondText =
        R"({"id":4294967301,"name":"second","timestamp":"2106-02-07T11:58:16+05:30",)"
        R"("source_file_id":"0x100000002","created_by_policy":false,)"
        R"("expiration":"","directory_name":"second_dir","in_delete":true})";
    scripted::Queue(200, R"({"entries":[)" + firstText + "," + secondText + "]}");
    std::list<CSnapshotInfo> listed;
    ASSERT_FALSE(snapshots.ListSnapshots(listed).IsError());
    ExpectQuery(OnlyRequest(), "/v2/snapshots/");

    ASSERT_EQ(2u, listed.size());
    const CSnapshotInfo& first = listed.front();
    EXPECT_EQ(kLargest, first.id);
    EXPECT_EQ("caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", first.name);
    EXPECT_EQ(1614834367, first.timestamp);
    EXPECT_EQ(kLargest, first.sourceFileId);
    EXPECT_TRUE(first.createdByPolicy);
    EXPECT_EQ("2038-01-19T03:14:08Z", first.expiration);
    EXPECT_EQ("d\xC3\xA9j\xC3\xA0", first.directoryName);
    EXPECT_FALSE(first.inDelete);

    const CSnapshotInfo& second = listed.back();
    EXPECT_EQ(kAbove32Bits, second.id);
    EXPECT_EQ(4294967296, second.timestamp);  // past 2106: needs a 64-bit time_t
    EXPECT_EQ(4294967298u, second.sourceFileId);
    EXPECT_FALSE(second.createdByPolicy);
    EXPECT_TRUE(second.inDelete);
}

TEST_F(ScriptedSnapshotTest, CreatedSnapshotIdAndSourceIdRoundTrip) {
    scripted::Queue(200, std::string(R"({"id":4294967301,"name":"caf\u00e9 nightly",)") +
                             R"("timestamp":"2038-01-19T03:14:08Z","source_file_id":")" +
                             kLargestId +
                             R"(","created_by_policy":false,"expiration":"",)"
                             R"("directory_name":"caf\u00e9_nightly","in_delete":false})");
    CSnapshotInfo created;
    ASSERT_FALSE(snapshots.CreateSnapshot("caf\xC3\xA9 nightly", kLargest, created, "").IsError());
    const scripted::Request creation = OnlyRequest();
    EXPECT_EQ("POST", creation.method);
    EXPECT_EQ(std::string(kBaseUrl) + "/v2/snapshots/", creation.url);
    EXPECT_EQ(std::string(R"({"expiration":"","name":"caf)") + "\xC3\xA9" +
                  R"( nightly","source_file_id":")" + kLargestId + R"("})",
              creation.body);
    EXPECT_EQ(std::vector<std::string>({kContentType, kBearer}), creation.headers);
    EXPECT_EQ(kAbove32Bits, created.id);
    EXPECT_EQ(kLargest, created.sourceFileId);
    EXPECT_EQ(2147483648, created.timestamp);
    EXPECT_EQ("caf\xC3\xA9 nightly", created.name);

    scripted::Queue(200, "");
    ASSERT_FALSE(snapshots.DeleteSnapshot(created.id).IsError());
    const scripted::Request deletion = OnlyRequest();
    EXPECT_EQ("DELETE", deletion.method);
    EXPECT_EQ(std::string(kBaseUrl) + "/v2/snapshots/4294967301", deletion.url);
    EXPECT_EQ("", deletion.body);
    EXPECT_EQ(std::vector<std::string>({kContentType, kBearer}), deletion.headers);
}

TEST_F(ScriptedSnapshotTest, ExpirationIsSentUnchanged) {
    scripted::Queue(200, R"({"id":3,"name":"n","timestamp":"2024-02-29T12:00:00Z",)"
                         R"("source_file_id":"2","created_by_policy":false,)"
                         R"("expiration":"2030-01-01T00:00:00Z","directory_name":"n",)"
                         R"("in_delete":false})");
    CSnapshotInfo created;
    ASSERT_FALSE(snapshots.CreateSnapshot("\"n\"", 2, created, "2030-01-01T00:00:00Z").IsError());
    EXPECT_EQ(R"({"expiration":"2030-01-01T00:00:00Z","name":"\"n\"","source_file_id":"2"})",
              OnlyRequest().body);
    EXPECT_EQ(1709208000, created.timestamp);
    EXPECT_EQ("2030-01-01T00:00:00Z", created.expiration);
}

TEST_F(ScriptedSnapshotTest, DiffIsReadPageByPageFollowingTheLink) {
    const std::string next = "/v2/snapshots/" + std::string(kLargestId) +
                             "/changes-since/4294967301?after=caf%C3%A9&limit=2";
    scripted::Queue(200, R"({"entries":[{"op":"CREATE","path":"/proj/new/"},)"
                         R"({"path":"/proj/caf\u00e9.txt","op":"MODIFY"}],)"
                         R"("paging":{"next":")" +
                             next + R"("}})");
    scripted::Queue(200, R"({"entries":[{"op":"DELETE","path":"/proj/old/gone.txt"}],)"
                         R"("paging":{"next":""}})");

    std::list<CSnapshotDiffInfo> changes;
    std::string nextLink;
    ASSERT_FALSE(
        snapshots.GetSnapshotDiff(kAbove32Bits, kLargest, changes, nextLink, "").IsError());
    ExpectQuery(OnlyRequest(),
                "/v2/snapshots/" + std::string(kLargestId) + "/changes-since/4294967301");
    EXPECT_EQ(next, nextLink);
    ASSERT_FALSE(
        snapshots.GetSnapshotDiff(kAbove32Bits, kLargest, changes, nextLink, nextLink).IsError());
    ExpectQuery(OnlyRequest(), next);
    EXPECT_EQ("", nextLink);

    ASSERT_EQ(3u, changes.size());
    auto change = changes.begin();
    EXPECT_EQ("/proj/new/", change->path);
    EXPECT_EQ(Cluster::SNAPSHOT_DIFF_CREATE, change->operation);
    EXPECT_TRUE(change->isDirectory);
    ++change;
    EXPECT_EQ("/proj/caf\xC3\xA9.txt", change->path);
    EXPECT_EQ(Cluster::SNAPSHOT_DIFF_MODIFY, change->operation);
    EXPECT_FALSE(change->isDirectory);
    ++change;
    EXPECT_EQ("/proj/old/gone.txt", change->path);
    EXPECT_EQ(Cluster::SNAPSHOT_DIFF_DELETE, change->operation);
    EXPECT_FALSE(change->isDirectory);
}

TEST_F(ScriptedSnapshotTest, DeletionNeedsAConnectionButNoParser) {
    CSnapshotQueries withoutParser(connection, boost::shared_ptr<Cluster::CParser>());
    scripted::Queue(200, "not json");  // the reply of a deletion is not read
    const CZuError deleted = withoutParser.DeleteSnapshot(kAbove32Bits);
    EXPECT_FALSE(deleted.IsError()) << deleted.ToString();
    const scripted::Request deletion = OnlyRequest();
    EXPECT_EQ("DELETE", deletion.method);
    EXPECT_EQ(std::string(kBaseUrl) + "/v2/snapshots/4294967301", deletion.url);
    EXPECT_EQ(std::vector<std::string>({kContentType, kBearer}), deletion.headers);
    scripted::Queue(200, "");
    ASSERT_FALSE(withoutParser.DeleteSnapshot(0).IsError());
    EXPECT_EQ(std::string(kBaseUrl) + "/v2/snapshots/0", OnlyRequest().url);

    // The cluster's refusal still comes back through this operation.
    scripted::Queue(409, R"({"description":"snapshot is locked"})");
    const CZuError refused = withoutParser.DeleteSnapshot(7);
    ASSERT_TRUE(refused.IsError());
    ASSERT_EQ(2u, refused.GetLocations().size());
    EXPECT_NE(std::string::npos, refused.GetLocations().back().function.find("DeleteSnapshot"));
    OnlyRequest();

    // Reading queries still need the parser; nothing at all works without a connection.
    std::list<CSnapshotInfo> listed;
    const CZuError unread = withoutParser.ListSnapshots(listed);
    EXPECT_EQ("The query object was built without a connection or parser", unread.GetMessage());
    const CZuError unsent = CSnapshotQueries(nullptr, parser).DeleteSnapshot(7);
    ASSERT_TRUE(unsent.IsError());
    EXPECT_EQ(774u, unsent.GetCode());
    EXPECT_EQ("The query object was built without a connection or parser", unsent.GetMessage());
    ASSERT_EQ(1u, unsent.GetLocations().size());
    EXPECT_NE(std::string::npos, unsent.GetLocations().front().function.find("DeleteSnapshot"));
    EXPECT_TRUE(scripted::TakeRequests().empty());
}

TEST_F(ScriptedSnapshotTest, RefusedListingLeavesTheListAsItWas) {
    scripted::Queue(500, R"({"description":"internal"})");
    std::list<CSnapshotInfo> listed(1);
    const CZuError error = snapshots.ListSnapshots(listed);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    ASSERT_EQ(2u, error.GetLocations().size());
    EXPECT_EQ("ClusterSnapshotQueries", error.GetLocations().back().file);
    EXPECT_EQ(1u, listed.size());
    OnlyRequest();
}

}  // namespace
