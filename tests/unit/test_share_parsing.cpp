// What only shares and exports do; what every record parser does is in
// test_record_contract.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/unit/json_text.h"
#include "tests/unit/record_descriptions.h"

using Cluster::CNFSExportEntry;
using Cluster::CParser;
using Cluster::CSMBShareEntry;
using parser_test::ArrayText;
using parser_test::LabelledText;
using parser_test::Members;
using parser_test::NfsExportRecord;
using parser_test::ObjectText;
using parser_test::Quoted;
using parser_test::SmbShareRecord;
using parser_test::With;

namespace {

struct IdRow {
    const char* text;
    uint64_t expected;
};

const IdRow kIdRows[] = {
    {"12", 12},    {"7", 7},
    {"0x1f", 31},  {"0x10", 16},
    {"017", 15},   {"010", 8},
    {"abc", 0},    {"", 0},
    {"12abc", 12}, {"18446744073709551616", std::numeric_limits<uint64_t>::max()},
};

const Members kShare = parser_test::SampleMembers<SmbShareRecord>();
const Members kExport = parser_test::SampleMembers<NfsExportRecord>();

CSMBShareEntry OldShare() {
    return SmbShareRecord::Old();
}

CNFSExportEntry OldExport() {
    return NfsExportRecord::Old();
}

std::string ShareElement(const std::string& name) {
    return LabelledText<SmbShareRecord>(name);
}

std::string ExportElement(const std::string& exportPath) {
    return LabelledText<NfsExportRecord>(exportPath);
}

TEST(GetSMBShareInformation, IdIsReadInTheAutomaticBaseAndModesStayText) {
    for (const IdRow& row : kIdRows) {
        CSMBShareEntry share = OldShare();
        const std::string text = ObjectText(With(kShare, "id", Quoted(row.text)));
        ASSERT_FALSE(CParser().GetSMBShareInformation(text, share).IsError()) << row.text;
        EXPECT_EQ(row.expected, share.id) << "'" << row.text << "'";
    }

    Members members = With(kShare, "default_file_create_mode", R"("0x1A4")");
    members = With(members, "default_directory_create_mode", R"(" 0755 ")");
    CSMBShareEntry share = OldShare();
    ASSERT_FALSE(CParser().GetSMBShareInformation(ObjectText(members), share).IsError());
    EXPECT_EQ("0x1A4", share.defaultFileCreateMode);
    EXPECT_EQ(" 0755 ", share.defaultDirectoryCreateMode);
}

TEST(GetNFSExportInformation, IdIsReadInTheAutomaticBase) {
    for (const IdRow& row : kIdRows) {
        CNFSExportEntry nfsExport = OldExport();
        const std::string text = ObjectText(With(kExport, "id", Quoted(row.text)));
        ASSERT_FALSE(CParser().GetNFSExportInformation(text, nfsExport).IsError()) << row.text;
        EXPECT_EQ(row.expected, nfsExport.id) << "'" << row.text << "'";
    }
}

// A listing hands its elements to the single-record operation without rewriting them; listings
// running at once on several threads must still each quote their own element.
TEST(ShareListings, ListingsOnSeveralThreadsQuoteTheirOwnElements) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string tag = "thread" + std::to_string(t);
            const std::string bad = ObjectText({{"tag", Quoted(tag)}});
            const std::string expectedSmb = "Unable to SMB share entry {\"tag\":\"" + tag +
                                            "\"} due to key 'read_only' not found";
            const std::string expectedNfs = "Unable to parse NFS export entry {\"tag\":\"" + tag +
                                            "\"} due to key 'description' not found";
            CParser parser;
            for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
                std::list<CSMBShareEntry> shares;
                const CZuError smb =
                    parser.GetSMBSharesInformation(ArrayText({ShareElement(tag), bad}), shares);
                if (smb.GetMessage() != expectedSmb || shares.size() != 1 ||
                    shares.front().shareName != tag) {
                    failures[t] = smb.GetMessage();
                }
                std::list<CNFSExportEntry> nfsExports;
                const CZuError nfs = parser.GetNFSExportsInformation(
                    ArrayText({ExportElement(tag), bad}), nfsExports);
                if (nfs.GetMessage() != expectedNfs || nfsExports.size() != 1) {
                    failures[t] = nfs.GetMessage();
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ("", failures[t]) << "thread " << t;
}

}  // namespace
