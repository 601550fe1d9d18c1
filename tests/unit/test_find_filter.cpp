// What `clusterctl find` keeps: option values it must refuse, dates and ages to the second,
// size limits at their edges, globs on directory names and depths below the starting path.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "FindFilter.h"
#include "TreeEntries.h"
#include "UsageError.h"

namespace {

using namespace clusterctl;
using tree_entries::Directory;
using tree_entries::File;

constexpr time_t kNow = 1796744253;  // 2026-12-08T15:37:33Z

// The UsageError `parse` throws for a value, "" when it throws none.
template <typename Parse>
std::string Refusal(Parse parse) {
    try {
        parse();
    } catch (const UsageError& error) {
        return error.what();
    }
    return "";
}

time_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return timegm(&fields);
}

FindCriteria Criteria(const FindOptionTexts& texts) {
    return ParseFindCriteria(texts, kNow);
}

TEST(FindCriteriaParsing, RefusesBadValuesWithOneLineReasons) {
    const auto refusedEach = [](const std::vector<std::string>& values, auto parse) {
        for (const std::string& value : values) {
            const std::string reason = Refusal([&] { parse(value); });
            EXPECT_NE(reason, "") << value;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
        }
    };
    refusedEach({"x", "", "F", "dir"}, ParseEntryType);
    refusedEach({"2026-13-01", "2026-02-29", "2026-01-01T24:00:00Z", "2026-01-01T00:00:00",
                 "2026-1-01", "2026-01-01Z", "7", "7y", "-7d", "7D", "", "s",
                 "99999999999999999999s", "15250284452472w"},
                [](const std::string& value) { ParseNewer(value, kNow); });
    refusedEach({"", "+", "5x", "+-5", "5kk", " 5", "k", "18446744073709551616", "16777216T"},
                ParseSizeCriterion);
    refusedEach({"-1", "", "x", "4294967295", "1.5", "99999999999999999999"}, ParseMaxDepth);
    EXPECT_NE(Refusal([] { Criteria({{}, {}, {}, "5x", {}}); }), "");
    EXPECT_NE(Refusal([] { Criteria({{}, {}, {}, {}, "-1"}); }), "");
    EXPECT_NE(Refusal([] { ParseEntryType("l"); }).find("symbolic links"), std::string::npos);
    EXPECT_NE(Refusal([] { ParseSizeCriterion("5\x1b]0;x\a"); }).find("\\e"), std::string::npos);
    // A glob is fnmatch's to judge, an unclosed bracket included.
    EXPECT_EQ(Criteria({"[", {}, {}, {}, {}}).nameGlob, "[");
    EXPECT_EQ(ParseMaxDepth("4294967294"), 4294967294u);
    EXPECT_EQ(ParseSizeCriterion("16777215T").bytes, 16777215ull << 40);
}

