#include "Base64.h"

#include <cstdint>

namespace clusterctl {

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t taken = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t group = 0;
        for (size_t j = 0; j < 3; ++j) {
            const uint32_t byte = j < taken ? static_cast<unsigned char>(bytes[i + j]) : 0;
            group = (group << 8) | byte;
        }
        for (size_t j = 0; j < 4; ++j) {
            encoded += j <= taken ? kAlphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
        }
    }
    return encoded;
}

}  // namespace clusterctl
