// Reading UTF-8 strictly: the cluster hands over names as raw bytes, and neither a terminal nor
// a JSON reader may be given a sequence that is not UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace clusterctl {

struct Utf8Sequence {
    uint32_t codePoint = 0;  // meaningful only when `valid`
    size_t length = 0;       // bytes taken; for a bad sequence its longest well-formed start
    bool valid = false;
};

// The sequence starting at `position` (< text.size()). Overlong forms, surrogates, code points
// past U+10FFFF and cut-off sequences are bad; a bad sequence is at least one byte long, so a
// caller always moves on.
Utf8Sequence ReadUtf8Sequence(const std::string& text, size_t position);

bool IsValidUtf8(const std::string& text);

// `text` with U+FFFD in place of each bad sequence.
std::string WithReplacementCharacters(const std::string& text);

}  // namespace clusterctl
