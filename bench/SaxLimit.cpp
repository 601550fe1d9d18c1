#include <rapidjson/reader.h>

#include <cstring>

#include "References.h"

namespace bench {
namespace {

// Walks {"<array>":[{…}…],"paging":{"next":"…"}} and hands each element member to the record
// type's Set; nothing of the document is kept.
template <class Record, class Setter>
class RecordsHandler
    : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RecordsHandler<Record, Setter>> {
  public:
    RecordsHandler(const char* arrayKey, std::list<Record>& records, std::string* next)
        : m_arrayKey(arrayKey), m_records(records), m_next(next) {}

    bool StartObject() {
        ++m_depth;
        if (m_depth == 3 && m_inArray) m_records.emplace_back();
        m_inPaging = m_depth == 2 && m_pagingKey;
        return true;
    }
    bool EndObject(rapidjson::SizeType) {
        if (m_depth == 2) m_inPaging = false;
        --m_depth;
        return true;
    }
    bool StartArray() {
        ++m_depth;
        if (m_depth == 2) m_inArray = m_arrayKeySeen;
        return true;
    }
    bool EndArray(rapidjson::SizeType) {
        if (m_depth == 2) m_inArray = false;
        --m_depth;
        return true;
    }
    bool Key(const char* key, rapidjson::SizeType length, bool) {
        if (m_depth == 1) {
            m_arrayKeySeen =
                length == std::strlen(m_arrayKey) && std::memcmp(key, m_arrayKey, length) == 0;
            m_pagingKey = length == 6 && std::memcmp(key, "paging", 6) == 0;
        }
        m_key.assign(key, length);  // the reader reuses the key's bytes for the value
        return true;
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        if (m_depth == 3 && m_inArray)
            return Setter::Text(m_records.back(), m_key.data(), m_key.size(), text, length,
                                m_scratch);
        if (m_inPaging && m_next != nullptr && m_key == "next") {
            m_next->assign(text, length);
        }
        return true;
    }
    bool Bool(bool flag) {
        if (m_depth == 3 && m_inArray)
            Setter::Flag(m_records.back(), m_key.data(), m_key.size(), flag);
        return true;
    }
    bool Uint(unsigned number) { return Uint64(number); }
    bool Uint64(uint64_t number) {
        if (m_depth == 3 && m_inArray)
            Setter::Number(m_records.back(), m_key.data(), m_key.size(), number);
        return true;
    }

  private:
    const char* m_arrayKey;
    std::list<Record>& m_records;
    std::string* m_next;
    std::string m_scratch;
    int m_depth = 0;
    bool m_arrayKeySeen = false;
    bool m_pagingKey = false;
    bool m_inArray = false;
    bool m_inPaging = false;
    std::string m_key;
};

bool Is(const char* key, size_t length, const char* wanted) {
    return length == std::strlen(wanted) && std::memcmp(key, wanted, length) == 0;
}

bool Time(const char* text, size_t length, std::string& scratch, time_t& value) {
    scratch.assign(text, length);
    return !ConvertStringToTimeStamp(scratch, value).IsError();
}

struct DirectorySetter {
    static bool Text(Cluster::CDirectoryEntry& entry, const char* key, size_t keyLength,
                     const char* text, size_t length, std::string& scratch) {
        if (Is(key, keyLength, "path"))
            entry.path.assign(text, length);
        else if (Is(key, keyLength, "type"))
            entry.isDirectory = Is(text, length, "FS_FILE_TYPE_DIRECTORY");
        else if (Is(key, keyLength, "id"))
            entry.id = std::strtoull(text, nullptr, 0);
        else if (Is(key, keyLength, "mode"))
            entry.mode = std::strtoull(text, nullptr, 0);
        else if (Is(key, keyLength, "owner"))
            entry.owner = std::strtoull(text, nullptr, 0);
        else if (Is(key, keyLength, "group"))
            entry.group = std::strtoull(text, nullptr, 0);
        else if (Is(key, keyLength, "size"))
            entry.size = std::strtoull(text, nullptr, 0);
        else if (Is(key, keyLength, "change_time"))
            return Time(text, length, scratch, entry.changeTime);
        else if (Is(key, keyLength, "modification_time"))
            return Time(text, length, scratch, entry.modificationTime);
        else if (Is(key, keyLength, "creation_time"))
            return Time(text, length, scratch, entry.creationTime);
        return true;
    }
    static void Flag(Cluster::CDirectoryEntry&, const char*, size_t, bool) {}
    static void Number(Cluster::CDirectoryEntry&, const char*, size_t, uint64_t) {}
};

struct DiffSetter {
    static bool Text(Cluster::CSnapshotDiffInfo& change, const char* key, size_t keyLength,
                     const char* text, size_t length, std::string&) {
        if (Is(key, keyLength, "path")) {
            change.path.assign(text, length);
            change.isDirectory = length > 0 && text[length - 1] == '/';
        } else if (Is(key, keyLength, "op")) {
            change.operation = Is(text, length, "CREATE")   ? Cluster::SNAPSHOT_DIFF_CREATE
                               : Is(text, length, "DELETE") ? Cluster::SNAPSHOT_DIFF_DELETE
                                                            : Cluster::SNAPSHOT_DIFF_MODIFY;
        }
        return true;
    }
    static void Flag(Cluster::CSnapshotDiffInfo&, const char*, size_t, bool) {}
    static void Number(Cluster::CSnapshotDiffInfo&, const char*, size_t, uint64_t) {}
};

struct SnapshotSetter {
    static bool Text(Cluster::CSnapshotInfo& snapshot, const char* key, size_t keyLength,
                     const char* text, size_t length, std::string& scratch) {
        if (Is(key, keyLength, "name"))
            snapshot.name.assign(text, length);
        else if (Is(key, keyLength, "expiration"))
            snapshot.expiration.assign(text, length);
        else if (Is(key, keyLength, "directory_name"))
            snapshot.directoryName.assign(text, length);
        else if (Is(key, keyLength, "source_file_id"))
            snapshot.sourceFileId = std::strtoull(text, nullptr, 0);
        else if (Is(key, keyLength, "timestamp"))
            return Time(text, length, scratch, snapshot.timestamp);
        return true;
    }
    static void Flag(Cluster::CSnapshotInfo& snapshot, const char* key, size_t keyLength,
                     bool flag) {
        if (Is(key, keyLength, "in_delete"))
            snapshot.inDelete = flag;
        else if (Is(key, keyLength, "created_by_policy"))
            snapshot.createdByPolicy = flag;
    }
    static void Number(Cluster::CSnapshotInfo& snapshot, const char* key, size_t keyLength,
                       uint64_t number) {
        if (Is(key, keyLength, "id")) snapshot.id = number;
    }
};

template <class Record, class Setter>
bool ParseWith(const std::string& text, const char* arrayKey, std::list<Record>& records,
               std::string* next) {
    RecordsHandler<Record, Setter> handler(arrayKey, records, next);
    rapidjson::Reader reader;
    rapidjson::StringStream stream(text.c_str());
    return !reader.Parse<rapidjson::kParseFullPrecisionFlag>(stream, handler).IsError();
}

}  // namespace

bool SaxDirectoryPage(const std::string& text, std::list<Cluster::CDirectoryEntry>& entries,
                      std::string& next) {
    return ParseWith<Cluster::CDirectoryEntry, DirectorySetter>(text, "files", entries, &next);
}

bool SaxDiffPage(const std::string& text, std::list<Cluster::CSnapshotDiffInfo>& changes,
                 std::string& next) {
    return ParseWith<Cluster::CSnapshotDiffInfo, DiffSetter>(text, "entries", changes, &next);
}

bool SaxSnapshotListing(const std::string& text, std::list<Cluster::CSnapshotInfo>& snapshots) {
    return ParseWith<Cluster::CSnapshotInfo, SnapshotSetter>(text, "entries", snapshots, nullptr);
}

}  // namespace bench
