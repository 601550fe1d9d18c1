#include "Diagnostics.h"

#include <curl/curl.h>
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>

#include "ExitStatus.h"
#include "TerminalText.h"

namespace clusterctl {
namespace {

constexpr int kRequestLogLevel = 2;
// Long enough for any message the library makes from its own words; a quoted reply is cut.
constexpr size_t kLongestMessage = 300;

std::string FormatArguments(const char* format, va_list arguments) {
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length <= 0) return "";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

// The request log quotes replies and URLs from the cluster: each line is escaped before it
// reaches the terminal.
class EscapingLogWriter : public CLogWriterInterface {
  public:
    void WriteLog(int level, const char* function, int line, int, int, const char* format,
                  ...) override __attribute__((format(printf, 7, 8))) {
        if (level > kRequestLogLevel) return;
        va_list arguments;
        va_start(arguments, format);
        const std::string text = FormatArguments(format, arguments);
        va_end(arguments);
        std::fprintf(stderr, "[%d] %s:%d: %s\n", level,
                     EscapeForTerminal(function != nullptr ? function : "").c_str(), line,
                     EscapeForTerminal(text).c_str());
    }
    int GetLogLevel() override { return kRequestLogLevel; }
};

const char* ReasonPhrase(long status) {
    switch (status) {
        case 400:
            return "bad request";
        case 401:
            return "unauthorized";
        case 403:
            return "forbidden";
        case 404:
            return "not found";
        case 405:
            return "method not allowed";
        case 409:
            return "conflict";
        case 413:
            return "request too large";
        case 429:
            return "too many requests";
        case 500:
            return "internal server error";
        case 502:
            return "bad gateway";
        case 503:
            return "service unavailable";
        case 504:
            return "gateway timeout";
        default:
            return status >= 500 ? "server error" : "request refused";
    }
}

bool IsTlsFailure(int code) {
    static const std::set<int> kTlsCodes = {
        CURLE_SSL_CONNECT_ERROR,     CURLE_SSL_ENGINE_NOTFOUND, CURLE_SSL_ENGINE_SETFAILED,
        CURLE_SSL_CERTPROBLEM,       CURLE_SSL_CIPHER,          CURLE_PEER_FAILED_VERIFICATION,
        CURLE_SSL_ENGINE_INITFAILED, CURLE_SSL_CACERT_BADFILE,  CURLE_SSL_SHUTDOWN_FAILED,
        CURLE_SSL_CRL_BADFILE,       CURLE_SSL_ISSUER_ERROR,    CURLE_SSL_PINNEDPUBKEYNOTMATCH,
        CURLE_SSL_INVALIDCERTSTATUS, CURLE_SSL_CLIENTCERT};
    return kTlsCodes.count(code) != 0;
}

// Plain HTTP sent to a TLS port gets a reply curl cannot read as HTTP.
bool LooksLikeHttpToTls(const FailureScene& scene, int code) {
    return strncasecmp(scene.url.c_str(), "http://", 7) == 0 &&
           (code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_WEIRD_SERVER_REPLY ||
            code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR);
}

std::string Shortened(const std::string& text) {
    if (text.size() <= kLongestMessage) return text;
    return text.substr(0, kLongestMessage) + " … (-v shows all)";
}

struct Verdict {
    int status = kExitFailure;
    std::string line;
};

Verdict TransportVerdict(const Cluster::CRequestOutcome& outcome, const FailureScene& scene) {
    const std::string cause =
        outcome.transportText.empty()
            ? std::string(curl_easy_strerror(static_cast<CURLcode>(outcome.transportCode)))
            : outcome.transportText;
    if (IsTlsFailure(outcome.transportCode)) {
        return {kExitUnreachable,
                "TLS: " + cause + " (" + scene.url + "; --cacert FILE trusts a private CA)"};
    }
    if (outcome.transportCode == CURLE_URL_MALFORMAT) {
        return {kExitUsage, "invalid URL " + scene.url + ": " + cause};
    }
    if (outcome.transportCode == CURLE_OPERATION_TIMEDOUT) {
        // Only the limit of a whole attempt is --timeout's; the first-byte and stall limits
        // are the HTTP client's own.
        const bool wholeAttempt = cause.find("(total limit)") != std::string::npos;
        return {kExitUnreachable, scene.command + ": no answer in time from " + scene.url + ": " +
                                      cause +
                                      (wholeAttempt ? " (--timeout SECONDS allows longer)" : "")};
    }
    std::string line = "cannot reach " + scene.url + ": " + cause;
    if (LooksLikeHttpToTls(scene, outcome.transportCode)) {
        line += " (if the cluster speaks HTTPS, use https://)";
    }
    return {kExitUnreachable, line};
}

int HttpExitStatus(long status, const FailureScene& scene) {
    if (status == 401 || (status == 403 && scene.duringLogin)) return kExitAuthRejected;
    if (status == 404) return kExitNotFound;
    return kExitFailure;
}

Verdict HttpVerdict(const Cluster::CRequestOutcome& outcome, const FailureScene& scene) {
    std::string said = ReasonPhrase(outcome.httpStatus);
    const std::string& detail =
        outcome.description.empty() ? outcome.errorClass : outcome.description;
    if (!detail.empty()) said += ": " + detail;
    said += " (HTTP " + std::to_string(outcome.httpStatus) + ")";
    if (outcome.retryAfterSeconds >= 0) {
        said +=
            "; the cluster asks to retry after " + std::to_string(outcome.retryAfterSeconds) + " s";
    }
    const int status = HttpExitStatus(outcome.httpStatus, scene);
    if (scene.duringLogin) {
        const std::string prefix = "login to " + scene.url + " as " + scene.user;
        return {status,
                prefix + (status == kExitAuthRejected ? " rejected: " : " failed: ") + said};
    }
    return {status, scene.command + ": " + Shortened(said)};
}

Verdict Judge(const CZuError& error, const Cluster::CRequestOutcome& outcome,
              const FailureScene& scene) {
    if (outcome.httpStatus >= 400) return HttpVerdict(outcome, scene);
    if (outcome.httpStatus == 0 && outcome.transportCode != 0) {
        return TransportVerdict(outcome, scene);
    }
    // An answer that began and then broke off (reset, cut short): the network, not the reply.
    if (outcome.transportCode != 0) {
        const std::string what = scene.duringLogin ? "login to " + scene.url : scene.command;
        return {kExitUnreachable, what + ": the reply from " + scene.url +
                                      " broke off: " + Shortened(outcome.transportText)};
    }
    const std::string what = scene.duringLogin ? "login to " + scene.url : scene.command;
    return {kExitFailure, what + ": " + Shortened(error.GetMessage())};
}

}  // namespace

void SetUpDiagnostics(bool verbose) {
    if (verbose) {
        g_ptrLogWriter.reset(new EscapingLogWriter);
    } else {
        g_ptrLogWriter.reset();
    }
}

void ReportLine(const std::string& text) {
    std::fprintf(stderr, "clusterctl: %s\n", EscapeForTerminal(text).c_str());
}

int ReportFailure(const CZuError& error, const Cluster::CRequestOutcome& outcome,
                  const FailureScene& scene) {
    const Verdict verdict = Judge(error, outcome, scene);
    ReportLine(verdict.line);
    if (scene.verbose) {
        std::fprintf(stderr, "  error %u: %s\n", error.GetCode(),
                     EscapeForTerminal(error.GetMessage()).c_str());
        for (const CZuError::Location& location : error.GetLocations()) {
            std::fprintf(stderr, "  at %s:%d %s\n", EscapeForTerminal(location.file).c_str(),
                         location.line, EscapeForTerminal(location.function).c_str());
        }
    }
    return verdict.status;
}

}  // namespace clusterctl
