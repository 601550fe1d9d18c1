// The original reading of a cluster time, for differential checks: std::get_time with
// "%Y-%m-%dT%H:%M:%S" from a string stream, which must reach the seconds, the fields
// normalised by timegm (mktime's
// arithmetic without the process's time zone). Slow and independent of the library's reader.
#pragma once

#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>

namespace reference_time {

struct Reading {
    bool accepted = false;
    time_t value = 0;  // the fields as UTC
    size_t end = 0;    // where the text after the seconds starts
};

// Reads `text` up to its first NUL, as the original did.
inline Reading Read(const std::string& text) {
    const std::string untilNul(text.c_str());
    // A byte that is no part of any time marks the end: a text that stops before its seconds
    // then fails at it instead of leaving the rest of the fields as they were.
    std::istringstream in(untilNul + "\x01");
    in.imbue(std::locale::classic());
    std::tm fields{};
    in >> std::get_time(&fields, "%Y-%m-%dT%H:%M:%S");
    Reading reading;
    if (in.fail()) return reading;
    reading.accepted = true;
    reading.value = timegm(&fields);
    reading.end = static_cast<size_t>(in.tellg());
    return reading;
}

}  // namespace reference_time
