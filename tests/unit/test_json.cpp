#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/TnJson.h"
#include "platform/json_spirit/json_spirit.h"

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace {

mValue Read(const std::string& text) {
    mValue value;
    EXPECT_TRUE(json_spirit::read_string(text, value)) << text;
    return value;
}

bool Accepts(const std::string& text) {
    mValue value;
    return json_spirit::read_string(text, value);
}

std::string Write(const mValue& value) { return json_spirit::write_string(value, 0); }

TEST(JsonRead, AcceptsOnlyOneWholeValue) {
    EXPECT_TRUE(Accepts(" \n{\"a\":1}\t "));
    EXPECT_TRUE(Accepts("[]"));
    EXPECT_TRUE(Accepts("\"x\""));
    EXPECT_TRUE(Accepts("null"));
    for (const char* bad : {"", " ", "{", "{\"a\":1", "{\"a\":1}}", "{} {}", "[1,]", "{\"a\"}",
                            "{'a':1}", "tru", "01", "1.", "\"unterminated", "NaN", "[1] x"}) {
        EXPECT_FALSE(Accepts(bad)) << bad;
    }
    EXPECT_FALSE(Accepts(std::string("{}\0{}", 5)));
}

TEST(JsonRead, FailedReadLeavesTheValueAlone) {
    mValue value(std::string("kept"));
    EXPECT_FALSE(json_spirit::read_string("{\"a\":", value));
    EXPECT_EQ("kept", value.get_str());
}

TEST(JsonRead, IntegersKeepTheirRange) {
    const mValue value = Read(
        "[9223372036854775807,-9223372036854775808,18446744073709551615,18446744073709551616,"
        "0,-1,1.5]");
    const mArray& numbers = value.get_array();
    EXPECT_EQ(std::numeric_limits<int64_t>::max(), numbers[0].get_int64());
    EXPECT_FALSE(numbers[0].is_uint64());
    EXPECT_EQ(std::numeric_limits<int64_t>::min(), numbers[1].get_int64());
    EXPECT_TRUE(numbers[2].is_uint64());
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), numbers[2].get_uint64());
    EXPECT_THROW(numbers[2].get_int64(), std::runtime_error);
    EXPECT_EQ(json_spirit::real_type, numbers[3].type());
    EXPECT_EQ(0u, numbers[4].get_uint64());
    EXPECT_THROW(numbers[5].get_uint64(), std::runtime_error);
    EXPECT_DOUBLE_EQ(1.5, numbers[6].get_real());
}

// Found by fuzzing: a zero written with a large exponent, or with many decimals, read as a
// huge or tiny garbage number.
TEST(JsonRead, ZeroDigitsReadAsZeroWhateverTheExponent) {
    for (const char* text : {"0e40", "0E+40", "-0e100", "0.0e-300", "0e308", "-0.00e-100",
                             "0.000000000000000000000000000000"}) {
        const mValue value = Read(text);
        ASSERT_EQ(json_spirit::real_type, value.type()) << text;
        EXPECT_EQ(0.0, value.get_real()) << text;
        EXPECT_EQ(text[0] == '-', std::signbit(value.get_real())) << text;
    }
}

// Found by fuzzing: values past the largest double read as infinity (written back as null)
// or as garbage; they are refused now, as "1e309" always was.
TEST(JsonRead, RealsAreCorrectlyRoundedAndNeverInfinite) {
    for (const char* text : {"2e308", "1.7976931348623159e308", "-1e309",
                             "100000000000000000000000000000000000000e300"}) {
        EXPECT_FALSE(Accepts(text)) << text;
    }
    const mValue value = Read(
        "[1.7976931348623157e308,4.9406564584124654e-324,1e-400,-2e-324,"
        "123456789012345678901234567890,0.1,1e23]");
    const mArray& reals = value.get_array();
    EXPECT_EQ(std::numeric_limits<double>::max(), reals[0].get_real());
    EXPECT_EQ(std::numeric_limits<double>::denorm_min(), reals[1].get_real());
    EXPECT_EQ(0.0, reals[2].get_real());
    EXPECT_TRUE(std::signbit(reals[3].get_real()) && reals[3].get_real() == 0.0);
    EXPECT_EQ(1.2345678901234568e29, reals[4].get_real());
    EXPECT_EQ(0.1, reals[5].get_real());
    EXPECT_EQ(1e23, reals[6].get_real());
}

TEST(JsonRead, EscapesBecomeUtf8) {
    const mValue value = Read(R"(["caf\u00e9","\ud83d\ude00","a\"b\\c\/d\n","\u0000z"])");
    const mArray& texts = value.get_array();
    EXPECT_EQ("caf\xC3\xA9", texts[0].get_str());
    EXPECT_EQ("\xF0\x9F\x98\x80", texts[1].get_str());
    EXPECT_EQ("a\"b\\c/d\n", texts[2].get_str());
    EXPECT_EQ(std::string("\0z", 2), texts[3].get_str());
    EXPECT_FALSE(Accepts(R"(["\ud83d"])"));
}

TEST(JsonRead, DeepNestingIsRefusedNotACrash) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(Accepts(deep));
    const std::string allowed = std::string(500, '[') + std::string(500, ']');
    EXPECT_TRUE(Accepts(allowed));
}

