// A walk or a change feed running on threads of its own while Python iterates over its
// batches. The run's sink hands each batch to a bounded queue, so the run waits when Python
// does not read; closing (or dropping) the iterator cancels the run's job and joins it.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "BatchQueue.h"
#include "ClusterWalk/Job.h"

namespace clusterpy {

namespace py = pybind11;

template <class Batch, class Summary>
class BackgroundRun {
  public:
    using Deliver = std::function<void(Batch&)>;
    // Runs the walk or feed to its end with `deliver` as its sink; Summary has an `error`.
    using Body = std::function<Summary(const Deliver& deliver)>;

    // Batches waiting for Python at most; each is one page or one group of changes.
    static constexpr size_t kQueuedBatches = 4;

    BackgroundRun(std::shared_ptr<clusterwalk::CJob> job, std::function<void()> stop)
        : m_job(std::move(job)), m_stop(std::move(stop)), m_queue(kQueuedBatches) {}
    ~BackgroundRun() { Close(); }
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    void Start(Body body) {
        m_thread = std::thread([this, body = std::move(body)] { Run(body); });
    }

    // With the GIL: the next batch, or false after the last. The GIL is released while
    // waiting, and taken back now and then to let Python handle a signal (Ctrl-C).
    bool Next(Batch& batch) {
        for (;;) {
            PopResult result;
            {
                py::gil_scoped_release release;
                result = m_queue.Pop(batch, std::chrono::milliseconds(100));
            }
            if (result == PopResult::Batch) return true;
            if (result == PopResult::Ended) {
                Join();
                return false;
            }
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    }

    // From any thread: the run ends after the batches in flight, which are still handed over.
    void RequestStop() {
        m_stopRequested = true;
        m_stop();
    }
    bool StopRequested() const { return m_stopRequested; }

    // With the GIL: ends the run at once; what it had not handed over is dropped.
    void Close() {
        m_job->Cancel();
        m_queue.Close();
        Join();
    }

    // Once Next returned false or Close returned.
    const Summary& Result() const { return m_summary; }

  private:
    void Run(const Body& body) {
        try {
            m_summary = body([this](Batch& batch) { m_queue.Push(std::move(batch)); });
        } catch (const std::exception& failure) {
            m_summary.error = failure.what();
        }
        m_queue.End();
    }

    // Python threads may end the iteration and close it at once: one of them joins.
    void Join() {
        if (PyGILState_Check() == 1) {
            py::gil_scoped_release release;
            JoinOnce();
        } else {
            JoinOnce();
        }
    }

    void JoinOnce() {
        std::lock_guard<std::mutex> lock(m_joinMutex);
        if (m_thread.joinable()) m_thread.join();
    }

    const std::shared_ptr<clusterwalk::CJob> m_job;
    const std::function<void()> m_stop;
    BatchQueue<Batch> m_queue;
    std::atomic<bool> m_stopRequested{false};
    Summary m_summary;
    std::mutex m_joinMutex;
    std::thread m_thread;
};

}  // namespace clusterpy
