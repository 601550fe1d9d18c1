#include "TerminalText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "Utf8.h"

namespace clusterctl {
namespace {

const char* CEscape(uint32_t codePoint) {
    switch (codePoint) {
        case '\a':
            return "\\a";
        case '\b':
            return "\\b";
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        case '\v':
            return "\\v";
        case '\f':
            return "\\f";
        case '\r':
            return "\\r";
        case 0x1B:
            return "\\e";
        case '\\':
            return "\\\\";
        default:
            return nullptr;
    }
}

bool IsC0OrDelete(uint32_t codePoint) {
    return codePoint < 0x20 || codePoint == 0x7F;
}

// C1 controls, and the marks that reorder or hide text without showing themselves.
bool IsInvisibleControl(uint32_t codePoint) {
    return (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x061C || codePoint == 0x200E ||
           codePoint == 0x200F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

void AppendOctal(std::string& out, unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\%03o", byte);
    out += text;
}

void AppendCodePoint(std::string& out, uint32_t codePoint) {
    char text[16];
    std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(codePoint));
    out += text;
}

void AppendEscaped(std::string& out, const std::string& text, size_t position,
                   const Utf8Sequence& sequence) {
    if (!sequence.valid) {
        for (size_t i = 0; i < sequence.length; ++i) {
            AppendOctal(out, static_cast<unsigned char>(text[position + i]));
        }
    } else if (const char* escape = CEscape(sequence.codePoint)) {
        out += escape;
    } else if (IsC0OrDelete(sequence.codePoint)) {
        AppendOctal(out, static_cast<unsigned char>(sequence.codePoint));
    } else if (IsInvisibleControl(sequence.codePoint)) {
        AppendCodePoint(out, sequence.codePoint);
    } else {
        out.append(text, position, sequence.length);
    }
}

}  // namespace

std::string EscapeForTerminal(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t position = 0; position < text.size();) {
        const Utf8Sequence sequence = ReadUtf8Sequence(text, position);
        AppendEscaped(escaped, text, position, sequence);
        position += sequence.length;
    }
    return escaped;
}

size_t DisplayWidth(const std::string& escapedText) {
    return static_cast<size_t>(std::count_if(escapedText.begin(), escapedText.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace clusterctl
