// How results reach stdout: aligned text tables and "name: value" blocks for people, JSON for
// scripts (one document for a single item, one object per line for a listing), or bare paths
// ended by NUL for scripts that must handle any byte a name can hold.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace clusterctl {

// Text escapes what the cluster sent (see TerminalText.h). Json is always valid UTF-8: a text
// field that is not gets U+FFFD for each bad sequence and a sibling "<name>_base64" with the
// exact bytes. Paths writes only each row's "path" field, raw, followed by NUL.
enum class Format { Text, Json, Paths };

// One named value of a record. `text` is what people see; JSON gets the typed value.
struct Field {
    enum class Kind { Text, Number, Boolean };

    std::string name;  // the JSON key; upper-cased, the table heading
    Kind kind = Kind::Text;
    std::string text;
    uint64_t number = 0;
    bool boolean = false;
    bool detail = false;  // left out of table rows to keep them narrow
};
using Fields = std::vector<Field>;

Field TextField(std::string name, std::string text);
Field NumberField(std::string name, uint64_t number);
Field NumberField(std::string name, uint64_t number, std::string shownAs);
Field BooleanField(std::string name, bool value);
Field Detail(Field field);

// A single item: one JSON document, or one aligned "name: value" line per field.
void PrintItem(std::ostream& out, Format format, const Fields& fields);

// A listing written page by page. Text columns are as wide as the widest value seen so far,
// so rows of one page line up and later pages widen the columns only when they must.
class Listing {
  public:
    Listing(std::ostream& out, Format format, bool withHeading = true);
    void Add(Fields row);
    // Writes the rows added since the last flush.
    void Flush();

  private:
    void WidenColumns(const std::vector<std::string>& cells);
    void WriteRow(const std::vector<std::string>& cells, const std::vector<bool>& rightAligned);
    void FlushText();

    std::ostream& m_out;
    Format m_format;
    bool m_withHeading;
    bool m_headingWritten = false;
    std::vector<Fields> m_rows;
    std::vector<size_t> m_widths;
};

}  // namespace clusterctl
