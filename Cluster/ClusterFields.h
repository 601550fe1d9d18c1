// Internal to the library: record tables and the reading of their fields. A record type is a
// table of keys (Field), read in table order from one of two sources: the value tree of one
// reply (TreeFields), whose getters name what is wrong with a value, or an element of a
// listing's light parsed form (ScannedFields), which only says that something is. Errors are
// made with the location of the public operation that called in.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterListingScan.h"
#include "Cluster/ClusterParser.h"
#include "Cluster/ClusterSecrets.h"
#include "Cluster/ClusterTime.h"
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

// What ScannedFields throws for a value that is missing or of another kind: the element is
// then read again as a value tree, whose getters say which and how.
struct UnreadableField {};

// Fields of a scanned listing element, slot i holding the table's key i.
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

inline CZuError ConvertTime(const char* text, time_t& timestamp) {
    if (ReadUtcTime(text, timestamp)) return CZuError::Success();
    return ConvertStringToTimeStamp(text, timestamp);  // makes the error
}

// Assigns each field at once, in table order. A missing key or a value of another kind
// throws (the source's exception); a time or operation text that does not convert stops the
// read.
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

// One record from one object: "Cannot get JSON object from %s" when the text is no object,
// `badEntryFormat` (text, what()) when a key cannot be read, a time error with `here` pushed.
template <class Record>
CZuError ReadRecord(const std::string& text, FieldTable<Record> fields, Record& record,
                    const char* badEntryFormat, const FXCodeLocation& here) {
    json_spirit::mObject object;
    if (!TnJson::Unserialize(text, object)) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, "Cannot get JSON object from %s",
                                       Quote(text).c_str());
    }
    try {
        const FieldOutcome outcome = ReadFields(TreeFields(object), fields, record);
        if (outcome.timeError.IsError()) return CZuError(outcome.timeError).Push(here);
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, badEntryFormat, Quote(text).c_str(),
                                       Quote(exception.what()).c_str());
    }
    return CZuError::Success();
}

// The fast read of a scanned object's slots: true when every field was read and converted.
// On false the record may be partly assigned, and nothing says why.
template <class Record>
bool ReadScannedFields(const ScannedValue* slots, FieldTable<Record> fields, Record& record) {
    try {
        return ReadFields(ScannedFields(slots), fields, record).Completed();
    } catch (const UnreadableField&) {
        return false;
    }
}

}  // namespace Cluster
