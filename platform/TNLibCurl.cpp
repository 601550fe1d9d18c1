#include "platform/TNLibCurl.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#ifndef CLUSTERCLIENT_VERSION
#define CLUSTERCLIENT_VERSION "0"
#endif

namespace {

std::mutex& DefaultsMutex() {
    static std::mutex mutex;
    return mutex;
}

TNLibCurl::Defaults& DefaultsInstance() {
    static TNLibCurl::Defaults defaults;
    return defaults;
}

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

struct TNLibCurl::Impl {
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

    ~Impl() {
        if (handle != nullptr) curl_easy_cleanup(handle);
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

    void ApplyTransportSettings(bool followRedirects, const char* proxy) {
        const Defaults defaults = TNLibCurl::GetDefaults();
        const bool checkPeer = verifyPeer && !defaults.insecure;
        const bool checkHost = verifyHost && !defaults.insecure;
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, checkPeer ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, checkHost ? 2L : 0L);
        const char* environmentCa = std::getenv("CURL_CA_BUNDLE");
        const std::string caFile = !defaults.caFile.empty()   ? defaults.caFile
                                   : environmentCa != nullptr ? environmentCa
                                                              : std::string();
        // Set at every request: the handle keeps an option once set, and a request must not go
        // on trusting a CA file that is no longer configured.
        const std::string& trusted = !caFile.empty() ? caFile : builtInCaFile;
        curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.empty() ? nullptr : trusted.c_str());
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, defaults.connectTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, defaults.stallSeconds);
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_PROXY, proxy);
    }
};

void TNLibCurl::SetDefaults(const Defaults& defaults) {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    DefaultsInstance() = defaults;
}

TNLibCurl::Defaults TNLibCurl::GetDefaults() {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    return DefaultsInstance();
}

TNLibCurl::TNLibCurl() : m_impl(new Impl) {}

TNLibCurl::~TNLibCurl() = default;

bool TNLibCurl::TNLibCurlInit(const char* defaultHeader, bool verifyPeer, bool verifyHost,
                              TNLibCurlWriteCallback callback) {
    GlobalInitOnce();
    Impl& impl = *m_impl;
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
    if (callback != nullptr) {
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, callback);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    } else {
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, CollectBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &impl.body);
    }
    impl.initialised = true;
    return true;
}

void TNLibCurl::TNLibCurlFreeHttpHeaderList() {
    m_impl->headerLines.clear();
    m_impl->headerListStale = true;
}

bool TNLibCurl::TNLibCurlAppendHeader(_http_hdr_type_ type, const char* line) {
    if (type != HTTP_HDR_HTTPHEADER || line == nullptr) return false;
    m_impl->headerLines.emplace_back(line);
    m_impl->headerListStale = true;
    return true;
}

bool TNLibCurl::TNLibCurlSendHttpReq(_http_req_type_ type, const char* url, const void* body,
                                     unsigned long length, bool followRedirects,
                                     const char* proxy) {
    Impl& impl = *m_impl;
    impl.body.clear();
    impl.answered = false;
    impl.status = 0;
    impl.errorText[0] = '\0';
    if (!impl.initialised || url == nullptr) return false;
    if (type != HTTP_REQ_GET && type != HTTP_REQ_POST && type != HTTP_REQ_PUT &&
        type != HTTP_REQ_DELETE) {
        return false;
    }
    CURL* handle = impl.handle;
    curl_easy_setopt(handle, CURLOPT_URL, url);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, impl.HeaderList());
    impl.ApplyMethod(type, body, length);
    impl.ApplyTransportSettings(followRedirects, proxy);
    const CURLcode result = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &impl.status);
    impl.answered = impl.status != 0;
    if (result != CURLE_OK && impl.errorText[0] == '\0') {
        std::strncpy(impl.errorText, curl_easy_strerror(result), CURL_ERROR_SIZE - 1);
    }
    return result == CURLE_OK && impl.status >= 200 && impl.status < 300;
}

const char* TNLibCurl::GetHttpResponse(unsigned long& length, bool nullIfEmpty) {
    const Impl& impl = *m_impl;
    length = impl.body.size();
    if (!impl.answered && impl.body.empty()) return nullptr;
    if (nullIfEmpty && impl.body.empty()) return nullptr;
    return impl.body.c_str();
}

long TNLibCurl::GetLastHttpStatus() const {
    return m_impl->status;
}

std::string TNLibCurl::GetLastErrorText() const {
    return m_impl->errorText;
}
