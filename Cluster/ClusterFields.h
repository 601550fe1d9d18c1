// Internal to the library: the one way every record parser reads fields and walks lists.
// A record type is a table of keys (Field), read in table order from one of two sources: the
// value tree of a single reply (TreeFields), or an element of a listing's light parsed form
// (ScannedFields), which fail with the same texts. A listing is walked once by
// ReadListedRecords (arrays of records that also stand alone) or ReadPage (paged listings).
// Errors are made with the location of the public operation that called in.
#pragma once

#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "Cluster/ClusterListingScan.h"
#include "Cluster/ClusterParser.h"
#include "Cluster/ClusterSecrets.h"
#include "platform/TnJson.h"

namespace Cluster {

enum class FieldKind {
    Text,           // JSON string, stored unchanged
    Flag,           // JSON boolean
    Number,         // JSON number, unsigned 64-bit
    TextNumber,     // JSON string read with strtoull in the field's base
    Time,           // JSON string read as a cluster time
    DirectoryType,  // JSON string: true exactly for "FS_FILE_TYPE_DIRECTORY"
    Operation,      // JSON string: "CREATE", "DELETE" or "MODIFY"
};

template <class Record>
struct Field {
    const char* key;
    FieldKind kind;
    std::string Record::*text;
    bool Record::*flag;
    uint64_t Record::*number;
    time_t Record::*time;
    SnapshotDiffOperation Record::*operation;
    int base;
};

template <class Record>
constexpr Field<Record> TextField(const char* key, std::string Record::*member) {
    return {key, FieldKind::Text, member, nullptr, nullptr, nullptr, nullptr, 0};
}
template <class Record>
constexpr Field<Record> FlagField(const char* key, bool Record::*member) {
    return {key, FieldKind::Flag, nullptr, member, nullptr, nullptr, nullptr, 0};
}
template <class Record>
constexpr Field<Record> DirectoryTypeField(const char* key, bool Record::*member) {
    return {key, FieldKind::DirectoryType, nullptr, member, nullptr, nullptr, nullptr, 0};
}
template <class Record>
constexpr Field<Record> NumberField(const char* key, uint64_t Record::*member) {
    return {key, FieldKind::Number, nullptr, nullptr, member, nullptr, nullptr, 0};
}
template <class Record>
constexpr Field<Record> TextNumberField(const char* key, uint64_t Record::*member, int base) {
    return {key, FieldKind::TextNumber, nullptr, nullptr, member, nullptr, nullptr, base};
}
template <class Record>
constexpr Field<Record> TimeField(const char* key, time_t Record::*member) {
    return {key, FieldKind::Time, nullptr, nullptr, nullptr, member, nullptr, 0};
}
template <class Record>
constexpr Field<Record> OperationField(const char* key, SnapshotDiffOperation Record::*member) {
    return {key, FieldKind::Operation, nullptr, nullptr, nullptr, nullptr, member, 0};
}

// A record type's keys in reading order.
template <class Record>
struct FieldTable {
    template <size_t N>
    constexpr FieldTable(const Field<Record> (&fields)[N]) : first(fields), count(N) {}
    const Field<Record>* begin() const { return first; }
    const Field<Record>* end() const { return first + count; }
    std::vector<const char*> Keys() const {
        std::vector<const char*> keys;
        for (const Field<Record>& field : *this) keys.push_back(field.key);
        return keys;
    }

    const Field<Record>* first;
    size_t count;
};

// A string value without a copy: NUL-terminated where it lies.
struct TextRef {
    const char* data;
    size_t size;
};

inline const char* CText(const std::string& text) {
    return text.c_str();
}
inline const char* CText(TextRef text) {
    return text.data;
}
inline std::string OwnText(std::string&& text) {
    return std::move(text);
}
inline std::string OwnText(TextRef text) {
    return std::string(text.data, text.size);
}
inline bool TextEquals(const std::string& text, const char* literal) {
    return text == literal;
}
inline bool TextEquals(TextRef text, const char* literal) {
    return text.size == std::strlen(literal) && std::memcmp(text.data, literal, text.size) == 0;
}

// Fields of one object of the value tree, through the JSON wrapper's getters.
class TreeFields {
  public:
    explicit TreeFields(const json_spirit::mObject& object) : m_object(object) {}
    std::string Text(size_t, const char* key) const {
        return TnJson::GetStringValue(m_object, key);
    }
    bool Flag(size_t, const char* key) const { return TnJson::GetBoolValue(m_object, key); }
    uint64_t Number(size_t, const char* key) const { return TnJson::GetUInt64Value(m_object, key); }

  private:
    const json_spirit::mObject& m_object;
};

// Fields of a scanned listing element, slot i holding the table's key i. A missing value or
// one of another kind throws exactly what the wrapper's getter throws for it.
class ScannedFields {
  public:
    explicit ScannedFields(const ScannedValue* slots) : m_slots(slots) {}
    TextRef Text(size_t slot, const char* key) const;
    bool Flag(size_t slot, const char* key) const;
    uint64_t Number(size_t slot, const char* key) const;

