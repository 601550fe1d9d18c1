#include "ClusterWalk/TextFields.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>

namespace clusterwalk {

namespace {

// Bytes that would split a field or a line, or that could not be told from the empty mark,
// go as %XX; so does every byte outside printable ASCII, so the line survives any tool.
bool NeedsEscape(unsigned char byte) {
    return byte <= ' ' || byte >= 0x7f || byte == '%' || byte == '-' || byte == ',';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string EscapeField(const std::string& text) {
    if (text.empty()) return kEmptyField;
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!NeedsEscape(byte)) {
            escaped += c;
            continue;
        }
        escaped += '%';
        escaped += kHex[byte >> 4];
        escaped += kHex[byte & 0xf];
    }
    return escaped;
}

bool UnescapeField(const std::string& field, std::string& text) {
    text.clear();
    if (field == kEmptyField) return true;
    for (size_t i = 0; i < field.size(); ++i) {
        const auto byte = static_cast<unsigned char>(field[i]);
        if (byte != '%') {
            if (NeedsEscape(byte)) return false;
            text += field[i];
            continue;
        }
        if (i + 2 >= field.size()) return false;
        const int high = HexValue(field[i + 1]);
        const int low = HexValue(field[i + 2]);
        if (high < 0 || low < 0) return false;
        text += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool ParseDecimal(const std::string& text, uint64_t& number) {
    if (text.empty() || text.size() > 20) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    errno = 0;
    number = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "unknown exception";
    }
}

}  // namespace clusterwalk
