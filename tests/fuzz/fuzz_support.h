// What every fuzz target shares: the check that stops the run on a broken invariant, the shape
// every result must have, the comparison of records, and a second reading of the reply (with
// json_spirit alone) that tells what the parser should have found in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <tuple>

#include "Cluster/ClusterParser.h"
#include "platform/ZuUtils.h"
#include "platform/json_spirit/json_spirit.h"

namespace fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    __builtin_trap();
}

}  // namespace fuzz

// Unlike assert it stays on under NDEBUG: the replays run in release builds too.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))

// Runs the statements; an exception that gets out of them is a fault in itself.
#define FUZZ_NO_EXCEPTION(statements)                                   \
    try {                                                               \
        statements;                                                     \
    } catch (...) {                                                     \
        ::fuzz::Fail("an exception left the call", __FILE__, __LINE__); \
    }

namespace fuzz {

// The first byte chooses the operation, the rest is its text.
struct Input {
    unsigned selector = 0;
    std::string text;
};

inline Input Split(const uint8_t* data, size_t size) {
    Input input;
    if (size == 0) return input;
    input.selector = data[0];
    input.text.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    return input;
}

inline std::string Text(const uint8_t* data, size_t size) {
    return size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
}

// Success carries code 0; a failure a code and the place it was made.
inline void CheckResult(const CZuError& error) {
    if (!error.IsError()) {
        FUZZ_CHECK(error.GetCode() == 0);
        return;
    }
    FUZZ_CHECK(error.GetCode() != 0);
    FUZZ_CHECK(!error.GetLocations().empty());
}

// ---------------------------------------------------------------------------------------------
// The reply as json_spirit reads it; null when it is no JSON at all.

inline json_spirit::mValue ReadReply(const std::string& text) {
    json_spirit::mValue value;
    if (!json_spirit::read_string(text, value)) return json_spirit::mValue();
    return value;
}

inline const json_spirit::mValue* Member(const json_spirit::mValue* object, const char* key) {
    if (object == nullptr || object->type() != json_spirit::obj_type) return nullptr;
    const auto found = object->get_obj().find(key);
    return found == object->get_obj().end() ? nullptr : &found->second;
}

inline const json_spirit::mValue* ArrayOrNull(const json_spirit::mValue* value) {
    return value != nullptr && value->type() == json_spirit::array_type ? value : nullptr;
}

inline bool HasText(const json_spirit::mValue& object, const char* key, const std::string& text) {
    const json_spirit::mValue* value = Member(&object, key);
    return value != nullptr && value->type() == json_spirit::str_type && value->get_str() == text;
}

inline bool HasFlag(const json_spirit::mValue& object, const char* key, bool flag) {
    const json_spirit::mValue* value = Member(&object, key);
    return value != nullptr && value->type() == json_spirit::bool_type && value->get_bool() == flag;
}

// A JSON integer whose written form is the number's decimal text.
inline bool HasNumber(const json_spirit::mValue& object, const char* key, uint64_t number) {
    const json_spirit::mValue* value = Member(&object, key);
    return value != nullptr && value->type() == json_spirit::int_type &&
           json_spirit::write_string(*value, 0) == std::to_string(number);
}

// ---------------------------------------------------------------------------------------------
// Records compared field by field.

inline bool Same(const Cluster::CSnapshotInfo& a, const Cluster::CSnapshotInfo& b) {
    return std::tie(a.inDelete, a.name, a.timestamp, a.sourceFileId, a.createdByPolicy,
                    a.expiration, a.directoryName,
                    a.id) == std::tie(b.inDelete, b.name, b.timestamp, b.sourceFileId,
                                      b.createdByPolicy, b.expiration, b.directoryName, b.id);
}

inline bool Same(const Cluster::CSnapshotDiffInfo& a, const Cluster::CSnapshotDiffInfo& b) {
    return std::tie(a.path, a.operation, a.isDirectory) ==
           std::tie(b.path, b.operation, b.isDirectory);
}

inline bool Same(const Cluster::CSMBShareEntry& a, const Cluster::CSMBShareEntry& b) {
    return std::tie(a.readOnly, a.description, a.shareName, a.defaultDirectoryCreateMode, a.fsPath,
                    a.allowGuestAccess, a.accessBasedEnumerationEnabled, a.id,
                    a.defaultFileCreateMode) ==
           std::tie(b.readOnly, b.description, b.shareName, b.defaultDirectoryCreateMode, b.fsPath,
                    b.allowGuestAccess, b.accessBasedEnumerationEnabled, b.id,
                    b.defaultFileCreateMode);
}

inline bool Same(const Cluster::CNFSExportEntry& a, const Cluster::CNFSExportEntry& b) {
    return std::tie(a.description, a.id, a.fsPath, a.exportPath) ==
           std::tie(b.description, b.id, b.fsPath, b.exportPath);
}

inline bool Same(const Cluster::CDirectoryEntry& a, const Cluster::CDirectoryEntry& b) {
    return std::tie(a.path, a.isDirectory, a.id, a.mode, a.owner, a.group, a.size, a.changeTime,
                    a.modificationTime, a.creationTime) ==
           std::tie(b.path, b.isDirectory, b.id, b.mode, b.owner, b.group, b.size, b.changeTime,
                    b.modificationTime, b.creationTime);
}

// ---------------------------------------------------------------------------------------------
// Listings.

// A listing only appends: the records there before stay in front, unchanged. Each appended
// record matches its element in order; a success appends one per element, a failure no more
// than there are elements. `elements` is the reply's array, or null when it has none.
template <class Record, class Match>
void CheckAppended(const CZuError& error, const std::list<Record>& before,
                   const std::list<Record>& after, const json_spirit::mValue* elements,
                   Match match) {
    FUZZ_CHECK(after.size() >= before.size());
    auto record = after.begin();
    for (const Record& old : before) FUZZ_CHECK(Same(old, *record++));
    const size_t appended = after.size() - before.size();
    const size_t count = elements != nullptr ? elements->get_array().size() : 0;
    FUZZ_CHECK(appended <= count);
    if (!error.IsError()) FUZZ_CHECK(appended == count);
    if (appended == 0) return;
    auto element = elements->get_array().begin();
    for (; record != after.end(); ++record, ++element) match(*element, *record);
}

// A paged listing's link: kept on failure, the reply's "paging"."next" on success.
inline void CheckNextLink(const CZuError& error, const json_spirit::mValue& reply,
                          const std::string& nextLink, const std::string& previousLink) {
    if (error.IsError()) {
        FUZZ_CHECK(nextLink == previousLink);
        return;
    }
    const json_spirit::mValue* next = Member(Member(&reply, "paging"), "next");
    FUZZ_CHECK(next != nullptr && next->type() == json_spirit::str_type);
    FUZZ_CHECK(nextLink == next->get_str());
}

// The link a caller holds before a paged call.
inline const std::string kPreviousLink = "/previous/page?after=0";

}  // namespace fuzz
