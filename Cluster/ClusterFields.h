// Internal to the library: the one way every record parser reads fields and walks lists.
// A record type is a table of keys (Field), read in table order; a listing is walked once by
// ReadListedRecords (arrays of records that also stand alone) or ReadPage (paged listings).
// Errors are made with the location of the public operation that called in.
#pragma once

#include <cstdlib>
#include <list>
#include <string>

#include "Cluster/ClusterParser.h"
#include "platform/TnJson.h"

namespace Cluster {

enum class FieldKind {
    Text,           // JSON string, stored unchanged
    Flag,           // JSON boolean
    Number,         // JSON number, unsigned 64-bit
    TextNumber,     // JSON string read with strtoull in the field's base
    Time,           // JSON string read with ConvertStringToTimeStamp
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

    const Field<Record>* first;
    size_t count;
};

// What stopped a table read without an exception.
struct FieldOutcome {
    CZuError timeError;             // a time text that did not convert
    bool unknownOperation = false;  // an "op" text outside the three kinds
    std::string operationText;

    bool Completed() const { return !timeError.IsError() && !unknownOperation; }
};

bool ReadOperation(const std::string& text, SnapshotDiffOperation& operation);

// Assigns each field at once, in table order. A missing key or a value of another kind
// throws std::exception; a time or operation text that does not convert stops the read.
template <class Record>
FieldOutcome ReadFields(const json_spirit::mObject& object, FieldTable<Record> fields,
                        Record& record) {
    FieldOutcome outcome;
    for (const Field<Record>& field : fields) {
        switch (field.kind) {
            case FieldKind::Text:
                record.*field.text = TnJson::GetStringValue(object, field.key);
                break;
            case FieldKind::Flag:
                record.*field.flag = TnJson::GetBoolValue(object, field.key);
                break;
            case FieldKind::Number:
                record.*field.number = TnJson::GetUInt64Value(object, field.key);
                break;
            case FieldKind::TextNumber:
                record.*field.number = std::strtoull(
                    TnJson::GetStringValue(object, field.key).c_str(), nullptr, field.base);
                break;
            case FieldKind::DirectoryType:
                record.*field.flag =
                    TnJson::GetStringValue(object, field.key) == "FS_FILE_TYPE_DIRECTORY";
                break;
            case FieldKind::Time:
                outcome.timeError = ConvertStringToTimeStamp(
                    TnJson::GetStringValue(object, field.key), record.*field.time);
                break;
            case FieldKind::Operation:
                outcome.operationText = TnJson::GetStringValue(object, field.key);
                outcome.unknownOperation =
                    !ReadOperation(outcome.operationText, record.*field.operation);
                break;
        }
        if (!outcome.Completed()) break;
    }
    return outcome;
}

// A listing hands an element it has already parsed to the single-record operation through a
// placeholder text, so the element is neither written back to text nor parsed again; its
// compact text is written only if a message quotes it.
class ElementHandOff {
public:
    explicit ElementHandOff(const json_spirit::mObject& element);
    ~ElementHandOff();
    ElementHandOff(const ElementHandOff&) = delete;
    ElementHandOff& operator=(const ElementHandOff&) = delete;

    const std::string& Placeholder() const { return m_placeholder; }
    const json_spirit::mObject& Element() const { return m_element; }
    std::string CompactText() const { return TnJson::Serialize(m_element); }

