#include "TreeDiff.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace clustersim {
namespace {

constexpr const char* kCreate = "CREATE";
constexpr const char* kDelete = "DELETE";
constexpr const char* kModify = "MODIFY";

using ChangeList = std::vector<Change>;

std::string EntryPath(const std::string& directoryPath, const std::string& name, const Node& node) {
    return directoryPath + name + (node.IsDirectory() ? "/" : "");
}

void AddSubtree(const char* op, const NodePtr& node, const std::string& path, ChangeList* out) {
    out->push_back({op, path});
    for (const auto& [name, child] : *node->children) {
        AddSubtree(op, child, EntryPath(path, name, *child), out);
    }
}

void DiffDirectories(const Node& before, const Node& after, const std::string& path,
                     ChangeList* out);

void DiffEntry(const std::string& directoryPath, const std::string& name, const NodePtr& before,
               const NodePtr& after, ChangeList* out) {
    if (before == after) return;
    const Attributes& old = before->attrs;
    const Attributes& now = after->attrs;
    if (old.id != now.id || old.type != now.type) {
        AddSubtree(kDelete, before, EntryPath(directoryPath, name, *before), out);
        AddSubtree(kCreate, after, EntryPath(directoryPath, name, *after), out);
    } else if (after->IsDirectory()) {
        DiffDirectories(*before, *after, EntryPath(directoryPath, name, *after), out);
    } else if (now.type == FileType::File &&
               (old.size != now.size || old.modificationTime != now.modificationTime)) {
        out->push_back({kModify, EntryPath(directoryPath, name, *after)});
    }
}

void DiffDirectories(const Node& before, const Node& after, const std::string& path,
                     ChangeList* out) {
    if (before.children == after.children) return;
    const Children& old = *before.children;
    const Children& now = *after.children;
    size_t i = 0;
    size_t j = 0;
    while (i < old.size() || j < now.size()) {
        if (j == now.size() || (i < old.size() && old[i].first < now[j].first)) {
            AddSubtree(kDelete, old[i].second, EntryPath(path, old[i].first, *old[i].second), out);
            ++i;
        } else if (i == old.size() || now[j].first < old[i].first) {
            AddSubtree(kCreate, now[j].second, EntryPath(path, now[j].first, *now[j].second), out);
            ++j;
        } else {
            DiffEntry(path, old[i].first, old[i].second, now[j].second, out);
            ++i;
            ++j;
        }
    }
}

// A path deleted and made anew reads in that order.
int OpRank(const char* op) {
    if (std::strcmp(op, kDelete) == 0) return 0;
    return std::strcmp(op, kModify) == 0 ? 1 : 2;
}

}  // namespace

std::vector<Change> DiffTrees(const NodePtr& before, const NodePtr& after,
                              const std::string& path) {
    ChangeList changes;
    DiffDirectories(*before, *after, path == "/" ? path : path + "/", &changes);
    const auto inOrder = [](const Change& a, const Change& b) {
        return std::forward_as_tuple(a.path, OpRank(a.op)) <
               std::forward_as_tuple(b.path, OpRank(b.op));
    };
    // The walk goes by name, which is path order already unless a name sorts below "/".
    if (!std::is_sorted(changes.begin(), changes.end(), inOrder)) {
        std::sort(changes.begin(), changes.end(), inOrder);
    }
    return changes;
}

}  // namespace clustersim
