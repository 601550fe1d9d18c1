#include "platform/TNLibCurl.h"

#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#ifndef CLUSTERCLIENT_VERSION
#define CLUSTERCLIENT_VERSION "0"
#endif

namespace {

using Clock = std::chrono::steady_clock;

std::mutex& DefaultsMutex() {
    static std::mutex mutex;
    return mutex;
}

TNLibCurl::Defaults& DefaultsInstance() {
    static TNLibCurl::Defaults defaults;
    return defaults;
}

// False when the copy could not be made (no memory).
bool CopyDefaults(TNLibCurl::Defaults& out) {
    try {
        std::lock_guard<std::mutex> lock(DefaultsMutex());
        out = DefaultsInstance();
        return true;
    } catch (...) {
        return false;
    }
}

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

// Seconds as a duration, saturated so that huge settings cannot overflow the clock.
Clock::duration Seconds(long seconds) {
    const long most = 100L * 365 * 24 * 3600;
    return std::chrono::seconds(seconds < most ? seconds : most);
}

}  // namespace

struct TNLibCurl::Impl {
    enum class Limit { None, ReplyBytes, FirstByte, Stall, Total, Memory, Handler };

    TNLibCurl* owner = nullptr;
    CURL* handle = nullptr;
    bool initialised = false;
    bool verifyPeer = true;
    bool verifyHost = true;
    TNLibCurlWriteCallback callback = nullptr;
    std::string defaultHeader;
    std::string builtInCaFile;  // libcurl's own CA bundle, trusted when none is configured
    std::vector<std::string> headerLines;
    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    bool headerListStale = true;
    std::string body;
    bool answered = false;
    long status = 0;
    char errorText[CURL_ERROR_SIZE] = {0};
    std::string ownError;  // our own reason, ahead of libcurl's text

    // The attempt under way: its limits and what has come so far.
    Defaults limits;
    Limit limit = Limit::None;
    size_t bodyBytes = 0;  // decoded
    size_t headerBytes = 0;
    Clock::time_point started;
    bool gotFirstByte = false;
    Clock::time_point windowStart;
    curl_off_t windowBytes = 0;
    curl_off_t wireBytes = 0;  // header bytes and body bytes before decoding

    ~Impl() {
        if (handle != nullptr) curl_easy_cleanup(handle);
    }

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
        Impl& impl = *static_cast<Impl*>(self);
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
                impl.body.append(data, taken);
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
        (void)data;
        Impl& impl = *static_cast<Impl*>(self);
        if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return 0;
        const size_t bytes = size * count;
        impl.NoteArrival(Clock::now());
        if (impl.Fitting(impl.headerBytes, bytes) < bytes) {
            impl.Fire(Limit::ReplyBytes);
            return 0;
        }
        impl.headerBytes += bytes;
        return bytes;
    }

    static int Progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t) {
        return static_cast<Impl*>(self)->WithinLimits(downloaded) ? 0 : 1;
    }

    curl_slist* HeaderList() {
        if (headerListStale) {
            curl_slist* list = nullptr;
            auto append = [&list](const std::string& line) {
                curl_slist* grown = curl_slist_append(list, line.c_str());
                if (grown != nullptr) list = grown;
            };
            if (!defaultHeader.empty()) append(defaultHeader);
            append("Expect:");  // no 100-continue round trip for larger bodies
            for (const auto& line : headerLines) append(line);
            headerList.reset(list);
            headerListStale = false;
        }
        return headerList.get();
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
    bool ApplyTransportSettings(const char* url, bool followRedirects, const char* proxy) {
        const bool checkPeer = verifyPeer && !limits.insecure;
        const bool checkHost = verifyHost && !limits.insecure;
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
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_PROXY, proxy);
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

    bool Send(_http_req_type_ type, const char* url, const void* data, unsigned long length,
              bool followRedirects, const char* proxy) {
        if (!CopyDefaults(limits)) {
            limit = Limit::Memory;
            return false;
        }
        curl_easy_setopt(handle, CURLOPT_URL, url);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, HeaderList());
        ApplyMethod(type, data, length);
        if (!ApplyTransportSettings(url, followRedirects, proxy)) return false;
        DropConnectionWithUnaskedBytes();
        started = Clock::now();
        const CURLcode result = curl_easy_perform(handle);
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        answered = status != 0;
        if (result == CURLE_OPERATION_TIMEDOUT && limits.totalSeconds > 0 &&
            Clock::now() - started >= Seconds(limits.totalSeconds)) {
            Fire(Limit::Total);
        }
        if (limit == Limit::Handler) ownError = "the reply could not be taken in";
        if (result != CURLE_OK && errorText[0] == '\0') {
            std::strncpy(errorText, curl_easy_strerror(result), CURL_ERROR_SIZE - 1);
        }
        return result == CURLE_OK && limit == Limit::None && status >= 200 && status < 300;
    }
};

