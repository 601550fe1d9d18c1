#include "Output.h"

#include <openssl/evp.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "TerminalText.h"
#include "Utf8.h"

namespace clusterctl {
namespace {

constexpr const char* kColumnGap = "  ";
constexpr const char* kEmptyCell = "-";

constexpr const char* kPathField = "path";

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

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

std::string JsonObject(const Fields& fields) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    for (const Field& field : fields) {
        writer.Key(field.name.data(), static_cast<rapidjson::SizeType>(field.name.size()));
        switch (field.kind) {
            case Field::Kind::Number:
                writer.Uint64(field.number);
                break;
            case Field::Kind::Boolean:
                writer.Bool(field.boolean);
                break;
            case Field::Kind::Text:
                WriteTextField(writer, field);
                break;
        }
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

// Columns are counted in characters, not bytes, so UTF-8 names line up too; the text is
// already escaped, so every byte that starts a character is one column.
size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Shown(const Field& field) {
    return field.text.empty() ? kEmptyCell : EscapeForTerminal(field.text);
}

std::string Heading(const std::string& name) {
    std::string heading = name;
    for (char& c : heading) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return heading;
}

void WritePath(std::ostream& out, const Fields& row) {
    for (const Field& field : row) {
        if (field.name == kPathField) out << field.text << '\0';
    }
}

std::vector<const Field*> TableFields(const Fields& row) {
    std::vector<const Field*> shown;
    for (const Field& field : row) {
        if (!field.detail) shown.push_back(&field);
    }
    return shown;
}

}  // namespace

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

void PrintItem(std::ostream& out, Format format, const Fields& fields) {
    if (format == Format::Json) {
        out << JsonObject(fields) << '\n';
        return;
    }
    if (format == Format::Paths) {
        WritePath(out, fields);
        return;
    }
    size_t nameWidth = 0;
    for (const Field& field : fields) nameWidth = std::max(nameWidth, field.name.size());
    for (const Field& field : fields) {
        out << field.name << ':' << std::string(nameWidth - field.name.size() + 1, ' ')
            << Shown(field) << '\n';
    }
}

Listing::Listing(std::ostream& out, Format format, bool withHeading)
    : m_out(out), m_format(format), m_withHeading(withHeading) {}

void Listing::Add(Fields row) {
    m_rows.push_back(std::move(row));
}

void Listing::Flush() {
    switch (m_format) {
        case Format::Json:
            for (const Fields& row : m_rows) m_out << JsonObject(row) << '\n';
            break;
        case Format::Paths:
            for (const Fields& row : m_rows) WritePath(m_out, row);
            break;
        case Format::Text:
            FlushText();
            break;
    }
    m_rows.clear();
    m_out.flush();
}

void Listing::FlushText() {
    if (m_rows.empty()) return;
    std::vector<std::string> headings;
    std::vector<bool> rightAligned;
    for (const Field* field : TableFields(m_rows.front())) {
        headings.push_back(Heading(field->name));
        rightAligned.push_back(field->kind == Field::Kind::Number);
    }
    std::vector<std::vector<std::string>> cells;
    for (const Fields& row : m_rows) {
        cells.emplace_back();
        for (const Field* field : TableFields(row)) cells.back().push_back(Shown(*field));
    }
    if (m_withHeading && !m_headingWritten) WidenColumns(headings);
    for (const auto& rowCells : cells) WidenColumns(rowCells);
    if (m_withHeading && !m_headingWritten) {
        WriteRow(headings, std::vector<bool>(headings.size(), false));
        m_headingWritten = true;
    }
    for (const auto& rowCells : cells) WriteRow(rowCells, rightAligned);
}

void Listing::WidenColumns(const std::vector<std::string>& cells) {
    if (m_widths.size() < cells.size()) m_widths.resize(cells.size(), 0);
    for (size_t i = 0; i < cells.size(); ++i)
        m_widths[i] = std::max(m_widths[i], DisplayWidth(cells[i]));
}

void Listing::WriteRow(const std::vector<std::string>& cells,
                       const std::vector<bool>& rightAligned) {
    for (size_t i = 0; i < cells.size(); ++i) {
        const bool last = i + 1 == cells.size();
        const std::string padding(m_widths[i] - DisplayWidth(cells[i]), ' ');
        if (rightAligned[i]) m_out << padding;
        m_out << cells[i];
        if (!rightAligned[i] && !last) m_out << padding;
        if (!last) m_out << kColumnGap;
    }
    m_out << '\n';
}

}  // namespace clusterctl
