// The hand-over from a walk's (or a change feed's) threads to the Python iterator: a bounded
// queue of batches, so memory stays flat when Python reads slower than the cluster answers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace clusterpy {

enum class PopResult { Batch, Waiting, Ended };

template <class Batch>
class BatchQueue {
  public:
    explicit BatchQueue(size_t capacity) : m_capacity(capacity) {}

    // Waits while the queue is full; false, dropping the batch, once the reader has gone.
    bool Push(Batch&& batch) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_batches.size() < m_capacity || m_closed; });
        if (m_closed) return false;
        m_batches.push_back(std::move(batch));
        m_changed.notify_all();
        return true;
    }

    // The next batch; Waiting when none came within `wait`, Ended after the last.
    PopResult Pop(Batch& batch, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, wait, [this] { return !m_batches.empty() || m_ended; })) {
            return PopResult::Waiting;
        }
        if (m_batches.empty()) return PopResult::Ended;
        batch = std::move(m_batches.front());
        m_batches.pop_front();
        m_changed.notify_all();
        return PopResult::Batch;
    }

    // The writer is done: the reader gets what is queued, then Ended.
    void End() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }

    // The reader is gone: queued batches are dropped and writers stop waiting.
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_batches.clear();
        m_changed.notify_all();
    }

  private:
    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches;
    bool m_ended = false;
    bool m_closed = false;
};

}  // namespace clusterpy
