#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace cryo {

// Runs one job at a time on a thread of its own, so that the calling thread
// reads or writes files meanwhile. Jobs may be small: each side waits a
// little for the other before it sleeps, as waking a thread takes about as
// long as a small job.
class BackgroundJob {
public:
    BackgroundJob();
    // Waits for the job that runs, then ends the thread.
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Waits for the job before, then starts this one.
    void Start(std::function<void()> job);
    // Waits for the job that runs; raises what it raised.
    void Wait();
    // Runs here beside there, on the thread, and returns once both have
    // ended, raising what either raised (here's first).
    void Both(const std::function<void()>& there, const std::function<void()>& here);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    std::atomic<bool> busy_ = false; // changed under mutex_
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // last: it starts once the rest is made
};

} // namespace cryo
