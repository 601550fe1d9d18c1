#include "Cluster/ClusterListingScan.h"

#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace Cluster {

json_spirit::mValue ScannedValue::ToValue() const {
    switch (kind) {
        case json_spirit::obj_type:
            return json_spirit::mValue(json_spirit::mObject());
        case json_spirit::array_type:
            return json_spirit::mValue(json_spirit::mArray());
        case json_spirit::str_type:
            return json_spirit::mValue(std::string(text, length));
        case json_spirit::bool_type:
            return json_spirit::mValue(flag);
        case json_spirit::int_type:
            return isUnsigned ? json_spirit::mValue(unsignedInteger) : json_spirit::mValue(integer);
        case json_spirit::real_type:
            return json_spirit::mValue(real);
        case json_spirit::null_type:
            break;
    }
    return json_spirit::mValue();
}

namespace {

bool KeyIs(const char* key, rapidjson::SizeType length, const char* wanted) {
    return wanted != nullptr && std::strlen(wanted) == length &&
           std::memcmp(key, wanted, length) == 0;
}

}  // namespace

// What each open container is to the listing.
enum class ScanRole { Root, Listed, Element, ElementArray, Paging, Other };

class ListingScanHandler
    : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ListingScanHandler> {
  public:
    ListingScanHandler(ListingScan& scan, ListingShape shape, const char* const* keys,
                       size_t keyCount, rapidjson::InsituStringStream& stream)
        : m_scan(scan), m_shape(shape), m_keys(keys), m_keyCount(keyCount), m_stream(stream) {}

    bool Null() { return Scalar(ScannedValue()); }
    bool Bool(bool flag) {
        ScannedValue value = Kind(json_spirit::bool_type);
        value.flag = flag;
        return Scalar(value);
    }
    // A number arrives as its text and is read by the JSON reader itself, so that it holds
    // the value the value tree would hold, or is refused as the tree refuses it.
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        ScannedValue value = Kind(json_spirit::int_type);
        // The common case, a signed 64-bit integer, is read here; anything else as the JSON
        // reader reads it.
        const auto read = std::from_chars(text, text + length, value.integer);
        if (read.ec == std::errc() && read.ptr == text + length) return Scalar(value);
        json_spirit::mValue number;
        if (!json_spirit::read_string(std::string(text, length), number)) return false;
        value = Kind(number.type());
        if (number.type() == json_spirit::real_type) {
            value.real = number.get_real();
        } else if (number.is_uint64()) {
            value.isUnsigned = true;
            value.unsignedInteger = number.get_uint64();
        } else {
            value.integer = number.get_int64();
        }
        return Scalar(value);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        ScannedValue value = Kind(json_spirit::str_type);
        value.text = text;
        value.length = length;
        return Scalar(value);
    }
    bool Key(const char* key, rapidjson::SizeType length, bool) {
        switch (m_roles.back()) {
            case ScanRole::Root:
                m_memberIsListed = KeyIs(key, length, m_shape.arrayKey);
                m_memberIsPaging = m_shape.paged && KeyIs(key, length, "paging");
                break;
            case ScanRole::Element:
                m_slot = SlotOf(key, length);
                break;
            case ScanRole::Paging:
                m_memberIsNext = KeyIs(key, length, "next");
                break;
            default:
                break;
        }
        return true;
    }
    bool StartObject() { return Open(json_spirit::obj_type); }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool StartArray() { return Open(json_spirit::array_type); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

    json_spirit::Value_type RootKind() const { return m_rootKind; }

  private:
    static ScannedValue Kind(json_spirit::Value_type kind) {
        ScannedValue value;
        value.kind = kind;
        return value;
    }

    int SlotOf(const char* key, rapidjson::SizeType length) const {
        for (size_t i = 0; i < m_keyCount; ++i) {
            if (KeyIs(key, length, m_keys[i])) return static_cast<int>(i);
        }
        return -1;
    }

    // Places a value (a scalar, or a container about to open) and returns the role the
    // container would take.
    ScanRole Place(ScannedValue value) {
        value.present = true;
        if (m_roles.empty()) {
            m_rootKind = value.kind;
            return RootRole(value.kind);
        }
        switch (m_roles.back()) {
            case ScanRole::Root:
                return PlaceMember(value);
            case ScanRole::Listed:
                return PlaceElement(value);
            case ScanRole::Element:
                if (m_slot >= 0)
                    m_scan.m_slots[m_scan.m_elements.back().firstSlot + m_slot] = value;
                return ScanRole::Other;
            case ScanRole::Paging:
                if (m_memberIsNext) m_scan.m_next = value;
                return ScanRole::Other;
            default:
                return ScanRole::Other;
        }
    }

    ScanRole RootRole(json_spirit::Value_type kind) {
        if (m_shape.arrayKey == nullptr && kind == json_spirit::array_type) {
            m_scan.m_hasArray = true;
            return ScanRole::Listed;
        }
        return kind == json_spirit::obj_type && m_shape.arrayKey != nullptr ? ScanRole::Root
                                                                            : ScanRole::Other;
    }

    // A later member of the same name replaces an earlier one, as in the value tree.
    ScanRole PlaceMember(const ScannedValue& value) {
        if (m_memberIsListed) {
            m_scan.m_elements.clear();
            m_scan.m_slots.clear();
            m_scan.m_hasArray = value.kind == json_spirit::array_type;
            return m_scan.m_hasArray ? ScanRole::Listed : ScanRole::Other;
        }
        if (m_memberIsPaging) {
            m_scan.m_paging = value;
            m_scan.m_next = ScannedValue();
            m_scan.m_pagingBegin = m_stream.Tell();  // as for an element: before the bracket
            return value.kind == json_spirit::obj_type ? ScanRole::Paging : ScanRole::Other;
        }
        return ScanRole::Other;
    }

    ScanRole PlaceElement(const ScannedValue& value) {
        ScannedElement element;
        element.kind = value.kind;
        element.scalar = value;
        element.begin = m_stream.Tell();  // the reader calls us before taking the bracket
        element.firstSlot = m_scan.m_slots.size();
        m_scan.m_slots.resize(m_scan.m_slots.size() + m_keyCount);
        m_scan.m_elements.push_back(element);
        if (value.kind == json_spirit::obj_type) return ScanRole::Element;
        return value.kind == json_spirit::array_type ? ScanRole::ElementArray : ScanRole::Other;
    }

    bool Scalar(const ScannedValue& value) {
        Place(value);
        return true;
    }

    bool Open(json_spirit::Value_type kind) {
        if (m_roles.size() >= json_spirit::kMaxDepth) return false;  // as the JSON reader
        const ScanRole role = Place(Kind(kind));
        m_roles.push_back(role);
        if (role == ScanRole::Element) m_slot = -1;
        return true;
    }

    bool Close() {
        const ScanRole role = m_roles.back();
        m_roles.pop_back();
        if (role == ScanRole::Element || role == ScanRole::ElementArray) {
            m_scan.m_elements.back().end = m_stream.Tell() + 1;
        }
        if (role == ScanRole::Paging) m_scan.m_pagingEnd = m_stream.Tell() + 1;
        return true;
    }

    ListingScan& m_scan;
    ListingShape m_shape;
    const char* const* m_keys;
    size_t m_keyCount;
    rapidjson::InsituStringStream& m_stream;
    std::vector<ScanRole> m_roles;
    json_spirit::Value_type m_rootKind = json_spirit::null_type;
    bool m_memberIsListed = false;
    bool m_memberIsPaging = false;
    bool m_memberIsNext = false;
    int m_slot = -1;
};