void TNLibCurl::SetDefaults(const Defaults& defaults) {
    try {
        std::lock_guard<std::mutex> lock(DefaultsMutex());
        DefaultsInstance() = defaults;
    } catch (...) {
        // Without memory for the copy the previous settings stay.
    }
}

TNLibCurl::Defaults TNLibCurl::GetDefaults() {
    Defaults copy;
    if (!CopyDefaults(copy)) return Defaults();
    return copy;
}

TNLibCurl::TNLibCurl() : m_impl(new (std::nothrow) Impl) {
    if (m_impl) m_impl->owner = this;
}

TNLibCurl::~TNLibCurl() = default;

bool TNLibCurl::TNLibCurlInit(const char* defaultHeader, bool verifyPeer, bool verifyHost,
                              TNLibCurlWriteCallback callback) {
    if (!m_impl) return false;
    GlobalInitOnce();
    Impl& impl = *m_impl;
    try {
        if (impl.handle == nullptr) {
            impl.handle = curl_easy_init();
            if (impl.handle == nullptr) return false;
            const char* builtIn = nullptr;
            if (curl_easy_getinfo(impl.handle, CURLINFO_CAINFO, &builtIn) == CURLE_OK &&
                builtIn != nullptr) {
                impl.builtInCaFile = builtIn;
            }
        }
        impl.defaultHeader = defaultHeader != nullptr ? defaultHeader : "";
    } catch (...) {
        return false;
    }
    impl.verifyPeer = verifyPeer;
    impl.verifyHost = verifyHost;
    impl.callback = callback;
    impl.headerListStale = true;
    CURL* handle = impl.handle;
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // we live inside a host process
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, impl.errorText);
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "clusterclient/" CLUSTERCLIENT_VERSION);
    curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    // Every byte passes through Impl, which counts it against the limits.
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Impl::Receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &impl);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Impl::ReceiveHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &impl);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Impl::Progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &impl);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    impl.initialised = true;
    return true;
}

void TNLibCurl::TNLibCurlFreeHttpHeaderList() {
    if (!m_impl) return;
    m_impl->headerLines.clear();
    m_impl->headerListStale = true;
}

bool TNLibCurl::TNLibCurlAppendHeader(_http_hdr_type_ type, const char* line) {
    if (!m_impl || type != HTTP_HDR_HTTPHEADER || line == nullptr) return false;
    try {
        m_impl->headerLines.emplace_back(line);
    } catch (...) {
        return false;
    }
    m_impl->headerListStale = true;
    return true;
}

bool TNLibCurl::TNLibCurlSendHttpReq(_http_req_type_ type, const char* url, const void* body,
                                     unsigned long length, bool followRedirects,
                                     const char* proxy) {
    if (!m_impl) return false;
    Impl& impl = *m_impl;
    impl.body.clear();
    impl.answered = false;
    impl.status = 0;
    impl.errorText[0] = '\0';
    impl.ownError.clear();
    impl.limit = Impl::Limit::None;
    impl.bodyBytes = 0;
    impl.headerBytes = 0;
    impl.gotFirstByte = false;
    impl.wireBytes = 0;
    if (!impl.initialised || url == nullptr) return false;
    if (type != HTTP_REQ_GET && type != HTTP_REQ_POST && type != HTTP_REQ_PUT &&
        type != HTTP_REQ_DELETE) {
        return false;
    }
    try {
        return impl.Send(type, url, body, length, followRedirects, proxy);
    } catch (const std::bad_alloc&) {
        impl.Fire(Impl::Limit::Memory);
    } catch (...) {
        impl.Fire(Impl::Limit::Handler);
    }
    return false;
}

const char* TNLibCurl::GetHttpResponse(unsigned long& length, bool nullIfEmpty) {
    length = 0;
    if (!m_impl) return nullptr;
    const Impl& impl = *m_impl;
    length = impl.body.size();
    if (!impl.answered && impl.body.empty()) return nullptr;
    if (nullIfEmpty && impl.body.empty()) return nullptr;
    return impl.body.c_str();
}

long TNLibCurl::GetLastHttpStatus() const {
    return m_impl ? m_impl->status : 0;
}

std::string TNLibCurl::GetLastErrorText() const {
    try {
        if (!m_impl) return "out of memory";
        std::string limit = m_impl->LimitText();
        if (!limit.empty()) return limit;
        if (!m_impl->ownError.empty()) return m_impl->ownError;
        return m_impl->errorText;
    } catch (...) {
        return std::string();
    }
}

std::string TNLibCurl::GetLastLimitText() const {
    if (!m_impl) return std::string();
    try {
        return m_impl->LimitText();
    } catch (...) {
        return std::string();
    }
}
