// Stand-in for the host platform's JSON wrapper (libTnJsonLib) over json_spirit values.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/json_spirit/json_spirit.h"

#define TNJSON_EXPORT __attribute__((visibility("default")))

// Thrown by the getters; what() names the key and the problem.
class TNJSON_EXPORT TnJsonError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TNJSON_EXPORT TnJson {
  public:
    // True when the text is a JSON object (or array), which is then in the out-parameter.
    static bool Unserialize(const std::string& text, json_spirit::mObject& object);
    static bool Unserialize(const std::string& text, json_spirit::mArray& array);

    static std::string GetStringValue(const json_spirit::mObject& object, const std::string& key);
    static bool GetBoolValue(const json_spirit::mObject& object, const std::string& key);
    static uint64_t GetUInt64Value(const json_spirit::mObject& object, const std::string& key);

    // True when the key holds an array (object), which is copied to the out-parameter.
    static bool FindArrayValue(const json_spirit::mObject& object, const std::string& key,
                               json_spirit::mArray& array);
    static bool FindObjectValue(const json_spirit::mObject& object, const std::string& key,
                                json_spirit::mObject& found);

    static std::string Serialize(const json_spirit::mObject& object);

    // The value under the key, or a TnJsonError naming the key when it is absent.
    static const json_spirit::mValue& GetValue(const json_spirit::mObject& object,
                                               const std::string& key);
};