  private:
    const ScannedValue* m_slots;
};

// What stopped a table read without an exception.
struct FieldOutcome {
    CZuError timeError;             // a time text that did not convert
    bool unknownOperation = false;  // an "op" text outside the three kinds
    std::string operationText;

    bool Completed() const { return !timeError.IsError() && !unknownOperation; }
};

bool ReadOperation(const std::string& text, SnapshotDiffOperation& operation);
// The cluster time text up to its first NUL as UTC; false when it is no time.
bool ReadUtcTime(const char* text, time_t& timestamp);

inline CZuError ConvertTime(const char* text, time_t& timestamp) {
    if (ReadUtcTime(text, timestamp)) return CZuError::Success();
    return ConvertStringToTimeStamp(text, timestamp);  // makes the error
}

// Assigns each field at once, in table order. A missing key or a value of another kind
// throws std::exception; a time or operation text that does not convert stops the read.
template <class Record, class Source>
FieldOutcome ReadFields(const Source& source, FieldTable<Record> fields, Record& record) {
    FieldOutcome outcome;
    size_t slot = 0;
    for (const Field<Record>& field : fields) {
        switch (field.kind) {
            case FieldKind::Text:
                record.*field.text = OwnText(source.Text(slot, field.key));
                break;
            case FieldKind::Flag:
                record.*field.flag = source.Flag(slot, field.key);
                break;
            case FieldKind::Number:
                record.*field.number = source.Number(slot, field.key);
                break;
            case FieldKind::TextNumber:
                record.*field.number =
                    std::strtoull(CText(source.Text(slot, field.key)), nullptr, field.base);
                break;
            case FieldKind::DirectoryType:
                record.*field.flag =
                    TextEquals(source.Text(slot, field.key), "FS_FILE_TYPE_DIRECTORY");
                break;
            case FieldKind::Time:
                outcome.timeError =
                    ConvertTime(CText(source.Text(slot, field.key)), record.*field.time);
                break;
            case FieldKind::Operation:
                outcome.operationText = OwnText(source.Text(slot, field.key));
                outcome.unknownOperation =
                    !ReadOperation(outcome.operationText, record.*field.operation);
                break;
        }
        if (!outcome.Completed()) break;
        ++slot;
    }
    return outcome;
}

// A listing hands an element it has already scanned to the single-record operation through a
// placeholder text, so the element is never written back to text and parsed again; its
// compact text is written only if a message quotes it. The listing and the single-record
// operation read the same field table, so the scanned slots line up with the fields.
class ElementHandOff {
  public:
    ElementHandOff(const ListingScan& scan, const std::string& text, const ScannedElement& element);
    ~ElementHandOff();
    ElementHandOff(const ElementHandOff&) = delete;
    ElementHandOff& operator=(const ElementHandOff&) = delete;

    const std::string& Placeholder() const { return m_placeholder; }
    ScannedFields Fields() const { return ScannedFields(m_scan.Slots(m_element)); }
    std::string CompactText() const { return m_scan.CompactText(m_text, m_element); }

    // The hand-off on this thread whose placeholder is `text`, if any.
    static const ElementHandOff* Of(const std::string& text);