namespace {

// Room past the copy's end, so that a reader loading whole aligned 16-byte blocks stays inside it.
constexpr size_t kScanPadding = 16;

}  // namespace

bool ListingScan::Scan(const std::string& text, ListingShape shape, const char* const* keys,
                       size_t keyCount) {
    m_buffer.clear();
    m_buffer.reserve(text.size() + kScanPadding);
    m_buffer.append(text).append(kScanPadding, '\0');
    m_hasArray = false;
    m_elements.clear();
    m_slots.clear();
    m_paging = ScannedValue();
    m_next = ScannedValue();
    m_pagingBegin = m_pagingEnd = 0;
    rapidjson::InsituStringStream stream(&m_buffer[0]);
    ListingScanHandler handler(*this, shape, keys, keyCount, stream);
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag |
                                rapidjson::kParseStopWhenDoneFlag |
                                rapidjson::kParseNumbersAsStringsFlag;
    if (reader.Parse<kFlags>(stream, handler).IsError()) return false;
    // The reader stops at an embedded NUL as at the end; only white space may follow.
    for (size_t at = stream.Tell(); at < text.size(); ++at) {
        const char c = text[at];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    const json_spirit::Value_type wanted =
        shape.arrayKey != nullptr ? json_spirit::obj_type : json_spirit::array_type;
    return handler.RootKind() == wanted;
}

namespace {

// The span was validated by the scan, so the reading cannot fail.
json_spirit::mValue ValueAt(const std::string& text, size_t begin, size_t end) {
    json_spirit::mValue value;
    json_spirit::read_string(text.substr(begin, end - begin), value);
    return value;
}

}  // namespace

json_spirit::mValue ListingScan::ElementValue(const std::string& text,
                                              const ScannedElement& element) const {
    if (element.kind != json_spirit::obj_type && element.kind != json_spirit::array_type) {
        return element.scalar.ToValue();
    }
    return ValueAt(text, element.begin, element.end);
}

json_spirit::mValue ListingScan::PagingValue(const std::string& text) const {
    return ValueAt(text, m_pagingBegin, m_pagingEnd);
}

size_t ListingScan::Footprint() const {
    return m_buffer.capacity() + m_elements.capacity() * sizeof(ScannedElement) +
           m_slots.capacity() * sizeof(ScannedValue);
}

namespace {
constexpr size_t kKeptFootprint = 8 * 1024 * 1024;
thread_local ListingScan t_threadScan;
thread_local bool t_threadScanLent = false;
}  // namespace

ScanLease::ScanLease() : m_scan(&m_own), m_borrowed(!t_threadScanLent) {
    if (m_borrowed) {
        t_threadScanLent = true;
        m_scan = &t_threadScan;
    }
}

ScanLease::~ScanLease() {
    if (!m_borrowed) return;
    if (t_threadScan.Footprint() > kKeptFootprint) t_threadScan = ListingScan();
    t_threadScanLent = false;
}

}  // namespace Cluster
