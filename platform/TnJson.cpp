#include "platform/TnJson.h"

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace {

[[noreturn]] void ThrowWrongKind(const std::string& key, const mValue& value, const char* wanted) {
    throw TnJsonError("key '" + key + "' is not " + wanted + " (it is " +
                      json_spirit::KindName(value.type()) + ")");
}

}  // namespace

bool TnJson::Unserialize(const std::string& text, mObject& object) {
    mValue value;
    if (!json_spirit::read_string(text, value) || value.type() != json_spirit::obj_type) {
        return false;
    }
    object = std::move(value.get_obj());
    return true;
}

bool TnJson::Unserialize(const std::string& text, mArray& array) {
    mValue value;
    if (!json_spirit::read_string(text, value) || value.type() != json_spirit::array_type) {
        return false;
    }
    array = std::move(value.get_array());
    return true;
}

const mValue& TnJson::GetValue(const mObject& object, const std::string& key) {
    const auto found = object.find(key);
    if (found == object.end()) throw TnJsonError("key '" + key + "' not found");
    return found->second;
}

std::string TnJson::GetStringValue(const mObject& object, const std::string& key) {
    const mValue& value = GetValue(object, key);
    if (value.type() != json_spirit::str_type) ThrowWrongKind(key, value, "a string");
    return value.get_str();
}

bool TnJson::GetBoolValue(const mObject& object, const std::string& key) {
    const mValue& value = GetValue(object, key);
    if (value.type() != json_spirit::bool_type) ThrowWrongKind(key, value, "a boolean");
    return value.get_bool();
}

uint64_t TnJson::GetUInt64Value(const mObject& object, const std::string& key) {
    const mValue& value = GetValue(object, key);
    if (value.type() != json_spirit::int_type || (!value.is_uint64() && value.get_int64() < 0)) {
        ThrowWrongKind(key, value, "an unsigned integer");
    }
    return value.get_uint64();
}

bool TnJson::FindArrayValue(const mObject& object, const std::string& key, mArray& array) {
    const auto found = object.find(key);
    if (found == object.end() || found->second.type() != json_spirit::array_type) return false;
    array = found->second.get_array();
    return true;
}

bool TnJson::FindObjectValue(const mObject& object, const std::string& key, mObject& found) {
    const auto member = object.find(key);
    if (member == object.end() || member->second.type() != json_spirit::obj_type) return false;
    found = member->second.get_obj();
    return true;
}

std::string TnJson::Serialize(const mObject& object) {
    return json_spirit::write_string(mValue(object), 0);
}
