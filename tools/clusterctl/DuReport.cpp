#include "DuReport.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "Records.h"
#include "TerminalText.h"
#include "TreePath.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

constexpr const char* kMagicLine = "clusterctl-du 1";
constexpr const char* kEveryDepth = "all";
constexpr unsigned kMinBarWidth = 8;
constexpr size_t kColumnGap = 2;  // as Listing separates table columns
constexpr unsigned kEighthsPerCell = 8;

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

// A checkpoint line is split at spaces and lines at "\n", so a path keeps only printable ASCII
// other than space and "%" as it is.
std::string PercentEscape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte > ' ' && byte < 0x7F && byte != '%') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xF];
        }
    }
    return escaped;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Only the escapes PercentEscape writes, so every path has one text form.
bool PercentUnescape(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high < 0 ? -1 : HexValue(text[i + 2]);
        if (low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return PercentEscape(bytes) == text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string::npos;
         end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The row of `path`'s ancestor `level` components below the root (0: the root itself).
std::string AncestorRow(const std::string& root, const std::string& path,
                        const std::vector<size_t>& ends, size_t level) {
    return level == 0 ? root : path.substr(0, ends[level - 1]) + "/";
}

// Each row's bytes against its parent's, the root's as a whole: the rows come in tree order,
// so the parent of a row is the nearest row above it that its path lies under.
std::vector<std::pair<uint64_t, uint64_t>> ParentShares(const std::vector<DuRow>& rows) {
    std::vector<std::pair<uint64_t, uint64_t>> shares;
    std::vector<const DuRow*> ancestors;
    for (const DuRow& row : rows) {
        while (!ancestors.empty() &&
               row.path.compare(0, ancestors.back()->path.size(), ancestors.back()->path) != 0)
            ancestors.pop_back();
        if (ancestors.empty())
            shares.emplace_back(1, 1);
        else
            shares.emplace_back(row.totals.bytes, ancestors.back()->totals.bytes);
        ancestors.push_back(&row);
    }
    return shares;
}

bool Shown(const OutputOptions& options, const Field& field) {
    if (options.fields.empty()) return !field.detail;
    return std::find(options.fields.begin(), options.fields.end(), field.name) !=
           options.fields.end();
}

// What the table's other columns leave of the terminal's width, as Listing sizes them.
unsigned BarWidth(const std::vector<DuRow>& rows, const OutputOptions& options, unsigned columns) {
    const Fields prototype = DuFields(DuRow(), options.humanSizes, std::nullopt);
    std::vector<size_t> widths(prototype.size(), 0);
    for (size_t i = 0; i < prototype.size() && options.headers; ++i)
        widths[i] = prototype[i].name.size();
    for (const DuRow& row : rows) {
        const Fields fields = DuFields(row, options.humanSizes, std::nullopt);
        for (size_t i = 0; i < fields.size(); ++i)
            widths[i] = std::max(widths[i], DisplayWidth(EscapeForTerminal(fields[i].text)));
    }
    size_t used = 0;
    for (size_t i = 0; i < prototype.size(); ++i) {
        if (Shown(options, prototype[i])) used += widths[i] + kColumnGap;
    }
    return used + kMinBarWidth < columns ? static_cast<unsigned>(columns - used) : kMinBarWidth;
}

}  // namespace

bool DuTally::TreeOrder::operator()(const std::string& left, const std::string& right) const {
    const auto rank = [](char c) {
        return c == '/' ? 0 : static_cast<int>(static_cast<unsigned char>(c)) + 1;
    };
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [&rank](char a, char b) { return rank(a) < rank(b); });
}

DuTally::DuTally(const std::string& root, std::optional<unsigned> maxDepth)
    : m_root(DirectoryForm(root)), m_maxDepth(maxDepth) {
    m_rows[m_root];
}

void DuTally::Add(const Cluster::CDirectoryEntry& entry) {
    const auto ends = ComponentEnds(m_root, entry.path);
    if (!ends || ends->empty()) return;
    const size_t depth = ends->size();
    const size_t deepest = m_maxDepth ? std::min<size_t>(depth - 1, *m_maxDepth) : depth - 1;
    for (size_t level = 0; level <= deepest; ++level) {
        DuTotals& totals = m_rows[AncestorRow(m_root, entry.path, *ends, level)];
        totals.entries = SaturatingAdd(totals.entries, 1);
        if (!entry.isDirectory) totals.bytes = SaturatingAdd(totals.bytes, entry.size);
    }
    if (entry.isDirectory && (!m_maxDepth || depth <= *m_maxDepth))
        m_rows[AncestorRow(m_root, entry.path, *ends, depth)];
}

std::vector<DuRow> DuTally::Rows() const {
    std::vector<DuRow> rows;
    rows.reserve(m_rows.size());
    for (const auto& row : m_rows) rows.push_back({row.first, row.second});
    return rows;
}

std::string DuTally::Header() const {
    return std::string(kMagicLine) + "\nroot " + PercentEscape(m_root) + "\ndepth " +
           (m_maxDepth ? std::to_string(*m_maxDepth) : kEveryDepth) + "\n";
}

