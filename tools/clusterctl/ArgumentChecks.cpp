#include "ArgumentChecks.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace clusterctl {
namespace {

constexpr long kMaxTimeoutSeconds = LONG_MAX / 1000;  // the HTTP client may count milliseconds

// K, M and G are powers of 1024, as `ls -h` shows sizes; -1 for any other suffix.
int SuffixPower(const std::string& suffix) {
    if (suffix.empty()) return 0;
    if (suffix.size() != 1) return -1;
    const size_t found = std::string("KMG").find(
        static_cast<char>(std::toupper(static_cast<unsigned char>(suffix[0]))));
    return found == std::string::npos ? -1 : static_cast<int>(found) + 1;
}

// Reads `count` digits at `at` as a number no greater than `max`.
bool ReadDigits(const std::string& text, size_t& at, size_t count, int max, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    at += count;
    return value <= max;
}

bool Expect(const std::string& text, size_t& at, const char* oneOf) {
    if (at >= text.size() || std::string(oneOf).find(text[at]) == std::string::npos) return false;
    ++at;
    return true;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsRfc3339(const std::string& text) {
    size_t at = 0;
    int year = 0, month = 0, day = 0, value = 0;
    if (!ReadDigits(text, at, 4, 9999, year) || !Expect(text, at, "-") ||
        !ReadDigits(text, at, 2, 12, month) || month == 0 || !Expect(text, at, "-") ||
        !ReadDigits(text, at, 2, 31, day) || day == 0 || day > DaysInMonth(year, month) ||
        !Expect(text, at, "Tt") || !ReadDigits(text, at, 2, 23, value) || !Expect(text, at, ":") ||
        !ReadDigits(text, at, 2, 59, value) || !Expect(text, at, ":") ||
        !ReadDigits(text, at, 2, 60, value)) {
        return false;
    }
    if (at < text.size() && text[at] == '.') {
        const size_t digits = text.find_first_not_of("0123456789", at + 1);
        if (digits == at + 1 || digits == std::string::npos) return false;
        at = digits;
    }
    if (Expect(text, at, "Zz")) return at == text.size();
    return Expect(text, at, "+-") && ReadDigits(text, at, 2, 23, value) && Expect(text, at, ":") &&
           ReadDigits(text, at, 2, 59, value) && at == text.size();
}

}  // namespace

bool IsWholeNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    std::strtoull(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

bool ReadByteCount(const std::string& text, size_t& bytes) {
    const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    const std::string number = text.substr(0, digits);
    const int power = SuffixPower(text.substr(digits));
    if (power < 0 || !IsWholeNumber(number)) return false;
    unsigned long long value = std::strtoull(number.c_str(), nullptr, 10);
    for (int i = 0; i < power; ++i) {
        if (value > SIZE_MAX / 1024) return false;
        value *= 1024;
    }
    if (value == 0 || value > SIZE_MAX) return false;
    bytes = static_cast<size_t>(value);
    return true;
}

std::string CheckByteCount(const std::string& text) {
    size_t bytes = 0;
    return ReadByteCount(text, bytes) ? "" : "must be a positive number of bytes, K, M or G";
}

std::string CheckSeconds(const std::string& text) {
    if (IsWholeNumber(text) && text.find_first_not_of('0') != std::string::npos &&
        std::strtoull(text.c_str(), nullptr, 10) <=
            static_cast<unsigned long long>(kMaxTimeoutSeconds)) {
        return "";
    }
    return "must be a positive whole number of seconds";
}

std::string CheckRetries(const std::string& text) {
    if (IsWholeNumber(text) &&
        std::strtoull(text.c_str(), nullptr, 10) <= static_cast<unsigned long long>(kMaxRetries)) {
        return "";
    }
    return "must be a whole number from 0 to " + std::to_string(kMaxRetries);
}

std::string CheckRate(const std::string& text) {
    if (IsWholeNumber(text) && text.find_first_not_of('0') != std::string::npos &&
        std::strtoull(text.c_str(), nullptr, 10) <= static_cast<unsigned long long>(kMaxRate)) {
        return "";
    }
    return "must be a positive whole number of requests a second, at most " +
           std::to_string(kMaxRate);
}

std::string CheckSource(const std::string& text) {
    if (text.find('/') != std::string::npos || IsWholeNumber(text)) return "";
    return "must be a path containing \"/\" or a file id";
}

std::string CheckId(const std::string& text) {
    if (IsWholeNumber(text) && text.find_first_not_of('0') != std::string::npos) return "";
    return "must be a positive whole number";
}

std::string CheckSnapshot(const std::string& text) {
    if (text.empty()) return "must be a snapshot name or id";
    if (text.find_first_not_of("0123456789") == std::string::npos) return CheckId(text);
    return "";
}

std::string CheckRfc3339(const std::string& text) {
    if (IsRfc3339(text)) return "";
    return "must be an RFC 3339 time such as 2027-01-31T00:00:00Z or 2027-01-31T01:00:00+01:00";
}

}  // namespace clusterctl
