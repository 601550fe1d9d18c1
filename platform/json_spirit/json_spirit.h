// A small json_spirit-compatible subset: the map configuration's value types, reading and
// compact writing. Parsing runs on RapidJSON's SAX reader.
#pragma once

#include <boost/variant.hpp>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#define JSON_SPIRIT_EXPORT __attribute__((visibility("default")))

namespace json_spirit {

enum Value_type { obj_type, array_type, str_type, bool_type, int_type, real_type, null_type };

class mValue;
typedef std::map<std::string, mValue> mObject;
typedef std::vector<mValue> mArray;

struct Null {
    bool operator==(const Null&) const { return true; }
};

// One JSON value. Integers keep whether they were read as signed or unsigned 64-bit.
class JSON_SPIRIT_EXPORT mValue {
public:
    mValue() : m_value(Null()) {}
    mValue(const mObject& object) : m_value(object) {}
    mValue(mObject&& object) : m_value(std::move(object)) {}
    mValue(const mArray& array) : m_value(array) {}
    mValue(mArray&& array) : m_value(std::move(array)) {}
    mValue(const std::string& text) : m_value(text) {}
    mValue(std::string&& text) : m_value(std::move(text)) {}
    mValue(const char* text) : m_value(std::string(text)) {}
    mValue(bool flag) : m_value(flag) {}
    mValue(int number) : m_value(static_cast<int64_t>(number)) {}
    mValue(int64_t number) : m_value(number) {}
    mValue(uint64_t number) : m_value(number) {}
    mValue(double number) : m_value(number) {}

    Value_type type() const;
    bool is_null() const { return type() == null_type; }
    bool is_uint64() const { return m_value.which() == kUint64; }

    const mObject& get_obj() const;
    mObject& get_obj();
    const mArray& get_array() const;
    mArray& get_array();
    const std::string& get_str() const;
    bool get_bool() const;
    int get_int() const;
    int64_t get_int64() const;
    uint64_t get_uint64() const;
    double get_real() const;

    bool operator==(const mValue& other) const { return m_value == other.m_value; }
    bool operator!=(const mValue& other) const { return !(*this == other); }

private:
    enum Alternative { kNull, kBool, kInt64, kUint64, kReal, kString, kObject, kArray };
    [[noreturn]] void ThrowWrongKind(const char* wanted) const;

    boost::variant<Null, bool, int64_t, uint64_t, double, std::string,
                   boost::recursive_wrapper<mObject>, boost::recursive_wrapper<mArray>>
        m_value;
};

// The name of a value kind as error texts use it ("object", "string", …).
JSON_SPIRIT_EXPORT const char* KindName(Value_type type);

// True only when the whole text is one JSON value (white space around it allowed).
// Nesting deeper than kMaxDepth is refused.
constexpr unsigned kMaxDepth = 1000;
JSON_SPIRIT_EXPORT bool read_string(const std::string& text, mValue& value);

// Compact JSON: no white space, object keys in map order, UTF-8 written as it is.
// `options` is accepted for compatibility; only the compact form exists.
JSON_SPIRIT_EXPORT std::string write_string(const mValue& value, unsigned int options);

}  // namespace json_spirit
