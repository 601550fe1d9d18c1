// The test side of the scripted TNLibCurl (ScriptedTNLibCurl.cpp): tests queue the replies the
// "cluster" gives and read back every request the library sent. The script is process-wide,
// because the library makes its own client objects. Safe to use from several threads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scripted {

// One request as the library handed it to the client.
struct Request {
    std::string method;  // "GET", "POST", "PUT" or "DELETE"
    std::string url;
    std::string body;
    std::vector<std::string> headers;  // the client's default header first, then the others
    bool verifyPeer = false;
    bool verifyHost = false;
    bool followRedirects = false;
    bool viaProxy = false;
};

// CURLcodes the tests script (the scripted build has no curl.h).
constexpr int kCouldNotConnect = 7;  // CURLE_COULDNT_CONNECT
constexpr int kWriteError = 23;      // CURLE_WRITE_ERROR
constexpr int kGotNothing = 52;      // CURLE_GOT_NOTHING

// Everything a scripted transfer can report.
struct Reply {
    long status = 0;  // 0: no HTTP answer came
    std::string body;
    int transportCode = 0;      // the CURLcode; a request with a non-zero one fails
    std::string transportText;  // the client's error text for it
    std::string limitText;      // one of the client's own limits ended the transfer
    bool sent = true;           // the request was written to a connection
    long retryAfterSeconds = -1;
};

// Each request takes the oldest queued reply; with none queued it gets no answer. Status 0
// stands for no answer at all, as when the host cannot be reached: nothing sent, code 7,
// text "no answer".
void Queue(long status, const std::string& body);
// A reply that one of the client's own limits cut short: the request fails, `body` is what
// came before, and the client reports `limitText` (e.g. "the reply exceeded the limit of
// 1024 bytes") as its limit and error text, with code 23.
void QueueCutShort(long status, const std::string& body, const std::string& limitText);
void Queue(const Reply& reply);

// The requests sent since the last call, oldest first.
std::vector<Request> TakeRequests();
size_t PendingReplies();

// Forgets the queued replies and the requests.
void Reset();

}  // namespace scripted
