// Internal to the library: the light parsed form of a listing reply. One pass over the text
// validates the whole document exactly as the JSON reader would, and keeps only what the
// record parsers read: for each element of the listed array, the values under the record's
// keys; and the page's "paging"."next". Nothing else is built, so a page of a thousand
// entries costs little more than reading its bytes. The spans of the elements and of the
// paging object are kept, so that one of them can still be read as a value tree when it is
// bad and its message has to be made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/json_spirit/json_spirit.h"

namespace Cluster {

// A scanned JSON value. Strings point into the scan's buffer, NUL-terminated there;
// containers keep only their kind.
struct ScannedValue {
    bool present = false;
    json_spirit::Value_type kind = json_spirit::null_type;
    const char* text = "";
    size_t length = 0;
    bool flag = false;
    bool isUnsigned = false;  // an integer above the signed 64-bit range
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double real = 0;

    // The value as the JSON reader would have built it (containers empty).
    json_spirit::mValue ToValue() const;
};

struct ScannedElement {
    json_spirit::Value_type kind = json_spirit::null_type;
    size_t begin = 0;  // a container element's span in the reply text
    size_t end = 0;
    ScannedValue scalar;   // the element itself when it is no container
    size_t firstSlot = 0;  // its record keys' values: slots [firstSlot, firstSlot + keys)
};

// Where the listed array stands in the reply.
struct ListingShape {
    const char* arrayKey;  // the member holding the array; null when the reply is the array
    bool paged;            // the reply has "paging":{"next":…}
};

class ListingScan {
  public:
    // Scans `text`; `keys` are the record's keys in table order. False when the text is not
    // one JSON value, or not of the shape's kind (an object, or an array without arrayKey).
    bool Scan(const std::string& text, ListingShape shape, const char* const* keys,
              size_t keyCount);

    // True when the last arrayKey member held an array (always true for an array reply).
    bool HasArray() const { return m_hasArray; }
    const std::vector<ScannedElement>& Elements() const { return m_elements; }
    const ScannedValue* Slots(const ScannedElement& element) const {
        return &m_slots[element.firstSlot];
    }
    // The last "paging" member's kind (null kind and !present when absent) and its "next".
    const ScannedValue& Paging() const { return m_paging; }
    const ScannedValue& Next() const { return m_next; }

    // The element of `text` (the scanned reply) as the JSON reader builds it.
    json_spirit::mValue ElementValue(const std::string& text, const ScannedElement& element) const;
    // The paging object of `text`, when Paging() is an object.
    json_spirit::mValue PagingValue(const std::string& text) const;

  private:
    friend class ListingScanHandler;
    friend class ScanLease;
    size_t Footprint() const;
    std::string m_buffer;
    bool m_hasArray = false;
    std::vector<ScannedElement> m_elements;
    std::vector<ScannedValue> m_slots;
    ScannedValue m_paging;
    ScannedValue m_next;
    size_t m_pagingBegin = 0;  // the paging object's span in the reply text
    size_t m_pagingEnd = 0;
};

// The thread's listing scan, lent for one listing: its buffers are kept for the next one, so
// reading a page allocates nothing new. A nested listing gets a scan of its own; buffers grown
// past a few megabytes by a huge reply are released after use.
class ScanLease {
  public:
    ScanLease();
    ~ScanLease();
    ScanLease(const ScanLease&) = delete;
    ScanLease& operator=(const ScanLease&) = delete;
    ListingScan& Scan() { return *m_scan; }

  private:
    ListingScan m_own;
    ListingScan* m_scan;
    bool m_borrowed;
};

}  // namespace Cluster
