#include "Cluster/ClusterSecrets.h"

#include <cctype>
#include <cstring>

namespace Cluster {
namespace {

const char* const kSecretKeys[] = {"password", "bearer_token"};
const char kMask[] = "***";
// The longest spelling of a secret key: every character escaped as \uXXXX, and the quotes.
const size_t kLongestKeySpelling = 6 * 12 + 2;

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// One character of a key as the JSON reader decodes it; `at` moves past its spelling.
// Characters that no secret key holds, and broken escapes, come back as 0.
char DecodeKeyCharacter(const std::string& text, size_t& at) {
    if (text[at] != '\\') return text[at++];
    const char escaped = at + 1 < text.size() ? text[at + 1] : '\0';
    if (escaped != 'u') {
        at += 2;
        return escaped == '"' || escaped == '\\' || escaped == '/' ? escaped : '\0';
    }
    unsigned code = 0;
    for (size_t i = at + 2; i < at + 6; ++i) {
        const int digit = i < text.size() ? HexDigit(text[i]) : -1;
        if (digit < 0) {
            at = i;
            return '\0';
        }
        code = code * 16 + static_cast<unsigned>(digit);
    }
    at += 6;
    return code < 0x80 ? static_cast<char>(code) : '\0';
}

// Whether a quoted key opens at `at` that decodes to a secret's name, however it is spelt;
// `keyEnd` is then one past its closing quote.
bool IsSecretKey(const std::string& text, size_t at, size_t& keyEnd) {
    std::string key;
    size_t i = at + 1;
    while (i < text.size() && text[i] != '"') {
        if (i - at > kLongestKeySpelling) return false;
        key += DecodeKeyCharacter(text, i);
    }
    if (i >= text.size()) return false;
    keyEnd = i + 1;
    for (const char* secret : kSecretKeys) {
        if (key == secret) return true;
    }
    return false;
}

// Where the value of a secret member starts, or npos when the key is not a member name.
size_t SecretValueStart(const std::string& text, size_t keyEnd) {
    const size_t colon = SkipBlanks(text, keyEnd);
    if (colon >= text.size() || text[colon] != ':') return std::string::npos;
    const size_t value = SkipBlanks(text, colon + 1);
    return value < text.size() ? value : std::string::npos;
}

// Finds the next secret member at or after `from`: sets the value's range. Every quote is
// tried as the start of a key, so a text cut off at either end is still searched.
bool NextSecret(const std::string& text, size_t from, size_t& valueBegin, size_t& valueEnd) {
    for (size_t at = text.find('"', from); at != std::string::npos; at = text.find('"', at + 1)) {
        size_t keyEnd = 0;
        if (!IsSecretKey(text, at, keyEnd)) continue;
        const size_t value = SecretValueStart(text, keyEnd);
        if (value == std::string::npos) continue;
        valueBegin = value;
        valueEnd = text[value] == '"' ? StringEnd(text, value) : ScalarEnd(text, value);
        return true;
    }
    return false;
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

std::string Quote(const std::string& text) {
    if (text.size() <= kQuoteLimit) return text;
    size_t cut = kQuoteLimit;
    // Never end a quote in the middle of a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "\xE2\x80\xA6 [" + std::to_string(text.size()) + " bytes]";
}

std::string QuoteMasked(const std::string& text) {
    return MaskSecrets(Quote(text));
}

}  // namespace Cluster
