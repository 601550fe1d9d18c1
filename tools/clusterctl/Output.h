// How results reach stdout: aligned text tables and "name: value" blocks for people; JSON,
// JSON lines and CSV for scripts; bare paths ended by NUL for scripts that must handle any
// byte a name can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace clusterctl {

// Table: escapes what the cluster sent (see TerminalText.h); --no-headers drops the heading
//     line of a listing. Items are "name: value" lines, --no-headers or not. Without --fields
//     a listing leaves out the detail fields; an item shows them all.
// Json: one document. An item is one object; a listing is one array, written page by page
//     with one row a line (the comma between rows leads the next line), whose closing "]" is
//     written only once the listing completed, so output cut short by a failure never parses
//     as a whole listing. Always valid UTF-8: a text field that is not
//     gets U+FFFD for each bad sequence and a sibling "<name>_base64" with the exact bytes.
// JsonLines: one such object per line, for listings and items alike.
// Csv: RFC 4180 with "\r\n" line ends: a line of field names (unless --no-headers), then one
//     line per record (one for an item). A field holding a comma, quote, CR or LF is quoted,
//     quotes doubled. CSV has no escape for bytes, so text is written exactly as the cluster
//     sent it, UTF-8 or not. Numbers are exact (-h does not apply); an empty text is empty.
// Paths: only each row's "path" field, raw, followed by NUL.
// Json, JsonLines and Csv show every field unless --fields names them. Csv and Paths write raw
// bytes, so when stdout is a terminal their text is escaped as in a table.
enum class Format { Table, Json, JsonLines, Csv, Paths };

struct OutputOptions {
    Format format = Format::Table;
    bool humanSizes = false;
    bool headers = true;              // --no-headers clears it
    std::vector<std::string> fields;  // --fields: these fields in this order; empty: the default
};

// Writing to stdout failed (a full disk, a closed pipe): the run must not look successful.
class OutputError : public std::runtime_error {
  public:
    explicit OutputError(int errorNumber);
    // The errno of the failed write, e.g. ENOSPC or EPIPE.
    int ErrorNumber() const { return m_errorNumber; }

  private:
    int m_errorNumber;
};

// Flushes `out`; throws OutputError when anything written to it since it was last checked
// did not get through.
void FlushOutput(std::ostream& out);

// One named value of a record. `text` is what people see; JSON gets the typed value.
struct Field {
    enum class Kind { Text, Number, Boolean };

    std::string name;  // the JSON key and CSV heading; upper-cased, the table heading
    Kind kind = Kind::Text;
    std::string text;
    uint64_t number = 0;
    bool boolean = false;
    bool detail = false;      // left out of table rows to keep them narrow
    size_t typicalWidth = 0;  // what most values need: a streamed table's column is no narrower
};
using Fields = std::vector<Field>;

Field TextField(std::string name, std::string text);
Field NumberField(std::string name, uint64_t number);
Field NumberField(std::string name, uint64_t number, std::string shownAs);
Field BooleanField(std::string name, bool value);
Field Detail(Field field);
Field Typically(size_t width, Field field);

// Throws UsageError when --fields names a field `prototype` (a record's fields, values
// unused) does not have, or one twice, naming the available ones. Commands call it before
// sending anything, so a mistyped name changes nothing on the cluster.
void CheckFields(const OutputOptions& options, const Fields& prototype);

// A single item in the chosen format, flushed. Throws UsageError as CheckFields does, and
// OutputError.
void PrintItem(std::ostream& out, const OutputOptions& options, const Fields& fields);

// A listing written page by page, with memory for one page. Every row has the fields of the
// prototype given up front, so --fields is checked before any page is read, and an empty
// listing still gets its "[]" or CSV heading.
//
// A streamed table fixes its column widths when its first page is written, from that page,
// the heading and each field's typical width, and keeps them: every row lines up with the
// heading, and a later value too wide for its column pushes only its own row to the right.
// When no page was flushed before Finish(), its rows are the whole listing and the columns fit
// them exactly.
class Listing {
  public:
    // `withHeading` false: a table without heading line whatever the options say (plain `ls`).
    // Throws UsageError as CheckFields does.
    Listing(std::ostream& out, const OutputOptions& options, const Fields& prototype,
            bool withHeading = true);
    void Add(Fields row);
    // Writes the rows added since the last flush and flushes. Throws OutputError, so a failed
    // output ends the walk before another page is fetched.
    void Flush();
    // Writes what is left and the end of the listing ("]" for JSON). Call it only when the
    // listing is complete.
    void Finish();
    // Goes on with a listing an earlier run began in the same output: no second heading, and
    // JSON rows joined to those before. `rowsWritten` false: as if new.
    void Resume(bool rowsWritten);

  private:
    void Write(const std::string& text);
    void WriteTable(bool whole);
    void WriteTableRow(const std::vector<std::string>& cells, bool values);

    std::ostream& m_out;
    Format m_format;
    bool m_headings;
    bool m_raw;  // Csv and Paths text goes out unescaped: stdout is no terminal
    std::vector<std::string> m_names;
    std::vector<bool> m_rightAligned;
    std::vector<size_t> m_typicalWidths;
    std::vector<size_t> m_widths;  // fixed by the first table page
    std::vector<Fields> m_rows;
    bool m_started = false;  // the "[", CSV heading or table widths are out
};

// The CSV form of one field: quoted when it holds a comma, quote, CR or LF.
std::string CsvField(const std::string& text);

}  // namespace clusterctl