std::string DuTally::Save() const {
    std::string text = Header();
    for (const auto& row : m_rows) {
        text += PercentEscape(row.first) + ' ' + std::to_string(row.second.bytes) + ' ' +
                std::to_string(row.second.entries) + '\n';
    }
    return text;
}

bool DuTally::Load(const std::string& text, std::string& reason) {
    const std::string header = Header();
    if (text.compare(0, header.size(), header) != 0) {
        const std::string magic = std::string(kMagicLine) + "\n";
        reason = text.compare(0, magic.size(), magic) == 0 ? "a tally of another path or depth"
                                                           : "not a du tally";
        return false;
    }
    if (text.back() != '\n') {
        reason = "the tally is cut off";
        return false;
    }
    std::vector<std::string> lines = Split(text.substr(header.size()), '\n');
    lines.pop_back();  // what follows the last "\n"
    RowMap rows;
    if (!ReadRows(lines, rows, reason) || !CheckTree(rows, reason)) return false;
    m_rows.swap(rows);
    return true;
}

bool DuTally::ReadRows(const std::vector<std::string>& lines, RowMap& rows,
                       std::string& reason) const {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!ReadRow(lines[i], rows, reason)) {
            reason = "row " + std::to_string(i + 1) + ": " + reason;
            return false;
        }
    }
    return true;
}

bool DuTally::ReadRow(const std::string& line, RowMap& rows, std::string& reason) const {
    const std::vector<std::string> parts = Split(line, ' ');
    std::string path;
    DuTotals totals;
    if (parts.size() != 3 || !PercentUnescape(parts[0], path) ||
        !ReadWholeNumber(parts[1], totals.bytes) || !ReadWholeNumber(parts[2], totals.entries)) {
        reason = "not a path, a byte count and an entry count";
        return false;
    }
    const auto ends = ComponentEnds(m_root, path);
    if (!ends || path != AncestorRow(m_root, path, *ends, ends->size())) {
        reason = "not a directory below the root";
        return false;
    }
    if (m_maxDepth && ends->size() > *m_maxDepth) {
        reason = "deeper than the tally goes";
        return false;
    }
    if (!rows.emplace(path, totals).second) {
        reason = "a directory given twice";
        return false;
    }
    return true;
}

// Every row but the root's has its parent's row, which counts it and all it counts.
bool DuTally::CheckTree(const RowMap& rows, std::string& reason) const {
    if (rows.count(m_root) == 0) {
        reason = "no row for the root";
        return false;
    }
    for (const auto& row : rows) {
        const std::vector<size_t> ends = *ComponentEnds(m_root, row.first);
        if (ends.empty()) continue;
        const auto parent = rows.find(AncestorRow(m_root, row.first, ends, ends.size() - 1));
        if (parent == rows.end() || parent->second.entries <= row.second.entries ||
            parent->second.bytes < row.second.bytes) {
            reason = "the totals of " + EscapeForTerminal(row.first) + " do not fit its parent's";
            return false;
        }
    }
    return true;
}

bool DrawsBars(const OutputOptions& options, const DuDisplay& display) {
    return display.terminal && options.format == Format::Table;
}

Fields DuFields(const DuRow& row, bool humanSizes, const std::optional<std::string>& bar) {
    const uint64_t bytes = row.totals.bytes;
    Fields fields{
        NumberField("bytes", bytes, humanSizes ? HumanSize(bytes) : std::to_string(bytes)),
        NumberField("entries", row.totals.entries)};
    if (bar) fields.push_back(TextField("bar", *bar));
    fields.push_back(TextField("path", row.path));
    return fields;
}

std::string ShareBar(uint64_t portion, uint64_t whole, unsigned width) {
    static const char* const kEighths[] = {"",       "\u258F", "\u258E", "\u258D",
                                           "\u258C", "\u258B", "\u258A", "\u2589"};
    const uint64_t cells = width;
    const uint64_t eighths =
        whole == 0
            ? 0
            : static_cast<uint64_t>(static_cast<unsigned __int128>(std::min(portion, whole)) *
                                    (cells * kEighthsPerCell) / whole);
    std::string bar;
    for (uint64_t i = 0; i < eighths / kEighthsPerCell; ++i) bar += "\u2588";
    bar += kEighths[eighths % kEighthsPerCell];
    const uint64_t drawn = (eighths + kEighthsPerCell - 1) / kEighthsPerCell;
    return bar + std::string(cells - drawn, ' ');
}

void PrintDuReport(std::ostream& out, const OutputOptions& options, const DuTally& tally,
                   const DuDisplay& display) {
    const std::vector<DuRow> rows = tally.Rows();
    const bool bars = DrawsBars(options, display);
    const std::optional<std::string> barPrototype =
        bars ? std::optional<std::string>(std::string()) : std::nullopt;
    Listing listing(out, options, DuFields(DuRow(), options.humanSizes, barPrototype));
    if (!bars) {
        for (const DuRow& row : rows) listing.Add(DuFields(row, options.humanSizes, std::nullopt));
    } else {
        const unsigned width = BarWidth(rows, options, display.columns);
        const auto shares = ParentShares(rows);
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::string bar = ShareBar(shares[i].first, shares[i].second, width);
            listing.Add(DuFields(rows[i], options.humanSizes, bar));
        }
    }
    listing.Finish();
}

}  // namespace clusterctl
