#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "tests/support/ReferenceTime.h"
#include "tests/unit/json_text.h"
#include "tests/unit/parser_expectations.h"

using Cluster::CParser;
using parser_test::ArrayText;
using parser_test::IsFailure;
using parser_test::kPathFunction;
using parser_test::kTimeFunction;
using parser_test::Members;
using parser_test::ObjectText;

namespace {

struct TimeRow {
    const char* text;
    time_t expected;
};

TEST(ConvertStringToTimeStamp, ReadsClusterTimesAsUtc) {
    const TimeRow rows[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-01-01T00:00:00", 946684800},
        {"2021-03-04T05:06:07Z", 1614834367},
        {"2021-03-04T05:06:07", 1614834367},
        // The fraction of a second is dropped, whatever its length.
        {"2021-03-04T05:06:07.123456789Z", 1614834367},
        {"2021-03-04T05:06:07.9", 1614834367},
        // Leading white space is skipped.
        {" 2021-03-04T05:06:07Z", 1614834367},
        {"\t\n 2021-03-04T05:06:07Z", 1614834367},
        // Text after the time that is no zone offset does not matter.
        {"2021-03-04T05:06:07 and more", 1614834367},
        // Narrow fields, a blank-padded day and a lower-case "t", as the stream reading takes.
        {"2021-3-4T5:6:7Z", 1614834367},
        {"2021-03- 4T05:06:07", 1614834367},
        {"2021-03-04t05:06:07", 1614834367},
        {"21-03-04T05:06:07", -61499069633LL},
        // Days past the month's end run on into the next month; second 60 into the next minute.
        {"2021-02-30T05:06:07Z", 1614661567},
        {"2021-02-29T00:00:00", 1614556800},
        {"2021-04-31T00:00:00", 1619827200},
        {"2021-12-31T23:59:60", 1640995200},
        // A numeric offset is applied in each of its spellings.
        {"2021-03-04T05:06:07+01:00", 1614830767},
        {"2021-03-04T05:06:07+0100", 1614830767},
        {"2021-03-04T05:06:07+01", 1614830767},
        {"2021-03-04T05:06:07.5+01:00", 1614830767},
        {"2021-03-04T05:06:07-05:30", 1614854167},
        {"2021-03-04T05:06:07-00:00", 1614834367},
        {"2021-01-01T00:30:00+01:00", 1609457400},
        {"2021-3-4T5:6:7+01:00", 1614830767},
        {"2021-02-30T00:00:00-01:00", 1614646800},
        // A malformed offset is ignored like any other trailing text.
        {"2021-03-04T05:06:07+", 1614834367},
        {"2021-03-04T05:06:07+5", 1614834367},
        {"2021-03-04T05:06:07+01:60", 1614834367},
        {"2021-03-04T05:06:07-01000", 1614834367},
        {"2021-03-04T05:06:07+24:00", 1614834367},
        // Calendar corners: before 1970, leap days, past 32 bits, a leap second, year 0.
        {"1969-12-31T23:59:59Z", -1},
        {"1900-01-01T00:00:00Z", -2208988800LL},
        {"1601-01-01T00:00:00Z", -11644473600LL},
        {"2024-02-29T12:00:00Z", 1709208000},
        {"2000-02-29T00:00:00Z", 951782400},
        {"2038-01-19T03:14:08Z", 2147483648LL},
        {"9999-12-31T23:59:59Z", 253402300799LL},
        {"2016-12-31T23:59:60Z", 1483228800},
        {"0000-01-01T00:00:00Z", -62167219200LL},
    };
    for (const TimeRow& row : rows) {
        time_t value = 12345;
        const CZuError error = ConvertStringToTimeStamp(row.text, value);
        EXPECT_FALSE(error.IsError()) << row.text << ": " << error.ToString();
        EXPECT_EQ(row.expected, value) << row.text;
    }
}

TEST(ConvertStringToTimeStamp, RejectsTextsThatAreNoTimeAndKeepsTheOldValue) {
    const char* rows[] = {
        "",
        "   ",
        "not a time",
        "2021-03-04 05:06:07",
        "2021/03/04T05:06:07",
        // A time needs all six fields, whether it ends after a field or a separator.
        "2021",
        "2021-03",
        "2021-03-04",
        "2021-03-04T05:06",
        "2021-",
        "2021-03-",
        "2021-03- ",
        "2021-03-04T",
        "2021-03-04T05:06:",
        "T05:06:07",
        "20210-03-04T05:06:07Z",
        "+2021-03-04T05:06:07Z",
        "2021-003-04T05:06:07Z",
        // Only the day may be blank-padded, and by one blank.
        "2021- 3-04T05:06:07Z",
        "2021-03-  4T05:06:07Z",
        "2021-03-04T 5:06:07Z",
        "2021-03-04T05: 6:07Z",
        "2021-03-04T05:06: 7Z",
        // Fields out of the ranges the stream reading takes.
        "2021-13-04T05:06:07Z",
        "2021-00-04T05:06:07Z",
        "2021-03-32T05:06:07Z",
        "2021-03-00T05:06:07Z",
        "2021-03-04T24:00:00Z",
        "2021-03-04T05:60:00Z",
        "2021-03-04T05:06:61Z",
    };
    for (const char* text : rows) {
        time_t value = 12345;
        const CZuError error = ConvertStringToTimeStamp(text, value);
        EXPECT_TRUE(IsFailure(error, 774,
                              std::string("Cannot retrieve time from the string : ") + text,
                              {kTimeFunction}))
            << "text: '" << text << "'";
        EXPECT_EQ(12345, value) << text;
    }
}

// Compares the library with the original stream reading (as UTC) on one text whose tail
// carries no well-formed offset; returns whether the text was accepted.
bool ExpectSameAsStreamReading(const std::string& text) {
    const reference_time::Reading reference = reference_time::Read(text);
    const time_t old = 12345;
    time_t value = old;
    const bool accepted = !ConvertStringToTimeStamp(text, value).IsError();
    EXPECT_EQ(reference.accepted, accepted) << "text: '" << text << "'";
    EXPECT_EQ(reference.accepted ? reference.value : old, value) << "text: '" << text << "'";
    return accepted;
}

// Parts of a time text, each with its odd spellings; tails hold no well-formed offset.
const std::vector<std::vector<std::string>> kTimeParts = {
    {"", " ", "\t\n", "x"},
    {"2021", "21", "1", "0", "0000", "9999", "1969", "1600", "2024", "20210", "+2021", ""},
    {"-", "/", " -", ""},
    {"02", "2", "03", "12", "00", "13", "003", " 3", "1", "-1"},
    {"-"},
    {"04", "4", " 4", "\t4", "  4", "28", "29", "30", "31", "00", "32", "004", "40", ""},
    {"T", "t", " ", "TT", ""},
    {"05", "5", "00", "23", "24", " 5", "005"},
    {":", "::", ""},
    {"06", "6", "59", "60", "0"},
    {":"},
    {"07", "7", "60", "61", "007", "", "0", "9a"},
    {"",       "Z", "z",       ".123",   ".123Z",     ".",       "x",       " and more", "7",
     "\n",     "+", "+5",      "+01:60", "-01000",    "+1:00",   "+01:0",   "+24:00",    "+01:",
     "+0100:", "-", ".+01:00", ".5-",    "+01:00:00", "+ 01:00", "++01:00", "+a1:00",    "+0"},
};

TEST(ConvertStringToTimeStamp, MatchesTheStreamReadingOnGeneratedTexts) {
    std::mt19937 random(20261208);
    int accepted = 0;
    const int kTexts = 20000;
    for (int i = 0; i < kTexts; ++i) {
        std::string text;
        for (const std::vector<std::string>& choices : kTimeParts) {
            // Mostly the first (ordinary) spelling, so that many texts get far enough.
            const size_t pick = random() % 3 == 0 ? random() % choices.size() : 0;
            if (&choices == &kTimeParts.back() && random() % 4 == 0) {
                // Cut short at any point, after a field or after a separator (before the tail,
                // so that no cut makes a well-formed offset).
                text.resize(random() % (text.size() + 1));
                break;
            }
            text += choices[pick];
        }
        if (ExpectSameAsStreamReading(text)) ++accepted;
    }
    // Both outcomes are exercised in bulk.
    EXPECT_GT(accepted, kTexts / 10);
    EXPECT_LT(accepted, kTexts - kTexts / 10);
}

TEST(ConvertStringToTimeStamp, MatchesTheStreamReadingAfterEverySingleEdit) {
    const std::string bytes = std::string("0159 \t\v-:Tt.+Zx", 16) + std::string(1, '\0') + "\xC2";
    for (const std::string base : {"2021-03-04T05:06:07", "2021-2-28T23:59:59", "0-1-1T0:0:0Z"}) {
        for (size_t at = 0; at <= base.size(); ++at) {
            ExpectSameAsStreamReading(base.substr(0, at));
            if (at < base.size()) ExpectSameAsStreamReading(std::string(base).erase(at, 1));
            for (const char byte : bytes) {
                ExpectSameAsStreamReading(std::string(base).insert(at, 1, byte));
                if (at < base.size())
                    ExpectSameAsStreamReading(std::string(base).replace(at, 1, 1, byte));
            }
        }
    }
}

TEST(ConvertStringToTimeStamp, AppliesAWellFormedOffsetAndIgnoresAnyOther) {
    const char* bases[] = {"2021-03-04T05:06:07", "2021-3-4T5:6:7.25", "2021-02-30T23:59:60",
                           "0000-01-01T00:00:00", "9999-12-31T23:59:59.0"};
    for (const char* base : bases) {
        const reference_time::Reading reference = reference_time::Read(base);
        ASSERT_TRUE(reference.accepted) << base;
        for (const char sign : {'+', '-'}) {
            for (int hours = 0; hours < 100; hours += 1) {
                for (int minutes : {0, 1, 30, 59, 60, 99}) {
                    char hh[3], mm[3];
                    std::snprintf(hh, sizeof hh, "%02d", hours);
                    std::snprintf(mm, sizeof mm, "%02d", minutes);
                    const bool inRange = hours <= 23 && minutes <= 59;
                    const time_t east = (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
                    const std::string offset = std::string(1, sign) + hh;
                    const struct {
                        std::string text;
                        time_t expected;
                    } spellings[] = {
                        {offset + ":" + mm, inRange ? reference.value - east : reference.value},
                        {offset + mm + "Z", inRange ? reference.value - east : reference.value},
                        {offset + " " + mm,
                         hours <= 23 ? reference.value - (sign == '-' ? -1 : 1) * hours * 3600
                                     : reference.value},
                        // Followed by a digit or ":" it is malformed, so ignored.
                        {offset + ":" + mm + "0", reference.value},
                        {offset + mm + ":", reference.value},
                        {offset + ":" + mm + ":00", reference.value},
                    };
                    for (const auto& spelling : spellings) {
                        const std::string text = base + spelling.text;
                        time_t value = 12345;
                        EXPECT_FALSE(ConvertStringToTimeStamp(text, value).IsError()) << text;
                        EXPECT_EQ(spelling.expected, value) << text;
                    }
                }
            }
        }
    }
}

TEST(ConvertStringToTimeStamp, StopsAtAnEmbeddedNul) {
    time_t value = 0;
    const std::string text("2021-03-04T05:06:07Z\0+01:00", 27);
    ASSERT_FALSE(ConvertStringToTimeStamp(text, value).IsError());
    EXPECT_EQ(1614834367, value);

    const std::string date("2021-03-04\0T05:06:07Z", 21);
    value = 12345;
    EXPECT_TRUE(ConvertStringToTimeStamp(date, value).IsError());
    EXPECT_EQ(12345, value);

    const std::string cut(
        "2021-03-04T\0"
        "05:06:07Z",
        21);
    value = 12345;
    EXPECT_TRUE(ConvertStringToTimeStamp(cut, value).IsError());
    EXPECT_EQ(12345, value);
}

// A time the stream reading takes no longer fails a listing: both the light one-pass read of
// a directory page and the read of a snapshot listing.
TEST(ListingTimes, OddButReadableTimesDoNotFailAPage) {
    const Members entry = {
        {"path", R"("/data/a")"},
        {"type", R"("FS_FILE_TYPE_FILE")"},
        {"id", R"("1")"},
        {"mode", R"("0644")"},
        {"owner", R"("1")"},
        {"group", R"("1")"},
        {"size", R"("1")"},
        {"name", R"("a")"},
        {"num_links", "1"},
        {"change_time", R"("2021-02-30T05:06:07Z")"},
        {"modification_time", R"("2021-3-4T5:6:7+01:60")"},
        {"creation_time", R"("2021-03- 4T05:06:07-01:00")"},
    };
    const std::string page =
        ObjectText({{"paging", R"({"next": ""})"}, {"files", ArrayText({ObjectText(entry)})}});
    std::list<Cluster::CDirectoryEntry> entries;
    std::string nextLink = "old";
    const CZuError error = CParser().GetDirectoryEntries(page, entries, nextLink);
    ASSERT_FALSE(error.IsError()) << error.ToString();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(1614661567, entries.front().changeTime);
    EXPECT_EQ(1614834367, entries.front().modificationTime);
    EXPECT_EQ(1614837967, entries.front().creationTime);

    const Members snapshot = {
        {"in_delete", "false"},
        {"name", R"("nightly")"},
        {"source_file_id", R"("2")"},
        {"created_by_policy", "false"},
        {"expiration", R"("")"},
        {"directory_name", R"("nightly")"},
        {"id", "7"},
        {"timestamp", R"("2021-04-31T00:00:00+")"},
    };
    std::list<Cluster::CSnapshotInfo> snapshots;
    const CZuError listed = CParser().GetSnapshotsInformation(
        ObjectText({{"entries", ArrayText({ObjectText(snapshot)})}}), snapshots);
    ASSERT_FALSE(listed.IsError()) << listed.ToString();
    ASSERT_EQ(1u, snapshots.size());
    EXPECT_EQ(1619827200, snapshots.front().timestamp);
}

// Sets the process time zone for one scope and puts the previous one back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        const char* previous = std::getenv("TZ");
        m_hadZone = previous != nullptr;
        if (m_hadZone) m_previous = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_hadZone) {
            setenv("TZ", m_previous.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    bool m_hadZone = false;
    std::string m_previous;
};

// What local-time reading would give, to show that the zone is really in force.
time_t AsLocalStandardTime(int year, int month, int day, int hour) {
    std::tm broken{};
    broken.tm_year = year - 1900;
    broken.tm_mon = month - 1;
    broken.tm_mday = day;
    broken.tm_hour = hour;
    return std::mktime(&broken);
}

TEST(ConvertStringToTimeStamp, DoesNotDependOnTheProcessTimeZone) {
    // The second zone is Berlin's rule written out, so it holds without a zone database.
    for (const char* zone : {"Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3", "America/New_York"}) {
        const ScopedTimeZone scoped(zone);
        ASSERT_NE(1625140800, AsLocalStandardTime(2021, 7, 1, 12)) << zone << " is not in force";

        const TimeRow rows[] = {
            {"2021-07-01T12:00:00Z", 1625140800},      {"2021-07-01T12:00:00", 1625140800},
            {"2021-01-15T12:00:00Z", 1610712000},      {"1970-01-01T00:00:00Z", 0},
            {"2021-07-01T14:00:00+02:00", 1625140800}, {"2021-06-31T12:00:00", 1625140800},
        };
        for (const TimeRow& row : rows) {
            time_t value = 12345;
            EXPECT_FALSE(ConvertStringToTimeStamp(row.text, value).IsError()) << zone;
            EXPECT_EQ(row.expected, value) << row.text << " in " << zone;
        }
    }
}

struct PathRow {
    std::string path;
    std::string encoded;
};

TEST(ConvertPathToURLEncoding, EncodesEveryByteOutsideTheUnreservedSet) {
    const PathRow rows[] = {
        {"/", "%2F"},
        {"/home/user/", "%2Fhome%2Fuser%2F"},
        {"/a b/c", "%2Fa%20b%2Fc"},
        {"/a%b?c", "%2Fa%25b%3Fc"},
        {"a/b", "a%2Fb"},
        {"/AZaz09-._~", "%2FAZaz09-._~"},
        {"/#&+=:@!$'()*,;", "%2F%23%26%2B%3D%3A%40%21%24%27%28%29%2A%2C%3B"},
        {"/\"<>\\^`{|}[]", "%2F%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D"},
        {"/\xC3\xA9", "%2F%C3%A9"},
        {"/\xAB\xFF\x7F", "%2F%AB%FF%7F"},
        {"/\x01\t\n", "%2F%01%09%0A"},
        {std::string("/a\0b", 4), "%2Fa%00b"},
        {"//", "%2F%2F"},
    };
    CParser parser;
    for (const PathRow& row : rows) {
        std::string encoded = "left over";
        const CZuError error = parser.ConvertPathToURLEncoding(row.path, encoded);
        EXPECT_FALSE(error.IsError()) << row.path << ": " << error.ToString();
        EXPECT_EQ(row.encoded, encoded) << row.path;
    }
}

TEST(ConvertPathToURLEncoding, RejectsAPathWithoutSlashAndHandsItBackUnchanged) {
    CParser parser;
    for (const std::string path : {"", "file", "a b%c?", "\\windows\\path"}) {
        std::string encoded = "left over";
        const CZuError error = parser.ConvertPathToURLEncoding(path, encoded);
        EXPECT_TRUE(IsFailure(error, 87, "Invalid Path " + path, {kPathFunction}))
            << "path: '" << path << "'";
        EXPECT_EQ(path, encoded);
    }
}

}  // namespace
