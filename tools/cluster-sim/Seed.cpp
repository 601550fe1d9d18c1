#include "Seed.h"

#include <algorithm>
#include <string>

namespace clustersim {
namespace {

constexpr size_t kMinimumDigits = 7;

size_t DigitsFor(uint64_t count) {
    size_t digits = 1;
    for (uint64_t rest = count > 0 ? count - 1 : 0; rest >= 10; rest /= 10) ++digits;
    return std::max(digits, kMinimumDigits);
}

std::string NumberedName(char prefix, uint64_t index, size_t digits) {
    const std::string number = std::to_string(index);
    return prefix + std::string(digits > number.size() ? digits - number.size() : 0, '0') + number;
}

void SeedHome(FileTree& tree) {
    tree.WriteFile("/home/alice/notes 2026.txt", 1234);
    tree.WriteFile("/home/alice/a#b", 10);
    tree.WriteFile("/home/alice/50%+off?.txt", 2048);
    tree.WriteFile("/home/alice/café/résumé.pdf", 88000);
    tree.WriteFile("/home/alice/projects/plan.md", 512);
    tree.WriteFile("/home/bob/todo.txt", 64);
    tree.MakeSymlink("/home/bob/latest");
    tree.MakeDirectory("/home/bob/empty");
}

// Between the two snapshots: one file modified, one made, one deleted, one new directory.
void ChangeHome(FileTree& tree) {
    tree.WriteFile("/home/alice/notes 2026.txt", 4321);
    tree.WriteFile("/home/bob/new file.txt", 99);
    tree.Remove("/home/bob/todo.txt");
    tree.WriteFile("/home/carol/hello.txt", 5);
}

void SeedShares(ShareRegistry& shares) {
    shares.AddSmb({0, "home", "/home", "Home directories"});
    shares.AddSmb({0, "projects", "/home/alice/projects", "Données partagées — équipe"});
    shares.AddSmb({0, "data", "/srv/data", "Shared data"});
    shares.AddNfs({0, "/home", "/home", "Home directories"});
    shares.AddNfs({0, "/data", "/srv/data", "Daten für die Übersicht"});
    shares.AddNfs({0, "/projects", "/home/alice/projects", "Projects"});
}

}  // namespace

void SeedDemo(SimState& state) {
    SeedHome(state.tree);
    state.tree.WriteFile("/srv/data/report.csv", 70000);
    state.tree.WriteFile("/srv/data/archive/2025.tar", 3221225472);
    state.TakeSnapshot("home-daily-1", "/home", "");
    ChangeHome(state.tree);
    state.TakeSnapshot("home-daily-2", "/home", "");
    SeedShares(state.shares);
}

void SeedFiles(SimState& state, uint64_t count) {
    const size_t digits = DigitsFor(count);
    Children files;
    files.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        files.emplace_back(NumberedName('f', i, digits), state.tree.NewFile(i * 37 % 1000000));
    }
    state.tree.PutDirectory("/big", std::move(files));
}

// Names put created ("c…") before deleted ("d…") before modified ("m…"), already sorted.
void SeedDiff(SimState& state, uint64_t changes) {
    const uint64_t created = changes / 3;
    const uint64_t modified = changes / 3;
    const uint64_t deleted = changes - created - modified;
    const size_t digits = DigitsFor(changes);
    Children base;
    base.reserve(deleted + modified);
    for (uint64_t i = 0; i < deleted; ++i) {
        base.emplace_back(NumberedName('d', i, digits), state.tree.NewFile(100));
    }
    for (uint64_t i = 0; i < modified; ++i) {
        base.emplace_back(NumberedName('m', i, digits), state.tree.NewFile(100));
    }
    state.tree.PutDirectory("/diff", base);
    const SnapshotPtr older = state.TakeSnapshot("diff-base", "/diff", "");

    Children target;
    target.reserve(created + modified);
    for (uint64_t i = 0; i < created; ++i) {
        target.emplace_back(NumberedName('c', i, digits), state.tree.NewFile(200));
    }
    for (auto it = base.begin() + static_cast<std::ptrdiff_t>(deleted); it != base.end(); ++it) {
        target.emplace_back(it->first, state.tree.Rewritten(it->second, 200));
    }
    state.tree.PutDirectory("/diff", std::move(target));
    const SnapshotPtr newer = state.TakeSnapshot("diff-target", "/diff", "");
    state.snapshots.Changes(*newer, *older);  // worked out now, so the first page is fast too
}

}  // namespace clustersim
