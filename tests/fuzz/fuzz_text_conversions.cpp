// The two text conversions: a path into one URL path segment, and a cluster time into a
// timestamp. Each result is checked against an independent reading of the same text (the
// calendar through glibc's timegm and gmtime_r).
#include <cctype>
#include <ctime>
#include <string>

#include "Cluster/ClusterParser.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// RFC 3986's unreserved set.
bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int UpperHexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes text made only of unreserved bytes and "%XX" (upper-case hex) escapes of bytes that
// needed one; false for anything else.
bool DecodeStrict(const std::string& encoded, std::string& decoded) {
    for (size_t at = 0; at < encoded.size(); ++at) {
        const auto c = static_cast<unsigned char>(encoded[at]);
        if (IsUnreserved(c)) {
            decoded += encoded[at];
            continue;
        }
        if (c != '%' || at + 2 >= encoded.size()) return false;
        const int high = UpperHexValue(encoded[at + 1]);
        const int low = UpperHexValue(encoded[at + 2]);
        if (high < 0 || low < 0) return false;
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        if (IsUnreserved(byte)) return false;
        decoded += static_cast<char>(byte);
        at += 2;
    }
    return true;
}

void PathEncoding(const std::string& path) {
    std::string encoded = "old";
    CZuError error;
    FUZZ_NO_EXCEPTION(error = Cluster::CParser().ConvertPathToURLEncoding(path, encoded));
    fuzz::CheckResult(error);
    if (path.find('/') == std::string::npos) {
        FUZZ_CHECK(error.GetCode() == 87);
        FUZZ_CHECK(encoded == path);
        return;
    }
    FUZZ_CHECK(!error.IsError());
    std::string decoded;
    FUZZ_CHECK(DecodeStrict(encoded, decoded));
    FUZZ_CHECK(decoded == path);
}

// "YYYY-MM-DDTHH:MM:SS" after leading white space.
struct TimeShape {
    std::tm fields{};
    size_t end = 0;  // just after the seconds
};

bool ReadNumber(const std::string& text, size_t at, size_t digits, int& value) {
    value = 0;
    for (size_t i = at; i < at + digits; ++i) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool ReadTimeShape(const std::string& text, TimeShape& shape) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (text.size() < at + 19 || text.compare(at + 4, 1, "-") != 0 ||
        text.compare(at + 7, 1, "-") != 0 || text.compare(at + 10, 1, "T") != 0 ||
        text.compare(at + 13, 1, ":") != 0 || text.compare(at + 16, 1, ":") != 0) {
        return false;
    }
    std::tm& tm = shape.fields;
    const bool digits =
        ReadNumber(text, at, 4, tm.tm_year) && ReadNumber(text, at + 5, 2, tm.tm_mon) &&
        ReadNumber(text, at + 8, 2, tm.tm_mday) && ReadNumber(text, at + 11, 2, tm.tm_hour) &&
        ReadNumber(text, at + 14, 2, tm.tm_min) && ReadNumber(text, at + 17, 2, tm.tm_sec);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    shape.end = at + 19;
    return digits;
}

// A real date and a time of day (a leap second allowed), as glibc's calendar has it.
bool IsCalendarTime(std::tm fields) {
    if (fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 60) return false;
    std::tm day = fields;
    day.tm_hour = day.tm_min = day.tm_sec = 0;
    const time_t midnight = timegm(&day);
    std::tm back{};
    return gmtime_r(&midnight, &back) != nullptr && back.tm_year == fields.tm_year &&
           back.tm_mon == fields.tm_mon && back.tm_mday == fields.tm_mday;
}

// After the seconds and an optional fraction, a "+" or "-" starts a zone offset.
bool HasOffset(const std::string& text, size_t at) {
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    }
    return at < text.size() && (text[at] == '+' || text[at] == '-');
}

// "YYYY-MM-DDTHH:MM:SSZ" of a real date, nothing around it: must always convert.
bool IsPlainUtc(const std::string& text, const TimeShape& shape, bool shaped) {
    return shaped && text.size() == 20 && text[19] == 'Z' && shape.fields.tm_sec < 60 &&
           IsCalendarTime(shape.fields);
}

void TimeConversion(const std::string& text) {
    const time_t old = 987654321;
    time_t timestamp = old;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = ConvertStringToTimeStamp(text, timestamp));
    fuzz::CheckResult(error);
    TimeShape shape;
    const bool shaped = ReadTimeShape(text, shape);
    std::tm fields = shape.fields;
    const time_t naive = timegm(&fields);
    if (IsPlainUtc(text, shape, shaped)) FUZZ_CHECK(!error.IsError() && timestamp == naive);
    if (error.IsError()) {
        FUZZ_CHECK(error.GetCode() == 774);
        FUZZ_CHECK(timestamp == old);
        return;
    }
    FUZZ_CHECK(shaped && IsCalendarTime(shape.fields));
    const time_t shift = naive - timestamp;  // the zone offset applied
    FUZZ_CHECK(shift % 60 == 0 && shift > -86400 && shift < 86400);
    if (!HasOffset(text, shape.end)) FUZZ_CHECK(shift == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input input = fuzz::Split(data, size);
    if (input.selector % 2 == 0) {
        PathEncoding(input.text);
    } else {
        TimeConversion(input.text);
    }
    return 0;
}
