// What `clusterctl find` keeps of a walk: entries by name, type, age, size and depth below the
// starting path. The criteria are read from the option texts once, so a mistyped value stops
// the command before anything is listed.
#pragma once

#include <climits>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "Cluster/ClusterParser.h"

namespace clusterctl {

// The option values as given; nullopt for an option not given.
struct FindOptionTexts {
    std::optional<std::string> name;      // --name GLOB
    std::optional<std::string> type;      // --type f|d
    std::optional<std::string> newer;     // --newer TIME
    std::optional<std::string> size;      // --size +N|-N|N
    std::optional<std::string> maxDepth;  // --maxdepth N
};

enum class EntryType { Any, File, Directory };

struct SizeCriterion {
    enum class Comparison { Larger, Smaller, Exactly };
    Comparison comparison = Comparison::Exactly;
    uint64_t bytes = 0;
};

struct FindCriteria {
    std::optional<std::string> nameGlob;  // fnmatch(3) on the base name, flags 0
    EntryType type = EntryType::Any;
    std::optional<time_t> modifiedAfter;  // strictly after
    std::optional<SizeCriterion> size;    // non-directories only
    std::optional<unsigned> maxDepth;
};

// The depth EntryDepth gives an entry that is not below the root: deeper than any --maxdepth.
constexpr unsigned kOutsideRoot = UINT_MAX;

// Each throws UsageError with a one-line reason for a value it cannot take. `now` is the time
// an age in --newer counts back from.
FindCriteria ParseFindCriteria(const FindOptionTexts& texts, time_t now);
EntryType ParseEntryType(const std::string& text);
// "YYYY-MM-DD" (midnight UTC), "YYYY-MM-DDTHH:MM:SSZ", or an age: digits and s, m, h, d or w.
time_t ParseNewer(const std::string& text, time_t now);
// Digits with an optional k, M, G or T (powers of 1024, any case) or c (bytes), led by "+"
// for larger than, "-" for smaller than, or nothing for exactly.
SizeCriterion ParseSizeCriterion(const std::string& text);
unsigned ParseMaxDepth(const std::string& text);

// The last component of `path`, a directory's trailing "/" left out.
std::string BaseName(const std::string& path);

// How many components `entryPath` lies below `root`: 1 for an entry directly in it, 0 for the
// root itself, kOutsideRoot for a path elsewhere. Either may end in "/".
unsigned EntryDepth(const std::string& root, const std::string& entryPath);

// Whether `entry`, `depth` (from EntryDepth) below the starting path, meets every criterion.
bool Matches(const FindCriteria& criteria, const Cluster::CDirectoryEntry& entry, unsigned depth);

}  // namespace clusterctl
