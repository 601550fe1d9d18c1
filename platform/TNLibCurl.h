// Stand-in for the host platform's HTTP client (libtnlibcurl) over libcurl.
// One client owns one curl handle, reused, so consecutive requests share a kept-alive
// connection. A client is not safe for concurrent use; separate clients are independent.
// No method throws; a write callback that throws fails its request.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#define TNLIBCURL_EXPORT __attribute__((visibility("default")))

enum _http_req_type_ { HTTP_REQ_GET = 0, HTTP_REQ_POST = 1, HTTP_REQ_PUT = 2, HTTP_REQ_DELETE = 3 };
enum _http_hdr_type_ { HTTP_HDR_HTTPHEADER = 0 };

typedef unsigned long (*TNLibCurlWriteCallback)(void* data, unsigned long size, unsigned long count,
                                                void* client);

class TNLIBCURL_EXPORT TNLibCurl {
  public:
    // Process-wide settings every client picks up at its next request.
    struct Defaults {
        std::string caFile;     // trusted CA bundle; empty: CURL_CA_BUNDLE or the system's
        bool insecure = false;  // skip certificate and host name checks
        long connectTimeoutSeconds = 10;
        // Limits of each attempt; a request that passes one fails and GetLastLimitText() says
        // which. A value of 0 or less turns that limit off (for the stall rule: either value).
        // The reply body, counted after Content-Encoding is undone; the header block is held
        // to the same figure on its own. What came up to the limit stays readable.
        size_t maxReplyBytes = size_t(256) << 20;
        // From sending the request (after connecting) to the first byte of the reply.
        long firstByteSeconds = 120;
        // From the first byte on, the reply (headers and body as they come off the wire) must
        // bring at least stallBytesPerSecond * stallSeconds bytes in each stallSeconds span.
        long stallBytesPerSecond = 1024;
        long stallSeconds = 60;
        long totalSeconds = 600;  // the whole attempt, connecting included
    };
    static void SetDefaults(const Defaults& defaults);
    static Defaults GetDefaults();

    // Whom one client trusts, in place of the Defaults' caFile and insecure: a process that
    // talks to clusters with different certificates gives each client its own. Null (the
    // default) follows the Defaults.
    struct Trust {
        std::string caFile;     // as Defaults::caFile
        bool insecure = false;  // as Defaults::insecure
    };
    void SetTrust(std::shared_ptr<const Trust> trust);
    std::shared_ptr<const Trust> GetTrust() const;

    TNLibCurl();
    ~TNLibCurl();
    TNLibCurl(const TNLibCurl&) = delete;
    TNLibCurl& operator=(const TNLibCurl&) = delete;

    // `defaultHeader` goes with every request, also after the header list is freed.
    // With a callback the reply body goes to it (its last argument is this client)
    // instead of being collected.
    bool TNLibCurlInit(const char* defaultHeader, bool verifyPeer, bool verifyHost,
                       TNLibCurlWriteCallback callback);
    // Whether TNLibCurlInit has succeeded on this client.
    bool IsInitialised() const;
    void TNLibCurlFreeHttpHeaderList();
    bool TNLibCurlAppendHeader(_http_hdr_type_ type, const char* line);
    // True when the transfer completed with a 2xx status. `followRedirects` follows 3xx
    // answers; a non-null `proxy` sends the request through that proxy.
    bool TNLibCurlSendHttpReq(_http_req_type_ type, const char* url, const void* body,
                              unsigned long length, bool followRedirects, const char* proxy);
    // The body of the last answer (also after a failed request), NUL-terminated; null when
    // no answer came. `length` receives its size. With `nullIfEmpty` an empty body gives null.
    const char* GetHttpResponse(unsigned long& length, bool nullIfEmpty);

    // Diagnostics of the last request: HTTP status (0 without answer) and transport error text.
    long GetLastHttpStatus() const;
    std::string GetLastErrorText() const;
    // libcurl's CURLcode for the last request: 0 when the transfer worked (whatever the HTTP
    // status) or none was attempted (a call refused at once: no Init, no URL); otherwise
    // GetLastErrorText() says why. The client's time limits give 28 (CURLE_OPERATION_TIMEDOUT),
    // as libcurl's own timeouts do; its other limits give the code libcurl reports for the
    // aborted transfer; a CA file that is missing gives 77.
    int GetLastTransportCode() const;
    // Whether the last request reached the server: a connection was made and the request
    // written to it. False when the transfer ended before that (refused, unreachable, TLS
    // failed), so that nothing of it can have had an effect.
    bool GetLastRequestSent() const;
    // The last answer's Retry-After in seconds, in either form: delay seconds, or an HTTP date
    // counted from now (0 once it has passed); -1 when the answer had none or it was neither.
    long GetLastRetryAfterSeconds() const;
    // A flag another thread may raise to abandon this client's requests: while it is true, a
    // request fails at once without being sent, and one in flight is given up within about
    // 50 ms (the client polls its transfer that often while nothing arrives).
    // Either failure has code 42 (CURLE_ABORTED_BY_CALLBACK) and the text kCancelledText. One
    // flag may be shared by many clients; null (the default) turns it off.
    void SetAbandonFlag(std::shared_ptr<const std::atomic<bool>> flag);
    std::shared_ptr<const std::atomic<bool>> GetAbandonFlag() const;
    static constexpr const char* kCancelledText = "the request was cancelled";

    // Empty unless one of the client's own limits (see Defaults) or a lack of memory ended the
    // last request; then one short phrase that names it, which GetLastErrorText() also gives.
    std::string GetLastLimitText() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
