#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <new>

#include "platform/TNLibCurlTransfer.h"

#ifndef CLUSTERCLIENT_VERSION
#define CLUSTERCLIENT_VERSION "0"
#endif

namespace {

using Clock = std::chrono::steady_clock;

static_assert(tnlibcurl::kCodeFailedInit == CURLE_FAILED_INIT, "CURLcode");
static_assert(tnlibcurl::kCodeOutOfMemory == CURLE_OUT_OF_MEMORY, "CURLcode");
static_assert(tnlibcurl::kCodeAborted == CURLE_ABORTED_BY_CALLBACK, "CURLcode");

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
    }
    return true;
}

// Whether the `length` bytes at `text` start with `prefix` (lower case), in any case.
bool HasPrefixNoCase(const char* text, size_t length, const char* prefix) {
    const size_t prefixLength = std::strlen(prefix);
    if (length < prefixLength) return false;
    for (size_t i = 0; i < prefixLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

bool IsFieldBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Seconds as a duration, saturated so that huge settings cannot overflow the clock.
Clock::duration Seconds(long seconds) {
    const long most = 100L * 365 * 24 * 3600;
    return std::chrono::seconds(seconds < most ? seconds : most);
}

// libcurl's transfer: one handle per client, reused, so consecutive requests share a
// kept-alive connection; every byte passes through here and is counted against the limits.
class CurlTransfer : public tnlibcurl::Transfer {
  public:
    ~CurlTransfer() override {
        Detach();
        if (handle != nullptr) curl_easy_cleanup(handle);
        if (multi != nullptr) curl_multi_cleanup(multi);
    }

    bool Init(TNLibCurlWriteCallback writeCallback, TNLibCurl* client) override;
    bool Perform(const tnlibcurl::Request& request, tnlibcurl::Reply& reply) override;

  private:
    enum class Limit { None, ReplyBytes, FirstByte, Stall, Total, Memory, Handler };

    TNLibCurl* owner = nullptr;
    CURL* handle = nullptr;
    // The transfer runs in our own loop over a multi handle, which also keeps the connections
    // between requests, so that an abandoned request is given up within one short poll.
    CURLM* multi = nullptr;
    // A finished transfer's handle stays in the multi handle until the next one starts: only
    // there can libcurl still name its connection (DropConnectionWithUnaskedBytes).
    bool attached = false;
    TNLibCurlWriteCallback callback = nullptr;
    std::string builtInCaFile;  // libcurl's own CA bundle, trusted when none is configured
    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    tnlibcurl::Reply* current = nullptr;  // the reply of the request under way
    char errorText[CURL_ERROR_SIZE] = {0};
    std::string ownError;  // our own reason, ahead of libcurl's text
    long systemError = 0;  // errno of a failed connect, which libcurl's text leaves out

    // The Retry-After of the answer under way, as it came (blanks around it dropped). Kept in
    // place, as the header callback must not allocate; the head of every answer (an interim
    // or redirect one too) starts it over, so only the last answer's counts.
    char retryAfter[64] = {0};
    size_t retryAfterLength = 0;
    bool retryAfterSeen = false;
    bool retryAfterFits = false;

    // The attempt under way: its limits and what has come so far.
    TNLibCurl::Defaults limits;
    const std::atomic<bool>* abandon = nullptr;
    Limit limit = Limit::None;
    size_t bodyBytes = 0;  // decoded
    size_t headerBytes = 0;
    Clock::time_point started;
    bool gotFirstByte = false;
    Clock::time_point windowStart;
    curl_off_t windowBytes = 0;
    curl_off_t wireBytes = 0;  // header bytes and body bytes before decoding

    // The first limit to fire is the one reported.
    void Fire(Limit which) {
        if (limit == Limit::None) limit = which;
    }

    void NoteArrival(Clock::time_point now) {
        if (gotFirstByte) return;
        gotFirstByte = true;
        windowStart = now;
        windowBytes = 0;
    }

    // True when the bytes so far and the clock break no limit; else fires the one broken.
    bool WithinLimits(curl_off_t bodyWireBytes) {
        if (Abandoned()) {
            ownError = TNLibCurl::kCancelledText;
            return false;
        }
        const Clock::time_point now = Clock::now();
        wireBytes = static_cast<curl_off_t>(headerBytes) + bodyWireBytes;
        if (!gotFirstByte) {
            // libcurl notes the first byte of the reply as it comes, before a line is complete.
            curl_off_t firstAfter = 0;
            curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &firstAfter);
            if (firstAfter > 0) NoteArrival(started + std::chrono::microseconds(firstAfter));
            if (wireBytes > 0) NoteArrival(now);
        }
        if (limits.totalSeconds > 0 && now - started >= Seconds(limits.totalSeconds)) {
            Fire(Limit::Total);
            return false;
        }
        if (!gotFirstByte && limits.firstByteSeconds > 0) {
            // The wait starts once the request is on its way; connecting has its own limit.
            curl_off_t sentAfter = 0;
            curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &sentAfter);
            if (sentAfter > 0 && now - started - std::chrono::microseconds(sentAfter) >=
                                     Seconds(limits.firstByteSeconds)) {
                Fire(Limit::FirstByte);
                return false;
            }
        }
        if (gotFirstByte && limits.stallBytesPerSecond > 0 && limits.stallSeconds > 0 &&
            now - windowStart >= Seconds(limits.stallSeconds)) {
            const double needed = static_cast<double>(limits.stallBytesPerSecond) *
                                  static_cast<double>(limits.stallSeconds);
            if (static_cast<double>(wireBytes - windowBytes) < needed) {
                Fire(Limit::Stall);
                return false;
            }
            windowStart = now;
            windowBytes = wireBytes;
        }
        return true;
    }

    // Of `count` bytes, how many still fit under the reply limit once `held` are kept.
    size_t Fitting(size_t held, size_t count) const {
        const size_t cap = limits.maxReplyBytes;
        if (cap == 0) return count;
        const size_t room = held < cap ? cap - held : 0;
        return count < room ? count : room;
    }

    static size_t Receive(char* data, size_t size, size_t count, void* self) {
        CurlTransfer& impl = *static_cast<CurlTransfer*>(self);
        // libcurl passes size 1; a product that overflows is refused rather than wrapped.
        if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return 0;
        const size_t bytes = size * count;
        if (impl.limit != Limit::None) return 0;
        impl.NoteArrival(Clock::now());
        const size_t taken = impl.Fitting(impl.bodyBytes, bytes);
        try {
            if (impl.callback != nullptr) {
                if (taken > 0 && impl.callback(data, 1, taken, impl.owner) != taken) return 0;
            } else {
                impl.current->body.append(data, taken);
            }
        } catch (const std::bad_alloc&) {
            impl.Fire(Limit::Memory);
            return 0;
        } catch (...) {
            impl.Fire(Limit::Handler);
            return 0;
        }
        impl.bodyBytes += taken;
        if (taken < bytes) {
            impl.Fire(Limit::ReplyBytes);
            return 0;
        }
        return bytes;
    }

    static size_t ReceiveHeader(char* data, size_t size, size_t count, void* self) {
        CurlTransfer& impl = *static_cast<CurlTransfer*>(self);
        if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return 0;
        const size_t bytes = size * count;
        impl.NoteArrival(Clock::now());
        if (impl.Fitting(impl.headerBytes, bytes) < bytes) {
            impl.Fire(Limit::ReplyBytes);
            return 0;
        }
        impl.headerBytes += bytes;
        impl.NoteHeaderLine(data, bytes);
        return bytes;
    }

    void NoteHeaderLine(const char* line, size_t length) {
        static const char kName[] = "retry-after:";
        if (HasPrefixNoCase(line, length, "http/")) {
            retryAfterSeen = false;
            retryAfterLength = 0;
            return;
        }
        if (!HasPrefixNoCase(line, length, kName)) return;
        size_t begin = sizeof kName - 1;
        size_t end = length;
        while (begin < end && IsFieldBlank(line[begin])) ++begin;
        while (end > begin && IsFieldBlank(line[end - 1])) --end;
        retryAfterSeen = true;
        retryAfterFits = end - begin < sizeof retryAfter;
        retryAfterLength = retryAfterFits ? end - begin : 0;
        std::memcpy(retryAfter, line + begin, retryAfterLength);
        retryAfter[retryAfterLength] = '\0';
    }

    // Delay seconds (saturated) or an HTTP date read by libcurl's own date reader. Not
    // CURLINFO_RETRY_AFTER: it gives 0 both for no header and for one it cannot read.
    long RetryAfterSeconds() const {
        if (!retryAfterSeen || !retryAfterFits || retryAfterLength == 0) return -1;
        const char* const end = retryAfter + retryAfterLength;
        if (std::all_of(retryAfter, end, [](char c) { return c >= '0' && c <= '9'; })) {
            const long most = std::numeric_limits<long>::max();
            long seconds = 0;
            for (const char* digit = retryAfter; digit != end; ++digit) {
                const long value = *digit - '0';
                if (seconds > (most - value) / 10) return most;
                seconds = seconds * 10 + value;
            }
            return seconds;
        }
        const time_t date = curl_getdate(retryAfter, nullptr);
        if (date == -1) return -1;
        const time_t now = std::time(nullptr);
        return date > now ? static_cast<long>(date - now) : 0;
    }

    // libcurl's words for the failure, with the system's when a connect failed ("Couldn't
    // connect to server" alone does not say whether it was refused or unreachable).
    std::string TransportText() const {
        if (!ownError.empty()) return ownError;
        std::string text = errorText;
        if (systemError != 0) {
            const std::string cause = std::strerror(static_cast<int>(systemError));
            if (text.find(cause) == std::string::npos) text += " (" + cause + ")";
        }
        return text;
    }

    static int Progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t) {
        return static_cast<CurlTransfer*>(self)->WithinLimits(downloaded) ? 0 : 1;
    }

    // The default header, the list's lines, and no 100-continue round trip for larger bodies.
    curl_slist* HeaderList(const std::vector<std::string>& lines) {
        curl_slist* list = nullptr;
        auto append = [&list](const std::string& line) {
            curl_slist* grown = curl_slist_append(list, line.c_str());
            if (grown != nullptr) list = grown;
        };
        for (const auto& line : lines) append(line);
        append("Expect:");
        headerList.reset(list);
        return list;
    }

    void ApplyMethod(_http_req_type_ type, const void* data, unsigned long length) {
        static const char kEmpty[] = "";
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(handle, CURLOPT_NOBODY, 0L);
        const bool sendsBody = type == HTTP_REQ_POST || type == HTTP_REQ_PUT || length > 0;
        if (sendsBody) {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, data != nullptr ? data : kEmpty);
        } else {
            curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        }
        if (type == HTTP_REQ_PUT) curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "PUT");
        if (type == HTTP_REQ_DELETE) curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
        if (type == HTTP_REQ_GET && sendsBody)
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "GET");
    }

    // False, with the reason in ownError, when certificates are to be checked but the file
    // that should hold the trusted ones is missing: libcurl's own words for that are obscure.
    bool ApplyTransportSettings(const tnlibcurl::Request& request) {
        const char* url = request.url;
        const bool checkPeer = request.verifyPeer && !limits.insecure;
        const bool checkHost = request.verifyHost && !limits.insecure;
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, checkPeer ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, checkHost ? 2L : 0L);
        const char* environmentCa = std::getenv("CURL_CA_BUNDLE");
        const std::string caFile = !limits.caFile.empty()     ? limits.caFile
                                   : environmentCa != nullptr ? environmentCa
                                                              : std::string();
        // Set at every request: the handle keeps an option once set, and a request must not go
        // on trusting a CA file that is no longer configured.
        const std::string& trusted = !caFile.empty() ? caFile : builtInCaFile;
        curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.empty() ? nullptr : trusted.c_str());
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
        // The stall rule is ours (Progress); libcurl's own would let 1 B/s through.
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 0L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 0L);
        // A backstop for the total limit should the progress calls ever pause; Progress fires
        // first and names the limit.
        const long totalBackstopMs = limits.totalSeconds <= 0 ? 0L
                                     : limits.totalSeconds < 24L * 3600
                                         ? limits.totalSeconds * 1000 + 2000
                                         : 0L;
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, totalBackstopMs);
        // libcurl sends a request again by itself when a reused connection turns out closed;
        // for a change that may have reached the cluster that would be a second change.
        curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, request.type == HTTP_REQ_GET ? 0L : 1L);
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_PROXY, request.proxy);
        if (!checkPeer || !StartsWithNoCase(url, "https:") || trusted.empty()) return true;
        struct stat info;
        if (stat(trusted.c_str(), &info) == 0) return true;
        const int why = errno;
        ownError = "no trusted CA certificates: " + trusted +
                   (why == ENOENT || why == ENOTDIR
                        ? " does not exist"
                        : std::string(" cannot be read (") + std::strerror(why) + ")") +
                   (caFile.empty() ? "; install ca-certificates or give a CA file"
                                   : "; give an existing CA file");
        return false;
    }

    // A connection whose last reply was followed by bytes nobody asked for is not reused:
    // those bytes would be read as the answer to the next request.
    void DropConnectionWithUnaskedBytes() {
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
            socket == CURL_SOCKET_BAD) {
            return;
        }
        pollfd waiting{socket, POLLIN, 0};
        if (poll(&waiting, 1, 0) > 0) {
            // libcurl sees the connection as dead at its reuse check and opens a new one.
            shutdown(socket, SHUT_RDWR);
        }
    }

    std::string LimitText() const {
        char text[160];
        switch (limit) {
            case Limit::None:
            case Limit::Handler:
                return "";
            case Limit::ReplyBytes:
                std::snprintf(text, sizeof text, "the reply exceeded the limit of %zu bytes",
                              limits.maxReplyBytes);
                break;
            case Limit::FirstByte:
                std::snprintf(text, sizeof text, "no reply within %ld s (first-byte limit)",
                              limits.firstByteSeconds);
                break;
            case Limit::Stall:
                std::snprintf(text, sizeof text,
                              "the reply stalled below %ld B/s for %ld s (stall limit)",
                              limits.stallBytesPerSecond, limits.stallSeconds);
                break;
            case Limit::Total:
                std::snprintf(text, sizeof text, "the request took longer than %ld s (total limit)",
                              limits.totalSeconds);
                break;
            case Limit::Memory:
                return "out of memory while reading the reply";
        }
        return text;
    }

    bool Abandoned() const { return abandon != nullptr && abandon->load(); }

    // curl_easy_perform's loop with a short poll, so that a raised abandon flag ends the
    // transfer at once even while nothing arrives (libcurl's progress calls slow to one a
    // second then).
    CURLcode Perform() {
        DropConnectionWithUnaskedBytes();
        Detach();
        if (curl_multi_add_handle(multi, handle) != CURLM_OK) return CURLE_FAILED_INIT;
        attached = true;
        CURLcode result = CURLE_OK;
        int running = 1;
        while (running > 0) {
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_OUT_OF_MEMORY;
                break;
            }
            if (running > 0 && Abandoned()) {
                ownError = TNLibCurl::kCancelledText;
                result = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            if (running > 0 &&
                curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK) {
                result = CURLE_OUT_OF_MEMORY;
                break;
            }
        }
        int left = 0;
        bool finished = false;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE || message->easy_handle != handle) continue;
            result = message->data.result;
            finished = true;
        }
        // Removing an unfinished transfer closes its connection.
        if (!finished) Detach();
        return result;
    }

    void Detach() {
        if (attached) curl_multi_remove_handle(multi, handle);
        attached = false;
    }

    static constexpr int kPollMilliseconds = 50;

    bool Run(const tnlibcurl::Request& request, tnlibcurl::Reply& reply) {
        curl_easy_setopt(handle, CURLOPT_URL, request.url);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, HeaderList(request.headers));
        ApplyMethod(request.type, request.body, request.length);
        if (!ApplyTransportSettings(request)) {
            reply.code = CURLE_SSL_CACERT_BADFILE;
            return false;
        }
        started = Clock::now();
        const CURLcode result = Perform();
        reply.code = result;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
        reply.answered = reply.status != 0;
        // The size of what was written, counted afresh for each transfer.
        long requestBytes = 0;
        curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &requestBytes);
        reply.sent = requestBytes > 0;
        reply.retryAfterSeconds = RetryAfterSeconds();
        if (result == CURLE_COULDNT_CONNECT) {
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &systemError);
        }
        if (result == CURLE_OPERATION_TIMEDOUT && limits.totalSeconds > 0 &&
            Clock::now() - started >= Seconds(limits.totalSeconds)) {
            Fire(Limit::Total);
        }
        if (limit == Limit::Handler) ownError = "the reply could not be taken in";
        if (result != CURLE_OK && errorText[0] == '\0') {
            std::strncpy(errorText, curl_easy_strerror(result), CURL_ERROR_SIZE - 1);
        }
        return result == CURLE_OK && limit == Limit::None && reply.status >= 200 &&
               reply.status < 300;
    }
};

