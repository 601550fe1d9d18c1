#include "Output.h"

#include <openssl/evp.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iostream>
#include <set>
#include <system_error>
#include <utility>

#include "TerminalText.h"
#include "UsageError.h"
#include "Utf8.h"

namespace clusterctl {
namespace {

constexpr const char* kColumnGap = "  ";
constexpr const char* kEmptyCell = "-";
constexpr const char* kCsvLineEnd = "\r\n";

constexpr const char* kPathField = "path";

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;
using Selection = std::vector<const Field*>;  // null where a row lacks a selected field

// A failed write leaves errno as the system call set it; a stream can also fail without one.
[[noreturn]] void ThrowOutputError(int errorNumber) {
    throw OutputError(errorNumber != 0 ? errorNumber : EIO);
}

void WriteChecked(std::ostream& out, const std::string& text) {
    errno = 0;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out.fail()) ThrowOutputError(errno);
}

// Only stdout can reach a terminal: other streams are the tests' strings.
bool ReachesTerminal(const std::ostream& out) {
    return &out == &std::cout && isatty(STDOUT_FILENO) == 1;
}

void WriteJsonString(JsonWriter& writer, const std::string& text) {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

// Base64 with padding (RFC 4648), by OpenSSL.
std::string Base64(const std::string& bytes) {
    std::string encoded((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&encoded[0]),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    encoded.resize(static_cast<size_t>(length));
    return encoded;
}

// RapidJSON escapes what JSON requires and passes bytes on unchecked, so text that is not
// UTF-8 is mended here and its exact bytes follow in base64.
void WriteTextField(JsonWriter& writer, const Field& field) {
    if (IsValidUtf8(field.text)) {
        WriteJsonString(writer, field.text);
        return;
    }
    WriteJsonString(writer, WithReplacementCharacters(field.text));
    const std::string key = field.name + "_base64";
    writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    WriteJsonString(writer, Base64(field.text));
}

// A selected field the row lacks is null: a deleted file has no size, which is not a size of 0.
std::string JsonObject(const Selection& fields, const std::vector<std::string>& names) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field* field = fields[i];
        writer.Key(names[i].data(), static_cast<rapidjson::SizeType>(names[i].size()));
        if (field == nullptr) {
            writer.Null();
            continue;
        }
        switch (field->kind) {
            case Field::Kind::Number:
                writer.Uint64(field->number);
                break;
            case Field::Kind::Boolean:
                writer.Bool(field->boolean);
                break;
            case Field::Kind::Text:
                WriteTextField(writer, *field);
                break;
        }
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string CsvValue(const Field* field, bool escape) {
    if (field == nullptr) return "";
    switch (field->kind) {
        case Field::Kind::Number:
            return std::to_string(field->number);
        case Field::Kind::Boolean:
            return field->boolean ? "true" : "false";
        case Field::Kind::Text:
            break;
    }
    return CsvField(escape ? EscapeForTerminal(field->text) : field->text);
}

std::string CsvLine(const std::vector<std::string>& values) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) line += (i == 0 ? "" : ",") + values[i];
    return line + kCsvLineEnd;
}

std::string CsvHeading(const std::vector<std::string>& names) {
    std::vector<std::string> quoted;
    for (const std::string& name : names) quoted.push_back(CsvField(name));
    return CsvLine(quoted);
}

std::string CsvRow(const Selection& fields, bool escape) {
    std::vector<std::string> values;
    for (const Field* field : fields) values.push_back(CsvValue(field, escape));
    return CsvLine(values);
}

std::string PathText(const Fields& row, bool escape) {
    for (const Field& field : row) {
        if (field.name == kPathField)
            return (escape ? EscapeForTerminal(field.text) : field.text) + '\0';
    }
    return "";
}

std::string Shown(const Field* field) {
    return field == nullptr || field->text.empty() ? kEmptyCell : EscapeForTerminal(field->text);
}

std::string Heading(const std::string& name) {
    std::string heading = name;
    for (char& c : heading) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return heading;
}

const Field* Find(const Fields& row, const std::string& name) {
    for (const Field& field : row) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

// What a format shows of a record: --fields when given, otherwise every field, or for a
// table listing those that are not details.
std::vector<std::string> ShownNames(const OutputOptions& options, const Fields& prototype,
                                    bool tableListing) {
    CheckFields(options, prototype);
    if (!options.fields.empty()) return options.fields;
    std::vector<std::string> names;
    for (const Field& field : prototype) {
        if (!tableListing || !field.detail) names.push_back(field.name);
    }
    return names;
}

Selection Select(const Fields& row, const std::vector<std::string>& names) {
    Selection selection;
    for (const std::string& name : names) selection.push_back(Find(row, name));
    return selection;
}

std::string ItemText(const OutputOptions& options, const Fields& fields, bool escape) {
    const std::vector<std::string> shown = ShownNames(options, fields, false);
    const Selection selection = Select(fields, shown);
    switch (options.format) {
        case Format::Json:
        case Format::JsonLines:
            return JsonObject(selection, shown) + '\n';
        case Format::Csv: {
            std::vector<std::string> names;
            for (const Field* field : selection) names.push_back(field->name);
            return (options.headers ? CsvHeading(names) : "") + CsvRow(selection, escape);
        }
        case Format::Paths:
            return PathText(fields, escape);
        case Format::Table:
            break;
    }
    size_t nameWidth = 0;
    for (const Field* field : selection) nameWidth = std::max(nameWidth, field->name.size());
    std::string text;
    for (const Field* field : selection) {
        text += field->name + ':' + std::string(nameWidth - field->name.size() + 1, ' ') +
                Shown(field) + '\n';
    }
    return text;
}

}  // namespace

OutputError::OutputError(int errorNumber)
    : std::runtime_error("cannot write output: " + std::generic_category().message(errorNumber)),
      m_errorNumber(errorNumber) {}

void FlushOutput(std::ostream& out) {
    // A stream that failed already keeps the errno of that write, as far as it is still there.
    if (!out.fail()) {
        errno = 0;
        out.flush();
    }
    if (out.fail()) ThrowOutputError(errno);
}

Field TextField(std::string name, std::string text) {
    Field field;
    field.name = std::move(name);
    field.text = std::move(text);
    return field;
}

Field NumberField(std::string name, uint64_t number) {
    return NumberField(std::move(name), number, std::to_string(number));
}

Field NumberField(std::string name, uint64_t number, std::string shownAs) {
    Field field = TextField(std::move(name), std::move(shownAs));
    field.kind = Field::Kind::Number;
    field.number = number;
    return field;
}

Field BooleanField(std::string name, bool value) {
    Field field = TextField(std::move(name), value ? "true" : "false");
    field.kind = Field::Kind::Boolean;
    field.boolean = value;
    return field;
}

Field Detail(Field field) {
    field.detail = true;
    return field;
}

Field Typically(size_t width, Field field) {
    field.typicalWidth = width;
    return field;
}

void CheckFields(const OutputOptions& options, const Fields& prototype) {
    std::set<std::string> named;
    for (const std::string& name : options.fields) {
        if (Find(prototype, name) == nullptr) {
            std::string available;
            for (const Field& field : prototype)
                available += (available.empty() ? "" : ", ") + field.name;
            throw UsageError("--fields: no field \"" + name + "\"; the fields are " + available);
        }
        if (!named.insert(name).second)
            throw UsageError("--fields: \"" + name + "\" is named twice");
    }
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

void PrintItem(std::ostream& out, const OutputOptions& options, const Fields& fields) {
    WriteChecked(out, ItemText(options, fields, ReachesTerminal(out)));
    FlushOutput(out);
}

Listing::Listing(std::ostream& out, const OutputOptions& options, const Fields& prototype,
                 bool withHeading)
    : m_out(out),
      m_format(options.format),
      m_headings(withHeading && options.headers),
      m_raw(!ReachesTerminal(out)),
      m_names(ShownNames(options, prototype, options.format == Format::Table)) {
    for (const std::string& name : m_names) {
        const Field* field = Find(prototype, name);
        m_rightAligned.push_back(field->kind == Field::Kind::Number);
        m_typicalWidths.push_back(field->typicalWidth);
    }
}

void Listing::Add(Fields row) {
    m_rows.push_back(std::move(row));
}

void Listing::Flush() {
    switch (m_format) {
        case Format::Json:
            // One row a line, the separating comma leading the next, so that every page ends
            // with a whole line (a progress line may be drawn below it).
            for (const Fields& row : m_rows) {
                Write((m_started ? "," : "[\n") + JsonObject(Select(row, m_names), m_names) + '\n');
                m_started = true;
            }
            break;
        case Format::JsonLines:
            for (const Fields& row : m_rows)
                Write(JsonObject(Select(row, m_names), m_names) + '\n');
            break;
        case Format::Csv:
            if (!m_started && !m_rows.empty() && m_headings) Write(CsvHeading(m_names));
            m_started = m_started || !m_rows.empty();
            for (const Fields& row : m_rows) Write(CsvRow(Select(row, m_names), !m_raw));
            break;
        case Format::Paths:
            for (const Fields& row : m_rows) Write(PathText(row, !m_raw));
            break;
        case Format::Table:
            WriteTable(false);
            break;
    }
    m_rows.clear();
    FlushOutput(m_out);
}

void Listing::Finish() {
    if (m_format == Format::Table && !m_started) WriteTable(true);
    Flush();
    if (m_format == Format::Json) Write(m_started ? "]\n" : "[]\n");
    if (m_format == Format::Csv && !m_started && m_headings) Write(CsvHeading(m_names));
    m_started = true;
    FlushOutput(m_out);
}

void Listing::Resume(bool rowsWritten) {
    if (!rowsWritten) return;
    m_headings = false;
    // A table sets its widths from its first page in this run, its heading already written.
    if (m_format != Format::Table) m_started = true;
}

void Listing::Write(const std::string& text) {
    WriteChecked(m_out, text);
}

// `whole`: these rows are all there is, so no later page needs room.
void Listing::WriteTable(bool whole) {
    if (m_rows.empty()) return;
    std::vector<std::vector<std::string>> cells;
    for (const Fields& row : m_rows) {
        cells.emplace_back();
        for (const Field* field : Select(row, m_names)) cells.back().push_back(Shown(field));
    }
    if (!m_started) {
        std::vector<std::string> headings;
        for (const std::string& name : m_names) headings.push_back(Heading(name));
        m_widths.assign(m_names.size(), 0);
        for (size_t i = 0; i < m_names.size(); ++i) {
            if (m_headings) m_widths[i] = DisplayWidth(headings[i]);
            for (const auto& rowCells : cells)
                m_widths[i] = std::max(m_widths[i], DisplayWidth(rowCells[i]));
            if (!whole) m_widths[i] = std::max(m_widths[i], m_typicalWidths[i]);
        }
        m_started = true;
        if (m_headings) WriteTableRow(headings, false);
    }
    for (const auto& rowCells : cells) WriteTableRow(rowCells, true);
    m_rows.clear();
}

void Listing::WriteTableRow(const std::vector<std::string>& cells, bool values) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const bool last = i + 1 == cells.size();
        const size_t width = DisplayWidth(cells[i]);
        const std::string padding(m_widths[i] > width ? m_widths[i] - width : 0, ' ');
        const bool right = values && m_rightAligned[i];
        if (right) line += padding;
        line += cells[i];
        if (!right && !last) line += padding;
        if (!last) line += kColumnGap;
    }
    Write(line + '\n');
}

}  // namespace clusterctl
