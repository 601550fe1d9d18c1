// Internal to the library: reading the cluster's time texts into seconds since the epoch.
//
// A time is read as std::get_time reads it with "%Y-%m-%dT%H:%M:%S", so every text the
// cluster (or an older one) ever wrote keeps converting:
//   - leading white space (" \t\n\v\f\r") is skipped;
//   - year: 1 to 4 digits (0 to 9999); month: 1 or 2 digits (1 to 12); day: one optional
//     white-space character, then 1 or 2 digits (1 to 31); hour: 1 or 2 digits (0 to 23);
//     minute: 1 or 2 digits (0 to 59); second: 1 or 2 digits (0 to 60);
//   - the separators "-", "-", "T" (or "t"), ":", ":" exactly, nothing between them;
//   - no sign anywhere; a field stops after its widest width, so "007" reads as "00";
//   - all six fields are needed: "2021-03-04" alone is no time;
// Fields are normalised as mktime does: a day past the month's end runs on into the next
// month (February 30 is March 2) and second 60 into the next minute.
//
// Unlike the original reading, the fields are UTC, never the process's time zone: the
// cluster writes UTC. After the seconds, an optional fraction ("." and one or more digits,
// dropped) may be followed by a numeric offset "+hh:mm", "+hhmm" or "+hh" ("-" likewise;
// hh 00-23, mm 00-59, and not followed by a digit or ":"), which is applied. Anything else
// after the seconds, a malformed offset included, is ignored as the original ignores it.
#pragma once

#include <ctime>

namespace Cluster {

// Reads `text` up to its first NUL. False (timestamp untouched) when it is no time.
bool ReadUtcTime(const char* text, time_t& timestamp);

}  // namespace Cluster
