// Keeps passwords, bearer tokens and floods out of log lines and error messages. Internal to the
// library: the bytes sent and the replies handed back are never changed, only the texts
// quoted in messages.
#pragma once

#include <string>

namespace Cluster {

// The value of every "password" and "bearer_token" member becomes "***", however the key is
// spelt (JSON escapes included). Works on any text, also on a reply that is truncated or not
// JSON at all.
std::string MaskSecrets(const std::string& text);

// "Authorization: …" header lines keep their name and scheme, never the credential.
std::string MaskHeaderLine(const std::string& line);

// A URL's user information ("user:password@") becomes "***@".
std::string MaskUrl(const std::string& url);

// What a message or log line quotes of a text: at most its first 64 KiB, then a marker with
// the full size ("… [52428800 bytes]"), so a flood from the cluster cannot become a flood in
// the host's log.
constexpr size_t kQuoteLimit = 64 * 1024;
std::string Quote(const std::string& text);
// The same with the secrets masked.
std::string QuoteMasked(const std::string& text);

}  // namespace Cluster
