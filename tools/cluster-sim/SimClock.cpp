#include "SimClock.h"

#include <chrono>
#include <ctime>

namespace clustersim {

int64_t SimClock::Tick() {
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    int64_t last = m_last.load();
    int64_t next = 0;
    do {
        next = now > last ? now : last + 1;
    } while (!m_last.compare_exchange_weak(last, next));
    return next;
}

void SimClock::Restore(int64_t last) {
    int64_t current = m_last.load();
    while (current < last && !m_last.compare_exchange_weak(current, last)) {
    }
}

// Hand-written digits: listings format four times per entry, and snprintf dominated that.
std::string TimeText(int64_t nanoseconds) {
    constexpr int64_t kPerSecond = 1000000000;
    const time_t seconds = static_cast<time_t>(nanoseconds / kPerSecond);
    tm utc{};
    gmtime_r(&seconds, &utc);
    std::string text = "0000-00-00T00:00:00.000000000Z";
    const auto put = [&text](size_t end, int64_t value) {
        for (size_t at = end; value > 0; value /= 10)
            text[--at] = static_cast<char>('0' + value % 10);
    };
    put(4, utc.tm_year + 1900);
    put(7, utc.tm_mon + 1);
    put(10, utc.tm_mday);
    put(13, utc.tm_hour);
    put(16, utc.tm_min);
    put(19, utc.tm_sec);
    put(29, nanoseconds % kPerSecond);
    return text;
}

}  // namespace clustersim
