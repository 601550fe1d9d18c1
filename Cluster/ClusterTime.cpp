#include "Cluster/ClusterTime.h"

#include <cstdint>

namespace Cluster {
namespace {

// The C locale's white space, which the stream reading skips.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// One field as std::get_time reads it: 1 to `width` digits, in [low, high]. A digit that
// would take the value past `high` fails the field, as it does there.
bool ReadField(const char*& at, int width, int low, int high, int& value) {
    value = 0;
    int count = 0;
    for (; count < width && IsDigit(*at); ++count, ++at) {
        value = value * 10 + (*at - '0');
        if (value > high) return false;
    }
    return count > 0 && value >= low;
}

bool ReadTwoDigits(const char*& at, int& value) {
    if (!IsDigit(at[0]) || !IsDigit(at[1])) return false;
    value = (at[0] - '0') * 10 + (at[1] - '0');
    at += 2;
    return true;
}

// Days from 1970-01-01 to the given date (proleptic Gregorian). Linear in `day`, so a day
// past the month's end lands in the next month, as mktime normalises it.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The well-formed numeric offset at `at`, in seconds east of UTC; 0 when there is none, as a
// malformed one is ignored like any other trailing text.
int64_t ReadOffset(const char* at) {
    if (*at != '+' && *at != '-') return 0;
    const int sign = *at++ == '-' ? -1 : 1;
    int hours = 0;
    int minutes = 0;
    if (!ReadTwoDigits(at, hours)) return 0;
    if (*at == ':') {
        ++at;
        if (!ReadTwoDigits(at, minutes)) return 0;
    } else if (IsDigit(*at) && !ReadTwoDigits(at, minutes)) {
        return 0;
    }
    if (IsDigit(*at) || *at == ':' || hours > 23 || minutes > 59) return 0;
    return sign * (hours * 3600 + minutes * 60);
}

struct FieldShape {
    char separator;  // before the field; matched as the stream reading matches it
    int width, low, high;
};
const FieldShape kShapes[] = {
    {'\0', 4, 0, 9999}, {'-', 2, 1, 12}, {'-', 2, 1, 31},
    {'T', 2, 0, 23},    {':', 2, 0, 59}, {':', 2, 0, 60},
};

// Exactly `count` digits.
bool ReadDigits(const char*& at, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (!IsDigit(*at)) return false;
        value = value * 10 + (*at - '0');
    }
    return true;
}

// The shape the cluster writes, "yyyy-mm-ddThh:mm:ss", read straight through: nearly every
// text takes this path. False sends the text to the general reading.
bool ReadWrittenShape(const char*& at, int fields[6]) {
    const char* next = at;
    const bool shaped =
        ReadDigits(next, 4, fields[0]) && *next++ == '-' && ReadDigits(next, 2, fields[1]) &&
        *next++ == '-' && ReadDigits(next, 2, fields[2]) && *next++ == 'T' &&
        ReadDigits(next, 2, fields[3]) && *next++ == ':' && ReadDigits(next, 2, fields[4]) &&
        *next++ == ':' && ReadDigits(next, 2, fields[5]);
    if (!shaped) return false;
    for (int i = 0; i < 6; ++i) {
        if (fields[i] < kShapes[i].low || fields[i] > kShapes[i].high) return false;
    }
    at = next;
    return true;
}

// Any spelling the stream reading takes: narrow fields, a blank-padded day, a lower-case "t".
bool ReadAnyShape(const char*& at, int fields[6]) {
    for (int i = 0; i < 6; ++i) {
        const FieldShape& shape = kShapes[i];
        if (i > 0) {
            const bool matches = *at == shape.separator || (shape.separator == 'T' && *at == 't');
            if (!matches) return false;
            ++at;
        }
        if (i == 2 && IsSpace(*at)) ++at;  // the day alone may be blank-padded ("%e")
        if (!ReadField(at, shape.width, shape.low, shape.high, fields[i])) return false;
    }
    return true;
}

}  // namespace

bool ReadUtcTime(const char* text, time_t& timestamp) {
    // Year, month, day, hour, minute, second: all six are needed.
    int fields[6] = {0, 1, 0, 0, 0, 0};
    const char* at = text;
    while (IsSpace(*at)) ++at;
    if (!ReadWrittenShape(at, fields) && !ReadAnyShape(at, fields)) return false;
    if (at[0] == '.' && IsDigit(at[1])) {
        ++at;
        while (IsDigit(*at)) ++at;
    }
    const int64_t days = DaysFromCivil(fields[0], fields[1], fields[2]);
    timestamp = static_cast<time_t>(days * 86400 + fields[3] * 3600 + fields[4] * 60 + fields[5] -
                                    ReadOffset(at));
    return true;
}

}  // namespace Cluster
