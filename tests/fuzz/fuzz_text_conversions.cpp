// The two text conversions: a path into one URL path segment, and a cluster time into a
// timestamp. Each result is checked against an independent reading of the same text (a time
// against the original stream reading, normalised by glibc's timegm).
#include <cctype>
#include <ctime>
#include <string>

#include "Cluster/ClusterParser.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/ReferenceTime.h"

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

// After the seconds and an optional fraction, a "+" or "-" may start a zone offset.
bool HasOffsetSign(const std::string& text, size_t at) {
    if (at + 1 < text.size() && text[at] == '.' &&
        std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    }
    return at < text.size() && (text[at] == '+' || text[at] == '-');
}

// Accepted exactly when the original reading accepts, with its value as UTC; only a zone
// offset (whole minutes, less than a day) may move it, and only when one may follow.
void TimeConversion(const std::string& text) {
    const time_t old = 987654321;
    time_t timestamp = old;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = ConvertStringToTimeStamp(text, timestamp));
    fuzz::CheckResult(error);
    const reference_time::Reading reference = reference_time::Read(text);
    FUZZ_CHECK(reference.accepted == !error.IsError());
    if (error.IsError()) {
        FUZZ_CHECK(error.GetCode() == 774);
        FUZZ_CHECK(timestamp == old);
        return;
    }
    const time_t shift = reference.value - timestamp;  // the zone offset applied
    FUZZ_CHECK(shift % 60 == 0 && shift > -86400 && shift < 86400);
    if (!HasOffsetSign(std::string(text.c_str()), reference.end)) FUZZ_CHECK(shift == 0);
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
