// Internal to the HTTP client: the one place where a real transfer and a scripted one differ.
// TNLibCurl.cpp keeps what every client does alike (defaults, header lines, the last reply and
// its diagnostics) and hands each request to its Transfer: libcurl's (CurlTransfer.cpp) in the
// platform library, the test script's in the scripted client, so the two cannot drift apart.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/TNLibCurl.h"

namespace tnlibcurl {

// One request as the client hands it over.
struct Request {
    _http_req_type_ type = HTTP_REQ_GET;
    const char* url = nullptr;
    const void* body = nullptr;
    unsigned long length = 0;
    bool followRedirects = false;
    const char* proxy = nullptr;
    std::vector<std::string> headers;  // the default header first, then the list's lines
    bool verifyPeer = true;
    bool verifyHost = true;
    TNLibCurl::Defaults limits;
    const std::atomic<bool>* abandon = nullptr;  // raised: give the request up
};

// What came back; empty until the transfer fills it.
struct Reply {
    bool answered = false;  // an HTTP status arrived
    long status = 0;
    std::string body;       // collected when the client has no write callback
    std::string errorText;  // why the transfer failed, in the transport's words
    std::string limitText;  // set when one of the client's own limits ended it
    int code = 0;           // the CURLcode; 0 when the transfer worked
    bool sent = false;      // the request was written to a connection
    long retryAfterSeconds = -1;
};

class Transfer {
  public:
    virtual ~Transfer() = default;
    // With a callback the body goes to it (its last argument is `owner`) instead of the reply.
    virtual bool Init(TNLibCurlWriteCallback callback, TNLibCurl* owner) = 0;
    // True when the request completed with a 2xx status and no limit fired. May throw
    // std::bad_alloc; the client turns that into a failed request.
    virtual bool Perform(const Request& request, Reply& reply) = 0;
};

// Defined once per build of the client: libcurl's transfer or the test script's.
std::unique_ptr<Transfer> MakeTransfer();

const char kOutOfMemory[] = "out of memory while reading the reply";

// CURLcodes the client gives without libcurl at hand (the scripted build has no curl.h);
// CurlTransfer.cpp holds them to curl.h's values.
constexpr int kCodeFailedInit = 2;    // CURLE_FAILED_INIT
constexpr int kCodeOutOfMemory = 27;  // CURLE_OUT_OF_MEMORY
constexpr int kCodeAborted = 42;      // CURLE_ABORTED_BY_CALLBACK

}  // namespace tnlibcurl
