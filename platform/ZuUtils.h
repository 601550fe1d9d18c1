// Stand-in for the host platform's utility library (libZuUtils): the error object with its
// code-location trail, the log writer, the event sender and text formatting.
#pragma once

#include <boost/any.hpp>
#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Library signatures spell string parameters as `const string&`, as the host platform does.
typedef std::string string;

#define ZU_EXPORT __attribute__((visibility("default")))

// Where an error was made or passed through. Built on the caller's stack; the error copies it.
struct FXCodeLocation {
    const char* file;
    const char* function;
    int line;
};

namespace fx_detail {
template <size_t N>
struct SourceName {
    char text[N];
};

constexpr const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    return base;
}

constexpr size_t StemLength(const char* name) {
    size_t length = 0;
    size_t dot = static_cast<size_t>(-1);
    for (; name[length] != '\0'; ++length) {
        if (name[length] == '.') dot = length;
    }
    return dot == static_cast<size_t>(-1) ? length : dot;
}

template <size_t N>
constexpr SourceName<N> MakeSourceName(const char* name) {
    SourceName<N> result{};
    for (size_t i = 0; i + 1 < N; ++i) result.text[i] = name[i];
    return result;
}
}  // namespace fx_detail

// The source file's base name without extension, computed at compile time.
#define FX_SOURCE_NAME()                                                                         \
    ([]() -> const char* {                                                                       \
        static constexpr auto name =                                                             \
            fx_detail::MakeSourceName<fx_detail::StemLength(fx_detail::BaseName(__FILE__)) + 1>( \
                fx_detail::BaseName(__FILE__));                                                  \
        return name.text;                                                                        \
    }())

// The code location of a failure site: source name, full function signature, line.
#define FX_CODE_LOCATION (FXCodeLocation{FX_SOURCE_NAME(), __PRETTY_FUNCTION__, __LINE__})

class FXErrorPrivate;

// The platform's error object: a status word (negative on failure) and a shared detail record.
class ZU_EXPORT CZuError {
  public:
    struct Location {
        std::string file;
        std::string function;
        int line;
    };

    CZuError();
    static CZuError Success();

    bool IsError() const { return m_nStatus < 0; }

    // Adds a location to the trail; copies of this error share the trail.
    CZuError& Push(const FXCodeLocation& location);
    // Appends a message argument (used by event messages).
    CZuError& operator<<(const boost::any& argument);
    CZuError& operator<<(const char* text) {
        return *this << boost::any(std::string(text != nullptr ? text : ""));
    }

    // 0 for success; otherwise the system error code or the event identifier.
    unsigned int GetCode() const;
    // The formatted message; for an event, the catalogue text filled with its arguments.
    std::string GetMessage() const;
    // The creation site first, then each pushed location in order.
    std::vector<Location> GetLocations() const;
    // Code, message and trail on one line, for logs and the command line.
    std::string ToString() const;

  private:
    friend class FXErrorUtil;
    int32_t m_nStatus;
    boost::shared_ptr<FXErrorPrivate> m_ptrDetail;
};

class ZU_EXPORT FXErrorUtil {
  public:
    static CZuError ErrorWin32(const FXCodeLocation& location, unsigned int code);
    static CZuError ErrorWin32(const FXCodeLocation& location, unsigned int code,
                               const char* format, ...) __attribute__((format(printf, 3, 4)));
    static CZuError ErrorEventMessage(const FXCodeLocation& location, int eventId);

  private:
    static CZuError MakeError(const FXCodeLocation& location, int32_t status, unsigned int code,
                              bool isEvent, std::string message);
};

class ZU_EXPORT FXString {
  public:
    static std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // Replaces every occurrence of `from` by `to` in place; returns the number replaced.
    static int ReplaceAll(std::string& text, const std::string& from, const std::string& to,
                          unsigned long flags);
};

// The host's log writer. Levels: 1 ordinary, 2 debug.
class ZU_EXPORT CLogWriterInterface {
  public:
    virtual ~CLogWriterInterface();
    virtual void WriteLog(int level, const char* function, int line, int, int, const char* format,
                          ...) __attribute__((format(printf, 7, 8))) = 0;
    virtual int GetLogLevel() = 0;
};

// The log writer the library writes to; a null pointer means nothing is written. Every request
// reads it without a lock, so it is replaced only while no library call runs; the writer itself
// is called from every thread that uses a connection.
ZU_EXPORT extern boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter;

// The stand-in's default writer: lines up to its level go to stderr.
class ZU_EXPORT CStderrLogWriter : public CLogWriterInterface {
  public:
    explicit CStderrLogWriter(int level = 1) : m_nLevel(level) {}
    void WriteLog(int level, const char* function, int line, int, int, const char* format,
                  ...) override __attribute__((format(printf, 7, 8)));
    int GetLogLevel() override { return m_nLevel; }

  private:
    int m_nLevel;
};

// The host's event sender. A null instance means no event is sent.
class ZU_EXPORT ISendEventInterface {
  public:
    virtual ~ISendEventInterface();
    virtual void SendEvent(const CZuError& event, int flags) = 0;

    static boost::shared_ptr<ISendEventInterface> GetInstance();
    static void SetInstance(boost::shared_ptr<ISendEventInterface> sender);
};

// Event identifier of a failed login; arguments: the request path, the reason.
constexpr int ZU_EVENT_LOGIN_FAILED = 0x11000095;
