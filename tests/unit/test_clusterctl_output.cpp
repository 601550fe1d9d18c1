// clusterctl's output formats, written to strings: CSV quoting, table columns that keep
// their width across pages, and --fields in each format.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "Output.h"
#include "Records.h"
#include "UsageError.h"

namespace {

using namespace clusterctl;
using Pages = std::vector<std::vector<Fields>>;

// A record with a number column of typical width 8, a detail and a text.
Fields Row(const std::string& path, uint64_t size) {
    return {Typically(8, NumberField("size", size)), Detail(NumberField("id", 7)),
            TextField("path", path)};
}

std::string Listed(const OutputOptions& options, const Pages& pages, bool finish = true) {
    std::ostringstream out;
    Listing listing(out, options, Row("", 0));
    for (const auto& page : pages) {
        for (const Fields& row : page) listing.Add(row);
        listing.Flush();
    }
    if (finish) listing.Finish();
    return out.str();
}

OutputOptions As(Format format, std::vector<std::string> fields = {}, bool headers = true) {
    OutputOptions options;
    options.format = format;
    options.fields = std::move(fields);
    options.headers = headers;
    return options;
}

TEST(ClusterctlOutputFormat, CsvQuotesOnlyWhatItMust) {
    EXPECT_EQ(CsvField("plain caf\xC3\xA9 \xFF"), "plain caf\xC3\xA9 \xFF");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines\r"), "\"two\nlines\r\"");
    EXPECT_EQ(CsvField(""), "");

    const Pages pages{{Row("/a,\"b\"", 1)}, {Row("/c", 2)}};
    EXPECT_EQ(Listed(As(Format::Csv), pages), "size,id,path\r\n1,7,\"/a,\"\"b\"\"\"\r\n2,7,/c\r\n");
    EXPECT_EQ(Listed(As(Format::Csv, {}, false), pages), "1,7,\"/a,\"\"b\"\"\"\r\n2,7,/c\r\n");
    EXPECT_EQ(Listed(As(Format::Csv), {}), "size,id,path\r\n");
}

TEST(ClusterctlOutputFormat, StreamedTableKeepsTheWidthsOfItsFirstPage) {
    const Pages pages{{Row("/a", 1)}, {Row("/b", 123456), Row("/c", 12345678901)}};
    EXPECT_EQ(Listed(As(Format::Table), pages),
              "SIZE      PATH\n"
              "       1  /a\n"
              "  123456  /b\n"
              "12345678901  /c\n");
    EXPECT_EQ(Listed(As(Format::Table, {}, false), pages),
              "       1  /a\n  123456  /b\n12345678901  /c\n");
    // Rows that reach Finish unflushed are all there is: the column fits them.
    std::ostringstream whole;
    Listing listing(whole, As(Format::Table), Row("", 0));
    listing.Add(Row("/a", 1));
    listing.Add(Row("/b", 123456));
    listing.Finish();
    EXPECT_EQ(whole.str(), "SIZE    PATH\n     1  /a\n123456  /b\n");
}

TEST(ClusterctlOutputFormat, FieldsChooseAndOrderWhatEveryFormatShows) {
    const std::vector<std::string> fields{"path", "id"};
    const Pages pages{{Row("/a", 1)}};
    EXPECT_EQ(Listed(As(Format::Json, fields), pages), "[\n{\"path\":\"/a\",\"id\":7}\n]\n");
    EXPECT_EQ(Listed(As(Format::Csv, fields), pages), "path,id\r\n/a,7\r\n");
    EXPECT_EQ(Listed(As(Format::Table, fields), pages), "PATH  ID\n/a     7\n");
    std::ostringstream item;
    PrintItem(item, As(Format::Table, fields), Row("/a", 1));
    EXPECT_EQ(item.str(), "path: /a\nid:   7\n");

    // Checked before anything is written, for listings and items alike.
    std::ostringstream out;
    EXPECT_THROW(Listing(out, As(Format::Json, {"path", "bogus"}), Row("", 0)).Finish(),
                 UsageError);
    EXPECT_THROW(PrintItem(out, As(Format::Table, {"id", "id"}), Row("/a", 1)), UsageError);
    EXPECT_EQ(out.str(), "");
}

}  // namespace

// Times are written by hand for speed; the C library's reading is the reference, from the
// year 1000 on, where its years have four digits as RFC 3339's must.
TEST(ClusterctlOutputFormat, IsoTimeWritesWhatGmtimeAndStrftimeWrite) {
    constexpr time_t kYear1000 = -30610224000;
    std::vector<time_t> times = {
        0,          -1,     59,         86399,     86400,         951782400,    951868799,
        4102444799, -86401, 1709251199, kYear1000, kYear1000 - 1, 253402300799, 253402300800};
    for (time_t time = kYear1000; time < 253402300799; time += 7777777 + time % 86399)
        times.push_back(time);
    for (const time_t time : times) {
        struct tm utc {};
        char expected[48] = "";
        ASSERT_NE(gmtime_r(&time, &utc), nullptr) << time;
        std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", &utc);
        if (utc.tm_year + 1900 < 1000) continue;
        EXPECT_EQ(clusterctl::IsoTime(time), expected) << time;
    }
    EXPECT_EQ(clusterctl::IsoTime(-62135596800), "0001-01-01T00:00:00Z");
    EXPECT_EQ(clusterctl::IsoTime(-62135596801), "0000-12-31T23:59:59Z");
}
