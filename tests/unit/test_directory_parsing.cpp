// What only directory entries do; what every record parser does is in test_record_contract.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/unit/json_text.h"
#include "tests/unit/record_descriptions.h"

using Cluster::CDirectoryEntry;
using Cluster::CFileAttributeInfo;
using Cluster::CParser;
using parser_test::ArrayText;
using parser_test::DirectoryEntryRecord;
using parser_test::Members;
using parser_test::ObjectText;
using parser_test::Quoted;
using parser_test::With;

namespace {

const Members kEntry = parser_test::SampleMembers<DirectoryEntryRecord>();

CDirectoryEntry OldEntry() {
    return DirectoryEntryRecord::Old();
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

}  // namespace
