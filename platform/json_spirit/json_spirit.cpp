#include "platform/json_spirit/json_spirit.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace json_spirit {

const char* KindName(Value_type type) {
    switch (type) {
        case obj_type: return "an object";
        case array_type: return "an array";
        case str_type: return "a string";
        case bool_type: return "a boolean";
        case int_type: return "an integer";
        case real_type: return "a real number";
        case null_type: return "null";
    }
    return "unknown";
}

Value_type mValue::type() const {
    switch (m_value.which()) {
        case kNull: return null_type;
        case kBool: return bool_type;
        case kInt64:
        case kUint64: return int_type;
        case kReal: return real_type;
        case kString: return str_type;
        case kObject: return obj_type;
        default: return array_type;
    }
}

void mValue::ThrowWrongKind(const char* wanted) const {
    throw std::runtime_error(std::string("value is ") + KindName(type()) + ", not " + wanted);
}

const mObject& mValue::get_obj() const {
    if (m_value.which() != kObject) ThrowWrongKind("an object");
    return boost::get<mObject>(m_value);
}

mObject& mValue::get_obj() {
    if (m_value.which() != kObject) ThrowWrongKind("an object");
    return boost::get<mObject>(m_value);
}

const mArray& mValue::get_array() const {
    if (m_value.which() != kArray) ThrowWrongKind("an array");
    return boost::get<mArray>(m_value);
}

mArray& mValue::get_array() {
    if (m_value.which() != kArray) ThrowWrongKind("an array");
    return boost::get<mArray>(m_value);
}

const std::string& mValue::get_str() const {
    if (m_value.which() != kString) ThrowWrongKind("a string");
    return boost::get<std::string>(m_value);
}

bool mValue::get_bool() const {
    if (m_value.which() != kBool) ThrowWrongKind("a boolean");
    return boost::get<bool>(m_value);
}

int64_t mValue::get_int64() const {
    if (m_value.which() == kInt64) return boost::get<int64_t>(m_value);
    if (m_value.which() == kUint64 && boost::get<uint64_t>(m_value) <= INT64_MAX) {
        return static_cast<int64_t>(boost::get<uint64_t>(m_value));
    }
    ThrowWrongKind("a signed 64-bit integer");
}

int mValue::get_int() const {
    const int64_t number = get_int64();
    if (number < INT32_MIN || number > INT32_MAX) ThrowWrongKind("a 32-bit integer");
    return static_cast<int>(number);
}

uint64_t mValue::get_uint64() const {
    if (m_value.which() == kUint64) return boost::get<uint64_t>(m_value);
    if (m_value.which() == kInt64 && boost::get<int64_t>(m_value) >= 0) {
        return static_cast<uint64_t>(boost::get<int64_t>(m_value));
    }
    ThrowWrongKind("an unsigned 64-bit integer");
}

double mValue::get_real() const {
    switch (m_value.which()) {
        case kReal: return boost::get<double>(m_value);
        case kInt64: return static_cast<double>(boost::get<int64_t>(m_value));
        case kUint64: return static_cast<double>(boost::get<uint64_t>(m_value));
        default: ThrowWrongKind("a number");
    }
}

namespace {

bool IsRealMark(char c) {
    return c == '.' || c == 'e' || c == 'E';
}

// The C locale, so that a host's LC_NUMERIC cannot change how "1.5" reads.
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t());
    return locale;
}

// Numbers arrive as their JSON text (NUL-terminated): RapidJSON 1.1.0's own full-precision
// conversion turns zeros with a large exponent ("0e40", "0.000…0") and values past its power
// table into garbage. An integer keeps 64 bits (signed when it fits) or becomes a real; a real
// is read correctly rounded; one past the largest double is refused, as "1e309" is.
bool ReadNumber(const char* text, size_t length, mValue& number) {
    const char* end = text + length;
    if (std::find_if(text, end, IsRealMark) == end) {
        int64_t signedNumber = 0;
        if (std::from_chars(text, end, signedNumber).ec == std::errc()) {
            number = mValue(signedNumber);
            return true;
        }
        uint64_t unsignedNumber = 0;
        if (std::from_chars(text, end, unsignedNumber).ec == std::errc()) {
            number = mValue(unsignedNumber);
            return true;
        }
    }
    const double real = strtod_l(text, nullptr, CLocale());
    if (std::isinf(real)) return false;
    number = mValue(real);
    return true;
}

