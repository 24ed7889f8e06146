#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace cryo {

// Runs one job at a time on a thread of its own, so that the calling thread
// reads or writes files meanwhile. A job works on memory only: every file
// operation stays on the calling thread, in its order.
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

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace cryo