    // The hand-off on this thread whose placeholder is `text`, if any.
    static const ElementHandOff* Of(const std::string& text);

private:
    const json_spirit::mObject& m_element;
    const ElementHandOff* m_previous;
    const std::string m_placeholder;
};

// The object a single-record operation reads: parsed from its text, or handed in.
class ParsedObject {
public:
    explicit ParsedObject(const std::string& text);
    bool IsObject() const { return m_handOff != nullptr || m_isObject; }
    const json_spirit::mObject& Object() const {
        return m_handOff != nullptr ? m_handOff->Element() : m_parsed;
    }
    // The text a message quotes: as received, or the handed-in element's compact text.
    std::string Text() const { return m_handOff != nullptr ? m_handOff->CompactText() : m_text; }

private:
    const std::string& m_text;
    const ElementHandOff* m_handOff;
    json_spirit::mObject m_parsed;
    bool m_isObject = false;
};

constexpr unsigned int kParseError = 774;

// One record from one object: "Cannot get JSON object from %s" when the text is no object,
// `badEntryFormat` (text, what()) when a key cannot be read, a time error with `here` pushed.
template <class Record>
CZuError ReadRecord(const std::string& text, FieldTable<Record> fields, Record& record,
                    const char* badEntryFormat, const FXCodeLocation& here) {
    const ParsedObject parsed(text);
    if (!parsed.IsObject()) {
        return FXErrorUtil::ErrorWin32(here, kParseError, "Cannot get JSON object from %s",
                                       text.c_str());
    }
    try {
        FieldOutcome outcome = ReadFields(parsed.Object(), fields, record);
        if (outcome.timeError.IsError()) return outcome.timeError.Push(here);
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kParseError, badEntryFormat, parsed.Text().c_str(),
                                       exception.what());
    }
    return CZuError::Success();
}

CZuError NotAnObjectError(const json_spirit::mValue& element, const char* badEntryFormat,
                          const FXCodeLocation& here);

// Each element through `readOne` (a single-record operation), appended in order; the first
// failure ends the walk with `here` pushed. An element that is not an object fails with
// `badEntryFormat` (its text, the reason).
template <class Record, class ReadOne>
CZuError ReadListedRecords(const json_spirit::mArray& elements, std::list<Record>& records,
                           ReadOne readOne, const char* badEntryFormat,
                           const FXCodeLocation& here) {
    for (const json_spirit::mValue& element : elements) {
        if (element.type() != json_spirit::obj_type) {
            return NotAnObjectError(element, badEntryFormat, here);
        }
        const ElementHandOff handOff(element.get_obj());
        Record record;
        CZuError error = readOne(handOff.Placeholder(), record);
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
CZuError ReadPageElement(const json_spirit::mValue& element, const PageRules<Record>& rules,
                         Record& record, const FXCodeLocation& here) {
    try {
        FieldOutcome outcome = ReadFields(element.get_obj(), rules.fields, record);
        if (outcome.timeError.IsError()) return outcome.timeError.Push(here);
        if (outcome.unknownOperation) {
            return FXErrorUtil::ErrorWin32(here, kParseError, rules.unknownOperationFormat,
                                           outcome.operationText.c_str());
        }
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kParseError, rules.badElementFormat,
                                       json_spirit::write_string(element, 0).c_str(),
                                       exception.what());
    }
    if (rules.finish != nullptr) rules.finish(record);
    return CZuError::Success();
}

CZuError ReadNextLink(const json_spirit::mObject& reply, const std::string& text,
                      std::string& nextLink, const FXCodeLocation& here);

// Appends every element of the page, then reads the link to the next page. The first bad
// element ends the call; `nextLink` changes only on success.
template <class Record>
CZuError ReadPage(const std::string& text, const PageRules<Record>& rules,
                  std::list<Record>& records, std::string& nextLink, const FXCodeLocation& here) {
    json_spirit::mObject reply;
    if (!TnJson::Unserialize(text, reply)) {
        return FXErrorUtil::ErrorWin32(here, kParseError, "Cannot get JSON object from %s",
                                       text.c_str());
    }
    const auto elements = reply.find(rules.arrayKey);
    if (elements == reply.end() || elements->second.type() != json_spirit::array_type) {
        return FXErrorUtil::ErrorWin32(here, kParseError, rules.noArrayFormat, text.c_str());
    }
    for (const json_spirit::mValue& element : elements->second.get_array()) {
        Record record;
        CZuError error = ReadPageElement(element, rules, record, here);
        if (error.IsError()) return error;
        records.push_back(std::move(record));
    }
    return ReadNextLink(reply, text, nextLink, here);
}

}  // namespace Cluster
