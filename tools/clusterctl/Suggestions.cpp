#include "Suggestions.h"

#include <algorithm>
#include <numeric>

namespace clusterctl {
namespace {

// Levenshtein distance, one row at a time.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string ClosestName(const std::string& typed, const std::vector<std::string>& known) {
    const size_t allowed = typed.size() <= 3 ? 1 : 2;
    std::string best;
    size_t bestDistance = allowed + 1;
    std::vector<std::string> extending;
    for (const std::string& name : known) {
        const size_t distance = EditDistance(typed, name);
        if (distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
        if (!typed.empty() && name.compare(0, typed.size(), typed) == 0) extending.push_back(name);
    }
    if (!best.empty()) return best;
    return extending.size() == 1 ? extending.front() : "";
}

}  // namespace clusterctl
