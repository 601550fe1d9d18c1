// Share replies: one SMB share, a listing of them, one NFS export, a listing of them.
#include <list>
#include <string>

#include "Cluster/ClusterParser.h"
#include "tests/fuzz/fuzz_support.h"

using Cluster::CNFSExportEntry;
using Cluster::CParser;
using Cluster::CSMBShareEntry;
using json_spirit::mValue;

namespace {

CSMBShareEntry OldShare(uint64_t id) {
    CSMBShareEntry share;
    share.readOnly = true;
    share.description = "kept";
    share.shareName = "kept_" + std::to_string(id);
    share.defaultDirectoryCreateMode = "0700";
    share.fsPath = "/kept";
    share.accessBasedEnumerationEnabled = true;
    share.id = id;
    share.defaultFileCreateMode = "0600";
    return share;
}

CNFSExportEntry OldExport(uint64_t id) {
    CNFSExportEntry nfsExport;
    nfsExport.description = "kept";
    nfsExport.id = id;
    nfsExport.fsPath = "/kept";
    nfsExport.exportPath = "/kept_" + std::to_string(id);
    return nfsExport;
}

void MatchShare(const mValue& element, const CSMBShareEntry& share) {
    FUZZ_CHECK(fuzz::HasFlag(element, "read_only", share.readOnly));
    FUZZ_CHECK(fuzz::HasText(element, "description", share.description));
    FUZZ_CHECK(fuzz::HasText(element, "share_name", share.shareName));
    FUZZ_CHECK(
        fuzz::HasText(element, "default_directory_create_mode", share.defaultDirectoryCreateMode));
    FUZZ_CHECK(fuzz::HasText(element, "fs_path", share.fsPath));
    FUZZ_CHECK(fuzz::HasFlag(element, "allow_guest_access", share.allowGuestAccess));
    FUZZ_CHECK(fuzz::HasFlag(element, "access_based_enumeration_enabled",
                             share.accessBasedEnumerationEnabled));
    FUZZ_CHECK(fuzz::HasText(element, "default_file_create_mode", share.defaultFileCreateMode));
}

void MatchExport(const mValue& element, const CNFSExportEntry& nfsExport) {
    FUZZ_CHECK(fuzz::HasText(element, "description", nfsExport.description));
    FUZZ_CHECK(fuzz::HasText(element, "fs_path", nfsExport.fsPath));
    FUZZ_CHECK(fuzz::HasText(element, "export_path", nfsExport.exportPath));
}

void OneShare(const std::string& text) {
    CSMBShareEntry share = OldShare(1);
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetSMBShareInformation(text, share));
    fuzz::CheckResult(error);
    if (!error.IsError()) MatchShare(fuzz::ReadReply(text), share);
}

void ShareListing(const std::string& text) {
    const std::list<CSMBShareEntry> before = {OldShare(1), OldShare(2)};
    std::list<CSMBShareEntry> shares = before;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetSMBSharesInformation(text, shares));
    fuzz::CheckResult(error);
    const mValue reply = fuzz::ReadReply(text);
    fuzz::CheckAppended(error, before, shares, fuzz::ArrayOrNull(&reply), MatchShare);
}

void OneExport(const std::string& text) {
    CNFSExportEntry nfsExport = OldExport(1);
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetNFSExportInformation(text, nfsExport));
    fuzz::CheckResult(error);
    if (!error.IsError()) MatchExport(fuzz::ReadReply(text), nfsExport);
}

void ExportListing(const std::string& text) {
    const std::list<CNFSExportEntry> before = {OldExport(1), OldExport(2)};
    std::list<CNFSExportEntry> nfsExports = before;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetNFSExportsInformation(text, nfsExports));
    fuzz::CheckResult(error);
    const mValue reply = fuzz::ReadReply(text);
    fuzz::CheckAppended(error, before, nfsExports, fuzz::ArrayOrNull(&reply), MatchExport);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input input = fuzz::Split(data, size);
    switch (input.selector % 4) {
        case 0:
            OneShare(input.text);
            break;
        case 1:
            ShareListing(input.text);
            break;
        case 2:
            OneExport(input.text);
            break;
        default:
            ExportListing(input.text);
            break;
    }
    return 0;
}
