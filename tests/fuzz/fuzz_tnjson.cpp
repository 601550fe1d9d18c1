// TnJson over any text: Unserialize tells objects from arrays as json_spirit reads them, and
// for every key of the object (and one key it lacks) each getter returns the value of its
// kind or throws TnJsonError, never anything else.
#include <string>

#include "platform/TnJson.h"
#include "tests/fuzz/fuzz_support.h"

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace {

template <class Get>
bool Throws(Get get) {
    try {
        get();
    } catch (const TnJsonError&) {
        return true;
    }
    return false;
}

void CheckString(const mObject& object, const std::string& key, const mValue& value) {
    if (value.type() == json_spirit::str_type) {
        FUZZ_CHECK(TnJson::GetStringValue(object, key) == value.get_str());
    } else {
        FUZZ_CHECK(Throws([&] { TnJson::GetStringValue(object, key); }));
    }
}

void CheckBool(const mObject& object, const std::string& key, const mValue& value) {
    if (value.type() == json_spirit::bool_type) {
        FUZZ_CHECK(TnJson::GetBoolValue(object, key) == value.get_bool());
    } else {
        FUZZ_CHECK(Throws([&] { TnJson::GetBoolValue(object, key); }));
    }
}

// An integer written without a minus sign is an unsigned one, and reads as the same digits.
void CheckUInt64(const mObject& object, const std::string& key, const mValue& value) {
    const std::string written = json_spirit::write_string(value, 0);
    if (value.type() == json_spirit::int_type && written[0] != '-') {
        FUZZ_CHECK(std::to_string(TnJson::GetUInt64Value(object, key)) == written);
    } else {
        FUZZ_CHECK(Throws([&] { TnJson::GetUInt64Value(object, key); }));
    }
}

void CheckFind(const mObject& object, const std::string& key, const mValue& value) {
    mArray array;
    const bool isArray = TnJson::FindArrayValue(object, key, array);
    FUZZ_CHECK(isArray == (value.type() == json_spirit::array_type));
    if (isArray) FUZZ_CHECK(mValue(array) == value);
    mObject found;
    const bool isObject = TnJson::FindObjectValue(object, key, found);
    FUZZ_CHECK(isObject == (value.type() == json_spirit::obj_type));
    if (isObject) FUZZ_CHECK(mValue(found) == value);
}

void CheckPresentKey(const mObject& object, const std::string& key, const mValue& value) {
    FUZZ_CHECK(&TnJson::GetValue(object, key) == &value);
    CheckString(object, key, value);
    CheckBool(object, key, value);
    CheckUInt64(object, key, value);
    CheckFind(object, key, value);
}

void CheckAbsentKey(const mObject& object, const std::string& key) {
    FUZZ_CHECK(Throws([&] { TnJson::GetValue(object, key); }));
    FUZZ_CHECK(Throws([&] { TnJson::GetStringValue(object, key); }));
    FUZZ_CHECK(Throws([&] { TnJson::GetBoolValue(object, key); }));
    FUZZ_CHECK(Throws([&] { TnJson::GetUInt64Value(object, key); }));
    mArray array;
    FUZZ_CHECK(!TnJson::FindArrayValue(object, key, array));
    mObject found;
    FUZZ_CHECK(!TnJson::FindObjectValue(object, key, found));
}

// A key the object does not hold: the longest key with one more letter.
std::string AbsentKey(const mObject& object) {
    return object.empty() ? std::string("id") : object.rbegin()->first + "~";
}

void CheckGetters(const std::string& text) {
    const mValue reply = fuzz::ReadReply(text);
    mObject object;
    FUZZ_CHECK(TnJson::Unserialize(text, object) == (reply.type() == json_spirit::obj_type));
    mArray array;
    FUZZ_CHECK(TnJson::Unserialize(text, array) == (reply.type() == json_spirit::array_type));
    if (reply.type() == json_spirit::array_type) FUZZ_CHECK(mValue(array) == reply);
    if (reply.type() != json_spirit::obj_type) return;
    FUZZ_CHECK(mValue(object) == reply);
    for (const auto& member : object) CheckPresentKey(object, member.first, member.second);
    CheckAbsentKey(object, AbsentKey(object));
    mObject again;
    FUZZ_CHECK(TnJson::Unserialize(TnJson::Serialize(object), again) && again == object);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_NO_EXCEPTION(CheckGetters(fuzz::Text(data, size)));
    return 0;
}
