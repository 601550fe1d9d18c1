#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/unit/json_text.h"
#include "tests/unit/parser_expectations.h"

using Cluster::CNFSExportEntry;
using Cluster::CParser;
using Cluster::CSMBShareEntry;
using parser_test::ArrayText;
using parser_test::IsFailure;
using parser_test::kNfsExportFunction;
using parser_test::kNfsExportsFunction;
using parser_test::kSmbShareFunction;
using parser_test::kSmbSharesFunction;
using parser_test::Members;
using parser_test::ObjectText;
using parser_test::Quoted;
using parser_test::With;
using parser_test::Without;

namespace {

template <class Record>
struct FieldCheck {
    const char* key;
    std::function<bool(const Record&)> assigned;  // holds the full object's value
    std::function<bool(const Record&)> kept;      // holds the old record's value
};

// Fields read before `failedKey` hold the new values, it and the later ones the old values.
template <class Record>
void ExpectAssignedUpTo(const std::vector<FieldCheck<Record>>& readingOrder, const Record& record,
                        const std::string& failedKey) {
    bool reached = false;
    for (const FieldCheck<Record>& check : readingOrder) {
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

// Array elements that are no object: as written, in compact form, and why they were refused.
struct NonObjectRow {
    const char* element;
    const char* compact;
    const char* reason;
};

const NonObjectRow kNonObjectRows[] = {
    {R"("share")", R"("share")", "value is a string, not an object"},
    {"12", "12", "value is an integer, not an object"},
    {"null", "null", "value is null, not an object"},
    {"false", "false", "value is a boolean, not an object"},
    {R"([ {"b": 1, "a": "x"} ])", R"([{"a":"x","b":1}])", "value is an array, not an object"},
};

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

// ---------------------------------------------------------------------------------------------
// SMB shares

const Members kShare = {
    {"id", R"("0x1f")"},
    {"share_name", R"("projects")"},
    {"default_file_create_mode", R"("0644")"},
    {"read_only", "true"},
    {"fs_path", R"("/data/projects")"},
    {"description", R"("Team projects")"},
    {"access_based_enumeration_enabled", "true"},
    {"default_directory_create_mode", R"("0755")"},
    {"allow_guest_access", "true"},
};

CSMBShareEntry OldShare() {
    CSMBShareEntry share;
    share.readOnly = false;
    share.description = "old description";
    share.shareName = "old name";
    share.defaultDirectoryCreateMode = "0700";
    share.fsPath = "/old";
    share.allowGuestAccess = false;
    share.accessBasedEnumerationEnabled = false;
    share.id = 999;
    share.defaultFileCreateMode = "0600";
    return share;
}

const std::vector<FieldCheck<CSMBShareEntry>>& ShareReadingOrder() {
    using R = CSMBShareEntry;
    static const std::vector<FieldCheck<R>> checks = {
        {"read_only", [](const R& r) { return r.readOnly; },
         [](const R& r) { return !r.readOnly; }},
        {"description", [](const R& r) { return r.description == "Team projects"; },
         [](const R& r) { return r.description == "old description"; }},
        {"share_name", [](const R& r) { return r.shareName == "projects"; },
         [](const R& r) { return r.shareName == "old name"; }},
        {"default_directory_create_mode",
         [](const R& r) { return r.defaultDirectoryCreateMode == "0755"; },
         [](const R& r) { return r.defaultDirectoryCreateMode == "0700"; }},
        {"fs_path", [](const R& r) { return r.fsPath == "/data/projects"; },
         [](const R& r) { return r.fsPath == "/old"; }},
        {"allow_guest_access", [](const R& r) { return r.allowGuestAccess; },
         [](const R& r) { return !r.allowGuestAccess; }},
        {"access_based_enumeration_enabled",
         [](const R& r) { return r.accessBasedEnumerationEnabled; },
         [](const R& r) { return !r.accessBasedEnumerationEnabled; }},
        {"id", [](const R& r) { return r.id == 31; }, [](const R& r) { return r.id == 999; }},
        {"default_file_create_mode", [](const R& r) { return r.defaultFileCreateMode == "0644"; },
         [](const R& r) { return r.defaultFileCreateMode == "0600"; }},
    };
    return checks;
}

TEST(GetSMBShareInformation, FillsEveryFieldAndIgnoresOtherKeys) {
    Members members = With(kShare, "id_number", "5");
    members = With(members, "permissions", R"([{"trustee": {"name": "x"}, "rights": ["READ"]}])");
    members = With(members, "require_encryption", "null");
    CSMBShareEntry share = OldShare();
    const CZuError error = CParser().GetSMBShareInformation(ObjectText(members), share);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    for (const auto& check : ShareReadingOrder()) EXPECT_TRUE(check.assigned(share)) << check.key;
}

TEST(GetSMBShareInformation, MissingKeyFailsAndStopsTheReadThere) {
    for (const auto& check : ShareReadingOrder()) {
        const std::string text = ObjectText(Without(kShare, check.key));
        CSMBShareEntry share = OldShare();
        const CZuError error = CParser().GetSMBShareInformation(text, share);
        EXPECT_TRUE(IsFailure(
            error, 774,
            "Unable to SMB share entry " + text + " due to key '" + check.key + "' not found",
            {kSmbShareFunction}))
            << check.key;
        ExpectAssignedUpTo(ShareReadingOrder(), share, check.key);
    }
}

TEST(GetSMBShareInformation, ValueOfAnotherKindIsABadEntry) {
    const WrongKindRow rows[] = {
        {"read_only", R"("true")", "key 'read_only' is not a boolean (it is a string)"},
        {"description", "null", "key 'description' is not a string (it is null)"},
        {"default_directory_create_mode", "755",
         "key 'default_directory_create_mode' is not a string (it is an integer)"},
        {"allow_guest_access", "0", "key 'allow_guest_access' is not a boolean (it is an integer)"},
        {"id", "12", "key 'id' is not a string (it is an integer)"},
        {"default_file_create_mode", "420",
         "key 'default_file_create_mode' is not a string (it is an integer)"},
    };
    for (const WrongKindRow& row : rows) {
        const std::string text = ObjectText(With(kShare, row.key, row.value));
        CSMBShareEntry share = OldShare();
        const CZuError error = CParser().GetSMBShareInformation(text, share);
        EXPECT_TRUE(IsFailure(error, 774,
                              "Unable to SMB share entry " + text + " due to " + row.reason,
                              {kSmbShareFunction}))
            << row.key;
        ExpectAssignedUpTo(ShareReadingOrder(), share, row.key);
    }
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

TEST(GetSMBShareInformation, TextThatIsNoObjectLeavesTheRecordAlone) {
    for (const std::string& text : {"[" + ObjectText(kShare) + "]", std::string("[]"),
                                    std::string(""), std::string("{\"id\": \"1\"")}) {
        CSMBShareEntry share = OldShare();
        const CZuError error = CParser().GetSMBShareInformation(text, share);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kSmbShareFunction}))
            << text;
        ExpectAssignedUpTo(ShareReadingOrder(), share, "read_only");
    }
}

std::string ShareElement(const std::string& name) {
    return ObjectText(With(kShare, "share_name", Quoted(name)));
}

std::list<CSMBShareEntry> SharesHoldingOne() {
    std::list<CSMBShareEntry> shares(1);
    shares.front().shareName = "earlier";
    return shares;
}

std::vector<std::string> Names(const std::list<CSMBShareEntry>& shares) {
    std::vector<std::string> names;
    for (const CSMBShareEntry& share : shares) names.push_back(share.shareName);
    return names;
}

TEST(GetSMBSharesInformation, EmptyArrayKeepsTheList) {
    std::list<CSMBShareEntry> shares = SharesHoldingOne();
    ASSERT_FALSE(CParser().GetSMBSharesInformation(" [ ] ", shares).IsError());
    EXPECT_EQ(std::vector<std::string>({"earlier"}), Names(shares));
}

TEST(GetSMBSharesInformation, AppendsAfterExistingRecordsInArrayOrder) {
    std::list<CSMBShareEntry> shares = SharesHoldingOne();
    const std::string text = ArrayText({ShareElement("z"), ShareElement("a"), ShareElement("m")});
    const CZuError error = CParser().GetSMBSharesInformation(text, shares);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    ASSERT_EQ(std::vector<std::string>({"earlier", "z", "a", "m"}), Names(shares));
    for (const auto& check : ShareReadingOrder()) {
        if (std::string(check.key) != "share_name") {
            EXPECT_TRUE(check.assigned(shares.back())) << check.key;
        }
    }
}

TEST(GetSMBSharesInformation, BadElementIsQuotedInCompactFormAndEndsTheCall) {
    const Members second = {
        {"read_only", "false"},
        {"description", R"("tab\there, \"quoted\"")"},
        {"id", R"("2")"},
        {"acl", R"({"z": 1, "a": [ {"y": null, "x": true} ]})"},
    };
    const std::string compact =
        R"({"acl":{"a":[{"x":true,"y":null}],"z":1},"description":"tab\there, \"quoted\"",)"
        R"("id":"2","read_only":false})";
    std::list<CSMBShareEntry> shares = SharesHoldingOne();
    const std::string text =
        ArrayText({ShareElement("first"), ObjectText(second), ShareElement("third")});
    const CZuError error = CParser().GetSMBSharesInformation(text, shares);
    EXPECT_TRUE(IsFailure(
        error, 774, "Unable to SMB share entry " + compact + " due to key 'share_name' not found",
        {kSmbShareFunction, kSmbSharesFunction}));
    EXPECT_EQ(std::vector<std::string>({"earlier", "first"}), Names(shares));
}

