// Internal to the library: the walks over listing replies. A reply is scanned once and each
// element read straight from its scanned slots, without a value tree. An element the fast read
// refuses is read once more as a value tree: by the single-record operation for listings of
// records that also stand alone (ReadListing), by the page's own rules for paged listings
// (ReadPage). That second reading makes the message, the partial assignment and the trail,
// exactly as for a reply holding that element alone.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterFields.h"
#include "Cluster/ClusterListingScan.h"
#include "Cluster/ClusterParser.h"
#include "Cluster/ClusterSecrets.h"

namespace Cluster {

// Scans a listing reply: "Cannot get JSON object from %s" when the text is not of the shape's
// kind, `noArrayFormat` (reply text) when the array member is missing or holds no array.
template <class Record>
CZuError ScanReply(const std::string& text, ListingShape shape, FieldTable<Record> fields,
                   const char* noArrayFormat, ListingScan& scan, const FXCodeLocation& here) {
    const std::vector<const char*> keys = fields.Keys();
    if (!scan.Scan(text, shape, keys.data(), keys.size())) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, "Cannot get JSON object from %s",
                                       Quote(text).c_str());
    }
    if (!scan.HasArray()) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, noArrayFormat, Quote(text).c_str());
    }
    return CZuError::Success();
}

// True when the element is an object whose fields all read and convert.
template <class Record>
bool ReadScannedElement(const ListingScan& scan, const ScannedElement& element,
                        FieldTable<Record> fields, Record& record) {
    return element.kind == json_spirit::obj_type &&
           ReadScannedFields(scan.Slots(element), fields, record);
}

// How a listing of records that also stand alone reads.
template <class Record>
struct ListingRules {
    ListingShape shape;
    const char* noArrayFormat;   // (reply text); only for a shape with an array member
    const char* badEntryFormat;  // (element's compact text, what())
    FieldTable<Record> fields;   // the table readOne reads, so the slots line up with it
    CZuError (CParser::*readOne)(const string&, Record&);
};

// A refused element, given to the single-record operation as its compact text; an element
// that is no object fails here with the entry message instead.
template <class Record>
CZuError ReplayListedElement(CParser& parser, const json_spirit::mValue& element,
                             const ListingRules<Record>& rules, Record& record,
                             const FXCodeLocation& here) {
    const std::string compact = json_spirit::write_string(element, 0);
    try {
        element.get_obj();
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, rules.badEntryFormat,
                                       Quote(compact).c_str(), Quote(exception.what()).c_str());
    }
    CZuError error = (parser.*rules.readOne)(compact, record);
    if (error.IsError()) error.Push(here);
    return error;
}

// Each element appended in order; the first failure ends the walk with `here` pushed.
template <class Record>
CZuError ReadListing(CParser& parser, const std::string& text, const ListingRules<Record>& rules,
                     std::list<Record>& records, const FXCodeLocation& here) {
    ScanLease lease;
    ListingScan& scan = lease.Scan();
    CZuError error = ScanReply(text, rules.shape, rules.fields, rules.noArrayFormat, scan, here);
    if (error.IsError()) return error;
    for (const ScannedElement& element : scan.Elements()) {
        Record record;
        if (!ReadScannedElement(scan, element, rules.fields, record)) {
            record = Record();
            error =
                ReplayListedElement(parser, scan.ElementValue(text, element), rules, record, here);
            if (error.IsError()) return error;
        }
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

// A refused page element, read as a value tree.
template <class Record>
CZuError ReplayPageElement(const json_spirit::mValue& element, const PageRules<Record>& rules,
                           Record& record, const FXCodeLocation& here) {
    try {
        FieldOutcome outcome = ReadFields(TreeFields(element.get_obj()), rules.fields, record);
        if (outcome.timeError.IsError()) return outcome.timeError.Push(here);
        if (outcome.unknownOperation) {
            return FXErrorUtil::ErrorWin32(here, kErrorGeneric, rules.unknownOperationFormat,
                                           Quote(outcome.operationText).c_str());
        }
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, rules.badElementFormat,
                                       Quote(json_spirit::write_string(element, 0)).c_str(),
                                       Quote(exception.what()).c_str());
    }
    return CZuError::Success();
}

// "paging"."next" into `nextLink`, which changes only on success.
CZuError ReadNextLink(const ListingScan& scan, const std::string& text, std::string& nextLink,
                      const FXCodeLocation& here);

// Appends every element of the page, then reads the link to the next page. The first bad
// element ends the call.
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
        if (!ReadScannedElement(scan, element, rules.fields, record)) {
            record = Record();
            error = ReplayPageElement(scan.ElementValue(text, element), rules, record, here);
            if (error.IsError()) return error;
        }
        if (rules.finish != nullptr) rules.finish(record);
        records.push_back(std::move(record));
    }
    return ReadNextLink(scan, text, nextLink, here);
}

}  // namespace Cluster
