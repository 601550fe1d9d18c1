// clusterctl's output formats, written to strings: CSV quoting, table columns that keep
// their width across pages, and --fields in each format.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Output.h"
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
