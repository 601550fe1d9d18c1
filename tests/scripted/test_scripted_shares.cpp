// SMB shares and NFS exports through the scripted client: each query's request and the
// records read from the replies.
#include <cstdint>
#include <limits>
#include <list>
#include <string>

#include "Cluster/ClusterShares.h"
#include "tests/scripted/ScriptedFixture.h"

using Cluster::CNFSExportEntry;
using Cluster::CShares;
using Cluster::CSMBShareEntry;
using scripted_test::kLargestId;

namespace {

constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();

std::string SmbShareText(const std::string& id, const std::string& name) {
    return R"({"id":")" + id + R"(","share_name":")" + name +
           R"(","fs_path":"/home/\u00e9quipe","description":"Partage \u00e9quipe",)"
           R"("read_only":true,"allow_guest_access":false,)"
           R"("access_based_enumeration_enabled":true,)"
           R"("default_file_create_mode":"0644","default_directory_create_mode":"0755",)"
           R"("permissions":[{"type":"ALLOWED","rights":["READ"]}]})";
}

std::string NfsExportText(const std::string& id, const std::string& exportPath) {
    return R"({"id":")" + id + R"(","export_path":")" + exportPath +
           R"(","fs_path":"/data/\u00e9t\u00e9","description":"Sauvegarde d'\u00e9t\u00e9",)"
           R"("restrictions":[{"read_only":false}]})";
}

void ExpectSmbShare(const CSMBShareEntry& share, uint64_t id, const std::string& name) {
    EXPECT_EQ(id, share.id);
    EXPECT_EQ(name, share.shareName);
    EXPECT_EQ("/home/\xC3\xA9quipe", share.fsPath);
    EXPECT_EQ("Partage \xC3\xA9quipe", share.description);
    EXPECT_TRUE(share.readOnly);
    EXPECT_FALSE(share.allowGuestAccess);
    EXPECT_TRUE(share.accessBasedEnumerationEnabled);
    EXPECT_EQ("0644", share.defaultFileCreateMode);
    EXPECT_EQ("0755", share.defaultDirectoryCreateMode);
}

void ExpectNfsExport(const CNFSExportEntry& nfsExport, uint64_t id, const std::string& path) {
    EXPECT_EQ(id, nfsExport.id);
    EXPECT_EQ(path, nfsExport.exportPath);
    EXPECT_EQ("/data/\xC3\xA9t\xC3\xA9", nfsExport.fsPath);
    EXPECT_EQ("Sauvegarde d'\xC3\xA9t\xC3\xA9", nfsExport.description);
}

class ScriptedSharesTest : public scripted_test::ScriptedTest {
  protected:
    void SetUp() override {
        ScriptedTest::SetUp();
        LogIn();
    }

    CShares shares{connection, parser};
};

TEST_F(ScriptedSharesTest, SmbSharesAreListed) {
    scripted::Queue(200, "[" + SmbShareText(kLargestId, "backup") + "," +
                             SmbShareText("4294967301", "caf\\u00e9") + "]");
    std::list<CSMBShareEntry> listed;
    ASSERT_FALSE(shares.GetSMBShares(listed).IsError());
    ExpectQuery(OnlyRequest(), "/v1/smb/shares/");
    ASSERT_EQ(2u, listed.size());
    ExpectSmbShare(listed.front(), kLargest, "backup");
    ExpectSmbShare(listed.back(), 4294967301u, "caf\xC3\xA9");
}

TEST_F(ScriptedSharesTest, OneSmbShareIsReadByItsId) {
    scripted::Queue(200, SmbShareText(kLargestId, "backup"));
    CSMBShareEntry share;
    ASSERT_FALSE(shares.GetSMBShare(kLargest, share).IsError());
    ExpectQuery(OnlyRequest(), "/v1/smb/shares/" + std::string(kLargestId));
    ExpectSmbShare(share, kLargest, "backup");
}

TEST_F(ScriptedSharesTest, NfsExportsAreListed) {
    scripted::Queue(200, "[" + NfsExportText("4294967301", "/exports/a") + "," +
                             NfsExportText(kLargestId, "/exports/\\u00e9") + "]");
    std::list<CNFSExportEntry> listed;
    ASSERT_FALSE(shares.GetNFSExports(listed).IsError());
    ExpectQuery(OnlyRequest(), "/v2/nfs/exports/");
    ASSERT_EQ(2u, listed.size());
    ExpectNfsExport(listed.front(), 4294967301u, "/exports/a");
    ExpectNfsExport(listed.back(), kLargest, "/exports/\xC3\xA9");
}

TEST_F(ScriptedSharesTest, OneNfsExportIsReadByItsId) {
    scripted::Queue(200, NfsExportText("7", "/exports/seven"));
    CNFSExportEntry nfsExport;
    ASSERT_FALSE(shares.GetNFSExport(7, nfsExport).IsError());
    ExpectQuery(OnlyRequest(), "/v2/nfs/exports/7");
    ExpectNfsExport(nfsExport, 7, "/exports/seven");
}

TEST_F(ScriptedSharesTest, AShareWithoutAKeyFailsAndNamesIt) {
    scripted::Queue(200, R"([{"id":"1"}])");
    std::list<CSMBShareEntry> listed;
    const CZuError error = shares.GetSMBShares(listed);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_NE(std::string::npos, error.GetMessage().find("read_only")) << error.GetMessage();
    EXPECT_TRUE(listed.empty());
    OnlyRequest();
}

}  // namespace