  private:
    const ListingScan& m_scan;
    const std::string& m_text;
    const ScannedElement& m_element;
    const ElementHandOff* m_previous;
    const std::string m_placeholder;
};

constexpr unsigned int kParseError = 774;

// One record from one object: "Cannot get JSON object from %s" when the text is no object,
// `badEntryFormat` (text, what()) when a key cannot be read, a time error with `here` pushed.
template <class Record>
CZuError ReadRecord(const std::string& text, FieldTable<Record> fields, Record& record,
                    const char* badEntryFormat, const FXCodeLocation& here) {
    const ElementHandOff* handOff = ElementHandOff::Of(text);
    json_spirit::mObject object;
    if (handOff == nullptr && !TnJson::Unserialize(text, object)) {
        return FXErrorUtil::ErrorWin32(here, kParseError, "Cannot get JSON object from %s",
                                       Quote(text).c_str());
    }
    try {
        const FieldOutcome outcome = handOff != nullptr
                                         ? ReadFields(handOff->Fields(), fields, record)
                                         : ReadFields(TreeFields(object), fields, record);
        if (outcome.timeError.IsError()) return CZuError(outcome.timeError).Push(here);
    } catch (const std::exception& exception) {
        const std::string quoted = handOff != nullptr ? handOff->CompactText() : text;
        return FXErrorUtil::ErrorWin32(here, kParseError, badEntryFormat, Quote(quoted).c_str(),
                                       Quote(exception.what()).c_str());
    }
    return CZuError::Success();
}

// The reason an element that is not an object cannot be read as one.
std::string NotAnObjectReason(const ScannedElement& element);

// Scans a listing reply: "Cannot get JSON object from %s" when the text is not of the shape's
// kind, `noArrayFormat` (reply text) when the array member is missing or holds no array.
template <class Record>
CZuError ScanReply(const std::string& text, ListingShape shape, FieldTable<Record> fields,
                   const char* noArrayFormat, ListingScan& scan, const FXCodeLocation& here) {
    const std::vector<const char*> keys = fields.Keys();
    if (!scan.Scan(text, shape, keys.data(), keys.size())) {
        return FXErrorUtil::ErrorWin32(here, kParseError, "Cannot get JSON object from %s",
                                       Quote(text).c_str());
    }
    if (!scan.HasArray()) {
        return FXErrorUtil::ErrorWin32(here, kParseError, noArrayFormat, Quote(text).c_str());
    }
    return CZuError::Success();
}

// How a listing of records that also stand alone reads: each element through the
// single-record operation, which reads the same field table.
template <class Record>
struct ListingRules {
    ListingShape shape;
    const char* noArrayFormat;   // (reply text); only for a shape with an array member
    const char* badEntryFormat;  // (element's or record's text, what())
    FieldTable<Record> fields;
    CZuError (CParser::*readOne)(const string&, Record&);
};

// Each element appended in order; the first failure ends the walk with `here` pushed. An
// element that is not an object fails with the entry message (its text, the reason).
template <class Record>
CZuError ReadListing(CParser& parser, const std::string& text, const ListingRules<Record>& rules,
                     std::list<Record>& records, const FXCodeLocation& here) {
    ScanLease lease;
    ListingScan& scan = lease.Scan();
    CZuError error = ScanReply(text, rules.shape, rules.fields, rules.noArrayFormat, scan, here);
    if (error.IsError()) return error;
    for (const ScannedElement& element : scan.Elements()) {
        if (element.kind != json_spirit::obj_type) {
            return FXErrorUtil::ErrorWin32(here, kParseError, rules.badEntryFormat,
                                           Quote(scan.CompactText(text, element)).c_str(),
                                           Quote(NotAnObjectReason(element)).c_str());
        }
        const ElementHandOff handOff(scan, text, element);
        Record record;
        error = (parser.*rules.readOne)(handOff.Placeholder(), record);
        if (error.IsError()) return error.Push(here);
        records.push_back(std::move(record));
    }
    return CZuError::Success();
}

// How one kind of paged listing reads: {"<arrayKey>":[…],"paging":{"next":"…"}}.
template <class Record>
struct PageRules {
    const char* arrayKey;
    const char* noArrayFormat;           // (reply text)
    const char* badElementFormat;        // (element's compact text, what())
    const char* unknownOperationFormat;  // ("op" text); null for records without one
    FieldTable<Record> fields;
    void (*finish)(Record&);  // completes a record read without failure; may be null
};

template <class Record>
CZuError ReadPageElement(const ListingScan& scan, const std::string& text,
                         const ScannedElement& element, const PageRules<Record>& rules,
                         Record& record, const FXCodeLocation& here) {
    try {
        if (element.kind != json_spirit::obj_type) throw TnJsonError(NotAnObjectReason(element));
        FieldOutcome outcome = ReadFields(ScannedFields(scan.Slots(element)), rules.fields, record);
        if (outcome.timeError.IsError()) return outcome.timeError.Push(here);
        if (outcome.unknownOperation) {
            return FXErrorUtil::ErrorWin32(here, kParseError, rules.unknownOperationFormat,
                                           Quote(outcome.operationText).c_str());
        }
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kParseError, rules.badElementFormat,
                                       Quote(scan.CompactText(text, element)).c_str(),
                                       Quote(exception.what()).c_str());
    }
    if (rules.finish != nullptr) rules.finish(record);
    return CZuError::Success();
}

CZuError ReadNextLink(const ListingScan& scan, const std::string& text, std::string& nextLink,
                      const FXCodeLocation& here);

// Appends every element of the page, then reads the link to the next page. The first bad
// element ends the call; `nextLink` changes only on success.
template <class Record>
CZuError ReadPage(const std::string& text, const PageRules<Record>& rules,
                  std::list<Record>& records, std::string& nextLink, const FXCodeLocation& here) {
    ScanLease lease;
    ListingScan& scan = lease.Scan();
    CZuError error = ScanReply(text, ListingShape{rules.arrayKey, true}, rules.fields,
                               rules.noArrayFormat, scan, here);
    if (error.IsError()) return error;
    for (const ScannedElement& element : scan.Elements()) {
        Record record;
        error = ReadPageElement(scan, text, element, rules, record, here);
        if (error.IsError()) return error;
        records.push_back(std::move(record));
    }
    return ReadNextLink(scan, text, nextLink, here);
}

}  // namespace Cluster