TEST(JsonRead, DuplicateKeyLastOneWins) {
    const mValue value = Read(R"({"a":1,"b":2,"a":3})");
    EXPECT_EQ(2u, value.get_obj().size());
    EXPECT_EQ(3, value.get_obj().at("a").get_int64());
}

TEST(JsonValue, WrongKindAccessorNamesBothKinds) {
    const mValue text(std::string("x"));
    try {
        text.get_obj();
        FAIL() << "expected an exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("value is a string, not an object", error.what());
    }
    EXPECT_THROW(mValue().get_str(), std::runtime_error);
    EXPECT_THROW(mValue(true).get_array(), std::runtime_error);
    EXPECT_THROW(mValue(1.5).get_bool(), std::runtime_error);
}

TEST(JsonWrite, CompactSortedAndUtf8Unescaped) {
    mObject object;
    object["username"] = "caf\xC3\xA9 \xE2\x82\xAC";
    object["password"] = "p\"w\\d\n\t\b\f\r\x01\x1f";
    EXPECT_EQ(
        "{\"password\":\"p\\\"w\\\\d\\n\\t\\b\\f\\r\\u0001\\u001F\",\"username\":\"caf\xC3\xA9 "
        "\xE2\x82\xAC\"}",
        Write(object));
}

TEST(JsonWrite, NumbersAreExactAndRoundTrip) {
    mArray numbers{mValue(std::numeric_limits<uint64_t>::max()),
                   mValue(std::numeric_limits<int64_t>::min()), mValue(0.1), mValue(2.0),
                   mValue(1e300), mValue(-0.0)};
    const std::string text = Write(numbers);
    EXPECT_EQ("[18446744073709551615,-9223372036854775808,0.1,2.0,1e+300,-0.0]", text);
    EXPECT_EQ(mValue(numbers), Read(text));
}

TEST(JsonWrite, ReadWriteReadGivesAnEqualValue) {
    const std::string text =
        R"({"files":[{"name":"r\u00e9sum\u00e9","size":"12","nested":{"a":[true,false,null]}}],)"
        R"("paging":{"next":"/v1/files/%2F/entries/?after=x","prev":""},"n":-5,"r":3.25})";
    const mValue first = Read(text);
    const mValue second = Read(Write(first));
    EXPECT_EQ(first, second);
    EXPECT_EQ(Write(first), Write(second));
}

TEST(TnJsonDocument, UnserializeTellsObjectsFromArrays) {
    mObject object;
    mArray array;
    EXPECT_TRUE(TnJson::Unserialize("{\"a\":[1]}", object));
    EXPECT_FALSE(TnJson::Unserialize("{\"a\":[1]}", array));
    EXPECT_TRUE(TnJson::Unserialize("[{}]", array));
    EXPECT_FALSE(TnJson::Unserialize("[{}]", object));
    EXPECT_FALSE(TnJson::Unserialize("not json", object));
    EXPECT_EQ(1u, array.size());
}

TEST(TnJsonDocument, GettersNameTheKeyAndTheProblem) {
    mObject object;
    ASSERT_TRUE(TnJson::Unserialize(
        R"({"size":12,"name":"n","flag":true,"id":18446744073709551615,"neg":-1})", object));
    EXPECT_EQ("n", TnJson::GetStringValue(object, "name"));
    EXPECT_TRUE(TnJson::GetBoolValue(object, "flag"));
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), TnJson::GetUInt64Value(object, "id"));
    EXPECT_EQ(12u, TnJson::GetUInt64Value(object, "size"));
    auto whatOf = [](auto call) -> std::string {
        try {
            call();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no exception";
    };
    EXPECT_EQ("key 'missing' not found",
              whatOf([&] { TnJson::GetStringValue(object, "missing"); }));
    EXPECT_EQ(0u, whatOf([&] { TnJson::GetStringValue(object, "size"); })
                      .find("key 'size' is not a string"));
    EXPECT_EQ(0u, whatOf([&] { TnJson::GetBoolValue(object, "name"); })
                      .find("key 'name' is not a boolean"));
    EXPECT_EQ(0u, whatOf([&] { TnJson::GetUInt64Value(object, "neg"); })
                      .find("key 'neg' is not an unsigned integer"));
}

TEST(TnJsonDocument, FindCopiesOnlyTheRightKind) {
    mObject object;
    ASSERT_TRUE(TnJson::Unserialize(R"({"entries":[1,2],"paging":{"next":""},"x":null})", object));
    mArray array;
    mObject paging;
    EXPECT_TRUE(TnJson::FindArrayValue(object, "entries", array));
    EXPECT_EQ(2u, array.size());
    EXPECT_FALSE(TnJson::FindArrayValue(object, "paging", array));
    EXPECT_FALSE(TnJson::FindArrayValue(object, "absent", array));
    EXPECT_TRUE(TnJson::FindObjectValue(object, "paging", paging));
    EXPECT_FALSE(TnJson::FindObjectValue(object, "x", paging));
    EXPECT_EQ("{\"entries\":[1,2],\"paging\":{\"next\":\"\"},\"x\":null}", TnJson::Serialize(object));
}

}  // namespace