TEST(GetSMBSharesInformation, ElementThatIsNoObjectIsReportedNotThrown) {
    for (const NonObjectRow& row : kNonObjectRows) {
        std::list<CSMBShareEntry> shares = SharesHoldingOne();
        const std::string text =
            ArrayText({ShareElement("first"), row.element, ShareElement("third")});
        CZuError error;
        ASSERT_NO_THROW(error = CParser().GetSMBSharesInformation(text, shares)) << row.element;
        EXPECT_TRUE(IsFailure(
            error, 774,
            std::string("Unable to SMB share entry ") + row.compact + " due to " + row.reason,
            {kSmbSharesFunction}))
            << row.element;
        EXPECT_EQ(std::vector<std::string>({"earlier", "first"}), Names(shares));
    }
}

TEST(GetSMBSharesInformation, ReplyThatIsNoArrayLeavesTheListAlone) {
    for (const std::string& text : {ObjectText(kShare), std::string(R"({"entries": []})"),
                                    std::string(""), std::string("[")}) {
        std::list<CSMBShareEntry> shares = SharesHoldingOne();
        const CZuError error = CParser().GetSMBSharesInformation(text, shares);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kSmbSharesFunction}))
            << text;
        EXPECT_EQ(std::vector<std::string>({"earlier"}), Names(shares));
    }
}

