// Path lists as the tools that consume them read them: NUL-terminated (find -print0, rsync
// --from0) or one a line; and files read whole.
#pragma once

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace pathlists {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each path of `text`; a last path without its NUL is kept too, so a test sees it.
inline std::vector<std::string> SplitNul(const std::string& text) {
    std::vector<std::string> paths;
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        paths.push_back(text.substr(start, end - start));
    if (start < text.size()) paths.push_back(text.substr(start));
    return paths;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline std::set<std::string> AsSet(const std::vector<std::string>& paths) {
    return std::set<std::string>(paths.begin(), paths.end());
}

}  // namespace pathlists
