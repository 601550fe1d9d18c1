// Percent-encoding and request-target splitting. The simulator routes on the raw target so that
// an encoded "/" or "%" inside a file path segment survives until it is decoded exactly once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace clustersim {

// Decodes every "%XX" once; nullopt when a "%" is not followed by two hex digits.
std::optional<std::string> PercentDecode(std::string_view text);

// Encodes everything except RFC 3986 unreserved characters, so the text fits in a path segment
// or a query value.
std::string PercentEncode(std::string_view text);

struct Target {
    std::string path;                                        // still encoded
    std::vector<std::pair<std::string, std::string>> query;  // keys and values still encoded

    // The still-encoded value of the first parameter called `key`.
    std::optional<std::string> Param(std::string_view key) const;
};

Target SplitTarget(std::string_view target);

// Matches an encoded path against a pattern in which each "{}" segment captures one non-empty
// path segment (still encoded). A trailing "/" is optional on the path.
bool MatchRoute(std::string_view pattern, std::string_view path,
                std::vector<std::string>* captures);

}  // namespace clustersim