// ---------------------------------------------------------------------------------------------
// NFS exports

const Members kExport = {
    {"export_path", R"("/exports/data")"},
    {"fs_path", R"("/data")"},
    {"id", R"("0x10")"},
    {"description", R"("Data for the lab")"},
    {"restrictions", R"([{"host_restrictions": [], "read_only": false}])"},
};

CNFSExportEntry OldExport() {
    CNFSExportEntry nfsExport;
    nfsExport.description = "old description";
    nfsExport.id = 999;
    nfsExport.fsPath = "/old";
    nfsExport.exportPath = "/exports/old";
    return nfsExport;
}

const std::vector<FieldCheck<CNFSExportEntry>>& ExportReadingOrder() {
    using R = CNFSExportEntry;
    static const std::vector<FieldCheck<R>> checks = {
        {"description", [](const R& r) { return r.description == "Data for the lab"; },
         [](const R& r) { return r.description == "old description"; }},
        {"id", [](const R& r) { return r.id == 16; }, [](const R& r) { return r.id == 999; }},
        {"fs_path", [](const R& r) { return r.fsPath == "/data"; },
         [](const R& r) { return r.fsPath == "/old"; }},
        {"export_path", [](const R& r) { return r.exportPath == "/exports/data"; },
         [](const R& r) { return r.exportPath == "/exports/old"; }},
    };
    return checks;
}

