// What `clusterctl changes` makes of a change record: the fields of a deletion left empty, the
// directories searched for the snapshot's source, relative paths, paths a line can carry; and
// how the writer checks a batch before writing it, splits off deletions and resumes.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <sstream>

#include "ChangeRows.h"
#include "ChangeWriter.h"
#include "Failure.h"
#include "UsageError.h"

namespace {

using clusterctl::ChangeRecordFields;
using clusterctl::EnclosingDirectories;
using clusterctl::FitsOnLine;
using clusterctl::RelativeTo;

const clusterctl::Field* Named(const clusterctl::Fields& fields, const std::string& name) {
    for (const clusterctl::Field& field : fields)
        if (field.name == name) return &field;
    return nullptr;
}

TEST(ChangeRows, DeletionHasNoAttributeFieldsAndAModifyHasThemAll) {
    clusterwalk::ChangeRecord deletion;
    deletion.operation = Cluster::SNAPSHOT_DIFF_DELETE;
    deletion.kind = clusterwalk::ChangeKind::Delete;
    deletion.path = "/a/gone/";
    deletion.isDirectory = true;
    const clusterctl::Fields gone = ChangeRecordFields(deletion, {});
    ASSERT_NE(Named(gone, "type"), nullptr);
    EXPECT_EQ(Named(gone, "type")->text, "directory");
    EXPECT_EQ(Named(gone, "op")->text, "delete");
    for (const char* field : {"size", "mode", "owner", "group", "id", "modification_time"})
        EXPECT_EQ(Named(gone, field), nullptr) << field << " would show a made-up value";

    clusterwalk::ChangeRecord modify;
    modify.operation = Cluster::SNAPSHOT_DIFF_MODIFY;
    modify.kind = clusterwalk::ChangeKind::MetadataModify;
    modify.path = "/a/f";
    modify.hasAttributes = true;
    modify.attributes.path = "/a/f";
    modify.attributes.size = 5;
    modify.attributes.mode = 0640;
    const clusterctl::Fields kept = ChangeRecordFields(modify, {});
    EXPECT_EQ(Named(kept, "kind")->text, "metadata");
    EXPECT_EQ(Named(kept, "mode")->text, "0640");
    EXPECT_EQ(Named(kept, "size")->number, 5u);
    EXPECT_EQ(kept.back().name, "path");
    EXPECT_EQ(kept.size(), ChangeRecordFields({}, {}).size()) << "the prototype names them all";
}

TEST(ChangeRows, SourceIsSoughtFromTheNearestDirectoryUp) {
    EXPECT_EQ(EnclosingDirectories("/a/b/c"), (std::vector<std::string>{"/a/b/", "/a/", "/"}));
    EXPECT_EQ(EnclosingDirectories("/a/b/"), (std::vector<std::string>{"/a/b/", "/a/", "/"}));
    EXPECT_EQ(EnclosingDirectories("/"), (std::vector<std::string>{"/"}));
    EXPECT_TRUE(EnclosingDirectories("relative/path").empty());
}

TEST(ChangeRows, RelativePathsKeepTheirTrailingSlashAndRefuseOthers) {
    std::string relative;
    ASSERT_TRUE(RelativeTo("/home/", "/home/alice/notes.txt", relative));
    EXPECT_EQ(relative, "alice/notes.txt");
    ASSERT_TRUE(RelativeTo("/home/", "/home/alice/", relative));
    EXPECT_EQ(relative, "alice/");
    ASSERT_TRUE(RelativeTo("/home/", "/home/", relative));
    EXPECT_EQ(relative, "./");
    EXPECT_FALSE(RelativeTo("/home/", "/homes/x", relative)) << "a sibling sharing the prefix";
    EXPECT_FALSE(RelativeTo("/home/", "/other", relative));
}

TEST(ChangeRows, OnlyControlBytesKeepAPathOffALine) {
    EXPECT_TRUE(FitsOnLine("/a/café b#c"));
    EXPECT_TRUE(FitsOnLine("/a/\xff\xfe"));
    EXPECT_FALSE(FitsOnLine("/a/line\nbreak"));
    EXPECT_FALSE(FitsOnLine("/a/cr\r"));
    EXPECT_FALSE(FitsOnLine("/a/tab\t"));
    EXPECT_FALSE(FitsOnLine(std::string("/a/\x7f")));
}

clusterwalk::ChangeRecord Change(Cluster::SnapshotDiffOperation operation, std::string path) {
    clusterwalk::ChangeRecord change;
    change.operation = operation;
    change.kind = operation == Cluster::SNAPSHOT_DIFF_DELETE   ? clusterwalk::ChangeKind::Delete
                  : operation == Cluster::SNAPSHOT_DIFF_CREATE ? clusterwalk::ChangeKind::Create
                                                               : clusterwalk::ChangeKind::Modify;
    change.path = std::move(path);
    change.isDirectory = change.path.back() == '/';
    return change;
}

TEST(ChangeWriter, BatchWithAPathNoLineCarriesWritesNothingOfIt) {
    std::ostringstream out;
    const clusterctl::OutputOptions output;
    clusterctl::ChangeWriter writer(out, nullptr, output, true, "");
    std::vector<clusterwalk::ChangeRecord> batch{
        Change(Cluster::SNAPSHOT_DIFF_CREATE, "/a/fine"),
        Change(Cluster::SNAPSHOT_DIFF_CREATE, "/a/line\nend"),
        Change(Cluster::SNAPSHOT_DIFF_CREATE, "/a/also fine")};
    EXPECT_THROW(writer.Take(batch), clusterctl::Failure);
    EXPECT_EQ(out.str(), "");
    batch.erase(batch.begin() + 1);
    writer.Take(batch);
    EXPECT_EQ(out.str(), "/a/fine\n/a/also fine\n");
}

TEST(ChangeWriter, RelativePathsFailForAChangeOutsideTheSource) {
    std::ostringstream out;
    clusterctl::OutputOptions output;
    output.format = clusterctl::Format::Paths;
    clusterctl::ChangeWriter writer(out, nullptr, output, false, "/home/");
    std::vector<clusterwalk::ChangeRecord> inside{Change(Cluster::SNAPSHOT_DIFF_MODIFY, "/home/a/"),
                                                  Change(Cluster::SNAPSHOT_DIFF_DELETE, "/home/b")};
    writer.Take(inside);
    EXPECT_EQ(out.str(), std::string("a/\0b\0", 5));
    std::vector<clusterwalk::ChangeRecord> outside{Change(Cluster::SNAPSHOT_DIFF_CREATE, "/etc/x")};
    try {
        writer.Take(outside);
        ADD_FAILURE() << "a path outside the source was written";
    } catch (const clusterctl::Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("/etc/x"), std::string::npos) << failure.what();
    }
}

