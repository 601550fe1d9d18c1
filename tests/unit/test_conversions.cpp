#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "Cluster/ClusterParser.h"
#include "tests/unit/parser_expectations.h"

using Cluster::CParser;
using parser_test::IsFailure;
using parser_test::kPathFunction;
using parser_test::kTimeFunction;

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
        // A numeric offset is applied in each of its spellings.
        {"2021-03-04T05:06:07+01:00", 1614830767},
        {"2021-03-04T05:06:07+0100", 1614830767},
        {"2021-03-04T05:06:07+01", 1614830767},
        {"2021-03-04T05:06:07.5+01:00", 1614830767},
        {"2021-03-04T05:06:07-05:30", 1614854167},
        {"2021-03-04T05:06:07-00:00", 1614834367},
        {"2021-01-01T00:30:00+01:00", 1609457400},
        // Calendar corners: before 1970, leap days, past 32 bits, a leap second.
        {"1969-12-31T23:59:59Z", -1},
        {"1900-01-01T00:00:00Z", -2208988800LL},
        {"1601-01-01T00:00:00Z", -11644473600LL},
        {"2024-02-29T12:00:00Z", 1709208000},
        {"2000-02-29T00:00:00Z", 951782400},
        {"2038-01-19T03:14:08Z", 2147483648LL},
        {"9999-12-31T23:59:59Z", 253402300799LL},
        {"2016-12-31T23:59:60Z", 1483228800},
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
        "2021-03-04",
        "2021-03-04 05:06:07",
        "2021/03/04T05:06:07",
        "2021-03-04T05:06",
        "T05:06:07",
        "20210-03-04T05:06:07Z",
        // Fields out of range.
        "2021-13-04T05:06:07Z",
        "2021-00-04T05:06:07Z",
        "2021-03-32T05:06:07Z",
        "2021-03-00T05:06:07Z",
        "2021-04-31T05:06:07Z",
        "2021-02-30T05:06:07Z",
        "2021-02-29T05:06:07Z",
        "1900-02-29T05:06:07Z",
        "2021-03-04T24:00:00Z",
        "2021-03-04T05:60:00Z",
        "2021-03-04T05:06:61Z",
        // An offset that starts but is malformed or out of range.
        "2021-03-04T05:06:07+",
        "2021-03-04T05:06:07+1:00",
        "2021-03-04T05:06:07+01:0",
        "2021-03-04T05:06:07-01000",
        "2021-03-04T05:06:07+24:00",
        "2021-03-04T05:06:07+01:60",
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

TEST(ConvertStringToTimeStamp, StopsAtAnEmbeddedNul) {
    time_t value = 0;
    const std::string text("2021-03-04T05:06:07Z\0+01:00", 27);
    ASSERT_FALSE(ConvertStringToTimeStamp(text, value).IsError());
    EXPECT_EQ(1614834367, value);

    const std::string cut("2021-03-04\0T05:06:07Z", 21);
    value = 12345;
    EXPECT_TRUE(ConvertStringToTimeStamp(cut, value).IsError());
    EXPECT_EQ(12345, value);
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
            {"2021-07-01T14:00:00+02:00", 1625140800},
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
