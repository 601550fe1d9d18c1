#include "Utf8.h"

namespace clusterctl {
namespace {

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";

// How many continuation bytes follow `lead`, and the range the first of them must lie in to
// rule out overlong forms, surrogates and code points past U+10FFFF (Unicode table 3-7).
struct LeadByte {
    size_t continuations = 0;
    unsigned char firstLow = 0x80;
    unsigned char firstHigh = 0xBF;
    uint32_t bits = 0;
    bool valid = false;
};

LeadByte ReadLeadByte(unsigned char lead) {
    LeadByte result;
    result.valid = true;
    if (lead >= 0xC2 && lead <= 0xDF) {
        result.continuations = 1;
        result.bits = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        result.continuations = 2;
        result.bits = lead & 0x0Fu;
        if (lead == 0xE0) result.firstLow = 0xA0;
        if (lead == 0xED) result.firstHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        result.continuations = 3;
        result.bits = lead & 0x07u;
        if (lead == 0xF0) result.firstLow = 0x90;
        if (lead == 0xF4) result.firstHigh = 0x8F;
    } else {
        result.valid = false;
    }
    return result;
}

}  // namespace

Utf8Sequence ReadUtf8Sequence(const std::string& text, size_t position) {
    const auto lead = static_cast<unsigned char>(text[position]);
    if (lead < 0x80) return {lead, 1, true};
    LeadByte expected = ReadLeadByte(lead);
    if (!expected.valid) return {0, 1, false};
    uint32_t codePoint = expected.bits;
    size_t length = 1;
    unsigned char low = expected.firstLow;
    unsigned char high = expected.firstHigh;
    for (size_t i = 0; i < expected.continuations; ++i, ++length) {
        if (position + length >= text.size()) return {0, length, false};
        const auto next = static_cast<unsigned char>(text[position + length]);
        if (next < low || next > high) return {0, length, false};
        codePoint = (codePoint << 6) | (next & 0x3Fu);
        low = 0x80;
        high = 0xBF;
    }
    return {codePoint, length, true};
}

bool IsValidUtf8(const std::string& text) {
    for (size_t position = 0; position < text.size();) {
        const Utf8Sequence sequence = ReadUtf8Sequence(text, position);
        if (!sequence.valid) return false;
        position += sequence.length;
    }
    return true;
}

std::string WithReplacementCharacters(const std::string& text) {
    std::string replaced;
    replaced.reserve(text.size());
    for (size_t position = 0; position < text.size();) {
        const Utf8Sequence sequence = ReadUtf8Sequence(text, position);
        if (sequence.valid) {
            replaced.append(text, position, sequence.length);
        } else {
            replaced += kReplacementCharacter;
        }
        position += sequence.length;
    }
    return replaced;
}

}  // namespace clusterctl
