#include "Url.h"

namespace clustersim {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string_view::npos;
         end = text.find(separator, start)) {
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

std::string_view WithoutTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

std::string PercentEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::optional<std::string> Target::Param(std::string_view key) const {
    for (const auto& [name, value] : query) {
        if (name == key) return value;
    }
    return std::nullopt;
}

Target SplitTarget(std::string_view target) {
    Target split;
    const size_t question = target.find('?');
    split.path = std::string(target.substr(0, question));
    if (question == std::string_view::npos) return split;
    for (const std::string_view pair : Split(target.substr(question + 1), '&')) {
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        split.query.emplace_back(std::string(pair.substr(0, equals)), std::string(value));
    }
    return split;
}

bool MatchRoute(std::string_view pattern, std::string_view path,
                std::vector<std::string>* captures) {
    const auto expected = Split(WithoutTrailingSlash(pattern), '/');
    const auto actual = Split(WithoutTrailingSlash(path), '/');
    if (expected.size() != actual.size()) return false;
    std::vector<std::string> found;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] == "{}") {
            if (actual[i].empty()) return false;
            found.emplace_back(actual[i]);
        } else if (expected[i] != actual[i]) {
            return false;
        }
    }
    *captures = std::move(found);
    return true;
}

}  // namespace clustersim
