#include "platform/ZuUtils.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::string FormatArguments(const char* format, va_list arguments) {
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string ArgumentText(const boost::any& argument) {
    if (const auto* text = boost::any_cast<std::string>(&argument)) return *text;
    if (const auto* text = boost::any_cast<const char*>(&argument)) return *text ? *text : "";
    if (const auto* number = boost::any_cast<int>(&argument)) return std::to_string(*number);
    if (const auto* number = boost::any_cast<unsigned int>(&argument))
        return std::to_string(*number);
    if (const auto* number = boost::any_cast<long>(&argument)) return std::to_string(*number);
    if (const auto* number = boost::any_cast<unsigned long>(&argument))
        return std::to_string(*number);
    if (const auto* number = boost::any_cast<double>(&argument)) return std::to_string(*number);
    return "<unprintable argument>";
}

// The event catalogue: %1, %2 … stand for the event's arguments.
const char* CatalogueText(int eventId) {
    switch (eventId) {
        case ZU_EVENT_LOGIN_FAILED:
            return "Login to the storage cluster failed: request %1, reason: %2";
        default:
            return nullptr;
    }
}

std::string FillCatalogueText(const std::string& text, const std::vector<boost::any>& arguments) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t index = (i + 1 < text.size() && text[i] == '%') ? text[i + 1] - '1' : 99;
        if (index < arguments.size()) {
            result += ArgumentText(arguments[index]);
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// Win32-style status word: failure bit, facility 7, the code in the low word.
int32_t StatusOfSystemCode(unsigned int code) {
    return static_cast<int32_t>(0x80070000u | (code & 0xFFFFu));
}

int32_t StatusOfEvent(int eventId) {
    return static_cast<int32_t>(0xC0000000u | (static_cast<uint32_t>(eventId) & 0x0FFFFFFFu));
}

}  // namespace

class FXErrorPrivate {
  public:
    unsigned int code = 0;
    bool isEvent = false;
    std::string message;
    std::vector<boost::any> arguments;
    std::vector<CZuError::Location> locations;
};

CZuError::CZuError() : m_nStatus(0) {}

CZuError CZuError::Success() {
    return CZuError();
}

CZuError& CZuError::Push(const FXCodeLocation& location) {
    if (!m_ptrDetail) m_ptrDetail = boost::shared_ptr<FXErrorPrivate>(new FXErrorPrivate);
    m_ptrDetail->locations.push_back({location.file ? location.file : "",
                                      location.function ? location.function : "", location.line});
    return *this;
}

CZuError& CZuError::operator<<(const boost::any& argument) {
    if (!m_ptrDetail) m_ptrDetail = boost::shared_ptr<FXErrorPrivate>(new FXErrorPrivate);
    m_ptrDetail->arguments.push_back(argument);
    return *this;
}

unsigned int CZuError::GetCode() const {
    return (IsError() && m_ptrDetail) ? m_ptrDetail->code : 0;
}

std::string CZuError::GetMessage() const {
    if (!m_ptrDetail) return std::string();
    if (m_ptrDetail->isEvent)
        return FillCatalogueText(m_ptrDetail->message, m_ptrDetail->arguments);
    std::string message = m_ptrDetail->message;
    for (const auto& argument : m_ptrDetail->arguments)
        message += " [" + ArgumentText(argument) + "]";
    return message;
}

std::vector<CZuError::Location> CZuError::GetLocations() const {
    return m_ptrDetail ? m_ptrDetail->locations : std::vector<Location>();
}

std::string CZuError::ToString() const {
    if (!IsError()) return "success";
    std::string text = "error " + std::to_string(GetCode()) + ": " + GetMessage();
    const char* separator = " (at ";
    for (const auto& location : GetLocations()) {
        text += separator + location.file + ":" + std::to_string(location.line) + " " +
                location.function;
        separator = "; ";
    }
    if (!GetLocations().empty()) text += ")";
    return text;
}

CZuError FXErrorUtil::MakeError(const FXCodeLocation& location, int32_t status, unsigned int code,
                                bool isEvent, std::string message) {
    CZuError error;
    error.m_nStatus = status;
    error.m_ptrDetail = boost::shared_ptr<FXErrorPrivate>(new FXErrorPrivate);
    error.m_ptrDetail->code = code;
    error.m_ptrDetail->isEvent = isEvent;
    error.m_ptrDetail->message = std::move(message);
    error.Push(location);
    return error;
}

CZuError FXErrorUtil::ErrorWin32(const FXCodeLocation& location, unsigned int code) {
    return MakeError(location, StatusOfSystemCode(code), code, false,
                     "System error " + std::to_string(code));
}

CZuError FXErrorUtil::ErrorWin32(const FXCodeLocation& location, unsigned int code,
                                 const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string message = FormatArguments(format, arguments);
    va_end(arguments);
    return MakeError(location, StatusOfSystemCode(code), code, false, std::move(message));
}

CZuError FXErrorUtil::ErrorEventMessage(const FXCodeLocation& location, int eventId) {
    const char* text = CatalogueText(eventId);
    char fallback[64];
    if (text == nullptr) {
        std::snprintf(fallback, sizeof fallback, "Event 0x%08X: %%1 %%2 %%3 %%4",
                      static_cast<unsigned int>(eventId));
        text = fallback;
    }
    return MakeError(location, StatusOfEvent(eventId), static_cast<unsigned int>(eventId), true,
                     text);
}

std::string FXString::Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatArguments(format, arguments);
    va_end(arguments);
    return text;
}

int FXString::ReplaceAll(std::string& text, const std::string& from, const std::string& to,
                         unsigned long) {
    if (from.empty()) return 0;
    int count = 0;
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
        ++count;
    }
    return count;
}

CLogWriterInterface::~CLogWriterInterface() = default;

void CStderrLogWriter::WriteLog(int level, const char* function, int line, int, int,
                                const char* format, ...) {
    if (level > m_nLevel) return;
    va_list arguments;
    va_start(arguments, format);
    const std::string text = FormatArguments(format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "[%d] %s:%d: %s\n", level, function ? function : "", line, text.c_str());
}

boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter(new CStderrLogWriter(1));

namespace {

// The stand-in's default sender writes each event as a line of the log.
class CLogEventSender : public ISendEventInterface {
  public:
    void SendEvent(const CZuError& event, int) override {
        boost::shared_ptr<CLogWriterInterface> writer = g_ptrLogWriter;
        if (!writer) return;
        writer->WriteLog(1, "event", 0, 0, 0, "event 0x%08X: %s", event.GetCode(),
                         event.GetMessage().c_str());
    }
};

std::mutex& SenderMutex() {
    static std::mutex mutex;
    return mutex;
}

boost::shared_ptr<ISendEventInterface>& SenderInstance() {
    static boost::shared_ptr<ISendEventInterface> instance(new CLogEventSender);
    return instance;
}

}  // namespace

ISendEventInterface::~ISendEventInterface() = default;

boost::shared_ptr<ISendEventInterface> ISendEventInterface::GetInstance() {
    std::lock_guard<std::mutex> lock(SenderMutex());
    return SenderInstance();
}

void ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface> sender) {
    std::lock_guard<std::mutex> lock(SenderMutex());
    SenderInstance() = std::move(sender);
}
