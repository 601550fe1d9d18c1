// Stand-ins for the host's log writer and event sender that keep what the library hands them.
#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ZuUtils.h"

class RecordingLogWriter : public CLogWriterInterface {
  public:
    explicit RecordingLogWriter(int level) : m_level(level) {}
    void WriteLog(int level, const char* function, int, int, int, const char* format,
                  ...) override {
        va_list arguments;
        va_start(arguments, format);
        va_list measuring;
        va_copy(measuring, arguments);
        std::string line(static_cast<size_t>(std::vsnprintf(nullptr, 0, format, measuring)), '\0');
        va_end(measuring);
        std::vsnprintf(&line[0], line.size() + 1, format, arguments);
        va_end(arguments);
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.push_back(line);
        functions.push_back(function != nullptr ? function : "");
        levels.push_back(level);
    }
    int GetLogLevel() override { return m_level; }

    std::vector<std::string> lines;
    std::vector<std::string> functions;
    std::vector<int> levels;

  private:
    int m_level;
    std::mutex m_mutex;
};

class RecordingEventSender : public ISendEventInterface {
  public:
    void SendEvent(const CZuError& event, int flags) override {
        codes.push_back(event.GetCode());
        messages.push_back(event.GetMessage());
        allFlagsZero = allFlagsZero && flags == 0;
    }
    std::vector<unsigned int> codes;
    std::vector<std::string> messages;
    bool allFlagsZero = true;
};

// Installs both recorders for one test and puts the host's back afterwards.
class RecordersInstalled {
  public:
    explicit RecordersInstalled(int logLevel = 2)
        : log(boost::make_shared<RecordingLogWriter>(logLevel)),
          events(boost::make_shared<RecordingEventSender>()),
          m_previousWriter(g_ptrLogWriter),
          m_previousSender(ISendEventInterface::GetInstance()) {
        g_ptrLogWriter = log;
        ISendEventInterface::SetInstance(events);
    }
    ~RecordersInstalled() {
        g_ptrLogWriter = m_previousWriter;
        ISendEventInterface::SetInstance(m_previousSender);
    }
    RecordersInstalled(const RecordersInstalled&) = delete;
    RecordersInstalled& operator=(const RecordersInstalled&) = delete;

    boost::shared_ptr<RecordingLogWriter> log;
    boost::shared_ptr<RecordingEventSender> events;

  private:
    boost::shared_ptr<CLogWriterInterface> m_previousWriter;
    boost::shared_ptr<ISendEventInterface> m_previousSender;
};