TEST(GetNFSExportInformation, FillsEveryFieldAndIgnoresOtherKeys) {
    CNFSExportEntry nfsExport = OldExport();
    const CZuError error = CParser().GetNFSExportInformation(ObjectText(kExport), nfsExport);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    for (const auto& check : ExportReadingOrder())
        EXPECT_TRUE(check.assigned(nfsExport)) << check.key;
}

TEST(GetNFSExportInformation, MissingKeyFailsAndStopsTheReadThere) {
    for (const auto& check : ExportReadingOrder()) {
        const std::string text = ObjectText(Without(kExport, check.key));
        CNFSExportEntry nfsExport = OldExport();
        const CZuError error = CParser().GetNFSExportInformation(text, nfsExport);
        EXPECT_TRUE(IsFailure(error, 774,
                              "Unable to parse NFS export entry " + text + " due to key '" +
                                  check.key + "' not found",
                              {kNfsExportFunction}))
            << check.key;
        ExpectAssignedUpTo(ExportReadingOrder(), nfsExport, check.key);
    }
}

TEST(GetNFSExportInformation, ValueOfAnotherKindIsABadEntry) {
    const WrongKindRow rows[] = {
        {"description", "null", "key 'description' is not a string (it is null)"},
        {"id", "7", "key 'id' is not a string (it is an integer)"},
        {"fs_path", "[]", "key 'fs_path' is not a string (it is an array)"},
        {"export_path", "true", "key 'export_path' is not a string (it is a boolean)"},
    };
    for (const WrongKindRow& row : rows) {
        const std::string text = ObjectText(With(kExport, row.key, row.value));
        CNFSExportEntry nfsExport = OldExport();
        const CZuError error = CParser().GetNFSExportInformation(text, nfsExport);
        EXPECT_TRUE(IsFailure(error, 774,
                              "Unable to parse NFS export entry " + text + " due to " + row.reason,
                              {kNfsExportFunction}))
            << row.key;
        ExpectAssignedUpTo(ExportReadingOrder(), nfsExport, row.key);
    }
}

TEST(GetNFSExportInformation, IdIsReadInTheAutomaticBase) {
    for (const IdRow& row : kIdRows) {
        CNFSExportEntry nfsExport = OldExport();
        const std::string text = ObjectText(With(kExport, "id", Quoted(row.text)));
        ASSERT_FALSE(CParser().GetNFSExportInformation(text, nfsExport).IsError()) << row.text;
        EXPECT_EQ(row.expected, nfsExport.id) << "'" << row.text << "'";
    }
}

TEST(GetNFSExportInformation, TextThatIsNoObjectLeavesTheRecordAlone) {
    for (const std::string& text :
         {"[" + ObjectText(kExport) + "]", std::string(""), std::string("null")}) {
        CNFSExportEntry nfsExport = OldExport();
        const CZuError error = CParser().GetNFSExportInformation(text, nfsExport);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kNfsExportFunction}))
            << text;
        ExpectAssignedUpTo(ExportReadingOrder(), nfsExport, "description");
    }
}

std::string ExportElement(const std::string& exportPath) {
    return ObjectText(With(kExport, "export_path", Quoted(exportPath)));
}

std::list<CNFSExportEntry> ExportsHoldingOne() {
    std::list<CNFSExportEntry> nfsExports(1);
    nfsExports.front().exportPath = "/earlier";
    return nfsExports;
}

