// clusterctl's output as scripts and people get it: one JSON document or none, CSV that reads
// back, --fields and --no-headers, table columns that stay put across pages, failed writes,
// and the cluster's own file types.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <regex>
#include <string>
#include <vector>

#include "ClusterctlFixture.h"

namespace {

using namespace ctltest;

class ClusterctlOutput : public ClusterctlTest {};

using CsvRecords = std::vector<Strings>;

// RFC 4180 as a script's CSV reader takes it: quoted fields may hold commas, quotes doubled
// and line ends; records end with CRLF.
CsvRecords ParseCsv(const std::string& text) {
    CsvRecords records(1, Strings(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = records.back().back();
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            records.back().emplace_back();
        } else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            records.emplace_back(1);
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "an unclosed quote in " << text;
    EXPECT_EQ(records.back(), Strings(1)) << "the last record has no CRLF: " << text;
    records.pop_back();
    return records;
}

TEST_F(ClusterctlOutput, JsonListingsAreOneDocumentOnlyWhenComplete) {
    const Outcome tree = Ctl({"ls", "-R", "/tree", "-o", "json"});
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_EQ(JsonArray(tree.out).size(), 22u) << tree.out;  // three directories, five pages

    s_sim->TakeSnapshot("for-json", "/tree");
    EXPECT_FALSE(JsonArray(Ctl({"snapshots", "list", "-o", "json"}).out).empty());

    s_sim->MakeDirectory("/empty");
    EXPECT_EQ(Ctl({"ls", "/empty", "-o", "json"}).out, "[]\n");

    clustersim::Fault fault;
    fault.pathPrefix = "/v1/files/%2Ftree/entries/?";  // the second page onwards
    s_sim->AddFault(fault);
    const Outcome cut = Ctl({"ls", "/tree", "-o", "json"});
    EXPECT_EQ(cut.status, 1) << cut.err;
    rapidjson::Document document;
    document.Parse(cut.out.c_str());
    EXPECT_TRUE(document.HasParseError()) << "a listing cut short parses:\n" << cut.out;
    EXPECT_EQ(Lines(cut.out).size(), 1 + kPageSize) << cut.out;  // "[" and the first page
}

TEST_F(ClusterctlOutput, CsvReadsBackEveryByteOfAName) {
    const std::string odd = "/csv/a,\"b\"\nc\r d";
    s_sim->WriteFile(odd, 42);
    s_sim->WriteFile("/csv/plain", 7);
    const Outcome run = Ctl({"ls", "/csv", "-o", "csv", "--fields", "path,size"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ParseCsv(run.out), (CsvRecords{{"path", "size"}, {odd, "42"}, {"/csv/plain", "7"}}));
}

TEST_F(ClusterctlOutput, FieldsAndHeadingsAreAsAsked) {
    const Outcome json = Ctl({"ls", "/tree", "-o", "jsonl", "--fields", "path,id,size"});
    const auto rows = JsonLines(json.out);
    ASSERT_EQ(rows.size(), 11u) << json.out;
    std::vector<std::string> keys;
    for (const auto& member : rows.front().GetObject()) keys.push_back(member.name.GetString());
    EXPECT_EQ(keys, (Strings{"path", "id", "size"}));  // id is a detail, named here

    EXPECT_EQ(Ctl({"stat", "/tree/f00", "--fields", "path,size"}).out,
              "path: /tree/f00\nsize: 1536\n");

    const Strings bare = Lines(Ctl({"ls", "-l", "/tree", "--no-headers"}).out);
    ASSERT_EQ(bare.size(), 11u);
    EXPECT_EQ(bare[0].rfind("file ", 0), 0u) << bare[0];

    s_sim->MakeDirectory("/nothing");
    const size_t snapshots = JsonLines(Ctl({"snapshots", "list", "-o", "jsonl"}).out).size();
    for (const Strings& args :
         {Strings{"ls", "/tree", "--fields", "path,bogus"},
          Strings{"ls", "/nothing", "-o", "json", "--fields", "bogus"},
          Strings{"snapshots", "create", "x", "--source", "/tree", "--fields", "bogus"}}) {
        const Outcome run = Ctl(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("bogus"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("id, "), std::string::npos) << "no field list:\n" << run.err;
    }
    EXPECT_EQ(JsonLines(Ctl({"snapshots", "list", "-o", "jsonl"}).out).size(), snapshots)
        << "a snapshot was created despite the unknown field";
}

TEST_F(ClusterctlOutput, TableColumnsStayWhereTheFirstPageSetThem) {
    for (int i = 0; i < 7; ++i) s_sim->WriteFile("/wide/a" + std::to_string(i), 1);
    s_sim->WriteFile("/wide/b", 12345678);              // wider than page one, within reason
    s_sim->WriteFile("/wide/c", 1234567890123456789u);  // wider than any column expects
    const Outcome run = Ctl({"ls", "-l", "/wide"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Strings lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 10u) << run.out;
    const size_t pathColumn = lines[0].find("PATH");
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t at = lines[i].find("/wide/");
        if (lines[i].find("/wide/c") == std::string::npos) {
            EXPECT_EQ(at, pathColumn) << run.out;
        } else {
            EXPECT_GT(at, pathColumn) << run.out;
        }
    }
}

TEST_F(ClusterctlOutput, FailedWritesFailTheRunAndStopTheWalk) {
    child::Options toFullDisk;
    toFullDisk.stdoutFile = "/dev/full";
    s_sim->ClearJournal();
    const Outcome listed = Ctl({"ls", "-R", "/tree"}, toFullDisk);
    EXPECT_EQ(listed.status, 1) << listed.err;
    EXPECT_NE(listed.err.find("cannot write output: No space left on device"), std::string::npos)
        << listed.err;
    size_t pages = 0;
    for (const auto& entry : s_sim->Journal())
        pages += entry.target.find("/entries/") != std::string::npos;
    // The first page, and the second, fetched ahead while the first was read.
    EXPECT_EQ(pages, 2u) << "pages were fetched after the output failed";

    const Outcome item = Ctl({"stat", "/tree/f00", "-o", "json"}, toFullDisk);
    EXPECT_EQ(item.status, 1) << item.err;
    EXPECT_NE(item.err.find("No space left on device"), std::string::npos) << item.err;
}

TEST_F(ClusterctlOutput, StatNamesTheClusterType) {
    s_sim->MakeSymlink("/links/latest");
    EXPECT_TRUE(
        std::regex_search(Ctl({"stat", "/links/latest"}).out, std::regex("^type: +symlink\n")));
    for (const auto& [path, type] :
         {std::pair<std::string, std::string>{"/links/latest", "symlink"},
          {"/links", "directory"},
          {"/tree/f00", "file"}}) {
        rapidjson::Document item;
        item.Parse(Ctl({"stat", path, "-o", "json"}).out.c_str());
        ASSERT_TRUE(item.IsObject()) << path;
        EXPECT_EQ(Text(item, "type"), type) << path;
    }
}

}  // namespace
