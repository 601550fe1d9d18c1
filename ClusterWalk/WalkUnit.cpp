#include "ClusterWalk/WalkUnit.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

namespace clusterwalk {

namespace {

constexpr const char* kTag = "unit1";
constexpr const char* kEmpty = "-";
constexpr size_t kFields = 6;

// Bytes that would split a field or a line, or that could not be told from the empty mark,
// go as %XX; so does every byte outside printable ASCII, so the line survives any tool.
bool NeedsEscape(unsigned char byte) {
    return byte <= ' ' || byte >= 0x7f || byte == '%' || byte == '-' || byte == ',';
}

std::string Escape(const std::string& text) {
    if (text.empty()) return kEmpty;
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

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& field, std::string& text) {
    text.clear();
    if (field == kEmpty) return true;
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

// Digits only: strtoull alone would take signs, spaces and "0x".
bool ParseNumber(const std::string& text, uint64_t& number) {
    if (text.empty() || text.size() > 20) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    errno = 0;
    number = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool ParseAncestors(const std::string& field, std::vector<uint64_t>& ids) {
    ids.clear();
    if (field == kEmpty) return true;
    for (const std::string& part : Split(field, ',')) {
        uint64_t id = 0;
        if (!ParseNumber(part, id)) return false;
        ids.push_back(id);
    }
    return true;
}

std::string JoinIds(const std::vector<uint64_t>& ids) {
    if (ids.empty()) return kEmpty;
    std::string joined;
    for (const uint64_t id : ids) {
        if (!joined.empty()) joined += ',';
        joined += std::to_string(id);
    }
    return joined;
}

bool ParseFields(const std::vector<std::string>& fields, WalkUnit& unit, std::string& error) {
    uint64_t snapshot = 0;
    if (!ParseNumber(fields[1], snapshot) || snapshot > static_cast<uint64_t>(INT_MAX)) {
        error = "bad snapshot id [" + fields[1] + "]";
        return false;
    }
    if (!ParseNumber(fields[2], unit.id)) {
        error = "bad directory id [" + fields[2] + "]";
        return false;
    }
    if (!ParseAncestors(fields[3], unit.ancestorIds)) {
        error = "bad ancestor ids [" + fields[3] + "]";
        return false;
    }
    if (!Unescape(fields[4], unit.path) || unit.path.empty()) {
        error = "bad path [" + fields[4] + "]";
        return false;
    }
    if (!Unescape(fields[5], unit.pageLink)) {
        error = "bad page link [" + fields[5] + "]";
        return false;
    }
    unit.snapshotId = static_cast<int>(snapshot);
    return true;
}

}  // namespace

WalkUnit RootUnit(std::string path, int snapshotId) {
    WalkUnit unit;
    unit.snapshotId = snapshotId;
    unit.path = std::move(path);
    return unit;
}

WalkUnit ChildUnit(const WalkUnit& parent, const Cluster::CDirectoryEntry& entry) {
    WalkUnit child;
    child.snapshotId = parent.snapshotId;
    child.path = entry.path;
    child.id = entry.id;
    child.ancestorIds.reserve(parent.ancestorIds.size() + 1);
    child.ancestorIds.assign(parent.ancestorIds.begin(), parent.ancestorIds.end());
    child.ancestorIds.push_back(parent.id);
    return child;
}

bool ClosesLoop(const WalkUnit& parent, uint64_t childId) {
    // An unknown id (0) matches nothing: a root given by path only is not checked.
    if (childId == 0) return false;
    if (childId == parent.id) return true;
    return std::find(parent.ancestorIds.begin(), parent.ancestorIds.end(), childId) !=
           parent.ancestorIds.end();
}

std::string FormatUnit(const WalkUnit& unit) {
    try {
        return std::string(kTag) + ' ' + std::to_string(unit.snapshotId) + ' ' +
               std::to_string(unit.id) + ' ' + JoinIds(unit.ancestorIds) + ' ' + Escape(unit.path) +
               ' ' + Escape(unit.pageLink);
    } catch (...) {
        return std::string();
    }
}

bool ParseUnit(const std::string& line, WalkUnit& unit, std::string& error) {
    try {
        const std::vector<std::string> fields = Split(line, ' ');
        if (fields.size() != kFields || fields[0] != kTag) {
            error = "not a walk unit: expected \"" + std::string(kTag) +
                    " SNAPSHOT ID ANCESTORS PATH PAGELINK\"";
            return false;
        }
        WalkUnit parsed;
        if (!ParseFields(fields, parsed, error)) return false;
        unit = std::move(parsed);
        return true;
    } catch (...) {
        error = "out of memory reading a walk unit";
        return false;
    }
}

}  // namespace clusterwalk
