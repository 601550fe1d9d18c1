// File system replies: a page of a directory and the attributes of one file.
#include <list>
#include <string>

#include "Cluster/ClusterParser.h"
#include "tests/fuzz/fuzz_support.h"

using Cluster::CDirectoryEntry;
using Cluster::CParser;
using json_spirit::mValue;

namespace {

CDirectoryEntry OldEntry(uint64_t id) {
    CDirectoryEntry entry;
    entry.path = "/kept/" + std::to_string(id);
    entry.isDirectory = true;
    entry.id = id;
    entry.mode = 0700;
    entry.owner = 7;
    entry.group = 8;
    entry.size = 9;
    entry.changeTime = 10;
    entry.modificationTime = 11;
    entry.creationTime = 12;
    return entry;
}

void MatchEntry(const mValue& element, const CDirectoryEntry& entry) {
    FUZZ_CHECK(fuzz::HasText(element, "path", entry.path));
    const mValue* type = fuzz::Member(&element, "type");
    FUZZ_CHECK(type != nullptr && type->type() == json_spirit::str_type);
    FUZZ_CHECK(entry.isDirectory == (type->get_str() == "FS_FILE_TYPE_DIRECTORY"));
}

void DirectoryPage(const std::string& text) {
    const std::list<CDirectoryEntry> before = {OldEntry(1), OldEntry(2)};
    std::list<CDirectoryEntry> entries = before;
    std::string nextLink = fuzz::kPreviousLink;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetDirectoryEntries(text, entries, nextLink));
    fuzz::CheckResult(error);
    const mValue reply = fuzz::ReadReply(text);
    fuzz::CheckAppended(error, before, entries, fuzz::ArrayOrNull(fuzz::Member(&reply, "files")),
                        MatchEntry);
    fuzz::CheckNextLink(error, reply, nextLink, fuzz::kPreviousLink);
}

void FileAttributes(const std::string& text) {
    CDirectoryEntry info = OldEntry(1);
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetFileAttributesInfo(text, info));
    fuzz::CheckResult(error);
    if (!error.IsError()) MatchEntry(fuzz::ReadReply(text), info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input input = fuzz::Split(data, size);
    if (input.selector % 2 == 0) {
        DirectoryPage(input.text);
    } else {
        FileAttributes(input.text);
    }
    return 0;
}
