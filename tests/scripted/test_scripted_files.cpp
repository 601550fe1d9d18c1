// Directory listings and file attributes through the scripted client: percent-encoded paths,
// the snapshot selector, paging, and the numbers and times read from the replies.
#include <cstdint>
#include <limits>
#include <list>
#include <string>

#include "Cluster/ClusterFileSystemQueries.h"
#include "tests/scripted/ScriptedFixture.h"

using Cluster::CDirectoryEntry;
using Cluster::CFileAttributeInfo;
using Cluster::CFileSystemQueries;
using scripted_test::kLargestId;

namespace {

constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();

// "/home/café/a b?#%+" as one encoded path segment.
const char kPath[] = "/home/caf\xC3\xA9/a b?#%+";
const char kEncodedPath[] = "%2Fhome%2Fcaf%C3%A9%2Fa%20b%3F%23%25%2B";

std::string EntryText(const std::string& path, const std::string& type, const std::string& id,
                      const std::string& mode, const std::string& size,
                      const std::string& creationTime = "2106-02-07T06:28:16Z") {
    return R"({"path":")" + path + R"(","name":"x","type":")" + type + R"(","id":")" + id +
           R"(","mode":")" + mode + R"(","owner":"4294967296","group":"0x1F5","size":")" + size +
           R"(","access_time":"2021-03-04T05:06:07Z",)"
           R"("modification_time":"2021-03-04T05:06:07.5+05:30",)"
           R"("change_time":"1999-12-31T23:59:59-08:00","creation_time":")" +
           creationTime + R"(","owner_details":{"id_type":"LOCAL_USER","id_value":"500"}})";
}

void ExpectTimesAndOwners(const CDirectoryEntry& entry) {
    EXPECT_EQ(4294967296u, entry.owner);
    EXPECT_EQ(501u, entry.group);
    EXPECT_EQ(1614814567, entry.modificationTime);
    EXPECT_EQ(946713599, entry.changeTime);
    EXPECT_EQ(4294967296, entry.creationTime);
}

class ScriptedFilesTest : public scripted_test::ScriptedTest {
  protected:
    void SetUp() override {
        ScriptedTest::SetUp();
        LogIn();
    }

    CFileSystemQueries files{connection, parser};
};

TEST_F(ScriptedFilesTest, LiveDirectoryIsListedPageByPage) {
    const std::string next = "/v1/files/" + std::string(kEncodedPath) + "/entries/?after=2";
    scripted::Queue(200, R"({"files":[)" +
                             EntryText("/home/caf\\u00e9/a b?#%+/sub", "FS_FILE_TYPE_DIRECTORY",
                                       kLargestId, "0755", "0") +
                             "," +
                             EntryText("/home/caf\\u00e9/a b?#%+/big", "FS_FILE_TYPE_FILE",
                                       "4294967301", "0644", "1099511627776") +
                             R"(],"paging":{"next":")" + next + R"("}})");
    scripted::Queue(200, R"({"files":[)" +
                             EntryText("/home/caf\\u00e9/a b?#%+/link", "FS_FILE_TYPE_SYMLINK", "3",
                                       "0x1FF", "12") +
                             R"(],"paging":{"next":""}})");

    std::list<CDirectoryEntry> page;
    std::string nextLink;
    ASSERT_FALSE(files.GetDirectoryEntries(kPath, page, nextLink, 0, "").IsError());
    ExpectQuery(OnlyRequest(), "/v1/files/" + std::string(kEncodedPath) + "/entries/");
    EXPECT_EQ(next, nextLink);
    ASSERT_EQ(2u, page.size());
    const CDirectoryEntry& directory = page.front();
    EXPECT_EQ(std::string(kPath) + "/sub", directory.path);
    EXPECT_TRUE(directory.isDirectory);
    EXPECT_EQ(kLargest, directory.id);
    EXPECT_EQ(0755u, directory.mode);  // a listing reads "0755" as octal
    ExpectTimesAndOwners(directory);
    const CDirectoryEntry& file = page.back();
    EXPECT_FALSE(file.isDirectory);
    EXPECT_EQ(4294967301u, file.id);
    EXPECT_EQ(0644u, file.mode);
    EXPECT_EQ(1099511627776u, file.size);

    ASSERT_FALSE(files.GetDirectoryEntries(kPath, page, nextLink, 0, nextLink).IsError());
    ExpectQuery(OnlyRequest(), next);
    EXPECT_EQ("", nextLink);
    ASSERT_EQ(1u, page.size());  // each call empties the caller's list first
    EXPECT_FALSE(page.front().isDirectory);
    EXPECT_EQ(0777u, page.front().mode);
    EXPECT_EQ(12u, page.front().size);
}

TEST_F(ScriptedFilesTest, SnapshotListingCarriesTheSnapshotId) {
    scripted::Queue(200, R"({"files":[],"paging":{"next":""}})");
    std::list<CDirectoryEntry> page(1);
    std::string nextLink = "old";
    ASSERT_FALSE(files.GetDirectoryEntries("/", page, nextLink, 2147483647, "").IsError());
    ExpectQuery(OnlyRequest(), "/v1/files/%2F/entries/?snapshot=2147483647");
    EXPECT_TRUE(page.empty());
    EXPECT_EQ("", nextLink);
}

TEST_F(ScriptedFilesTest, FileAttributesAreReadWithTheModeInDecimal) {
    scripted::Queue(200, EntryText("/home/caf\\u00e9/a b?#%+", "FS_FILE_TYPE_FILE", kLargestId,
                                   "0755", "18446744073709551615"));
    CFileAttributeInfo info;
    ASSERT_FALSE(files.GetFileAttributes(kPath, info, 0).IsError());
    ExpectQuery(OnlyRequest(), "/v1/files/" + std::string(kEncodedPath) + "/info/attributes");
    EXPECT_EQ(kPath, info.path);
    EXPECT_FALSE(info.isDirectory);
    EXPECT_EQ(kLargest, info.id);
    EXPECT_EQ(755u, info.mode);
    EXPECT_EQ(kLargest, info.size);
    ExpectTimesAndOwners(info);
}

TEST_F(ScriptedFilesTest, APathWithoutASeparatorIsRefusedBeforeAnyRequest) {
    CFileAttributeInfo info;
    const CZuError error = files.GetFileAttributes("relative", info, 0);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(87u, error.GetCode());
    EXPECT_TRUE(scripted::TakeRequests().empty());
}

TEST_F(ScriptedFilesTest, ABadTimeFailsTheListingAndKeepsTheLink) {
    scripted::Queue(
        200, R"({"files":[)" +
                 EntryText("/a", "FS_FILE_TYPE_FILE", "1", "0644", "1", "2106-02-32T06:28:16Z") +
                 R"(],"paging":{"next":"/more"}})");
    std::list<CDirectoryEntry> page;
    std::string nextLink = "kept";
    const CZuError error = files.GetDirectoryEntries("/a", page, nextLink, 0, "");
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("Cannot retrieve time from the string : 2106-02-32T06:28:16Z", error.GetMessage());
    EXPECT_EQ("kept", nextLink);
    OnlyRequest();
}

}  // namespace
