#include "Cluster/ClusterSecrets.h"

#include <cctype>
#include <cstring>

namespace Cluster {
namespace {

const char* const kSecretKeys[] = {"\"password\"", "\"bearer_token\""};
const char kMask[] = "***";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t SkipBlanks(const std::string& text, size_t at) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    return at;
}

// End (one past the closing quote) of the JSON string that opens at `at`; the text's end
// when it is cut off.
size_t StringEnd(const std::string& text, size_t at) {
    for (size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i + 1;
        }
    }
    return text.size();
}

size_t ScalarEnd(const std::string& text, size_t at) {
    while (at < text.size() && !IsBlank(text[at]) && std::strchr(",}]", text[at]) == nullptr) ++at;
    return at;
}

// Where the value of a secret member starts, or npos when the key is not a member name.
size_t SecretValueStart(const std::string& text, size_t keyEnd) {
    const size_t colon = SkipBlanks(text, keyEnd);
    if (colon >= text.size() || text[colon] != ':') return std::string::npos;
    return SkipBlanks(text, colon + 1);
}

// Finds the next secret member at or after `from`: sets the value's range.
bool NextSecret(const std::string& text, size_t from, size_t& valueBegin, size_t& valueEnd) {
    size_t best = std::string::npos;
    for (const char* key : kSecretKeys) {
        for (size_t at = text.find(key, from); at != std::string::npos;
             at = text.find(key, at + 1)) {
            const size_t value = SecretValueStart(text, at + std::strlen(key));
            if (value == std::string::npos || value >= text.size()) continue;
            if (value < best) best = value;
            break;
        }
    }
    if (best == std::string::npos) return false;
    valueBegin = best;
    valueEnd = text[best] == '"' ? StringEnd(text, best) : ScalarEnd(text, best);
    return true;
}

}  // namespace

std::string MaskSecrets(const std::string& text) {
    std::string masked;
    size_t copied = 0;
    size_t begin = 0;
    size_t end = 0;
    while (NextSecret(text, copied, begin, end)) {
        masked.append(text, copied, begin - copied);
        const bool isString = text[begin] == '"';
        const bool isNull = text.compare(begin, end - begin, "null") == 0;
        if (isNull) {
            masked.append(text, begin, end - begin);
        } else {
            masked += isString ? std::string("\"") + kMask + "\"" : kMask;
        }
        copied = end;
    }
    if (copied == 0) return text;
    masked.append(text, copied, std::string::npos);
    return masked;
}

std::string MaskHeaderLine(const std::string& line) {
    static const char kName[] = "authorization:";
    if (line.size() < sizeof kName - 1) return line;
    for (size_t i = 0; i + 1 < sizeof kName; ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != kName[i]) return line;
    }
    const size_t scheme = SkipBlanks(line, sizeof kName - 1);
    const size_t schemeEnd = line.find(' ', scheme);
    if (schemeEnd == std::string::npos) return line.substr(0, scheme) + kMask;
    return line.substr(0, schemeEnd + 1) + kMask;
}

std::string MaskUrl(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const size_t authority = scheme + 3;
    const size_t authorityEnd = url.find_first_of("/?#", authority);
    const size_t at = url.rfind('@', authorityEnd == std::string::npos ? url.size() : authorityEnd);
    if (at == std::string::npos || at < authority) return url;
    return url.substr(0, authority) + kMask + url.substr(at);
}

}  // namespace Cluster
