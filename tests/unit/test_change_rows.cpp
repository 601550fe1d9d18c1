// What `clusterctl changes` makes of a change record: the fields of a deletion left empty, the
// directories searched for the snapshot's source, relative paths, and paths a line can carry.
#include <gtest/gtest.h>

#include "ChangeRows.h"

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

}  // namespace