TEST(FindCriteriaParsing, ReadsDatesInUtcAndAgesBackFromNow) {
    EXPECT_EQ(ParseNewer("2026-12-08", kNow), Utc(2026, 12, 8));
    EXPECT_EQ(ParseNewer("2026-12-08T15:37:33Z", kNow), kNow);
    EXPECT_EQ(ParseNewer("2024-02-29T23:59:59Z", kNow), Utc(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(ParseNewer("2000-03-01", kNow), Utc(2000, 3, 1));
    EXPECT_EQ(ParseNewer("1969-12-31", kNow), -86400);
    EXPECT_EQ(ParseNewer("90s", kNow), kNow - 90);
    EXPECT_EQ(ParseNewer("30m", kNow), kNow - 1800);
    EXPECT_EQ(ParseNewer("12h", kNow), kNow - 43200);
    EXPECT_EQ(ParseNewer("7d", kNow), kNow - 7 * 86400);
    EXPECT_EQ(ParseNewer("2w", kNow), kNow - 14 * 86400);
    EXPECT_EQ(ParseNewer("0s", kNow), kNow);
}

TEST(FindMatching, NewerIsStrictlyAfter) {
    const FindCriteria criteria = Criteria({{}, {}, "2026-12-08T15:37:33Z", {}, {}});
    EXPECT_FALSE(Matches(criteria, File("/r/a", 1, kNow - 1), 1));
    EXPECT_FALSE(Matches(criteria, File("/r/a", 1, kNow), 1));
    EXPECT_TRUE(Matches(criteria, File("/r/a", 1, kNow + 1), 1));
}

TEST(FindMatching, SizesCompareAtTheirEdgesAndLeaveDirectoriesOut) {
    const auto kept = [](const std::string& size) {
        std::vector<uint64_t> sizes;
        const FindCriteria criteria = Criteria({{}, {}, {}, size, {}});
        for (uint64_t bytes : {0, 1, 1023, 1024, 1025})
            if (Matches(criteria, File("/r/f", bytes), 1)) sizes.push_back(bytes);
        EXPECT_FALSE(Matches(criteria, Directory("/r/d/", 1024), 1)) << size;
        return sizes;
    };
    EXPECT_EQ(kept("+1k"), (std::vector<uint64_t>{1025}));
    EXPECT_EQ(kept("-1K"), (std::vector<uint64_t>{0, 1, 1023}));
    EXPECT_EQ(kept("1k"), (std::vector<uint64_t>{1024}));
    EXPECT_EQ(kept("1024c"), (std::vector<uint64_t>{1024}));
    EXPECT_EQ(kept("+0"), (std::vector<uint64_t>{1, 1023, 1024, 1025}));
    EXPECT_EQ(kept("-1"), (std::vector<uint64_t>{0}));
    EXPECT_EQ(ParseSizeCriterion("3M").bytes, 3u << 20);
    EXPECT_EQ(ParseSizeCriterion("2g").bytes, 2ull << 30);
    EXPECT_EQ(ParseSizeCriterion("-1T").bytes, 1ull << 40);
}

TEST(FindMatching, GlobsSeeTheBaseNameWithoutTheDirectorySlash) {
    const auto named = [](const std::string& glob, const Cluster::CDirectoryEntry& entry) {
        return Matches(Criteria({glob, {}, {}, {}, {}}), entry, 2);
    };
    EXPECT_EQ(BaseName("/r/logs/"), "logs");
    EXPECT_EQ(BaseName("/r/a.txt"), "a.txt");
    EXPECT_EQ(BaseName("/"), "");
    EXPECT_TRUE(named("logs", Directory("/r/logs/")));
    EXPECT_TRUE(named("l*s", Directory("/r/logs/")));
    EXPECT_FALSE(named("logs/", Directory("/r/logs/")));
    EXPECT_FALSE(named("r", Directory("/r/logs/")));
    EXPECT_TRUE(named("*.txt", File("/r/d/a.txt", 1)));
    EXPECT_FALSE(named("*.txt", File("/r/a.txt/b", 1)));
    EXPECT_TRUE(named("*", File("/r/.hidden", 1)));
    EXPECT_FALSE(named("a*", File(std::string("/r/a\0b", 6), 1)));
}

TEST(FindMatching, TypeAndEveryCriterionTogether) {
    const FindCriteria files = Criteria({"*.log", "f", "1d", "+10", "2"});
    EXPECT_TRUE(Matches(files, File("/r/a/x.log", 11, kNow), 2));
    EXPECT_FALSE(Matches(files, Directory("/r/a/x.log/"), 2));
    EXPECT_FALSE(Matches(files, File("/r/a/x.log", 10, kNow), 2));
    EXPECT_FALSE(Matches(files, File("/r/a/x.log", 11, kNow - 86400), 2));
    EXPECT_FALSE(Matches(files, File("/r/a/x.txt", 11, kNow), 2));
    EXPECT_FALSE(Matches(files, File("/r/a/b/x.log", 11, kNow), 3));
    const FindCriteria directories = Criteria({{}, "d", {}, {}, {}});
    EXPECT_TRUE(Matches(directories, Directory("/r/a/"), 1));
    EXPECT_FALSE(Matches(directories, File("/r/a", 0), 1));
}

TEST(FindDepth, CountsComponentsBelowTheRootWithOrWithoutSlashes) {
    EXPECT_EQ(EntryDepth("/r", "/r/a"), 1u);
    EXPECT_EQ(EntryDepth("/r/", "/r/a"), 1u);
    EXPECT_EQ(EntryDepth("/r", "/r/a/"), 1u);
    EXPECT_EQ(EntryDepth("/r/", "/r/a/b/"), 2u);
    EXPECT_EQ(EntryDepth("/r", "/r/a/b/c"), 3u);
    EXPECT_EQ(EntryDepth("/", "/a/"), 1u);
    EXPECT_EQ(EntryDepth("/", "/a/b"), 2u);
    EXPECT_EQ(EntryDepth("/r", "/r/"), 0u);
    EXPECT_EQ(EntryDepth("/r/", "/r"), 0u);
    EXPECT_EQ(EntryDepth("/r", "/rx/a"), kOutsideRoot);
    EXPECT_EQ(EntryDepth("/r/a", "/r/"), kOutsideRoot);

    const FindCriteria criteria = Criteria({{}, {}, {}, {}, "1"});
    EXPECT_TRUE(Matches(criteria, File("/r/a", 1), EntryDepth("/r", "/r/a")));
    EXPECT_FALSE(Matches(criteria, File("/r/a/b", 1), EntryDepth("/r", "/r/a/b")));
    EXPECT_FALSE(Matches(criteria, File("/rx/a", 1), EntryDepth("/r", "/rx/a")));
    EXPECT_TRUE(Matches(Criteria({{}, {}, {}, {}, "0"}), Directory("/r/"), 0));
}

}  // namespace
