// What a tree walk keeps outside its connections: the queue of units, which spills to a file
// beyond its memory share and must hand back every unit once; and the checkpoint file, which
// must come back whole or not at all, and belong to one run at a time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ClusterWalk/Checkpoint.h"
#include "ClusterWalk/UnitQueue.h"
#include "ScratchDirectory.h"

namespace {

using clusterwalk::CCheckpointFile;
using clusterwalk::CheckpointHeader;
using clusterwalk::CSpillingUnitQueue;
using clusterwalk::WalkUnit;

WalkUnit Unit(uint64_t number) {
    WalkUnit unit = clusterwalk::RootUnit("/d" + std::to_string(number) + " \n%/", 0);
    unit.id = number;
    unit.delivered = number * 3;
    unit.ancestorIds = {1, number};
    unit.pageLink =
        number % 2 == 0 ? "" : "/v1/files/%2Fd/entries/?after=" + std::to_string(number);
    return unit;
}

// Units by id, with how often each came back.
std::map<uint64_t, unsigned> Drain(CSpillingUnitQueue& queue) {
    std::map<uint64_t, unsigned> seen;
    WalkUnit unit;
    while (queue.Pop(unit)) {
        EXPECT_EQ(unit, Unit(unit.id));
        ++seen[unit.id];
    }
    return seen;
}

TEST(SpillingUnitQueue, EveryUnitComesBackOnceWhateverSpilled) {
    ScratchDirectory scratch("queue");
    CSpillingUnitQueue queue(10, scratch.Path());
    for (uint64_t i = 1; i <= 95; ++i) queue.Push(Unit(i));
    EXPECT_GT(queue.Spilled(), 0u);
    EXPECT_EQ(queue.Size(), 95u);

    // A checkpoint sees them all without taking any.
    std::map<uint64_t, unsigned> visited;
    queue.ForEach([&](const WalkUnit& unit) { ++visited[unit.id]; });
    EXPECT_EQ(visited.size(), 95u);

    // Taking some and adding more between reads back from the file loses nothing.
    WalkUnit taken;
    std::map<uint64_t, unsigned> seen;
    for (int i = 0; i < 30 && queue.Pop(taken); ++i) ++seen[taken.id];
    for (uint64_t i = 96; i <= 140; ++i) queue.Push(Unit(i));
    for (const auto& [id, times] : Drain(queue)) seen[id] += times;
    ASSERT_EQ(seen.size(), 140u);
    for (const auto& [id, times] : seen) EXPECT_EQ(times, 1u) << id;
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(queue.Spilled(), 0u);
}

TEST(SpillingUnitQueue, UnwritableFolderFailsLoudlyNotSilently) {
    CSpillingUnitQueue queue(2, "/nonexistent-folder-for-spills");
    queue.Push(Unit(1));
    queue.Push(Unit(2));
    EXPECT_THROW(queue.Push(Unit(3)), std::runtime_error);
}

class CheckpointFileTest : public ::testing::Test {
  protected:
    CheckpointFileTest() : m_path(m_scratch.Path() + "/walk.checkpoint") {}

    bool Save(CCheckpointFile& file, const std::vector<WalkUnit>& units, std::string& error) {
        CheckpointHeader header;
        header.totals.entries = 12;
        header.totals.bytes = 18446744073709551615ull;
        header.totals.vanished = 2;
        header.note = "line one\nline two \x01\xff%-";
        return file.Save(
            header,
            [&](const CCheckpointFile::UnitVisitor& visit) {
                for (const WalkUnit& unit : units) visit(unit);
            },
            error);
    }

