// What `clusterctl du` tallies and prints: totals that do not depend on the order entries
// arrive in, depth limits, a checkpoint form that survives any byte and refuses damage, and
// bars only where a person reads a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "DuReport.h"
#include "TreeEntries.h"

namespace {

using namespace clusterctl;
using tree_entries::Directory;
using tree_entries::File;
using Entries = std::vector<Cluster::CDirectoryEntry>;

// /r: a/ (f1 100, b/ (f2 20, c/ empty)), a-b/ (x 1), e/ empty, g 5; then the root itself and
// an entry beside it, which count nowhere.
const Entries kTree{Directory("/r/a/"),    File("/r/a/f1", 100),   Directory("/r/a/b/"),
                    File("/r/a/b/f2", 20), Directory("/r/a/b/c/"), Directory("/r/a-b/"),
                    File("/r/a-b/x", 1),   Directory("/r/e/"),     File("/r/g", 5),
                    Directory("/r/"),      File("/rx/y", 1000)};

// Path, bytes and entries of each row, in the order given.
std::string Described(const std::vector<DuRow>& rows) {
    std::string text;
    for (const DuRow& row : rows)
        text += row.path + " " + std::to_string(row.totals.bytes) + " " +
                std::to_string(row.totals.entries) + "\n";
    return text;
}

DuTally Tallied(const std::string& root, std::optional<unsigned> depth, Entries entries,
                unsigned seed = 0) {
    std::shuffle(entries.begin(), entries.end(), std::mt19937(seed));
    DuTally tally(root, depth);
    for (const auto& entry : entries) tally.Add(entry);
    return tally;
}

std::string Printed(const DuTally& tally, Format format, const DuDisplay& display,
                    bool human = false) {
    OutputOptions options;
    options.format = format;
    options.humanSizes = human;
    std::ostringstream out;
    PrintDuReport(out, options, tally, display);
    return out.str();
}

// Eighths of a cell a bar fills: a full block is eight, U+258F to U+2589 one to seven.
unsigned Eighths(const std::string& bar) {
    unsigned eighths = 0;
    for (size_t i = 0; i + 2 < bar.size(); ++i) {
        if (bar[i] == '\xE2' && bar[i + 1] == '\x96')
            eighths += bar[i + 2] == '\x88' ? 8 : 0x90 - static_cast<unsigned char>(bar[i + 2]);
    }
    return eighths;
}

TEST(DuTally, TotalsDoNotDependOnTheOrderEntriesArrive) {
    const std::string expected =
        "/r/ 126 9\n/r/a/ 120 4\n/r/a/b/ 20 2\n/r/a/b/c/ 0 0\n/r/a-b/ 1 1\n/r/e/ 0 0\n";
    for (unsigned seed = 0; seed < 20; ++seed)
        EXPECT_EQ(Described(Tallied("/r", std::nullopt, kTree, seed).Rows()), expected) << seed;
    EXPECT_EQ(Described(Tallied("/r/", std::nullopt, kTree).Rows()), expected);
}

TEST(DuTally, DepthLimitsRowsButNotTotals) {
    for (unsigned seed = 0; seed < 5; ++seed) {
        EXPECT_EQ(Described(Tallied("/r", 1, kTree, seed).Rows()),
                  "/r/ 126 9\n/r/a/ 120 4\n/r/a-b/ 1 1\n/r/e/ 0 0\n");
        EXPECT_EQ(Described(Tallied("/r", 0, kTree, seed).Rows()), "/r/ 126 9\n");
    }
    EXPECT_EQ(Described(DuTally("/r", 0).Rows()), "/r/ 0 0\n");
    EXPECT_EQ(
        Described(
            Tallied("/", 1, {Directory("/r/"), Directory("/r/a/"), File("/r/a/f1", 7)}).Rows()),
        "/ 7 3\n/r/ 7 2\n");
    const uint64_t huge = UINT64_MAX - 1;
    EXPECT_EQ(Tallied("/r", 0, {File("/r/f", huge), File("/r/g", huge)}).Rows()[0].totals.bytes,
              UINT64_MAX);
}

TEST(DuTally, SaveAndLoadKeepEveryByteOfAPath) {
    const std::string hostile = std::string("new\nline sp%25 \xFF\x01", 17) + '\0' + "\x1b[2J";
    const Entries entries{Directory("/r/" + hostile + "/"), File("/r/" + hostile + "/f", 9),
                          Directory("/r/%/")};
    const DuTally original = Tallied("/r", std::nullopt, entries);
    const std::string saved = original.Save();
    for (char c : saved) EXPECT_TRUE(c == '\n' || c == ' ' || (c > ' ' && c < 0x7F)) << int(c);
    DuTally restored("/r/", std::nullopt);
    std::string reason;
    ASSERT_TRUE(restored.Load(saved, reason)) << reason;
    EXPECT_EQ(Described(restored.Rows()), Described(original.Rows()));
    // Picked up after a restart, the walk goes on counting where it left off.
    restored.Add(File("/r/%/late", 1));
    EXPECT_EQ(restored.Rows()[0].totals.bytes, 10u);
    EXPECT_FALSE(DuTally("/s", std::nullopt).Load(saved, reason));
    EXPECT_FALSE(DuTally("/r", 1).Load(saved, reason));
}

TEST(DuTally, LoadRefusesDamagedTextAndKeepsWhatItHad) {
    const std::string saved = Tallied("/r", 2, kTree).Save();
    const std::string header = "clusterctl-du 1\nroot /r/\ndepth 2\n";
    ASSERT_EQ(saved.compare(0, header.size(), header), 0) << saved;
    const std::vector<std::string> damaged{
        "",
        "clusterctl-du 2\n" + saved.substr(16),
        saved.substr(0, saved.size() - 1),
        header,
        header + "/r/ 126 9\n/r/a/ 120\n",
        header + "/r/ 126 9\n/r/a/ 120 4 1\n",
        header + "/r/ 126 9\n/r/a/ 12x 4\n",
        header + "/r/ 126 9\n/r/a/ 18446744073709551616 4\n",
        header + "/r/ 126 9\n/r/%4/ 0 0\n",
        header + "/r/ 126 9\n/r/%ff/ 0 0\n",
        header + "/r/ 126 9\n/r/%41/ 0 0\n",
        header + "/r/ 126 9\n/r/a 0 0\n",
        header + "/r/ 126 9\n/s/a/ 0 0\n",
        header + "/r/ 126 9\n/r/a/ 0 0\n/r/a/ 0 0\n",
        header + "/r/ 126 9\n/r/a/b/c/ 0 0\n",
        header + "/r/ 126 9\n/r/a/b/ 0 0\n",
        header + "/r/ 126 9\n/r/a/ 127 4\n",
        header + "/r/ 126 9\n/r/a/ 0 9\n",
        header + "/r/ 10 3\n/r/a/ 0 1\n/r/a/b/ 0 0\n/r/a/b/c/ 0 0\n"};
    DuTally tally("/r", 2);
    tally.Add(File("/r/kept", 3));
    const std::string before = tally.Save();
    for (const std::string& text : damaged) {
        std::string reason;
        EXPECT_FALSE(tally.Load(text, reason)) << text;
        EXPECT_NE(reason, "") << text;
        EXPECT_EQ(tally.Save(), before) << text;
    }
    std::string reason;
    EXPECT_TRUE(tally.Load(header + "/r/ 126 9\n/r/a/ 120 4\n", reason)) << reason;
}

TEST(DuReport, PrintsEveryFormatInTreeOrderWithExactNumbers) {
    const DuTally tally =
        Tallied("/r", 1, {Directory("/r/a/"), File("/r/a/f", 1536), Directory("/r/e/")});
    const DuDisplay pipe;
    EXPECT_EQ(Printed(tally, Format::Json, pipe),
              "[\n{\"bytes\":1536,\"entries\":3,\"path\":\"/r/\"}\n"
              ",{\"bytes\":1536,\"entries\":1,\"path\":\"/r/a/\"}\n"
              ",{\"bytes\":0,\"entries\":0,\"path\":\"/r/e/\"}\n]\n");
    EXPECT_EQ(Printed(tally, Format::Csv, {true, 80}),
              "bytes,entries,path\r\n1536,3,/r/\r\n1536,1,/r/a/\r\n0,0,/r/e/\r\n");
    EXPECT_EQ(Printed(tally, Format::Table, pipe, true),
              "BYTES  ENTRIES  PATH\n 1.5K        3  /r/\n 1.5K        1  /r/a/\n"
              "    0        0  /r/e/\n");
    EXPECT_EQ(Printed(Tallied("/r", 1, {Directory("/r/\x1b]0;x\a/")}), Format::Table, pipe),
              "BYTES  ENTRIES  PATH\n    0        1  /r/\n    0        0  /r/\\e]0;x\\a/\n");
}

TEST(DuReport, BarsOnlyInATerminalTableFillItsWidthAndShareTheParent) {
    const DuTally tally = Tallied("/r", std::nullopt, kTree);
    EXPECT_EQ(Printed(tally, Format::Table, {}).find("\xE2\x96"), std::string::npos);
    EXPECT_EQ(Printed(tally, Format::JsonLines, {true, 60}).find("bar"), std::string::npos);

    std::istringstream table(Printed(tally, Format::Table, {true, 60}));
    std::string line;
    std::getline(table, line);
    const size_t barStart = line.find("BAR");
    const size_t pathStart = line.find("PATH");
    ASSERT_NE(barStart, std::string::npos);
    std::vector<unsigned> eighths;
    size_t widest = 0;
    while (std::getline(table, line)) {
        const size_t pathAt = line.find("  /r/");
        ASSERT_NE(pathAt, std::string::npos) << line;
        eighths.push_back(Eighths(line.substr(barStart, pathAt - barStart)));
        // Block characters are three bytes and one column wide.
        const size_t blocks =
            (line.size() - std::count(line.begin(), line.end(), ' ') - line.substr(pathAt).size()) /
            3;
        widest = std::max(widest, line.size() - 2 * blocks);
    }
    const unsigned full = eighths[0];
    EXPECT_EQ(full, 8 * (pathStart - barStart - 2));
    EXPECT_EQ(widest, 60u);
    // Rows: /r/, a/, a/b/, a/b/c/, a-b/, e/ with 126, 120, 20, 0, 1, 0 bytes.
    EXPECT_EQ(eighths[1], full * 120 / 126);
    EXPECT_EQ(eighths[2], full * 20 / 120);
    EXPECT_EQ(eighths[3], 0u);
    EXPECT_LE(eighths[1] + eighths[4] + eighths[5], full);
    EXPECT_GT(eighths[1] + eighths[4] + eighths[5], full - 8 * 3);
}

TEST(DuReport, ShareBarsRoundDownToAnEighth) {
    EXPECT_EQ(ShareBar(1, 2, 4), "\u2588\u2588  ");
    EXPECT_EQ(ShareBar(3, 8, 1), "\u258D");
    EXPECT_EQ(ShareBar(1, 16, 1), " ");
    EXPECT_EQ(ShareBar(5, 0, 3), "   ");
    EXPECT_EQ(ShareBar(9, 4, 2), "\u2588\u2588");
    EXPECT_EQ(ShareBar(UINT64_MAX - 1, UINT64_MAX, 2), "\u2588\u2589");
}

}  // namespace
