// What a command-line value must look like. Each Check returns "" when the text is fine, else
// what is wrong with it, as CLI11 validators do.
#pragma once

#include <cstddef>
#include <string>

namespace clusterctl {

constexpr int kMaxRetries = 100;
constexpr int kMaxRate = 1000000;

// Digits only, and small enough for a 64-bit number.
bool IsWholeNumber(const std::string& text);

// Whole bytes with an optional K, M or G (powers of 1024), positive and within size_t. `bytes`
// is set only when the text is such a count.
bool ReadByteCount(const std::string& text, size_t& bytes);

std::string CheckByteCount(const std::string& text);
std::string CheckSeconds(const std::string& text);   // a positive whole number of seconds
std::string CheckRetries(const std::string& text);   // a whole number from 0 to kMaxRetries
std::string CheckRate(const std::string& text);      // a positive whole number of requests/s
std::string CheckSource(const std::string& text);    // a path holding "/", or a file id
std::string CheckId(const std::string& text);        // a positive whole number
std::string CheckSnapshot(const std::string& text);  // a snapshot id or a name
// An RFC 3339 date and time with its offset: 2027-01-31T00:00:00Z, 2027-01-31T01:00:00+01:00,
// optionally with a fraction of a second.
std::string CheckRfc3339(const std::string& text);

}  // namespace clusterctl