bool CurlTransfer::Init(TNLibCurlWriteCallback writeCallback, TNLibCurl* client) {
    GlobalInitOnce();
    if (multi == nullptr) {
        multi = curl_multi_init();
        if (multi == nullptr) return false;
    }
    if (handle == nullptr) {
        handle = curl_easy_init();
        if (handle == nullptr) return false;
        const char* builtIn = nullptr;
        if (curl_easy_getinfo(handle, CURLINFO_CAINFO, &builtIn) == CURLE_OK &&
            builtIn != nullptr) {
            builtInCaFile = builtIn;
        }
    }
    owner = client;
    callback = writeCallback;
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // we live inside a host process
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "clusterclient/" CLUSTERCLIENT_VERSION);
    curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &CurlTransfer::Receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &CurlTransfer::ReceiveHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::Progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    return true;
}

bool CurlTransfer::Perform(const tnlibcurl::Request& request, tnlibcurl::Reply& reply) {
    current = &reply;
    errorText[0] = '\0';
    ownError.clear();
    systemError = 0;
    retryAfterSeen = false;
    retryAfterLength = 0;
    limits = request.limits;
    abandon = request.abandon;
    limit = Limit::None;
    bodyBytes = 0;
    headerBytes = 0;
    gotFirstByte = false;
    wireBytes = 0;
    bool completed = false;
    try {
        completed = Run(request, reply);
    } catch (const std::bad_alloc&) {
        Fire(Limit::Memory);
        if (reply.code == CURLE_OK) reply.code = CURLE_OUT_OF_MEMORY;
    }
    current = nullptr;
    // A time limit of ours is a timeout like libcurl's own, not the abort it is made with, so
    // callers that retry timeouts treat both alike.
    if (limit == Limit::FirstByte || limit == Limit::Stall || limit == Limit::Total) {
        reply.code = CURLE_OPERATION_TIMEDOUT;
    }
    reply.limitText = LimitText();
    if (reply.limitText.empty()) reply.errorText = TransportText();
    return completed;
}

}  // namespace

namespace tnlibcurl {

std::unique_ptr<Transfer> MakeTransfer() {
    return std::unique_ptr<Transfer>(new CurlTransfer);
}

}  // namespace tnlibcurl