    ScratchDirectory m_scratch{"checkpoint"};
    const std::string m_path;
};

TEST_F(CheckpointFileTest, SavedStateComesBackWhole) {
    CCheckpointFile file;
    std::string error;
    ASSERT_TRUE(file.Open(m_path, error)) << error;
    EXPECT_FALSE(file.Exists());
    const std::vector<WalkUnit> units = {Unit(1), Unit(2), Unit(3)};
    ASSERT_TRUE(Save(file, units, error)) << error;
    EXPECT_TRUE(file.Exists());
    struct stat status {};
    ASSERT_EQ(::stat(m_path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u) << "paths and links are for the owner only";

    CheckpointHeader header;
    std::vector<WalkUnit> loaded;
    ASSERT_TRUE(file.Load(
        header, [&](const WalkUnit& unit) { loaded.push_back(unit); }, error))
        << error;
    EXPECT_EQ(loaded, units);
    EXPECT_EQ(header.totals.entries, 12u);
    EXPECT_EQ(header.totals.bytes, 18446744073709551615ull);
    EXPECT_EQ(header.totals.vanished, 2u);
    EXPECT_EQ(header.note, "line one\nline two \x01\xff%-");

    ASSERT_TRUE(file.Remove(error)) << error;
    EXPECT_FALSE(file.Exists());
}

TEST_F(CheckpointFileTest, DamagedFileIsRefusedWithItsLine) {
    CCheckpointFile file;
    std::string error;
    ASSERT_TRUE(file.Open(m_path, error)) << error;
    ASSERT_TRUE(Save(file, {Unit(1), Unit(2)}, error)) << error;
    std::ifstream in(m_path, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t end = whole.rfind("end ");
    const std::map<std::string, std::string> damaged = {
        {"cut before its end line", whole.substr(0, end)},
        {"a unit line lost", whole.substr(0, whole.find("unit1")) +
                                 whole.substr(whole.find('\n', whole.find("unit1")) + 1)},
        {"not a checkpoint", "hello\n"},
        {"bad totals", "clusterwalk-checkpoint 1\ntotals 1 2\nnote -\nend 0\n"},
        {"bad unit", "clusterwalk-checkpoint 1\ntotals 0 0 0 0 0 0\nnote -\nunit1 x\nend 1\n"},
    };
    for (const auto& [what, text] : damaged) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << text;
        CheckpointHeader header;
        header.note = "untouched";
        error.clear();
        EXPECT_FALSE(file.Load(
            header, [](const WalkUnit&) {}, error))
            << what;
        EXPECT_NE(error.find(m_path + " line "), std::string::npos) << what << ": " << error;
        EXPECT_EQ(header.note, "untouched") << what;
    }
}

TEST_F(CheckpointFileTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
    std::string error;
    {
        CCheckpointFile first;
        ASSERT_TRUE(first.Open(m_path, error)) << error;
        CCheckpointFile second;
        EXPECT_FALSE(second.Open(m_path, error));
        EXPECT_NE(error.find("is in use by another run"), std::string::npos) << error;
    }
    CCheckpointFile later;
    EXPECT_TRUE(later.Open(m_path, error)) << error;
}

TEST_F(CheckpointFileTest, FailedSaveKeepsTheCheckpointBefore) {
    CCheckpointFile file;
    std::string error;
    ASSERT_TRUE(file.Open(m_path, error)) << error;
    ASSERT_TRUE(Save(file, {Unit(1)}, error)) << error;
    CheckpointHeader header;
    const bool saved = file.Save(
        header,
        [](const CCheckpointFile::UnitVisitor& visit) {
            visit(Unit(7));
            throw std::runtime_error("queue file unreadable");
        },
        error);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("queue file unreadable"), std::string::npos) << error;
    std::vector<WalkUnit> loaded;
    ASSERT_TRUE(file.Load(
        header, [&](const WalkUnit& unit) { loaded.push_back(unit); }, error));
    EXPECT_EQ(loaded, std::vector<WalkUnit>{Unit(1)});
    struct stat status {};
    EXPECT_NE(::stat((m_path + ".new").c_str(), &status), 0) << "the half-written file stays";
}

}  // namespace