// Builds the value tree from SAX events. Containers under construction live on a stack of
// (value, pending key) frames, so depth costs heap, not call stack.
class TreeBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TreeBuilder> {
public:
    explicit TreeBuilder(mValue& root) : m_root(root) {}

    bool Null() { return Add(mValue()); }
    bool Bool(bool flag) { return Add(mValue(flag)); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        mValue number;
        return ReadNumber(text, length, number) && Add(std::move(number));
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Add(mValue(std::string(text, length)));
    }
    bool StartObject() { return Open(mValue(mObject())); }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        m_stack.back().key.assign(text, length);
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool StartArray() { return Open(mValue(mArray())); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

private:
    struct Frame {
        mValue value;
        std::string key;
    };

    bool Open(mValue&& container) {
        if (m_stack.size() >= kMaxDepth) return false;
        m_stack.push_back(Frame{std::move(container), std::string()});
        return true;
    }

    bool Close() {
        mValue finished = std::move(m_stack.back().value);
        m_stack.pop_back();
        return Add(std::move(finished));
    }

    bool Add(mValue&& value) {
        if (m_stack.empty()) {
            m_root = std::move(value);
            return true;
        }
        Frame& parent = m_stack.back();
        if (parent.value.type() == array_type) {
            parent.value.get_array().push_back(std::move(value));
        } else {
            parent.value.get_obj()[parent.key] = std::move(value);  // a repeated key: last wins
        }
        return true;
    }

    mValue& m_root;
    std::vector<Frame> m_stack;
};

bool IsJsonWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool read_string(const std::string& text, mValue& value) {
    mValue parsed;
    TreeBuilder builder(parsed);
    rapidjson::MemoryStream stream(text.data(), text.size());
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag |
                                rapidjson::kParseNumbersAsStringsFlag;
    if (reader.Parse<kFlags>(stream, builder).IsError()) return false;
    // The reader stops at an embedded NUL as at the end; only true white space may follow.
    for (size_t at = stream.Tell(); at < text.size(); ++at) {
        if (!IsJsonWhiteSpace(text[at])) return false;
    }
    value = std::move(parsed);
    return true;
}

namespace {

void WriteText(const std::string& text, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void WriteReal(double number, std::string& out) {
    if (!std::isfinite(number)) {
        out += "null";  // JSON has no text for these
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    const std::string text(buffer, result.ptr);
    out += text;
    // Keep it a real number when read back.
    if (text.find_first_of(".eE") == std::string::npos) out += ".0";
}

void WriteValue(const mValue& value, std::string& out) {
    switch (value.type()) {
        case null_type: out += "null"; break;
        case bool_type: out += value.get_bool() ? "true" : "false"; break;
        case int_type:
            out += value.is_uint64() ? std::to_string(value.get_uint64())
                                     : std::to_string(value.get_int64());
            break;
        case real_type: WriteReal(value.get_real(), out); break;
        case str_type: WriteText(value.get_str(), out); break;
        case obj_type: {
            out += '{';
            const char* separator = "";
            for (const auto& member : value.get_obj()) {
                out += separator;
                WriteText(member.first, out);
                out += ':';
                WriteValue(member.second, out);
                separator = ",";
            }
            out += '}';
            break;
        }
        case array_type: {
            out += '[';
            const char* separator = "";
            for (const auto& element : value.get_array()) {
                out += separator;
                WriteValue(element, out);
                separator = ",";
            }
            out += ']';
            break;
        }
    }
}

}  // namespace

std::string write_string(const mValue& value, unsigned int) {
    std::string out;
    WriteValue(value, out);
    return out;
}

}  // namespace json_spirit