std::vector<std::string> ExportPaths(const std::list<CNFSExportEntry>& nfsExports) {
    std::vector<std::string> paths;
    for (const CNFSExportEntry& nfsExport : nfsExports) paths.push_back(nfsExport.exportPath);
    return paths;
}

TEST(GetNFSExportsInformation, EmptyArrayKeepsTheList) {
    std::list<CNFSExportEntry> nfsExports = ExportsHoldingOne();
    ASSERT_FALSE(CParser().GetNFSExportsInformation("[]", nfsExports).IsError());
    EXPECT_EQ(std::vector<std::string>({"/earlier"}), ExportPaths(nfsExports));
}

TEST(GetNFSExportsInformation, AppendsAfterExistingRecordsInArrayOrder) {
    std::list<CNFSExportEntry> nfsExports = ExportsHoldingOne();
    const std::string text = ArrayText({ExportElement("/b"), ExportElement("/a")});
    const CZuError error = CParser().GetNFSExportsInformation(text, nfsExports);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    ASSERT_EQ(std::vector<std::string>({"/earlier", "/b", "/a"}), ExportPaths(nfsExports));
    EXPECT_EQ(16u, nfsExports.back().id);
    EXPECT_EQ("/data", nfsExports.back().fsPath);
    EXPECT_EQ("Data for the lab", nfsExports.back().description);
}

TEST(GetNFSExportsInformation, ThirdElementWithoutFsPathIsQuotedInCompactForm) {
    std::list<CNFSExportEntry> nfsExports = ExportsHoldingOne();
    const std::string third = ObjectText({{"id", R"("3")"},
                                          {"export_path", R"("/exports/\u0041")"},
                                          {"description", R"("")"},
                                          {"clients", R"({"b": "2", "a": "1"})"}});
    const std::string text =
        ArrayText({ExportElement("/one"), ExportElement("/two"), third, ExportElement("/four")});
    const CZuError error = CParser().GetNFSExportsInformation(text, nfsExports);
    EXPECT_TRUE(IsFailure(error, 774,
                          R"(Unable to parse NFS export entry {"clients":{"a":"1","b":"2"},)"
                          R"("description":"","export_path":"/exports/A","id":"3"} due to )"
                          "key 'fs_path' not found",
                          {kNfsExportFunction, kNfsExportsFunction}));
    EXPECT_EQ(std::vector<std::string>({"/earlier", "/one", "/two"}), ExportPaths(nfsExports));
}

TEST(GetNFSExportsInformation, ElementThatIsNoObjectIsReportedNotThrown) {
    for (const NonObjectRow& row : kNonObjectRows) {
        std::list<CNFSExportEntry> nfsExports = ExportsHoldingOne();
        const std::string text =
            ArrayText({ExportElement("/one"), row.element, ExportElement("/three")});
        CZuError error;
        ASSERT_NO_THROW(error = CParser().GetNFSExportsInformation(text, nfsExports))
            << row.element;
        EXPECT_TRUE(IsFailure(error, 774,
                              std::string("Unable to parse NFS export entry ") + row.compact +
                                  " due to " + row.reason,
                              {kNfsExportsFunction}))
            << row.element;
        EXPECT_EQ(std::vector<std::string>({"/earlier", "/one"}), ExportPaths(nfsExports));
    }
}

TEST(GetNFSExportsInformation, ReplyThatIsNoArrayLeavesTheListAlone) {
    for (const std::string& text :
         {ObjectText(kExport), std::string(""), std::string("[" + ObjectText(kExport))}) {
        std::list<CNFSExportEntry> nfsExports = ExportsHoldingOne();
        const CZuError error = CParser().GetNFSExportsInformation(text, nfsExports);
        EXPECT_TRUE(
            IsFailure(error, 774, "Cannot get JSON object from " + text, {kNfsExportsFunction}))
            << text;
        EXPECT_EQ(std::vector<std::string>({"/earlier"}), ExportPaths(nfsExports));
    }
}

// ---------------------------------------------------------------------------------------------
// Several threads

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