// A resumed run appends to the output the checkpoint committed: its rows join the same JSON
// array, and the deletions keep their own.
TEST(ChangeWriter, ResumedJsonGoesOnWithTheSameArrays) {
    clusterctl::OutputOptions output;
    output.format = clusterctl::Format::Json;
    std::ostringstream out;
    std::ostringstream deleted;
    std::string state;
    {
        clusterctl::ChangeWriter first(out, &deleted, output, false, "");
        std::vector<clusterwalk::ChangeRecord> batch{Change(Cluster::SNAPSHOT_DIFF_CREATE, "/n"),
                                                     Change(Cluster::SNAPSHOT_DIFF_DELETE, "/d")};
        first.Take(batch);
        state = first.SaveState();
    }
    EXPECT_EQ(state, "rows 1 1");
    clusterctl::ChangeWriter second(out, &deleted, output, false, "");
    second.RestoreState(state);
    std::vector<clusterwalk::ChangeRecord> batch{Change(Cluster::SNAPSHOT_DIFF_MODIFY, "/m")};
    second.Take(batch);
    second.Finish();
    rapidjson::Document rows;
    rows.Parse(out.str().c_str());
    ASSERT_TRUE(rows.IsArray()) << out.str();
    ASSERT_EQ(rows.Size(), 2u) << out.str();
    EXPECT_STREQ(rows[1]["path"].GetString(), "/m");
    EXPECT_TRUE(rows[1]["size"].IsNull()) << "a modify without attributes has no size";
    rapidjson::Document deletions;
    deletions.Parse(deleted.str().c_str());
    ASSERT_TRUE(deletions.IsArray()) << deleted.str();
    ASSERT_EQ(deletions.Size(), 1u);
    EXPECT_STREQ(deletions[0]["op"].GetString(), "delete");

    EXPECT_THROW(second.RestoreState("rows 3"), clusterctl::UsageError);
    EXPECT_THROW(second.RestoreState("entries 3 0"), clusterctl::UsageError);
}

}  // namespace
