#include "ClusterWalk/PageLinks.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string_view>

#include "Cluster/ClusterErrorCodes.h"

namespace clusterwalk {

namespace {

// Where "next" is looked for: a link is a few hundred bytes, a long path's a few KiB.
constexpr size_t kTailBytes = 64 * 1024;
// A refused link is quoted in the message up to this length.
constexpr size_t kQuotedBytes = 256;

// The link as a message may show it: bytes outside printable ASCII as \xHH, cut short.
std::string Printable(const std::string& link) {
    std::string text;
    for (size_t i = 0; i < link.size() && i < kQuotedBytes; ++i) {
        const unsigned char byte = static_cast<unsigned char>(link[i]);
        if (byte >= ' ' && byte < 0x7F && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    if (link.size() > kQuotedBytes) text += "...";
    return text;
}

size_t SkipBlanks(const std::string& text, size_t at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
        ++at;
    return at;
}

// The plain string value after the member name that ends at `at`; empty when it is anything
// else (null, an escape, no closing quote).
std::string StringValueAfter(const std::string& body, size_t at) {
    at = SkipBlanks(body, at);
    if (at >= body.size() || body[at] != ':') return std::string();
    at = SkipBlanks(body, at + 1);
    if (at >= body.size() || body[at] != '"') return std::string();
    const size_t begin = at + 1;
    const size_t end = body.find_first_of("\"\\", begin);
    if (end == std::string::npos || body[end] != '"') return std::string();
    return body.substr(begin, end - begin);
}

}  // namespace

CZuError CheckPageLink(const std::string& link) {
    const bool absolutePath = !link.empty() && link[0] == '/' && link.compare(0, 2, "//") != 0;
    const bool plainBytes = std::none_of(link.begin(), link.end(), [](char c) {
        const unsigned char byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7F || byte == '\\';
    });
    if (absolutePath && plainBytes) return CZuError::Success();
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, Cluster::kErrorGeneric,
                                   "Refused page link [%s]: not an absolute path on this cluster",
                                   Printable(link).c_str());
}

CZuError DirectoryPageRequest(Cluster::CParser& parser, const std::string& path, int snapshotId,
                              const std::string& pageLink, std::string& requestPath) {
    if (!pageLink.empty()) {
        CZuError error = CheckPageLink(pageLink);
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        requestPath = pageLink;
        return CZuError::Success();
    }
    std::string encoded;
    CZuError error = parser.ConvertPathToURLEncoding(path, encoded);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    requestPath = "/v1/files/" + encoded + "/entries/";
    if (snapshotId != 0) requestPath += "?snapshot=" + std::to_string(snapshotId);
    return CZuError::Success();
}

std::string GuessNextLink(const std::string& body) {
    static const std::string kMember = "\"next\"";
    const size_t tail = body.size() > kTailBytes ? body.size() - kTailBytes : 0;
    const size_t found = std::string_view(body).substr(tail).rfind(kMember);
    if (found == std::string_view::npos) return std::string();
    const size_t at = tail + found;
    std::string link = StringValueAfter(body, at + kMember.size());
    if (link.empty() || CheckPageLink(link).IsError()) return std::string();
    return link;
}

CZuError ErrorFromException(const FXCodeLocation& here) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return FXErrorUtil::ErrorWin32(here, Cluster::kErrorGeneric, "Out of memory");
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, Cluster::kErrorGeneric, "Unexpected failure: %s",
                                       exception.what());
    } catch (...) {
        return FXErrorUtil::ErrorWin32(here, Cluster::kErrorGeneric, "Unexpected failure");
    }
}

}  // namespace clusterwalk
