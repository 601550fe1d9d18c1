#include "FindFilter.h"

#include <fnmatch.h>

#include <cctype>
#include <limits>

#include "TerminalText.h"
#include "TreePath.h"
#include "UsageError.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// The user's own text, quoted and safe to show on a terminal.
std::string Quoted(const std::string& text) {
    return "\"" + EscapeForTerminal(text) + "\"";
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// `text` has the shape of `pattern`, where "9" stands for any digit.
bool HasShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (pattern[i] == '9' ? !IsDigit(text[i]) : text[i] != pattern[i]) return false;
    }
    return true;
}

int Digits(const std::string& text, size_t position, size_t count) {
    return std::stoi(text.substr(position, count));
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, without the time zone mktime would use.
int64_t DaysSinceEpoch(int year, int month, int day) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

[[noreturn]] void ThrowBadTime(const std::string& text) {
    throw UsageError("--newer: " + Quoted(text) +
                     " is neither a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, UTC) nor an age "
                     "such as 90s, 30m, 12h, 7d or 2w");
}

time_t ParseDate(const std::string& text) {
    const bool withTime = HasShape(text, "9999-99-99T99:99:99Z");
    if (!withTime && !HasShape(text, "9999-99-99")) ThrowBadTime(text);
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const int hour = withTime ? Digits(text, 11, 2) : 0;
    const int minute = withTime ? Digits(text, 14, 2) : 0;
    const int second = withTime ? Digits(text, 17, 2) : 0;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        throw UsageError("--newer: " + Quoted(text) + " is no date in the calendar");
    return static_cast<time_t>(DaysSinceEpoch(year, month, day) * kSecondsPerDay + hour * 3600 +
                               minute * 60 + second);
}

uint64_t SecondsPerAgeUnit(char unit) {
    switch (unit) {
        case 's':
            return 1;
        case 'm':
            return 60;
        case 'h':
            return 3600;
        case 'd':
            return kSecondsPerDay;
        case 'w':
            return 7 * kSecondsPerDay;
    }
    return 0;
}

time_t ParseAge(const std::string& text, time_t now) {
    uint64_t count = 0;
    const uint64_t unit = text.empty() ? 0 : SecondsPerAgeUnit(text.back());
    if (unit == 0 || !ReadWholeNumber(text.substr(0, text.size() - 1), count)) ThrowBadTime(text);
    time_t then = 0;
    if (count > static_cast<uint64_t>(std::numeric_limits<time_t>::max()) / unit ||
        __builtin_sub_overflow(now, static_cast<time_t>(count * unit), &then))
        throw UsageError("--newer: " + Quoted(text) + " reaches back further than time goes");
    return then;
}

uint64_t BytesPerSizeUnit(char unit) {
    switch (std::tolower(static_cast<unsigned char>(unit))) {
        case 'c':
            return 1;
        case 'k':
            return uint64_t{1} << 10;
        case 'm':
            return uint64_t{1} << 20;
        case 'g':
            return uint64_t{1} << 30;
        case 't':
            return uint64_t{1} << 40;
    }
    return 0;
}

bool SizeMatches(const SizeCriterion& criterion, const Cluster::CDirectoryEntry& entry) {
    if (entry.isDirectory) return false;
    switch (criterion.comparison) {
        case SizeCriterion::Comparison::Larger:
            return entry.size > criterion.bytes;
        case SizeCriterion::Comparison::Smaller:
            return entry.size < criterion.bytes;
        case SizeCriterion::Comparison::Exactly:
            break;
    }
    return entry.size == criterion.bytes;
}

// fnmatch reads C strings: a name holding a NUL byte would be judged by its start alone, so it
// matches no glob (a glob from the command line cannot hold one).
bool NameMatches(const std::string& glob, const std::string& name) {
    return name.find('\0') == std::string::npos && fnmatch(glob.c_str(), name.c_str(), 0) == 0;
}

bool TypeMatches(EntryType type, const Cluster::CDirectoryEntry& entry) {
    return type == EntryType::Any || (type == EntryType::Directory) == entry.isDirectory;
}

}  // namespace

EntryType ParseEntryType(const std::string& text) {
    if (text == "f") return EntryType::File;
    if (text == "d") return EntryType::Directory;
    if (text == "l")
        throw UsageError(
            "--type l: the cluster's listing does not tell symbolic links from files, so "
            "they cannot be found by type");
    throw UsageError("--type: " + Quoted(text) + " is no type; use f (files) or d (directories)");
}

time_t ParseNewer(const std::string& text, time_t now) {
    const bool looksLikeDate = text.size() > 4 && text[4] == '-';
    return looksLikeDate ? ParseDate(text) : ParseAge(text, now);
}

SizeCriterion ParseSizeCriterion(const std::string& text) {
    SizeCriterion criterion;
    std::string digits = text;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        criterion.comparison = digits[0] == '+' ? SizeCriterion::Comparison::Larger
                                                : SizeCriterion::Comparison::Smaller;
        digits.erase(0, 1);
    }
    uint64_t unit = 1;
    if (!digits.empty() && !IsDigit(digits.back())) {
        unit = BytesPerSizeUnit(digits.back());
        digits.pop_back();
    }
    uint64_t count = 0;
    if (unit == 0 || !ReadWholeNumber(digits, count))
        throw UsageError("--size: " + Quoted(text) +
                         " is no size; use +N, -N or N, N a whole number with an optional unit "
                         "c, k, M, G or T");
    if (count > std::numeric_limits<uint64_t>::max() / unit)
        throw UsageError("--size: " + Quoted(text) + " is more bytes than 64 bits hold");
    criterion.bytes = count * unit;
    return criterion;
}

unsigned ParseMaxDepth(const std::string& text) {
    uint64_t depth = 0;
    if (!ReadWholeNumber(text, depth) || depth >= kOutsideRoot)
        throw UsageError("--maxdepth: " + Quoted(text) + " is no whole number from 0 to " +
                         std::to_string(kOutsideRoot - 1));
    return static_cast<unsigned>(depth);
}

FindCriteria ParseFindCriteria(const FindOptionTexts& texts, time_t now) {
    FindCriteria criteria;
    criteria.nameGlob = texts.name;
    if (texts.type) criteria.type = ParseEntryType(*texts.type);
    if (texts.newer) criteria.modifiedAfter = ParseNewer(*texts.newer, now);
    if (texts.size) criteria.size = ParseSizeCriterion(*texts.size);
    if (texts.maxDepth) criteria.maxDepth = ParseMaxDepth(*texts.maxDepth);
    return criteria;
}

std::string BaseName(const std::string& path) {
    const size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return "";
    const size_t slash = path.rfind('/', end);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(start, end + 1 - start);
}

unsigned EntryDepth(const std::string& root, const std::string& entryPath) {
    const auto ends = ComponentEnds(DirectoryForm(root), entryPath);
    if (!ends || ends->size() >= kOutsideRoot) return kOutsideRoot;
    return static_cast<unsigned>(ends->size());
}

bool Matches(const FindCriteria& criteria, const Cluster::CDirectoryEntry& entry, unsigned depth) {
    if (criteria.maxDepth && depth > *criteria.maxDepth) return false;
    if (!TypeMatches(criteria.type, entry)) return false;
    if (criteria.modifiedAfter && !(entry.modificationTime > *criteria.modifiedAfter)) return false;
    if (criteria.size && !SizeMatches(*criteria.size, entry)) return false;
    return !criteria.nameGlob || NameMatches(*criteria.nameGlob, BaseName(entry.path));
}

}  // namespace clusterctl
